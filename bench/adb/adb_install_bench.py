#!/usr/bin/env python3
"""InstallAPK of a 50 MiB package through the runner against "adb install" of the same file, on
a virtual phone behind a private ADB server: once on a phone that takes a pushed package
(sync + pm install) and once on one that takes a streamed install.

    adb_install_bench.py BENCH_EXE [--mib 50] [--rounds 3]
"""
import argparse
import os
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools", "vphone"))
from phonelab import Lab  # noqa: E402


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("bench_exe")
    ap.add_argument("--mib", type=int, default=50)
    ap.add_argument("--rounds", type=int, default=3)
    args = ap.parse_args()
    with tempfile.TemporaryDirectory() as tmp:
        apk = os.path.join(tmp, "com.example.big.apk")
        with zipfile.ZipFile(apk, "w", zipfile.ZIP_STORED) as z:
            z.writestr("AndroidManifest.xml", '<manifest package="com.example.big"/>')
            z.writestr("assets/blob.bin", os.urandom(args.mib * 1024 * 1024))
        lab = Lab(os.path.join(tmp, "lab"))
        rc = 0
        try:
            lab.start_adb_server()
            phones = [("push", lab.add_phone(agent=False)),
                      ("streamed", lab.add_phone(agent=False, args=["--streamed-install"]))]
            for name, phone in phones:
                print("%s install:" % name, flush=True)
                r = subprocess.run([args.bench_exe, "--install", phone.serial, apk, str(args.rounds)],
                                   env=lab.env)
                rc = rc or r.returncode
        finally:
            lab.stop()
        return rc


if __name__ == "__main__":
    sys.exit(main())
