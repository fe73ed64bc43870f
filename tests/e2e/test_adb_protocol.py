"""The client front speaking the ADB server's protocol against the stock client: every command of
a table runs once through tivorel_help as the runner starts it and once with
TIVOREL_ADB_PROTOCOL=0 (tivorel_help running the stock client), against the same stock server and
virtual phones; what lands in the output block and the exit codes must be the same."""
import hashlib
import os
import re
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tools", "vphone"))
from phonelab import Lab, free_port  # noqa: E402

LIMIT = 120
# The push line names the rate and the time, which differ from run to run.
PUSH_TIMING = re.compile(rb"\d+\.\d MB/s \((\d+) bytes in \d+\.\d{3}s\)")


def make_apk(path, package, payload=b""):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as z:
        z.writestr("AndroidManifest.xml", '<manifest package="%s"/>' % package)
        if payload:
            z.writestr("assets/blob.bin", payload)
    return path


class Client:
    """tivorel_help started as the runner starts it; the block's text and the exit code."""

    def __init__(self, tmp):
        self.help = os.path.join(os.environ["TIVOREL_STAGE"], "tivorel_help")
        self.block_run = os.environ["TIVOREL_BLOCK_RUN"]
        self.out = os.path.join(tmp, "block.txt")

    def run(self, env, args, stock):
        env = dict(env)
        env.pop("TIVOREL_ADB_PROTOCOL", None)
        if stock:
            env["TIVOREL_ADB_PROTOCOL"] = "0"
        r = subprocess.run([self.block_run, self.out, self.help] + list(args), env=env,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=LIMIT)
        with open(self.out, "rb") as f:
            text = f.read()
        return PUSH_TIMING.sub(rb"R MB/s (\1 bytes in Ts)", text), r.returncode


def run_pair(client, env, args, twins=None):
    """Runs args through our client and through the stock one: [(text, code), (text, code)].
    With twins, "SERIAL" in args names the first twin for ours and the second for the stock."""
    runs = []
    for stock in (False, True):
        a = [x.replace("SERIAL", twins[stock].serial) for x in args] if twins else list(args)
        # A forward of a port that is already forwarded answers differently: each run forwards
        # a fresh port, which its output then names.
        port = str(free_port())
        a = [x.replace("LOCALPORT", port) for x in a]
        text, code = client.run(env, a, stock)
        runs.append((text.replace(port.encode(), b"LOCALPORT"), code))
    return runs


class AdbProtocol(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmpdir = tempfile.TemporaryDirectory()
        cls.tmp = cls.tmpdir.name
        cls.client = Client(cls.tmp)
        cls.lab = Lab(os.path.join(cls.tmp, "lab"))
        try:
            cls.lab.start_adb_server()
            # Twins, so that a command that changes a phone meets the same phone state twice.
            cls.push = [cls.lab.add_phone(agent=False) for _ in range(2)]
            cls.streamed = [cls.lab.add_phone(agent=False, args=["--streamed-install"]) for _ in range(2)]
            cls.legacy = [cls.lab.add_phone(agent=False, args=["--legacy-shell"]) for _ in range(2)]
            cls.unauthorized = cls.lab.add_phone(agent=False, args=["--unauthorized"])
        except Exception:
            cls.lab.stop()
            cls.tmpdir.cleanup()
            raise
        cls.apk = make_apk(os.path.join(cls.tmp, "com.example.demo.apk"), "com.example.demo")
        cls.bad = os.path.join(cls.tmp, "bad.apk")
        with open(cls.bad, "wb") as f:
            f.write(b"not a zip")

    @classmethod
    def tearDownClass(cls):
        cls.lab.stop()
        cls.tmpdir.cleanup()

    def both(self, args, env=None, twins=None):
        return run_pair(self.client, env or self.lab.env, args, twins)

    def check_same(self, args, env=None, twins=None):
        ours, stock = self.both(args, env, twins)
        self.assertEqual(ours, stock, "command: %s" % " ".join(args))
        return ours

    def test_server_and_device_commands(self):
        a, b = self.push[0].serial, self.streamed[0].serial
        l, u = self.legacy[0].serial, self.unauthorized.serial
        cases = [
            ["devices"],
            ["start-server"],
            ["get-state"],                          # more than one device
            ["-s", a, "get-state"],
            ["-s", "no-such-phone", "get-state"],
            ["-s", u, "get-state"],
            ["-s", a, "shell", "echo", "hi"],
            ["-s", a, "shell", "getprop ro.product.model; nosuch"],   # stderr, exit 127
            ["-s", a, "shell", "echo", "a b", "'c  d'", "\"e\""],
            ["-s", a, "shell", "pm list packages"],   # more than the block holds
            ["-s", l, "shell", "getprop ro.product.model; nosuch"],   # legacy: merged, exit 0
            ["-s", b, "shell", "am broadcast -a openUSBConnect"],
            ["-s", u, "shell", "echo hi"],
            ["-s", "no-such-phone", "shell", "echo hi"],
            ["-s", a, "forward", "tcp:LOCALPORT", "tcp:12156"],
            ["-s", u, "forward", "tcp:LOCALPORT", "tcp:12156"],
            ["-s", "no-such-phone", "forward", "tcp:LOCALPORT", "tcp:12156"],
            ["-s", "no-such-phone", "install", "-r", self.apk],
            ["-s", u, "install", "-r", self.apk],
        ]
        for args in cases:
            with self.subTest(args=args):
                self.check_same(args)
        # ANDROID_SERIAL stands for -s.
        self.check_same(["get-state"], env=dict(self.lab.env, ANDROID_SERIAL=a))
        self.check_same(["shell", "echo", "x"], env=dict(self.lab.env, ANDROID_SERIAL=a))

    def test_install_and_uninstall(self):
        missing = os.path.join(self.tmp, "missing.apk")
        sequence = [
            ["-s", "SERIAL", "install", "-r", self.apk],
            ["-s", "SERIAL", "install", self.apk],          # already there
            ["-s", "SERIAL", "install", "-r", self.bad],
            ["-s", "SERIAL", "install", "-r", missing],
            ["-s", "SERIAL", "uninstall", "com.example.demo"],
            ["-s", "SERIAL", "uninstall", "com.example.demo"],   # gone: failure
        ]
        for twins in (self.push, self.streamed, self.legacy):
            for args in sequence:
                with self.subTest(phone=twins[0].serial, args=args):
                    self.check_same(args, twins=twins)

    def test_unknown_device_uninstall_ends(self):
        # The stock client reports the error and then waits for the device without end; ours
        # reports the same error and ends.
        for serial in ("no-such-phone", self.unauthorized.serial):
            text, code = self.client.run(self.lab.env, ["-s", serial, "uninstall", "x"], False)
            stock_first = self.both(["-s", serial, "get-state"])[1][0]
            self.assertEqual((text, code), (stock_first, 1))

    def test_install_50_mib_leaves_the_same_bytes(self):
        payload = os.urandom(50 * 1024 * 1024)
        apk = make_apk(os.path.join(self.tmp, "com.example.big.apk"), "com.example.big", payload)
        with open(apk, "rb") as f:
            want = hashlib.sha256(f.read()).hexdigest()
        for twins in (self.push, self.streamed):
            self.check_same(["-s", "SERIAL", "install", "-r", apk], twins=twins)
            for phone in twins:
                pulled = os.path.join(self.tmp, "pulled.apk")
                self.lab.adb("pull", "/data/app/com.example.big-1/base.apk", pulled,
                             serial=phone.serial, check=True, timeout=LIMIT)
                with open(pulled, "rb") as f:
                    self.assertEqual(want, hashlib.sha256(f.read()).hexdigest(), phone.serial)
                os.remove(pulled)
                self.lab.adb("uninstall", "com.example.big", serial=phone.serial, check=True)


class AdbProtocolCornerCases(unittest.TestCase):
    """Each case with a lab of its own: phones that vanish, no server at all."""

    def setUp(self):
        self.tmpdir = tempfile.TemporaryDirectory()
        self.tmp = self.tmpdir.name
        self.client = Client(self.tmp)
        self.lab = Lab(os.path.join(self.tmp, "lab"))
        self.addCleanup(self.tmpdir.cleanup)
        self.addCleanup(self.lab.stop)

    def run_both(self, args):
        return run_pair(self.client, self.lab.env, args)

    def wait_until_no_server(self):
        """True once nothing accepts on the server port (a server may take a moment to go)."""
        port = int(self.lab.env["ANDROID_ADB_SERVER_PORT"])
        end = time.time() + LIMIT
        while time.time() < end:
            try:
                socket.create_connection(("127.0.0.1", port), timeout=5).close()
            except OSError:
                return True
            time.sleep(0.05)
        return False

    def test_connect_and_disconnect(self):
        # Twins: each run changes its phone's connection. The answers name the phone's address.
        self.lab.start_adb_server()
        twins = [self.lab.add_phone(agent=False) for _ in range(2)]

        def pair(args):
            runs = []
            for stock in (False, True):
                serial = twins[stock].serial
                text, code = self.client.run(self.lab.env, [a.replace("SERIAL", serial) for a in args], stock)
                runs.append((text.replace(serial.encode(), b"SERIAL"), code))
            self.assertEqual(runs[0], runs[1], "command: %s" % " ".join(args))
            return runs[0]

        self.assertEqual(pair(["disconnect", "SERIAL"])[1], 0)
        for t in twins:
            self.assertNotIn(t.serial, self.lab.devices())
        self.assertEqual(pair(["connect", "SERIAL"])[1], 0)
        pair(["connect", "SERIAL"])                      # already connected
        for t in twins:
            self.lab.wait_state(t.serial, ("device",))
        refused = "127.0.0.1:%d" % free_port()
        pair(["connect", refused])
        pair(["disconnect", refused])                    # not connected: the server refuses
        pair(["disconnect", "SERIAL"])
        pair(["disconnect"])                             # everything

    def test_no_server(self):
        # No server on the port: the stock client starts one (and says so), through our client too.
        self.lab.env["ANDROID_ADB_SERVER_PORT"] = str(free_port())
        home = os.path.join(self.tmp, "home")
        os.makedirs(home)
        self.lab.env["HOME"] = home
        for args in (["kill-server"], ["start-server"], ["devices"], ["get-state"], ["-s", "x", "shell", "echo"],
                     ["-s", "x", "forward", "tcp:1", "tcp:2"]):
            with self.subTest(args=args):
                runs = []
                for stock in (False, True):
                    runs.append(self.client.run(self.lab.env, args, stock))
                    self.lab.adb("kill-server")
                    self.assertTrue(self.wait_until_no_server())
                self.assertEqual(runs[0], runs[1])
        # kill-server when a server runs: both end it.
        for stock in (False, True):
            self.lab.adb("start-server", check=True)
            self.assertEqual(self.client.run(self.lab.env, ["kill-server"], stock), (b"", 0))
            self.assertTrue(self.wait_until_no_server())

    def test_offline_phone(self):
        self.lab.start_adb_server()
        phone = self.lab.add_phone(agent=False)
        phone.vanish()
        self.lab.wait_state(phone.serial, ("offline",))
        s = phone.serial
        for args in (["devices"], ["-s", s, "get-state"], ["-s", s, "shell", "echo hi"],
                     ["-s", s, "forward", "tcp:LOCALPORT", "tcp:12156"],
                     ["-s", s, "install", "-r", make_apk(os.path.join(self.tmp, "a.apk"), "a.b")]):
            with self.subTest(args=args):
                # The server drops an offline phone after a while; a pair that straddles that
                # moment compares two different states, so it is run again.
                for _ in range(3):
                    runs = self.run_both(args)
                    if self.lab.devices().get(s) == "offline":
                        break
                self.assertEqual(runs[0], runs[1])

    def test_phone_that_vanishes_mid_command(self):
        self.lab.start_adb_server()
        apk = make_apk(os.path.join(self.tmp, "com.example.demo.apk"), "com.example.demo")
        # The phone goes as the command opens its service: the server's words for it.
        shell = self.lab.add_phone(agent=False, args=["--vanish-on", "echo"])
        streamed = self.lab.add_phone(agent=False, args=["--vanish-on", "cmd package", "--streamed-install"])
        for phone, args in ((shell, ["shell", "echo hi"]), (streamed, ["install", "-r", apk])):
            with self.subTest(args=args):
                ours = self.client.run(self.lab.env, ["-s", phone.serial] + args, False)
                self.assertNotEqual(0, ours[1])
                self.assertIn(b"closed", ours[0])
        # The phone goes while the package is pushed, or once the package manager runs: the
        # command ends with an error instead of waiting.
        for vanish in ("/data/local/tmp/com.example.demo.apk", "pm install"):
            with self.subTest(vanish=vanish):
                phone = self.lab.add_phone(agent=False, args=["--vanish-on", vanish])
                text, code = self.client.run(self.lab.env, ["-s", phone.serial, "install", "-r", apk], False)
                self.assertNotEqual(0, code, text)
                self.assertRegex(text, rb"error", text)


if __name__ == "__main__":
    unittest.main()
