#!/usr/bin/env python3
"""The virtual phone against the real stock ADB client.

The ADB server runs on a private port with a private HOME, so no user's server or keys are
touched; it is killed at the end. Time limits on the client commands are safety nets only.
"""
import io
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
VPHONE = os.path.join(HERE, "vphone.py")
sys.path.insert(0, HERE)
import vphone  # noqa: E402

ADB = os.environ.get("TIVOREL_ADB") or shutil.which("adb")
LIMIT = 60  # seconds; a command that takes longer is hung


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def make_apk(package):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w") as z:
        z.writestr("AndroidManifest.xml",
                   '<?xml version="1.0"?>\n<manifest package="%s" android:versionCode="1"/>\n' % package)
        z.writestr("classes.dex", os.urandom(2048))
    return buf.getvalue()


class EchoServer:
    """Echoes every connection back; stands in for the agent behind tcp:PORT."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(8)
        self.port = self.sock.getsockname()[1]
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            threading.Thread(target=self.echo, args=(conn,), daemon=True).start()

    @staticmethod
    def echo(conn):
        with conn:
            while True:
                data = conn.recv(65536)
                if not data:
                    return
                conn.sendall(data)

    def close(self):
        self.sock.close()


@unittest.skipIf(ADB is None, "the stock adb client is not installed")
class AdbTestCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="vphone-test-")
        cls.env = dict(os.environ)
        cls.env["HOME"] = cls.tmp
        cls.env["ANDROID_ADB_SERVER_PORT"] = str(free_port())
        cls.env.pop("ANDROID_SERIAL", None)
        cls.env.pop("ADB_VENDOR_KEYS", None)
        cls.phones = []
        cls.echo = EchoServer()
        cls.adb("start-server")

    @classmethod
    def tearDownClass(cls):
        cls.adb("kill-server")
        for p in cls.phones:
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(10)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()
            p.stdout.close()
        cls.echo.close()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    @classmethod
    def adb(cls, *args, serial=None, check=False, timeout=LIMIT):
        argv = [ADB] + (["-s", serial] if serial else []) + list(args)
        r = subprocess.run(argv, env=cls.env, stdin=subprocess.DEVNULL, capture_output=True,
                           timeout=timeout)
        if check and r.returncode != 0:
            raise AssertionError("%s failed (%d): %s %s" % (argv, r.returncode, r.stdout, r.stderr))
        return r

    @classmethod
    def start_phone(cls, *args):
        p = subprocess.Popen([sys.executable, VPHONE, "--port", "0"] + list(args),
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        cls.phones.append(p)
        serial = p.stdout.readline().strip()
        if not serial:
            raise AssertionError("the phone did not start")
        return p, serial

    @classmethod
    def connect(cls, serial, state="device"):
        r = cls.adb("connect", serial)
        if state == "device":
            cls.adb("wait-for-device", serial=serial, check=True)
        # the handshake finishes after `connect` returns; safety net only
        deadline = time.monotonic() + LIMIT
        while time.monotonic() < deadline:
            if cls.state_of(serial) == state:
                return r
            time.sleep(0.1)
        raise AssertionError("%s never became %s" % (serial, state))

    @classmethod
    def state_of(cls, serial):
        for line in cls.adb("devices").stdout.decode().splitlines()[1:]:
            parts = line.split()
            if len(parts) >= 2 and parts[0] == serial:
                return parts[1]
        return None

    def shell(self, serial, command):
        r = self.adb("shell", command, serial=serial)
        return r.returncode, r.stdout.decode(), r.stderr.decode()


class PhoneServicesTest(AdbTestCase):
    """One phone, its shell, sync and install services."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.proc, cls.serial = cls.start_phone(
            "--model", "VP One", "--tcp", "7000=127.0.0.1:%d" % cls.echo.port,
            "--tcp", "7001=127.0.0.1:%d" % free_port())
        cls.connect(cls.serial)

    def test_devices_long_lists_the_model(self):
        out = self.adb("devices", "-l").stdout.decode()
        line = [l for l in out.splitlines() if l.startswith(self.serial)]
        self.assertEqual(len(line), 1, out)
        # the client turns blanks in banner values into underscores
        self.assertIn("model:VP_One", line[0])
        self.assertIn("product:vp_one", line[0])
        self.assertEqual(line[0].split()[1], "device")

    def test_shell_commands(self):
        cases = [
            # command, exit code, text in stdout, text in stderr
            ("getprop ro.product.model", 0, "VP One\n", ""),
            ("getprop ro.build.version.sdk", 0, "28\n", ""),
            ("getprop no.such.prop", 0, "\n", ""),
            ("getprop", 0, "[ro.product.device]: [vp_one]\n", ""),
            ("am broadcast -a openUSBConnect", 0, "Broadcast completed: result=0", ""),
            ("am start -a android.intent.action.MAIN -n com.android.settings/.Settings", 0,
             "Starting: Intent { act=android.intent.action.MAIN cmp=com.android.settings/.Settings }",
             ""),
            ("am start -a android.intent.action.MAIN -n com.not.there/.Main", 1, "Starting:",
             "Error: Activity class {com.not.there/com.not.there.Main} does not exist."),
            ("frobnicate --now", 127, "", "/system/bin/sh: frobnicate: not found"),
            ("pm uninstall com.never.installed", 1, "Failure [DELETE_FAILED_INTERNAL_ERROR]", ""),
            ("rm /sdcard/missing.txt", 1, "", "rm: /sdcard/missing.txt: No such file or directory"),
            ("rm -f /sdcard/missing.txt", 0, "", ""),
            ("pm list packages com.acme.notes", 0, "package:com.acme.notes\n", ""),
            ("frobnicate 2>/dev/null; echo after", 0, "after\n", ""),
            ("echo 'a  b' && frobnicate || echo fallback", 0, "a  b\nfallback\n", "not found"),
        ]
        for command, code, out, err in cases:
            with self.subTest(command=command):
                rc, stdout, stderr = self.shell(self.serial, command)
                self.assertEqual(rc, code, (stdout, stderr))
                if out:
                    self.assertIn(out, stdout)
                else:
                    self.assertEqual(stdout, "")
                if err:
                    self.assertIn(err, stderr)
                else:
                    self.assertEqual(stderr, "")

    def test_fixture_holds_a_phones_worth_of_packages(self):
        rc, out, _ = self.shell(self.serial, "pm list packages")
        self.assertEqual(rc, 0)
        names = [l[len("package:"):] for l in out.splitlines()]
        self.assertGreaterEqual(len(names), 300)
        self.assertIn("com.android.settings", names)
        _, third, _ = self.shell(self.serial, "pm list packages -3")
        self.assertNotIn("package:com.android.settings\n", third)
        self.assertIn("package:com.acme.notes\n", third)

    def test_push_pull_round_trip_is_byte_identical(self):
        src = os.path.join(self.tmp, "payload.bin")
        back = os.path.join(self.tmp, "payload.back")
        # not a multiple of any chunk size, so the last partial chunk is exercised
        data = os.urandom(3 * 1024 * 1024 + 12345)
        with open(src, "wb") as f:
            f.write(data)
        self.adb("push", src, "/sdcard/Download/payload.bin", serial=self.serial, check=True)
        self.adb("pull", "/sdcard/Download/payload.bin", back, serial=self.serial, check=True)
        with open(back, "rb") as f:
            self.assertEqual(f.read(), data)
        # a push into a folder keeps the file name
        self.adb("push", src, "/sdcard/Music/", serial=self.serial, check=True)
        self.adb("pull", "/sdcard/Music/payload.bin", back, serial=self.serial, check=True)
        with open(back, "rb") as f:
            self.assertEqual(f.read(), data)
        rc, _, _ = self.shell(self.serial, "rm /sdcard/Download/payload.bin")
        self.assertEqual(rc, 0)
        r = self.adb("pull", "/sdcard/Download/payload.bin", back, serial=self.serial)
        self.assertNotEqual(r.returncode, 0)
        # this client prints sync errors on stdout
        self.assertIn(b"does not exist", r.stdout + r.stderr)

    def test_install_list_uninstall(self):
        apk = os.path.join(self.tmp, "demo.apk")
        with open(apk, "wb") as f:
            f.write(make_apk("com.tivorel.demo"))
        r = self.adb("install", "-r", apk, serial=self.serial)
        self.assertEqual(r.returncode, 0, r)
        self.assertIn(b"Success", r.stdout)
        rc, out, _ = self.shell(self.serial, "pm list packages tivorel")
        self.assertEqual(out, "package:com.tivorel.demo\n")
        # the staged copy is removed after the install
        r = self.adb("pull", "/data/local/tmp/demo.apk", apk + ".staged", serial=self.serial)
        self.assertNotEqual(r.returncode, 0)
        # without -r a second install is refused
        r = self.adb("install", apk, serial=self.serial)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn(b"INSTALL_FAILED_ALREADY_EXISTS", r.stdout + r.stderr)

        r = self.adb("uninstall", "com.tivorel.demo", serial=self.serial)
        self.assertEqual(r.returncode, 0, r)
        self.assertIn(b"Success", r.stdout)
        _, out, _ = self.shell(self.serial, "pm list packages tivorel")
        self.assertEqual(out, "")

    def test_install_of_a_file_that_is_no_apk_fails(self):
        bad = os.path.join(self.tmp, "broken.apk")
        with open(bad, "wb") as f:
            f.write(b"this is not a zip file")
        r = self.adb("install", "-r", bad, serial=self.serial)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn(b"INSTALL_FAILED_INVALID_APK", r.stdout + r.stderr)
        _, out, _ = self.shell(self.serial, "pm list packages broken")
        self.assertEqual(out, "")

    def test_forward_reaches_the_relayed_port(self):
        local = free_port()
        self.adb("forward", "tcp:%d" % local, "tcp:7000", serial=self.serial, check=True)
        try:
            # several streams at once, each larger than one transport payload
            payloads = [os.urandom(700 * 1024 + i) for i in range(3)]
            conns = [socket.create_connection(("127.0.0.1", local), timeout=LIMIT) for _ in payloads]
            results = [None] * len(conns)

            def talk(i):
                c = conns[i]
                sender = threading.Thread(target=c.sendall, args=(payloads[i],))
                sender.start()
                got = bytearray()
                while len(got) < len(payloads[i]):
                    chunk = c.recv(65536)
                    if not chunk:
                        break
                    got += chunk
                sender.join()
                results[i] = bytes(got)

            threads = [threading.Thread(target=talk, args=(i,)) for i in range(len(conns))]
            for t in threads:
                t.start()
            for t in threads:
                t.join(LIMIT)
            for c in conns:
                c.close()
            for i, p in enumerate(payloads):
                self.assertEqual(results[i], p, "stream %d" % i)
        finally:
            self.adb("forward", "--remove", "tcp:%d" % local)

    def test_forward_to_a_port_nobody_serves_is_closed(self):
        for device_port in ("7001", "7999"):  # mapped to a dead port / not mapped at all
            with self.subTest(device_port=device_port):
                local = free_port()
                self.adb("forward", "tcp:%d" % local, "tcp:" + device_port, serial=self.serial,
                         check=True)
                try:
                    with socket.create_connection(("127.0.0.1", local), timeout=LIMIT) as c:
                        c.sendall(b"hello")
                        self.assertEqual(c.recv(100), b"")
                finally:
                    self.adb("forward", "--remove", "tcp:%d" % local)


class SeveralPhonesTest(AdbTestCase):
    def test_two_phones_of_one_model_and_an_unauthorized_one(self):
        _, a = self.start_phone("--model", "Twin")
        _, b = self.start_phone("--model", "Twin")
        _, locked = self.start_phone("--model", "Locked", "--unauthorized")
        self.assertNotEqual(a, b)
        self.connect(a)
        self.connect(b)
        self.connect(locked, state="unauthorized")
        out = self.adb("devices", "-l").stdout.decode()
        for serial in (a, b):
            line = [l for l in out.splitlines() if l.startswith(serial + " ")]
            self.assertEqual(len(line), 1, out)
            self.assertIn(" device ", line[0])
            self.assertIn("model:Twin", line[0])
        # each phone keeps its own state
        self.shell(a, "echo only-a > /sdcard/mark.txt")
        self.assertEqual(self.shell(a, "getprop ro.product.model")[1], "Twin\n")
        self.assertEqual(self.shell(b, "getprop ro.product.model")[1], "Twin\n")
        pulled = os.path.join(self.tmp, "mark.txt")
        self.adb("pull", "/sdcard/mark.txt", pulled, serial=a, check=True)
        with open(pulled) as f:
            self.assertEqual(f.read(), "only-a\n")
        self.assertNotEqual(self.adb("pull", "/sdcard/mark.txt", pulled, serial=b).returncode, 0)
        # the unauthorized phone answers nothing
        r = self.adb("shell", "getprop", serial=locked)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn(b"unauthorized", r.stderr)


class VanishTest(AdbTestCase):
    def vanishing_phone(self, *args):
        proc, serial = self.start_phone(*args)
        self.connect(serial)
        return proc, serial

    def test_vanish_mid_request_ends_the_command(self):
        src = os.path.join(self.tmp, "big.bin")
        with open(src, "wb") as f:
            f.write(os.urandom(2 * 1024 * 1024))
        cases = [
            ("shell", ["--vanish-on", "am start"],
             ["shell", "am", "start", "-n", "com.android.settings/.Settings"]),
            ("push", ["--vanish-on", "/sdcard/gone.bin"], ["push", src, "/sdcard/gone.bin"]),
            ("pull", ["--vanish-on", "/sdcard/big.bin", "--file", "/sdcard/big.bin=" + src], ["pull", "/sdcard/big.bin", src + ".back"]),
            # during the copy to the staging folder; once pm runs, the client retries with
            # "waiting for device" until the phone is back, which is its own behaviour
            ("install", ["--vanish-on", "/data/local/tmp/x.apk"],
             ["install", "-r", src.replace("big.bin", "x.apk")]),
        ]
        with open(src.replace("big.bin", "x.apk"), "wb") as f:
            f.write(make_apk("com.tivorel.gone"))
        for name, opts, command in cases:
            with self.subTest(name):
                proc, serial = self.vanishing_phone(*opts)
                # before the trigger the phone answers
                self.assertEqual(self.shell(serial, "getprop ro.product.model")[0], 0)
                r = self.adb(*command, serial=serial)
                self.assertNotEqual(r.returncode, 0, r)
                self.assertNotEqual(self.state_of(serial), "device")
                # and it stays gone: nothing answers on its port
                host, port = serial.rsplit(":", 1)
                with self.assertRaises(OSError):
                    socket.create_connection((host, int(port)), timeout=5).close()
                self.assertIsNone(proc.poll())

    def test_signal_makes_the_phone_vanish(self):
        proc, serial = self.vanishing_phone()
        proc.send_signal(signal.SIGUSR1)
        host, port = serial.rsplit(":", 1)
        deadline = time.monotonic() + LIMIT
        while time.monotonic() < deadline and self.state_of(serial) == "device":
            time.sleep(0.1)
        self.assertNotEqual(self.state_of(serial), "device")
        r = self.adb("shell", "getprop", serial=serial)
        self.assertNotEqual(r.returncode, 0)


class ShellLineTest(unittest.TestCase):
    """The phone's shell line parser, without a client."""

    def test_tokenize(self):
        cases = [
            ("pm 'install' '-r' '/data/local/tmp/a b.apk'",
             ["pm", "install", "-r", "/data/local/tmp/a b.apk"]),
            ("rm -f '/data/local/tmp/x.apk' </dev/null", ["rm", "-f", "/data/local/tmp/x.apk",
                                                          (0, "<", "/dev/null")]),
            ('echo "a \\"q\\"" b\\ c', ["echo", 'a "q"', "b c"]),
            ("echo 2 > f", ["echo", "2", (1, ">", "f")]),
            ("x 2>&1;y&&z||w", ["x", (2, ">&", "1"), ";", "y", "&&", "z", "||", "w"]),
            ("echo ''", ["echo", ""]),
        ]
        for line, tokens in cases:
            with self.subTest(line=line):
                self.assertEqual(vphone.tokenize(line), tokens)

    def test_bad_lines_are_syntax_errors(self):
        for line in ("echo 'open", 'echo "open', "echo >", "sleep 1 &"):
            with self.subTest(line=line):
                with self.assertRaises(vphone.ShellSyntaxError):
                    vphone.tokenize(line)

    def test_package_of(self):
        cases = [
            ("/data/local/tmp/x.apk", make_apk("com.example.one"), "com.example.one"),
            ("/data/local/tmp/com.example.two.apk", make_apk("no dots"), "com.example.two"),
            ("/data/local/tmp/x.apk", b"PK\x03\x04 truncated", None),
            ("/data/local/tmp/com.example.three.apk", b"plain text", None),
        ]
        for path, content, package in cases:
            with self.subTest(path=path, package=package):
                self.assertEqual(vphone.package_of(path, content), package)


if __name__ == "__main__":
    unittest.main()
