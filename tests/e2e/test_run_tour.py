"""The README's run command, end to end: a virtual phone, the stock adb, the real host. It is
started with a time limit, must print the whole tour, and must end cleanly on SIGINT, leaving
none of what it started running."""
import glob
import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
LIMIT = 300


def processes():
    """{pid: (ppid, start time, state, command line)} of every process that can be read now."""
    out = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                stat = f.read()
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                cmdline = f.read().replace(b"\0", b" ").decode("utf-8", "replace").strip()
        except OSError:
            continue  # ended meanwhile
        fields = stat[stat.rindex(")") + 2:].split()
        out[int(entry)] = (int(fields[1]), fields[19], fields[0], cmdline)
    return out


def started_by_run(root_pid, private_dir, adb_port):
    """The processes of this run: what descends from the run command, and what left its tree (the
    daemons: the ADB server on this run's port, nginx with this run's folder) with their children.
    {pid: (start time, command line)}."""
    table = processes()
    ours = {pid for pid, (_, _, _, cmd) in table.items()
            if private_dir in cmd or ("fork-server" in cmd and "tcp:%s" % adb_port in cmd)}
    ours.add(root_pid)
    grew = True
    while grew:
        children = {pid for pid, (ppid, _, _, _) in table.items() if ppid in ours} - ours
        ours |= children
        grew = bool(children)
    return {pid: (table[pid][1], table[pid][3]) for pid in ours if pid in table}


def still_running(snapshot):
    """Those of the snapshot that still run (same pid and start time, not a zombie)."""
    table = processes()
    return {pid: cmd for pid, (start, cmd) in snapshot.items()
            if pid in table and table[pid][1] == start and table[pid][2] != "Z"}


class RunTour(unittest.TestCase):
    def test_tour_then_sigint(self):
        # A temporary folder of this run alone: the run's work folder, and so the command lines of
        # the daemons it starts, lie below it.
        private_dir = tempfile.mkdtemp(prefix="tivorel-e2e-tour-")
        self.addCleanup(shutil.rmtree, private_dir, True)
        out_path = os.path.join(private_dir, "run.out")
        env = dict(os.environ, TMPDIR=private_dir)
        with open(out_path, "w+") as out:
            p = subprocess.Popen(["timeout", "-s", "KILL", str(LIMIT), os.path.join(ROOT, "scripts", "run.sh")],
                                 stdout=out, stderr=subprocess.STDOUT, cwd=ROOT, env=env)
            end = time.time() + LIMIT - 30
            text = ""
            while time.time() < end and "Tour finished" not in text and p.poll() is None:
                time.sleep(0.2)
                out.seek(0)
                text = out.read()
            self.assertIn("Tour finished", text, text[-4000:])
            lab_env = glob.glob(os.path.join(private_dir, "tivorel-run.*", "lab.env"))
            self.assertEqual(len(lab_env), 1, "the run's work folder")
            with open(lab_env[0]) as f:
                adb_port = [l.split("=", 1)[1].strip() for l in f if "ANDROID_ADB_SERVER_PORT=" in l][0]
            started = started_by_run(p.pid, private_dir, adb_port)
            commands = " | ".join(cmd for _, cmd in started.values())
            for what in ("phonelab.py up", "nginx", "fork-server", "stage/tivorel", "agentsim"):
                self.assertIn(what, commands, "the run's processes are seen")
            # SIGINT to run.sh itself (timeout passes it on to its child only with -s; use the pid
            # of run.sh, the child of timeout).
            children = subprocess.run(["pgrep", "-P", str(p.pid)], capture_output=True, text=True).stdout.split()
            self.assertTrue(children, "run.sh is running")
            os.kill(int(children[0]), signal.SIGINT)
            rc = p.wait(60)
            out.seek(0)
            text = out.read()
        self.assertEqual(rc, 0, text[-4000:])
        for line in ("Devices: 1 ready, 0 not ready", "forward tcp:12156 and tcp:12157 to the agent: ok",
                     "agent start: ok (5)", "apps: 4 in total", "1. Maps (com.example.maps 10.2.1)",
                     "contacts: 5 in total", "1. Ann Example <+1 555 0100>", "messages: 3 in total",
                     "install result: 5 (installed)",
                     "forward tcp:12158 and tcp:12159 to the agent's files: ok", "folder sent: 58042 bytes",
                     "fetched 42 bytes into", "download finished: 3145728 bytes"):
            self.assertIn(line, text)
        # The daemons end a moment after the command: wait for that, bounded only as a hang guard.
        end = time.time() + 60
        while still_running(started) and time.time() < end:
            time.sleep(0.1)
        self.assertEqual(still_running(started), {}, "still running")


if __name__ == "__main__":
    unittest.main()
