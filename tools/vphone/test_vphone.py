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
import struct
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
import vp_commands  # noqa: E402
import vp_shell  # noqa: E402

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

    def assertLeavesDeviceState(self, serial):
        # the server notices the dropped connection on its own thread; safety net only
        deadline = time.monotonic() + LIMIT
        while time.monotonic() < deadline and self.state_of(serial) == "device":
            time.sleep(0.1)
        self.assertNotEqual(self.state_of(serial), "device")

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

    def test_folder_push_pull_round_trip(self):
        tree = {"a.txt": b"a\n", "sub/b.bin": os.urandom(100000), "sub/deeper/empty": b""}
        src = os.path.join(self.tmp, "tree")
        for rel, data in tree.items():
            os.makedirs(os.path.dirname(os.path.join(src, rel)), exist_ok=True)
            with open(os.path.join(src, rel), "wb") as f:
                f.write(data)
        self.adb("push", src, "/sdcard/tree", serial=self.serial, check=True)
        back = os.path.join(self.tmp, "tree.back")
        self.adb("pull", "/sdcard/tree", back, serial=self.serial, check=True)
        got = {}
        for root, _, files in os.walk(back):
            for name in files:
                with open(os.path.join(root, name), "rb") as f:
                    got[os.path.relpath(os.path.join(root, name), back)] = f.read()
        self.assertEqual(got, tree)

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
        # a new connection finds the same phone
        self.adb("disconnect", a, check=True)
        self.assertIsNone(self.state_of(a))
        self.connect(a)
        os.remove(pulled)
        self.adb("pull", "/sdcard/mark.txt", pulled, serial=a, check=True)
        with open(pulled) as f:
            self.assertEqual(f.read(), "only-a\n")
        # the unauthorized phone answers nothing
        r = self.adb("shell", "getprop", serial=locked)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn(b"unauthorized", r.stderr)


class LegacyShellTest(AdbTestCase):
    def test_phone_without_shell_v2(self):
        _, serial = self.start_phone("--model", "Old One", "--legacy-shell")
        self.connect(serial)
        rc, out, _ = self.shell(serial, "getprop ro.product.model")
        self.assertEqual((rc, out), (0, "Old One\n"))
        # one output channel and no exit status: the client reports 0 and prints everything
        rc, out, err = self.shell(serial, "frobnicate")
        self.assertEqual((rc, out, err), (0, "/system/bin/sh: frobnicate: not found\n", ""))


class InstallModesTest(AdbTestCase):
    """The client installs differently by the phone's features; each way must work."""

    def test_install_and_uninstall_in_each_mode(self):
        good = os.path.join(self.tmp, "good.apk")
        with open(good, "wb") as f:
            f.write(make_apk("com.tivorel.modes"))
        bad = os.path.join(self.tmp, "bad.apk")
        with open(bad, "wb") as f:
            f.write(b"\x00" * 5000)
        cases = [
            # name, phone options, client's first line, client fails a failed install
            ("push and pm", [], b"Performing Push Install", True),
            ("streamed to cmd", ["--streamed-install"], b"Performing Streamed Install", True),
            # without exit codes the client cannot tell: it prints the failure and exits 0
            ("push and pm, legacy shell", ["--legacy-shell"], b"Performing Push Install", False),
        ]
        for name, opts, banner, fails in cases:
            with self.subTest(name):
                _, serial = self.start_phone(*opts)
                self.connect(serial)
                r = self.adb("install", "-r", good, serial=serial)
                self.assertIn(banner, r.stdout)
                self.assertIn(b"Success", r.stdout)
                self.assertEqual(self.shell(serial, "pm list packages modes")[1],
                                 "package:com.tivorel.modes\n")
                r = self.adb("uninstall", "com.tivorel.modes", serial=serial)
                self.assertIn(b"Success", r.stdout)
                self.assertEqual(self.shell(serial, "pm list packages modes")[1], "")
                r = self.adb("install", "-r", bad, serial=serial)
                self.assertEqual(r.returncode != 0, fails)
                self.assertIn(b"INSTALL_FAILED_INVALID_APK", r.stdout + r.stderr)


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
                self.assertLeavesDeviceState(serial)
                # and it stays gone: nothing answers on its port
                host, port = serial.rsplit(":", 1)
                with self.assertRaises(OSError):
                    socket.create_connection((host, int(port)), timeout=5).close()
                self.assertIsNone(proc.poll())

    def test_vanish_when_the_agent_port_is_opened(self):
        proc, serial = self.vanishing_phone("--tcp", "7000=127.0.0.1:%d" % self.echo.port,
                                            "--vanish-on", "tcp:7000")
        local = free_port()
        self.adb("forward", "tcp:%d" % local, "tcp:7000", serial=serial, check=True)
        with socket.create_connection(("127.0.0.1", local), timeout=LIMIT) as c:
            c.sendall(b"request")
            try:
                self.assertEqual(c.recv(100), b"")
            except ConnectionResetError:
                pass
        self.assertLeavesDeviceState(serial)
        self.assertIsNone(proc.poll())

    def test_signal_makes_the_phone_vanish(self):
        proc, serial = self.vanishing_phone()
        proc.send_signal(signal.SIGUSR1)
        self.assertLeavesDeviceState(serial)
        r = self.adb("shell", "getprop", serial=serial)
        self.assertNotEqual(r.returncode, 0)


class RawAdb:
    """A minimal ADB transport peer, written from the protocol description, that checks every
    header the phone sends."""

    def __init__(self, test, port):
        self.test = test
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=LIMIT)

    def close(self):
        self.sock.close()

    def send(self, cmd, arg0, arg1, data=b""):
        cmd = int.from_bytes(cmd, "little")
        self.sock.sendall(struct.pack("<6I", cmd, arg0, arg1, len(data), sum(data) & 0xffffffff,
                                      cmd ^ 0xffffffff) + data)

    def recv_exact(self, n):
        buf = bytearray()
        while len(buf) < n:
            chunk = self.sock.recv(n - len(buf))
            if not chunk:
                raise EOFError()
            buf += chunk
        return bytes(buf)

    def recv(self, timeout=LIMIT):
        self.sock.settimeout(timeout)
        try:
            cmd, a0, a1, length, check, magic = struct.unpack("<6I", self.recv_exact(24))
        finally:
            self.sock.settimeout(LIMIT)
        self.test.assertEqual(magic, cmd ^ 0xffffffff)
        data = self.recv_exact(length)
        self.test.assertEqual(check, sum(data) & 0xffffffff)
        return cmd.to_bytes(4, "little"), a0, a1, data

    def nothing_within(self, seconds):
        try:
            self.sock.settimeout(seconds)
            return self.sock.recv(1, socket.MSG_PEEK) == b""
        except socket.timeout:
            return True
        finally:
            self.sock.settimeout(LIMIT)

    def handshake(self, maxdata):
        self.send(b"CNXN", 0x01000001, maxdata, b"host::features=shell_v2\0")
        return self.recv()


def sync_request(kind, path):
    return kind + struct.pack("<I", len(path)) + path.encode()


class RawProtocolTest(unittest.TestCase):
    """What the stock client tolerates and so cannot show: payload limits, per-stream flow
    control, stream ids and answers to malformed input."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="vphone-raw-")
        cls.content = {}
        args = []
        for name, size in (("a.bin", 40000), ("b.bin", 30000)):
            data = os.urandom(size)
            local = os.path.join(cls.tmp, name)
            with open(local, "wb") as f:
                f.write(data)
            cls.content["/sdcard/" + name] = data
            args += ["--file", "/sdcard/%s=%s" % (name, local)]
        cls.proc = subprocess.Popen([sys.executable, VPHONE, "--port", "0", "--model", "Raw"] + args,
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        cls.port = int(cls.proc.stdout.readline().rsplit(":", 1)[1])

    @classmethod
    def tearDownClass(cls):
        cls.proc.terminate()
        cls.proc.wait(10)
        cls.proc.stdout.close()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def peer(self):
        c = RawAdb(self, self.port)
        self.addCleanup(c.close)
        return c

    def test_handshake_answers_with_the_banner(self):
        c = self.peer()
        cmd, version, maxdata, banner = c.handshake(4096)
        self.assertEqual(cmd, b"CNXN")
        self.assertEqual(version, 0x01000001)
        self.assertGreaterEqual(maxdata, 4096)
        self.assertTrue(banner.startswith(b"device::"), banner)
        fields = dict(f.split(b"=", 1) for f in banner[len(b"device::"):].split(b";"))
        self.assertEqual(fields[b"ro.product.model"], b"Raw")
        self.assertEqual(fields[b"features"], b"shell_v2")

    def test_streams_have_their_own_flow_control(self):
        c = self.peer()
        c.handshake(4096)
        streams = {}
        for remote_id, path in ((11, "/sdcard/a.bin"), (12, "/sdcard/b.bin")):
            c.send(b"OPEN", remote_id, 0, b"sync:\0")
            cmd, local_id, to, _ = c.recv()
            self.assertEqual((cmd, to), (b"OKAY", remote_id))
            streams[remote_id] = {"local": local_id, "path": path, "buf": bytearray(), "held": 0}
        self.assertNotEqual(streams[11]["local"], streams[12]["local"])
        for remote_id, st in streams.items():
            c.send(b"WRTE", remote_id, st["local"], sync_request(b"RECV", st["path"]))

        def take(cmd, a0, a1, data):
            self.assertEqual(cmd, b"WRTE")
            self.assertLessEqual(len(data), 4096)
            st = streams[a1]
            self.assertEqual(a0, st["local"])
            self.assertEqual(st["held"], 0, "a second WRTE before the OKAY of the first")
            st["held"] = 1
            st["buf"] += data

        # Neither stream is acknowledged: each still sends its first WRTE, and only that one.
        while not all(st["held"] for st in streams.values()):
            msg = c.recv()
            if msg[0] != b"OKAY":        # the OKAYs for our own requests
                take(*msg)
        self.assertTrue(c.nothing_within(0.3))
        for rid, st in streams.items():
            st["held"] = 0
            c.send(b"OKAY", rid, st["local"])
        done = set()
        while len(done) < 2:
            cmd, a0, a1, data = c.recv()
            take(cmd, a0, a1, data)
            st = streams[a1]
            if bytes(st["buf"]).endswith(b"DONE\0\0\0\0") and \
                    len(st["buf"]) > len(self.content[st["path"]]):
                done.add(a1)
            st["held"] = 0
            c.send(b"OKAY", a1, a0)
        for rid, st in streams.items():
            buf, data = bytes(st["buf"]), bytearray()
            while True:
                kind, n = struct.unpack("<4sI", buf[:8])
                if kind == b"DONE":
                    break
                self.assertEqual(kind, b"DATA")
                data += buf[8:8 + n]
                buf = buf[8 + n:]
            self.assertEqual(bytes(data), self.content[st["path"]])

    def test_phone_waits_for_okay_and_stops_on_close(self):
        c = self.peer()
        c.handshake(4096)
        c.send(b"OPEN", 5, 0, b"sync:\0")
        _, local_id, _, _ = c.recv()
        c.send(b"WRTE", 5, local_id, sync_request(b"RECV", "/sdcard/a.bin"))
        kinds = [c.recv()[0] for _ in range(2)]
        self.assertEqual(sorted(kinds), [b"OKAY", b"WRTE"])
        self.assertTrue(c.nothing_within(0.5), "sent more before the OKAY")
        c.send(b"CLSE", 5, local_id)
        self.assertTrue(c.nothing_within(0.5), "sent more after the stream was closed")
        # the connection itself still serves
        c.send(b"OPEN", 6, 0, b"shell:getprop ro.product.model\0")
        cmd, new_local, to, _ = c.recv()
        self.assertEqual((cmd, to), (b"OKAY", 6))
        self.assertEqual(c.recv()[0:4:3], (b"WRTE", b"Raw\n"))
        self.assertEqual(c.recv()[0:3], (b"CLSE", new_local, 6))

    def test_refusals(self):
        c = self.peer()
        c.send(b"OPEN", 1, 0, b"shell:getprop\0")    # before the handshake: ignored
        self.assertTrue(c.nothing_within(0.3))
        c.handshake(4096)
        c.send(b"OPEN", 2, 0, b"jdwp:1234\0")
        self.assertEqual(c.recv()[0:3], (b"CLSE", 0, 2))
        c.send(b"WRTE", 3, 77, b"data")
        self.assertEqual(c.recv()[0:3], (b"CLSE", 0, 3))

    def test_malformed_headers_drop_the_connection_only(self):
        cases = [
            ("bad magic", struct.pack("<6I", 0x4e45504f, 1, 0, 0, 0, 0)),
            ("huge length", struct.pack("<6I", 0x45545257, 1, 1, 1 << 30, 0, 0x45545257 ^ 0xffffffff)),
        ]
        for name, header in cases:
            with self.subTest(name):
                c = self.peer()
                c.handshake(4096)
                c.sock.sendall(header)
                with self.assertRaises(EOFError):
                    c.recv()
        c = self.peer()
        self.assertEqual(c.handshake(4096)[0], b"CNXN")

    def test_unauthorized_phone_never_accepts(self):
        proc = subprocess.Popen([sys.executable, VPHONE, "--port", "0", "--unauthorized"],
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        try:
            c = RawAdb(self, int(proc.stdout.readline().rsplit(":", 1)[1]))
            cmd, kind, _, token = c.handshake(4096)
            self.assertEqual((cmd, kind, len(token)), (b"AUTH", 1, 20))
            c.send(b"AUTH", 2, 0, os.urandom(256))      # a signature: refused with a new token
            cmd, kind, _, token2 = c.recv()
            self.assertEqual((cmd, kind), (b"AUTH", 1))
            self.assertNotEqual(token, token2)
            c.send(b"AUTH", 3, 0, b"QAAAA... key@host\0")   # a public key: no answer
            c.send(b"OPEN", 1, 0, b"shell:getprop\0")
            self.assertTrue(c.nothing_within(0.5))
            c.close()
        finally:
            proc.terminate()
            proc.wait(10)
            proc.stdout.close()


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
                self.assertEqual(vp_shell.tokenize(line), tokens)

    def test_bad_lines_are_syntax_errors(self):
        for line in ("echo 'open", 'echo "open', "echo >", "sleep 1 &"):
            with self.subTest(line=line):
                with self.assertRaises(vp_shell.ShellSyntaxError):
                    vp_shell.tokenize(line)

    def test_package_of(self):
        cases = [
            ("/data/local/tmp/x.apk", make_apk("com.example.one"), "com.example.one"),
            ("/data/local/tmp/com.example.two.apk", make_apk("no dots"), "com.example.two"),
            ("/data/local/tmp/x.apk", b"PK\x03\x04 truncated", None),
            ("/data/local/tmp/com.example.three.apk", b"plain text", None),
        ]
        for path, content, package in cases:
            with self.subTest(path=path, package=package):
                self.assertEqual(vp_commands.package_of(path, content), package)


if __name__ == "__main__":
    unittest.main()
