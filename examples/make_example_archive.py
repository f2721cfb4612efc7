#!/usr/bin/env python3
"""Writes examples/collection.zip, the README's example archive for the page,
from tapes made by the project's tape writer: the example tape in a folder,
the command-line cases' tapes, one of them gzipped inside, and a note that
is not a tape. The same bytes every time.

usage: examples/make_example_archive.py WRITE_TAPE
"""
import os, subprocess, sys, tempfile, zipfile

here = os.path.dirname(os.path.abspath(__file__))
with tempfile.TemporaryDirectory() as d:
    subprocess.run([sys.argv[1], "samples", d], check=True)
    members = [("Flight Deck/demo.tap", open(os.path.join(here, "demo.tap"), "rb").read()),
               ("one.tap", open(os.path.join(d, "one.tap"), "rb").read()),
               ("Side B/TWO.TAP", open(os.path.join(d, "two.tap"), "rb").read()),
               ("README.txt", b"Tapes made by brivane's tape writer.\r\n")]
with zipfile.ZipFile(os.path.join(here, "collection.zip"), "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
    for name, data in members:
        info = zipfile.ZipInfo(name, date_time=(2026, 12, 7, 12, 0, 0))
        info.compress_type = zipfile.ZIP_DEFLATED
        info.external_attr = 0o644 << 16
        z.writestr(info, data)
