#!/usr/bin/env python3
"""A bench of virtual phones for the tour and the end-to-end tests: a private ADB server, virtual
phones with an agent simulator behind each phone's tcp relay, and a local download server.

As a module:
    lab = Lab(workdir)                 # a private ADB server port and HOME inside workdir
    lab.start_adb_server()
    phone = lab.add_phone(model="VP One")   # agent simulator + phone, `adb connect`ed
    lab.start_download_server()        # nginx on a loopback port, serving workdir/www
    ... lab.env (environment for adb clients and the host) ...
    lab.stop()                         # ends everything it started, the ADB server too

From the command line (scripts/run.sh):
    phonelab.py up WORKDIR [--phones N] [--no-phone] [--unauthorized N] [--no-server]
writes WORKDIR/lab.env (shell assignments) once everything is up, prints "ready" and keeps
running until SIGTERM or SIGINT, or until its parent ends; then it stops what it started.
"""
import argparse
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
VPHONE = os.path.join(HERE, "vphone.py")
AGENTSIM = os.path.join(ROOT, "tools", "agentsim", "agentsim.py")
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))

# The agent's ports on a phone: event channel, command channel.
AGENT_PORTS = (12156, 12157)
FILE_PORTS = (12158, 12159)  # receiving sent files, serving gets
LIMIT = 60


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def read_first_line(proc, what, timeout=20):
    """The first line of a child's output, or an error when it ends or stays silent."""
    box = []
    t = threading.Thread(target=lambda: box.append(proc.stdout.readline()), daemon=True)
    t.start()
    t.join(timeout)
    if not box or not box[0]:
        proc.kill()
        raise RuntimeError("%s did not start" % what)
    return box[0].strip()


class Phone:
    def __init__(self, serial, proc, agent, agent_ports):
        self.serial = serial
        self.proc = proc
        self.agent = agent
        self.agent_ports = agent_ports   # event, command, control

    def control(self, **request):
        """One request to the agent simulator's control port."""
        with socket.create_connection(("127.0.0.1", self.agent_ports[2]), timeout=LIMIT) as s:
            s.sendall((json.dumps(request) + "\n").encode())
            data = b""
            while not data.endswith(b"\n"):
                chunk = s.recv(65536)
                if not chunk:
                    break
                data += chunk
        return json.loads(data.decode() or "{}")

    def vanish(self):
        """The phone drops every connection and closes its port."""
        self.proc.send_signal(signal.SIGUSR1)


class Lab:
    def __init__(self, workdir, adb=None):
        self.workdir = os.path.abspath(workdir)
        os.makedirs(self.workdir, exist_ok=True)
        self.adb_exe = adb or os.environ.get("TIVOREL_ADB") or shutil.which("adb") or "adb"
        self.procs = []
        self.phones = []
        self.nginx = None
        self.www = os.path.join(self.workdir, "www")
        self.env = dict(os.environ)
        self.server_started = False

    # --- the ADB server ---------------------------------------------------------------------
    def start_adb_server(self, port=None, private_home=True):
        self.env["ANDROID_ADB_SERVER_PORT"] = str(port or free_port())
        if private_home:
            # No keys or settings of the user's own ADB are touched.
            home = os.path.join(self.workdir, "home")
            os.makedirs(home, exist_ok=True)
            self.env["HOME"] = home
        self.adb("start-server", check=True)
        self.server_started = True

    def adb(self, *args, serial=None, check=False, timeout=LIMIT):
        cmd = [self.adb_exe] + (["-s", serial] if serial else []) + list(args)
        r = subprocess.run(cmd, env=self.env, capture_output=True, text=True, timeout=timeout)
        if check and r.returncode != 0:
            raise RuntimeError("%s: %s%s" % (" ".join(cmd), r.stdout, r.stderr))
        return r

    def devices(self):
        """{serial: state} as the ADB server lists them."""
        out = self.adb("devices").stdout
        result = {}
        for line in out.splitlines()[1:]:
            parts = line.split(None, 1)
            if len(parts) == 2:
                result[parts[0]] = parts[1].strip()
        return result

    def wait_state(self, serial, states, timeout=LIMIT):
        end = time.time() + timeout
        while time.time() < end:
            state = self.devices().get(serial)
            if state in states:
                return state
            time.sleep(0.1)
        raise RuntimeError("%s did not reach %s (now %s)" % (serial, states, self.devices().get(serial)))

    # --- phones -----------------------------------------------------------------------------
    def _spawn(self, args):
        p = subprocess.Popen([sys.executable] + args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, text=True, env=dict(os.environ, PYTHONDONTWRITEBYTECODE="1"))
        self.procs.append(p)
        return p

    def add_phone(self, model="VP One", args=(), agent=True, connect=True):
        relay = []
        agent_proc, agent_ports = None, None
        if agent:
            storage = os.path.join(self.workdir, "phone%d-files" % (len(self.phones) + 1))
            os.makedirs(storage, exist_ok=True)
            agent_proc = self._spawn([AGENTSIM, "--event-port", "0", "--command-port", "0",
                                      "--control-port", "0", "--send-port", "0", "--get-port", "0",
                                      "--files-dir", storage, "--exit-on-stdin-eof"])
            ports = json.loads(read_first_line(agent_proc, "the agent simulator"))
            agent_ports = (ports["event_port"], ports["command_port"], ports["control_port"])
            # The file services sit behind the two ports the agent's files use on the phone.
            relay = ["--tcp", "%d=127.0.0.1:%d" % (AGENT_PORTS[0], agent_ports[0]),
                     "--tcp", "%d=127.0.0.1:%d" % (AGENT_PORTS[1], agent_ports[1]),
                     "--tcp", "%d=127.0.0.1:%d" % (FILE_PORTS[0], ports["send_port"]),
                     "--tcp", "%d=127.0.0.1:%d" % (FILE_PORTS[1], ports["get_port"])]
        proc = self._spawn([VPHONE, "--port", "0", "--model", model] + relay + list(args))
        serial = read_first_line(proc, "the virtual phone")
        phone = Phone(serial, proc, agent_proc, agent_ports)
        self.phones.append(phone)
        if connect:
            self.adb("connect", serial)
            want = ("unauthorized",) if "--unauthorized" in args else ("device",)
            self.wait_state(serial, want)
        return phone

    # --- the download server ----------------------------------------------------------------
    def start_download_server(self, demo_size=3 * 1024 * 1024):
        from nginx_fixture import Nginx
        self.nginx = Nginx(os.path.join(self.workdir, "nginx"))
        self.www = self.nginx.www
        os.makedirs(self.www, exist_ok=True)
        block = bytes(range(256)) * 16
        with open(os.path.join(self.www, "demo.bin"), "wb") as f:
            for _ in range(demo_size // len(block)):
                f.write(block)
        self.nginx.start([{}])
        return self.nginx.ports[0]

    # --- the end ----------------------------------------------------------------------------
    def stop(self):
        if self.server_started:
            try:
                self.adb("kill-server", timeout=20)
            except (OSError, subprocess.SubprocessError):
                pass
            self.server_started = False
        for p in self.procs:
            if p.poll() is None:
                p.terminate()
        for p in self.procs:
            try:
                p.wait(5)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
            for f in (p.stdin, p.stdout):
                if f:
                    f.close()
        self.procs = []
        if self.nginx:
            self.nginx.stop()
            self.nginx = None


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("action", choices=["up"])
    ap.add_argument("workdir")
    ap.add_argument("--phones", type=int, default=1, help="virtual phones to start")
    ap.add_argument("--no-phone", action="store_true", help="no virtual phone (a real one is attached)")
    ap.add_argument("--unauthorized", type=int, default=0, help="phones that show as unauthorized")
    ap.add_argument("--no-server", action="store_true", help="no download server")
    a = ap.parse_args()

    lab = Lab(a.workdir)
    stopping = threading.Event()

    def on_signal(*_):
        stopping.set()
    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    try:
        lines = []
        if a.no_phone:
            # A real phone: the user's own ADB server and keys.
            lines.append("TIVOREL_LAB_PHONES=")
        else:
            lab.start_adb_server()
            for i in range(a.phones):
                lab.add_phone(model="VP One")
            for i in range(a.unauthorized):
                lab.add_phone(model="VP Locked", args=["--unauthorized"], agent=False)
            lines.append("ANDROID_ADB_SERVER_PORT=%s" % lab.env["ANDROID_ADB_SERVER_PORT"])
            lines.append("TIVOREL_LAB_PHONES='%s'" % " ".join(p.serial for p in lab.phones))
        if not a.no_server:
            lines.append("TIVOREL_DEMO_PORT=%d" % lab.start_download_server())
        with open(os.path.join(a.workdir, "lab.env.tmp"), "w") as f:
            f.write("".join("export %s\n" % l for l in lines))
        os.replace(os.path.join(a.workdir, "lab.env.tmp"), os.path.join(a.workdir, "lab.env"))
        print("ready", flush=True)

        # Also ends when the program that started it is gone.
        parent = os.getppid()
        while not stopping.wait(0.5):
            if os.getppid() != parent:
                break
    except Exception as e:  # noqa: BLE001 - reported, then everything is stopped
        print("phonelab: %s" % e, file=sys.stderr, flush=True)
        lab.stop()
        return 1
    lab.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
