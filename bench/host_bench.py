#!/usr/bin/env python3
"""Host start-up benchmark: the staged host with a package of the five start-up scripts and an
entry script that quits at once, against lua5.1 running the same six scripts. Both run
alternately in one run on this machine; the report is the ratio of the medians."""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def timed(cmd, env):
    start = time.perf_counter()
    r = subprocess.run(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=60)
    elapsed = time.perf_counter() - start
    if r.returncode != 0:
        sys.exit("%s failed (%d): %s" % (cmd[0], r.returncode, r.stderr.decode(errors="replace")))
    return elapsed


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--host", required=True, help="the built host executable")
    ap.add_argument("--xar", required=True, help="the default UI package (for its luacode)")
    ap.add_argument("--lua", default="lua5.1")
    ap.add_argument("--runs", type=int, default=30)
    args = ap.parse_args()

    work = tempfile.mkdtemp(prefix="tivorel_bench_")
    try:
        program = os.path.join(work, "program")
        xar = os.path.join(program, "xar")
        os.makedirs(os.path.join(program, "Profiles"))
        shutil.copy2(args.host, program)
        shutil.copytree(os.path.join(args.xar, "luacode"), os.path.join(xar, "luacode"))
        shutil.copy2(os.path.join(HERE, "host_package", "onload.lua"), xar)
        host = os.path.join(program, os.path.basename(args.host))
        env = dict(os.environ, TMPDIR=work, TIVOREL_OBJECT_SCOPE="bench%d" % os.getpid())
        host_cmd = [host]
        lua_cmd = [args.lua, os.path.join(HERE, "host_package", "reference.lua"), xar]

        timed(host_cmd, env)  # warm the file cache
        timed(lua_cmd, env)
        host_t, lua_t = [], []
        for _ in range(args.runs):
            host_t.append(timed(host_cmd, env))
            lua_t.append(timed(lua_cmd, env))
        h, l = statistics.median(host_t), statistics.median(lua_t)
        print("host start-up (5 scripts + quitting entry): median %.2f ms over %d runs" %
              (h * 1000, args.runs))
        print("lua5.1 with the same six scripts:          median %.2f ms over %d runs" %
              (l * 1000, args.runs))
        print("ratio host / lua5.1: %.2f" % (h / l))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
