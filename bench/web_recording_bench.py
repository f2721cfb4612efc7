#!/usr/bin/env python3
"""Times the one-file page, served over http, in one engine on a 30-minute
recording of a cassette (mono, 16 bits, 44.1 kHz, about 159 MB as WAV, made
by the project's tape writer): from picking it, with "all names" ticked, to
its last line, and the browser's peak memory while reading it, above what
the idle page held. FORMAT=flac, ogg, opus or mp3 encodes it so first (with flac,
oggenc, opusenc or lame).

usage: [FORMAT=flac] bench/web_recording_bench.py ENGINE PAGE_DIR WRITE_TAPE
       ENGINE: chromium, firefox or webkit (under xvfb-run); run with Debian's python3
"""
import os, statistics, subprocess, sys, wave

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "web"))
import browser  # noqa: E402

engine = sys.argv[1]
page, write_tape = (os.path.abspath(a) for a in sys.argv[2:4])
RUNS = int(os.environ.get("RUNS", "3"))
FILES = 97  # files as the ROM saves them: about 30 minutes of sound
path = os.path.join(os.environ.get("TMPDIR", "/tmp"), "brivane-30-minutes.wav")
if not os.path.exists(path):
    with open(path + ".part", "wb") as f:
        subprocess.run([write_tape, "--repeat", str(FILES), "recording", "HEARD"], stdout=f, check=True)
    os.rename(path + ".part", path)
with wave.open(path) as w:
    minutes = w.getnframes() / w.getframerate() / 60
FORMAT = os.environ.get("FORMAT", "wav")
ENCODERS = {"flac": ["flac", "-s", "-f", "-o"], "ogg": ["oggenc", "-Q", "-o"], "opus": ["opusenc", "--quiet"],
            "mp3": ["lame", "--quiet", "-b", "128"]}
if FORMAT != "wav":
    encoded = path[:-4] + "." + FORMAT
    if not os.path.exists(encoded):
        cmd = ENCODERS[FORMAT]
        subprocess.run(cmd + [encoded + ".part", path] if cmd[-1] == "-o" else cmd + [path, encoded + ".part"],
                       check=True)
        os.rename(encoded + ".part", encoded)
    path = encoded
print("%s: %.1f minutes, %.0f MB" % (os.path.basename(path), minutes, os.path.getsize(path) / 1e6))

times, mems = [], []
with browser.serve(page) as base, browser.open_browser(engine) as b:
    for _ in range(RUNS):
        ms, mem, listed = browser.timed_listing(b, base + "brivane.html", path)
        out = list(listed.values())
        if len(out) != 1 or out[0].count("FOUND") != FILES:
            sys.exit("FAIL: the page listed %s" % [o[:200] for o in out])
        times.append(ms)
        mems.append(mem)
print("%s, %s: picking to last line, median of %d: %.0f ms (all: %s); peak memory above the idle page %.0f MiB"
      % (engine, FORMAT, RUNS, statistics.median(times), ", ".join("%.0f" % t for t in times), max(mems) / 1024))
