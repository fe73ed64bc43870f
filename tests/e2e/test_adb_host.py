"""The real host's ADB and agent objects against two virtual phones of the same model, through
the stock adb server on a private port (the Lua package in adb_package/ does the checks).

TIVOREL_STAGE names the program folder; with TIVOREL_EMULATOR (the Wine runner) the Windows
host and client run under it and talk to the same server on this machine."""
import os
import socket
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tools", "vphone"))
from phonelab import Lab  # noqa: E402


def host_path(path, emulator):
    """A file of this machine as the host sees it (Wine maps / to drive Z:)."""
    return "Z:" + path.replace("/", "\\") if emulator else path


class AdbHost(unittest.TestCase):
    def test_two_phones(self):
        stage = os.environ["TIVOREL_STAGE"]
        emulator = os.environ.get("TIVOREL_EMULATOR", "")
        exe = ".exe" if emulator else ""
        with tempfile.TemporaryDirectory() as tmp:
            lab = Lab(os.path.join(tmp, "lab"))
            try:
                lab.start_adb_server()
                a = lab.add_phone(model="VP One")
                b = lab.add_phone(model="VP One")
                c = lab.add_phone(model="VP One", args=["--vanish-on", "am start"], agent=False)
                self.assertTrue(b.control(op="generate", code=14, count=7)["ok"])
                env = dict(lab.env, E2E_SERIALS="%s %s %s" % (a.serial, b.serial, c.serial), E2E_CONTACTS="5 7",
                           E2E_APK=host_path(os.path.join(ROOT, "xar", "demo", "com.tivorel.demo.apk"), emulator))
                r = subprocess.run(
                    ["cmake", "-DHOST=" + os.path.join(stage, "tivorel" + exe),
                     "-DPACKAGE=" + os.path.join(HERE, "adb_package"),
                     "-DHELPER=" + os.path.join(ROOT, "cmake", "luahost", "hosttest.lua"),
                     "-DWORK=" + os.path.join(tmp, "host"), "-DEMULATOR=" + emulator, "-DTIMEOUT=120", "-DARGS=",
                     "-DFILES=" + os.path.join(stage, "tivorel_help" + exe),
                     "-P", os.path.join(ROOT, "cmake", "luahost", "run.cmake")],
                    env=env, capture_output=True, text=True, timeout=200)
                self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
                # The phone really vanished: its port is closed.
                host, port = c.serial.rsplit(":", 1)
                with self.assertRaises(OSError):
                    socket.create_connection((host, int(port)), timeout=5).close()
            finally:
                lab.stop()


if __name__ == "__main__":
    unittest.main()
