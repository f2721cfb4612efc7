#!/usr/bin/env python3
"""Start-up cost of brivane against /bin/true.

usage: bench/startup.py [-n RUNS] BRIVANE [TAPE] [OTHER_BRIVANE ...]

Starts /bin/true and `BRIVANE TAPE` (default: examples/demo.tap) in turn, RUNS
times each (default 200), alternating so that both see the same machine, and
prints the median wall time of each and its ratio to /bin/true's. Output goes
to /dev/null. Any OTHER_BRIVANE is timed in the same rounds.
"""
import argparse, os, statistics, time

here = os.path.dirname(os.path.abspath(__file__))


def spawn_ns(argv, devnull):
    t0 = time.perf_counter_ns()
    pid = os.posix_spawn(argv[0], argv, os.environ,
                         file_actions=[(os.POSIX_SPAWN_DUP2, devnull, 1), (os.POSIX_SPAWN_DUP2, devnull, 2)])
    _, status = os.waitpid(pid, 0)
    t1 = time.perf_counter_ns()
    if argv[0] != "/bin/true" and os.waitstatus_to_exitcode(status) != 0:
        raise SystemExit("%s failed with status %d" % (" ".join(argv), os.waitstatus_to_exitcode(status)))
    return t1 - t0


def main():
    p = argparse.ArgumentParser()
    p.add_argument("-n", type=int, default=200)
    p.add_argument("brivane", nargs="+")
    a = p.parse_args()
    bins = [os.path.abspath(a.brivane[0])]
    tape = os.path.join(here, "..", "examples", "demo.tap")
    for extra in a.brivane[1:]:
        if extra.endswith(".tap"):
            tape = extra
        else:
            bins.append(os.path.abspath(extra))
    cmds = [["/bin/true"]] + [[b, tape] for b in bins]
    times = [[] for _ in cmds]
    devnull = os.open(os.devnull, os.O_WRONLY)
    for c in cmds:  # warm the caches
        spawn_ns(c, devnull)
    for _ in range(a.n):
        for i, c in enumerate(cmds):
            times[i].append(spawn_ns(c, devnull))
    base = statistics.median(times[0])
    print("%-40s %10s %8s" % ("median of %d alternating runs" % a.n, "us", "x true"))
    for c, t in zip(cmds, times):
        m = statistics.median(t)
        print("%-40s %10.0f %8.2f" % (" ".join(os.path.relpath(x) if x.startswith("/") and x != "/bin/true" else x for x in c)[-40:], m / 1000, m / base))


if __name__ == "__main__":
    main()
