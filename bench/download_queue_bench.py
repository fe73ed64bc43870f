#!/usr/bin/env python3
"""The download queue against curl, on the same files from the same nginx in the same run.

    download_queue_bench.py BENCH_EXE [--files 2000] [--rounds 3] [--workdir DIR]

Serves FILES files of 4 KiB to 64 KiB from nginx on the loopback, then, alternating, fetches them
all with one curl process (one after another, --parallel-max 1) and with the download queue
(download_queue_bench), and once more with the queue alone (no database, no Lua). Prints the
best time of each, the ratio queue/curl and the task rows the queue wrote per task.
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
from nginx_fixture import Nginx  # noqa: E402


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("bench_exe")
    ap.add_argument("--files", type=int, default=2000)
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--workdir")
    args = ap.parse_args()

    work = args.workdir or tempfile.mkdtemp(prefix="tivorel-bench-")
    nginx = Nginx(os.path.join(work, "nginx"))
    rng = random.Random(7)
    os.makedirs(nginx.www, exist_ok=True)
    names = []
    for i in range(args.files):
        name = "f%05d.bin" % i
        with open(os.path.join(nginx.www, name), "wb") as f:
            f.write(rng.randbytes(rng.randint(4096, 65536)))
        names.append(name)
    nginx.start([{}])
    try:
        base = "http://127.0.0.1:%d/" % nginx.ports[0]
        url_list = os.path.join(work, "urls.txt")
        with open(url_list, "w") as f:
            for n in names:
                f.write("%s%s\t%s\n" % (base, n, n))
        curl_cfg = os.path.join(work, "curl.cfg")

        def run_curl(out):
            with open(curl_cfg, "w") as f:
                for n in names:
                    f.write('url = "%s%s"\noutput = "%s/%s"\n' % (base, n, out, n))
            t = time.monotonic()
            subprocess.run(["curl", "-s", "-f", "--parallel", "--parallel-max", "1",
                            "-K", curl_cfg], check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            return time.monotonic() - t

        def run_queue(out, bare=False):
            r = subprocess.run([args.bench_exe, url_list, out] + (["--bare"] if bare else []),
                               check=True,
                               capture_output=True, text=True)
            fields = dict(kv.split("=") for kv in r.stdout.split())
            if fields["failed"] != "0":
                raise RuntimeError("the queue failed downloads: " + r.stdout)
            for n in names[:: max(1, len(names) // 50)]:
                with open(os.path.join(out, n), "rb") as a, \
                        open(os.path.join(nginx.www, n), "rb") as b:
                    if a.read() != b.read():
                        raise RuntimeError("wrong content in " + n)
            return float(fields["seconds"]), int(fields["writes"]) / int(fields["tasks"])

        # Every run writes into a folder of its own that nothing was deleted from: creating files
        # right after deleting many costs the file system extra and would blur the comparison.
        # The order alternates so that neither side always runs on a warmer machine.
        curl_times, queue_times, bare_times, writes = [], [], [], None
        for i in range(args.rounds):
            outs = {k: os.path.join(work, "out-%d-%s" % (i, k)) for k in ("curl", "queue", "bare")}
            for o in outs.values():
                os.makedirs(o)
            order = ["curl", "queue", "bare"] if i % 2 == 0 else ["bare", "queue", "curl"]
            for who in order:
                if who == "curl":
                    curl_times.append(run_curl(outs["curl"]))
                elif who == "queue":
                    t, writes = run_queue(outs["queue"])
                    queue_times.append(t)
                else:
                    bare_times.append(run_queue(outs["bare"], bare=True)[0])

        c, q = min(curl_times), min(queue_times)
        print("files=%d curl_best=%.3fs queue_best=%.3fs ratio=%.2f writes_per_task=%.3f"
              % (args.files, c, q, q / c, writes))
        print("curl runs: %s" % " ".join("%.3f" % x for x in curl_times))
        print("queue runs: %s" % " ".join("%.3f" % x for x in queue_times))
        print("queue without database and Lua: %s" % " ".join("%.3f" % x for x in bare_times))
    finally:
        nginx.stop()
        if not args.workdir:
            shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
