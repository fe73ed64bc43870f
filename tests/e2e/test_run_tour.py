"""The README's run command, end to end: a virtual phone, the stock adb, the real host. It is
started with a time limit, must print the whole tour, and must end cleanly on SIGINT, leaving
none of what it started running."""
import os
import signal
import subprocess
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
LIMIT = 300


def running(pattern):
    r = subprocess.run(["pgrep", "-f", pattern], capture_output=True, text=True)
    return r.stdout.split()


class RunTour(unittest.TestCase):
    def test_tour_then_sigint(self):
        out_path = os.path.join(os.environ.get("TMPDIR", "/tmp"), "tivorel-run-tour-%d.out" % os.getpid())
        with open(out_path, "w+") as out:
            p = subprocess.Popen(["timeout", "-s", "KILL", str(LIMIT), os.path.join(ROOT, "scripts", "run.sh")],
                                 stdout=out, stderr=subprocess.STDOUT, cwd=ROOT)
            end = time.time() + LIMIT - 30
            text = ""
            while time.time() < end and "Tour finished" not in text and p.poll() is None:
                time.sleep(0.2)
                out.seek(0)
                text = out.read()
            self.assertIn("Tour finished", text, text[-4000:])
            # SIGINT to run.sh itself (timeout passes it on to its child only with -s; use the pid
            # of run.sh, the child of timeout).
            children = subprocess.run(["pgrep", "-P", str(p.pid)], capture_output=True, text=True).stdout.split()
            self.assertTrue(children, "run.sh is running")
            os.kill(int(children[0]), signal.SIGINT)
            rc = p.wait(60)
            out.seek(0)
            text = out.read()
        os.remove(out_path)
        self.assertEqual(rc, 0, text[-4000:])
        for line in ("Devices: 1 ready, 0 not ready", "forward tcp:12156 and tcp:12157 to the agent: ok",
                     "agent start: ok (5)", "apps: 4 in total", "1. Maps (com.example.maps 10.2.1)",
                     "contacts: 5 in total", "1. Ann Example <+1 555 0100>", "messages: 3 in total",
                     "install result: 5 (installed)",
                     "forward tcp:12158 and tcp:12159 to the agent's files: ok", "folder sent: 58042 bytes",
                     "fetched 42 bytes into", "download finished: 3145728 bytes"):
            self.assertIn(line, text)
        time.sleep(1)
        self.assertEqual(running(r"phonelab\.py up"), [], "phonelab still running")
        self.assertEqual(running(r"tivorel-run\..*nginx"), [], "nginx still running")


if __name__ == "__main__":
    unittest.main()
