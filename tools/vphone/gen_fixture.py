#!/usr/bin/env python3
"""Regenerates fixture_phone.json: the package list and properties a fresh phone starts with.

The output is committed; run this only to change the fixture.
"""
import json
import os

SYSTEM = """
android com.android.bluetooth com.android.calendar com.android.camera2 com.android.certinstaller
com.android.contacts com.android.defcontainer com.android.deskclock com.android.dialer
com.android.documentsui com.android.email com.android.externalstorage com.android.gallery3d
com.android.htmlviewer com.android.inputmethod.latin com.android.keychain com.android.launcher3
com.android.location.fused com.android.managedprovisioning com.android.messaging com.android.mms.service
com.android.music com.android.nfc com.android.packageinstaller com.android.phone com.android.printspooler
com.android.providers.blockednumber com.android.providers.calendar com.android.providers.contacts
com.android.providers.downloads com.android.providers.downloads.ui com.android.providers.media
com.android.providers.settings com.android.providers.telephony com.android.providers.userdictionary
com.android.proxyhandler com.android.server.telecom com.android.settings com.android.sharedstoragebackup
com.android.shell com.android.smspush com.android.statementservice com.android.stk com.android.systemui
com.android.vpndialogs com.android.wallpaper.livepicker com.android.wallpapercropper com.android.webview
com.android.backupconfirm com.android.calculator2 com.android.captiveportallogin com.android.cellbroadcastreceiver
com.android.emergency com.android.musicfx com.android.quicksearchbox com.android.soundrecorder
com.android.storagemanager com.android.traceur com.android.bips com.android.companiondevicemanager
""".split()

VENDORS = """acme brightline cobaltsoft driftware evergreen foxglove granite harborlabs
indigo junction kestrel lumen""".split()
APPS = """notes weather camera scanner music radio maps reader chat mail calendar fitness
wallet recipes translate podcast browser files gallery clock vpn""".split()


def main():
    third = ["com.%s.%s" % (v, a) for v in VENDORS for a in APPS]
    props = {
        "ro.build.version.release": "9",
        "ro.build.version.sdk": "28",
        "ro.build.type": "user",
        "ro.build.tags": "release-keys",
        "ro.build.id": "PQ3A.190801.002",
        "ro.product.brand": "Tivorel",
        "ro.product.manufacturer": "Tivorel",
        "ro.product.cpu.abi": "arm64-v8a",
        "ro.product.cpu.abilist": "arm64-v8a,armeabi-v7a,armeabi",
        "ro.product.locale": "en-US",
        "ro.sf.lcd_density": "420",
        "ro.secure": "1",
        "ro.debuggable": "0",
        "ro.adb.secure": "1",
        "persist.sys.timezone": "Europe/Berlin",
        "persist.sys.usb.config": "mtp,adb",
        "sys.boot_completed": "1",
        "dev.bootcomplete": "1",
        "gsm.operator.alpha": "Tivonet",
        "gsm.sim.state": "READY",
        "net.hostname": "android-vphone",
        "wifi.interface": "wlan0",
    }
    fixture = {"system_packages": SYSTEM, "user_packages": third, "properties": props}
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fixture_phone.json")
    with open(path, "w") as f:
        json.dump(fixture, f, indent=1, sort_keys=True)
        f.write("\n")


if __name__ == "__main__":
    main()
