#!/usr/bin/env python3
"""Builds a sysfs look-alike with a few USB devices for USB detection without hardware.

    tools/usbfixture/make_tree.py /tmp/usbtree
    TIVOREL_SYSFS_ROOT=/tmp/usbtree scripts/run.sh

The tree holds sys/bus/usb/devices (links into sys/devices, as the kernel lays them out),
sys/block with one removable USB disk, and proc/self/mounts with its mount point:
a Pixel behind a hub (with its storage mounted), a Galaxy without a serial number, and a USB
stick the device database does not know.
"""
import os
import shutil
import sys

DEVICES = [
    # name, vid, pid, serial, class
    ("1-1", "05e3", "0610", None, "09"),
    ("1-1.2", "18d1", "4ee7", "0A1B2C3D", "00"),
    ("1-3", "04e8", "6860", None, "00"),
    ("1-4", "0781", "5567", "4C530001", "00"),
]


def write(path, text):
    with open(path, "w") as f:
        f.write(text + "\n")


def device_dir(root, name):
    bus, ports = name.split("-", 1)
    path = os.path.join(root, "sys/devices/pci0000:00", "usb" + bus)
    parts = ports.split(".")
    for i in range(len(parts)):
        path = os.path.join(path, bus + "-" + ".".join(parts[: i + 1]))
    return path


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    root = os.path.abspath(sys.argv[1])
    shutil.rmtree(root, ignore_errors=True)
    bus_dir = os.path.join(root, "sys/bus/usb/devices")
    os.makedirs(bus_dir)
    os.makedirs(os.path.join(root, "sys/block"))
    os.makedirs(os.path.join(root, "proc/self"))
    hub = os.path.join(root, "sys/devices/pci0000:00/usb1")
    os.makedirs(hub)
    for attr, value in (("idVendor", "1d6b"), ("idProduct", "0002"), ("bDeviceClass", "09")):
        write(os.path.join(hub, attr), value)
    os.symlink(hub, os.path.join(bus_dir, "usb1"))
    for name, vid, pid, serial, cls in DEVICES:
        d = device_dir(root, name)
        os.makedirs(os.path.join(d, name + ":1.0"))
        write(os.path.join(d, "idVendor"), vid)
        write(os.path.join(d, "idProduct"), pid)
        write(os.path.join(d, "bDeviceClass"), cls)
        if serial:
            write(os.path.join(d, "serial"), serial)
        os.symlink(d, os.path.join(bus_dir, name))
    scsi = os.path.join(device_dir(root, "1-1.2"), "1-1.2:1.0/host6/target6:0:0/6:0:0:0")
    disk = os.path.join(scsi, "block/sdb")
    os.makedirs(os.path.join(disk, "sdb1"))
    write(os.path.join(disk, "removable"), "1")
    write(os.path.join(scsi, "vendor"), "Google  ")
    write(os.path.join(scsi, "model"), "Pixel           ")
    write(os.path.join(scsi, "rev"), "0100")
    os.symlink(scsi, os.path.join(disk, "device"))
    os.symlink(disk, os.path.join(root, "sys/block/sdb"))
    write(os.path.join(root, "proc/self/mounts"),
          "/dev/sda1 / ext4 rw 0 0\n/dev/sdb1 /media/demo/PIXEL vfat rw,nosuid 0 0")
    print(root)


if __name__ == "__main__":
    main()
