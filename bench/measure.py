#!/usr/bin/env python3
"""Runs a command RUNS times after one run to warm up; prints the median wall time, the median
processor time (user and system, all threads) and the largest peak resident memory of its
runs, as "key value" lines (wall_ms, cpu_ms, peak_mib). Its exit
status must be one of OK (default 0), given as a comma-separated list.

    bench/measure.py RUNS [--ok 0,1] -- COMMAND [ARGS...]
"""
import os
import statistics
import subprocess
import sys
import time


def main():
    args = sys.argv[1:]
    runs = int(args.pop(0))
    ok = {0}
    if args[0] == "--ok":
        ok = {int(s) for s in args[1].split(",")}
        args = args[2:]
    command = args[args.index("--") + 1:]
    times = []
    cpu = []
    peak = 0
    for run in range(runs + 1):
        start = time.perf_counter()
        pid = os.fork()
        if pid == 0:
            devnull = os.open(os.devnull, os.O_WRONLY)
            os.dup2(devnull, 1)
            os.dup2(devnull, 2)
            os.execvp(command[0], command)
        _, status, usage = os.wait4(pid, 0)
        elapsed = time.perf_counter() - start
        if os.waitstatus_to_exitcode(status) not in ok:
            sys.exit(f"measure: {' '.join(command)} exited {os.waitstatus_to_exitcode(status)}")
        if run > 0:
            times.append(elapsed * 1000)
            cpu.append((usage.ru_utime + usage.ru_stime) * 1000)
            peak = max(peak, usage.ru_maxrss)
    print(f"wall_ms {statistics.median(times):.1f}")
    print(f"cpu_ms {statistics.median(cpu):.1f}")
    print(f"peak_mib {peak / 1024:.1f}")


main()
