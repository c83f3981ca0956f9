#!/usr/bin/env python3
"""The default scene's whole process against the reference loop.

Runs, taking turns, the plain generation loop with the reference evaluator
(optimizer_bench --loop default reference N) and the program itself
(reflector --headless on examples/default.json, one thread, --json written),
and prints each pair's processor times (user + system, to the microsecond,
from the children's resource usage), the median of the pairs' ratios (the
machine's pace drifts between runs, and two runs side by side drift less) and
the ratio of each side's fastest run (a pace that lasts seconds can still
fall on one run of a pair).

  bench/whole_process.py [BUILD_DIR] [--rounds R] [--generations N]
"""

import argparse
import os
import resource
import statistics
import subprocess
import sys
import tempfile


def processor_time(command):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", nargs="?", default=os.path.join(root, "build", "default"))
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--generations", type=int, default=10000)
    args = parser.parse_args()
    bench = os.path.join(args.build, "bench", "optimizer_bench")
    program = os.path.join(args.build, "src", "reflector")
    for path in (bench, program):
        if not os.access(path, os.X_OK):
            sys.exit(f"whole_process.py: {path} is not built")
    scene = os.path.join(root, "examples", "default.json")
    n = str(args.generations)
    ratios, references, wholes = [], [], []
    with tempfile.TemporaryDirectory() as directory:
        result = os.path.join(directory, "result.json")
        for round_ in range(args.rounds):
            reference = processor_time([bench, "--loop", "default", "reference", n])
            whole = processor_time([program, "--headless", "--scene", scene, "--generations", n,
                                    "--threads", "1", "--json", result])
            references.append(reference)
            wholes.append(whole)
            ratios.append(reference / whole)
            print(f"round {round_ + 1}: reference {reference:.3f} s, program {whole:.3f} s, "
                  f"{ratios[-1]:.2f}x", flush=True)
    print(f"median ratio over {args.rounds} rounds: {statistics.median(ratios):.2f}x; "
          f"fastest against fastest: {min(references):.3f} s / {min(wholes):.3f} s = "
          f"{min(references) / min(wholes):.2f}x")


if __name__ == "__main__":
    main()
