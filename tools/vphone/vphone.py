#!/usr/bin/env python3
"""A virtual Android phone that the stock ADB client reaches over TCP.

    python3 vphone.py --port 0 --model "VP One"          # prints 127.0.0.1:NNNNN
    adb connect 127.0.0.1:NNNNN

It speaks the ADB transport (CNXN/OPEN/OKAY/WRTE/CLSE) without authentication and offers the
services a desktop companion needs: shell (legacy and v2) with pm/am/cmd/getprop/rm, sync (push,
pull, install by push + pm), exec (streamed install) and tcp:PORT relayed to a configurable
host:port. See README.md.

Control:
  SIGUSR1                    the phone vanishes: every connection is dropped, nothing answers again
  --vanish-on TEXT           vanish when a request names TEXT: a service string such as
                             "am start" or "tcp:12157" when it is opened, or a pushed or pulled
                             file's path after its first data chunk
  --unauthorized             answer the handshake with an AUTH token and never accept
  SIGTERM / SIGINT           exit
Python 3 standard library only.

Parts: vp_transport.py (messages, streams, the server), vp_shell.py (shell and exec, the
command line), vp_commands.py (getprop, rm, pm, am, cmd), vp_sync.py (push and pull),
vp_phone.py (files, packages, properties), vp_common.py (constants, the log); this file:
the table of services, the tcp relay and the program's options.
"""

import argparse
import re
import signal
import socket
import sys
import threading
import time

from vp_common import FEATURES, DEFAULT_STORAGE_LIMIT, FIXTURE, log, StreamClosed, settings
from vp_phone import Phone
from vp_shell import service_exec, service_shell
from vp_sync import service_sync
from vp_transport import Server


# ---------------------------------------------------------------------------------------------
# Services

def find_service(service):
    name = service.split(":", 1)[0]
    if name == "shell" or name.startswith("shell,"):
        return service_shell
    if name == "exec":
        return service_exec
    if service == "sync:":
        return service_sync
    if name == "tcp" and service[4:].isdigit():
        return service_tcp
    return None





def service_tcp(t, stream, service):
    port = int(service[4:])
    target = t.phone.tcp_map.get(port)
    if target is None:
        return
    try:
        sock = socket.create_connection(target, timeout=10)
    except OSError as e:
        log("tcp:%d -> %s:%d failed: %s" % (port, target[0], target[1], e))
        return
    sock.settimeout(None)

    def pump_out():
        try:
            while True:
                data = sock.recv(t.max_payload)
                if not data:
                    break
                stream.write(data)
        except (OSError, StreamClosed):
            pass
        finally:
            stream.close()
            try:
                sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    reader = threading.Thread(target=pump_out, daemon=True)
    reader.start()
    try:
        while True:
            data = stream.read()
            if not data:
                break
            sock.sendall(data)
    except OSError:
        pass
    finally:
        try:
            sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        reader.join()
        sock.close()



# ---------------------------------------------------------------------------------------------

def parse_tcp(text):
    dev, _, target = text.partition("=")
    host, _, port = target.rpartition(":")
    if not dev.isdigit() or not port.isdigit():
        raise argparse.ArgumentTypeError("expected DEVPORT=HOST:PORT, got %r" % text)
    return int(dev), (host or "127.0.0.1", int(port))


def main(argv=None):
    ap = argparse.ArgumentParser(description="A virtual Android phone for the stock ADB client.")
    ap.add_argument("--host", default="127.0.0.1", help="address to listen on")
    ap.add_argument("--port", type=int, default=0, help="port to listen on (0: any free port)")
    ap.add_argument("--model", default="VP One", help="ro.product.model")
    ap.add_argument("--product", help="ro.product.name (default: from the model)")
    ap.add_argument("--device", help="ro.product.device (default: from the model)")
    ap.add_argument("--fixture", default=FIXTURE, help="JSON with packages and properties")
    ap.add_argument("--tcp", type=parse_tcp, action="append", default=[], metavar="DEVPORT=HOST:PORT",
                    help="relay the phone's tcp:DEVPORT to HOST:PORT (repeatable)")
    ap.add_argument("--unauthorized", action="store_true",
                    help="ask for authentication and never accept it")
    ap.add_argument("--vanish-on", action="append", default=[], metavar="TEXT",
                    help="vanish when a service string or sync path contains TEXT (repeatable)")
    ap.add_argument("--file", action="append", default=[], metavar="DEVPATH=LOCALFILE",
                    help="start with LOCALFILE's content at DEVPATH on the phone (repeatable)")
    ap.add_argument("--storage-limit", type=int, default=DEFAULT_STORAGE_LIMIT,
                    help="bytes the phone's files may take")
    ap.add_argument("--legacy-shell", action="store_true",
                    help="do not offer the v2 shell protocol (no exit codes, one output channel)")
    ap.add_argument("--streamed-install", action="store_true",
                    help="offer the cmd feature: the client streams packages to `cmd package "
                         "install -S` instead of pushing them and running pm")
    ap.add_argument("--verbose", action="store_true", help="log the transport to stderr")
    args = ap.parse_args(argv)
    settings.verbose = args.verbose

    slug = re.sub(r"[^a-z0-9]+", "_", args.model.lower()).strip("_") or "vphone"
    phone = Phone(args.model, args.product or slug, args.device or slug, args.fixture,
                  dict(args.tcp), args.storage_limit,
                  [f for f in FEATURES if not (args.legacy_shell and f == "shell_v2")]
                  + (["cmd"] if args.streamed_install else []))
    for spec in args.file:
        devpath, sep, local = spec.partition("=")
        if not sep or not devpath.startswith("/"):
            ap.error("--file expects DEVPATH=LOCALFILE with an absolute DEVPATH, got %r" % spec)
        with open(local, "rb") as f:
            phone.put_file(devpath, f.read(), 0o100644, int(time.time()))
    server = Server(phone, args.host, args.port, args.unauthorized, args.vanish_on,
                    find_service)
    if 5554 <= server.address[1] <= 5585:
        print("vphone: the adb server scans ports 5554-5585 for emulators and would list this "
              "phone as emulator-%d" % (server.address[1] & ~1), file=sys.stderr)

    signal.signal(signal.SIGUSR1, lambda *_: threading.Thread(target=server.vanish).start())
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())

    threading.Thread(target=server.serve, daemon=True).start()
    print("%s:%d" % server.address, flush=True)
    while not stop.wait(0.5):
        pass
    server.vanish()
    return 0


if __name__ == "__main__":
    sys.exit(main())
