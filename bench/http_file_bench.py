#!/usr/bin/env python3
"""asyn_http_file against curl: one large file from nginx over the loopback, in the same run.

    http_file_bench.py BENCH_EXE [--mib 1024] [--rounds 3] [--workdir DIR]

Serves a file of MIB mebibytes (real data, not sparse) from nginx, then, alternating, downloads
it with `curl -s -o` and with http_file_bench (asyn_http_file). Each download's wall time and
peak resident memory (VmHWM, sampled while it runs) are recorded. Prints the best time of
each, the throughput ratio ours/curl (1.0 = as fast as curl) and our peak resident memory.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
from nginx_fixture import Nginx  # noqa: E402


def high_water_mib(pid):
    """VmHWM of a running process: its peak resident memory since it started its program (the
    rusage of a child would also count the parent's memory it was forked with)."""
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) / 1024.0
    except OSError:
        pass
    return 0.0


def timed(cmd):
    start = time.monotonic()
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    peak = 0.0
    while proc.poll() is None:
        peak = max(peak, high_water_mib(proc.pid))
        time.sleep(0.02)
    elapsed = time.monotonic() - start
    out = proc.stdout.read().decode(errors="replace")
    proc.stdout.close()
    if proc.returncode != 0:
        raise RuntimeError("%s failed (%d): %s" % (cmd[0], proc.returncode, out))
    return elapsed, peak


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("bench_exe")
    ap.add_argument("--mib", type=int, default=1024)
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--workdir")
    args = ap.parse_args()

    work = args.workdir or tempfile.mkdtemp(prefix="tivorel-http-bench-", dir=os.getcwd())
    nginx = Nginx(os.path.join(work, "nginx"))
    os.makedirs(nginx.www, exist_ok=True)
    source = os.path.join(nginx.www, "big.bin")
    block = os.urandom(1 << 20)
    with open(source, "wb") as f:
        for _ in range(args.mib):
            f.write(block)
    size = os.path.getsize(source)
    nginx.start([{}])
    try:
        url = "http://127.0.0.1:%d/big.bin" % nginx.ports[0]
        ours_target = os.path.join(work, "ours.bin")
        curl_target = os.path.join(work, "curl.bin")
        best = {"curl": None, "ours": None}
        peak = {"curl": 0.0, "ours": 0.0}
        for _ in range(args.rounds):
            for name, cmd, target in (
                    ("curl", ["curl", "-s", "-o", curl_target, url], curl_target),
                    ("ours", [args.bench_exe, url, ours_target], ours_target)):
                for p in (target, target + ".tmp"):
                    if os.path.exists(p):
                        os.remove(p)
                t, rss = timed(cmd)
                if os.path.getsize(target) != size:
                    raise RuntimeError("%s wrote %d bytes, not %d" % (name, os.path.getsize(target), size))
                best[name] = t if best[name] is None else min(best[name], t)
                peak[name] = max(peak[name], rss)
        mib = size / float(1 << 20)
        print("file: %d MiB, best of %d rounds" % (mib, args.rounds))
        for name in ("curl", "ours"):
            print("%-5s %7.3f s  %8.1f MiB/s  peak RSS %6.1f MiB" %
                  (name, best[name], mib / best[name], peak[name]))
        print("throughput ratio ours/curl: %.3f" % (best["curl"] / best["ours"]))
    finally:
        nginx.stop()
        if not args.workdir:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
