#!/usr/bin/env python3
"""Start-up to first painted frame of window programs, run alternately.

Usage: startup.py RUNS NAME=COMMAND [NAME=COMMAND ...]

A COMMAND is a program and its arguments, split as a shell would ("form=bench-window-form
mainwindow").

Each program prints the CLOCK_REALTIME nanoseconds of its main() entry (main_ns), of its
QApplication being ready (app_ns), of its window being built (built_ns) and of its first frame
having been painted (painted_ns), then exits. The time just before each process is started is
taken here. Prints medians as "NAME_KEY milliseconds" lines.
"""

import shlex
import statistics
import subprocess
import sys
import time

WARM_UP = 2


def run_once(command):
    started = time.time_ns()
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                          text=True, timeout=60)
    stamps = {}
    for line in done.stdout.splitlines():
        key, _, value = line.partition(" ")
        if key.endswith("_ns"):
            stamps[key] = int(value)
    if done.returncode != 0 or "painted_ns" not in stamps:
        sys.exit(f"startup: {shlex.join(command)} exited with {done.returncode} before painting")
    return {
        "total": stamps["painted_ns"] - started,
        "to_main": stamps["main_ns"] - started,
        "app": stamps["app_ns"] - stamps["main_ns"],
        "build": stamps["built_ns"] - stamps["app_ns"],
        "show_to_paint": stamps["painted_ns"] - stamps["built_ns"],
    }


def main():
    runs = int(sys.argv[1])
    programs = [(name, shlex.split(command))
                for name, command in (arg.split("=", 1) for arg in sys.argv[2:])]
    samples = {name: [] for name, _ in programs}
    for i in range(WARM_UP + runs):
        # Swap the order every round so that neither program always follows the other.
        order = programs if i % 2 == 0 else programs[::-1]
        for name, program in order:
            figures = run_once(program)
            if i >= WARM_UP:
                samples[name].append(figures)
    for name, runs_of in samples.items():
        for key in runs_of[0]:
            median = statistics.median(run[key] for run in runs_of)
            print(f"{name}_{key}_ms {median / 1e6:.3f}")
        print(f"{name}_total_min_ms {min(run['total'] for run in runs_of) / 1e6:.3f}")


if __name__ == "__main__":
    main()
