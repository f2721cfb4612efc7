#!/usr/bin/env python3
"""Two builds of the page, served over http, timed in turns in one engine on
the same files, with "all names" ticked: from picking a file to its last
result, the best of RUNS (default 3) each; beside the engine's own floor,
the time a bare worker takes to read the file and do nothing with it
(median of RUNS). Prints one line per file: before, after, after/before,
floor and after/floor, and the processor time the browser's processes
spent on the file before, after and for the floor (medians): where the floor's is
near twice its time, reading alone keeps two cores busy.

usage: bench/web_side_by_side.py ENGINE BEFORE_PAGE_DIR AFTER_PAGE_DIR FILE...
       ENGINE: chromium, firefox or webkit (under xvfb-run); run with Debian's
       python3, which has python3-selenium
"""
import os, statistics, sys, zipfile

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "tests", "web"))
sys.path.insert(0, here)
import browser  # noqa: E402
from web_read_floor import floor_page, read_ms  # noqa: E402

engine = sys.argv[1]
before_dir, after_dir = (os.path.abspath(a) for a in sys.argv[2:4])
files = [os.path.abspath(f) for f in sys.argv[4:]]
RUNS = int(os.environ.get("RUNS", "3"))


def tree_cpu_s(root):
    """Processor time so far of root and all its descendants, in seconds."""
    total = 0
    for pid in browser.tree_pids(root):
        try:
            with open("/proc/%d/stat" % pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            total += int(fields[11]) + int(fields[12])
        except (OSError, IndexError, ValueError):
            pass
    return total / os.sysconf("SC_CLK_TCK")


def results_expected(path):
    if not zipfile.is_zipfile(path):
        return 1
    with zipfile.ZipFile(path) as z:
        return sum(1 for i in z.infolist() if i.filename.lower().endswith(".tap"))


with browser.serve(before_dir) as before, browser.serve(after_dir) as after, floor_page() as floor, \
        browser.open_browser(engine) as b:
    print("%-8s %-24s %8s %8s %6s %8s %6s   %s" % ("engine", "file", "before s", "after s", "ratio", "floor s",
                                                "/floor", "cpu s: before, after, floor"))
    for path in files:
        times = {before: [], after: []}
        cpu = {before: [], after: [], floor: []}
        for _ in range(RUNS):
            for base in (before, after):
                b.get(base + "brivane.html")
                browser.set_options(b, True, False)
                spent = tree_cpu_s(b.pid)
                b.pick([path])
                browser.settled(b, timeout=300)
                cpu[base].append(tree_cpu_s(b.pid) - spent)
                ms = b.js("const d = document.documentElement.dataset; return d.finishedAt - d.pickedAt;")
                listed = browser.shown(b)
                if len(listed) != results_expected(path):
                    sys.exit("FAIL: %d results shown for %s" % (len(listed), path))
                times[base].append(ms / 1000)
        floors = []
        for _ in range(RUNS):
            spent = tree_cpu_s(b.pid)
            floors.append(read_ms(b, floor, path) / 1000)
            cpu[floor].append(tree_cpu_s(b.pid) - spent)
        old, new, least = min(times[before]), min(times[after]), statistics.median(floors)
        print("%-8s %-24s %8.2f %8.2f %6.2f %8.2f %6.2f   %.2f, %.2f, %.2f"
              % (engine, os.path.basename(path), old, new, new / old, least, new / least,
                 statistics.median(cpu[before]), statistics.median(cpu[after]), statistics.median(cpu[floor])),
              flush=True)
