#!/usr/bin/env python3
"""The page in a real browser, the same cases in each engine and for each way
of opening it: the one-file page from disk and over http, and index.html
over http. Tapes, gzipped tapes and zip archives (built here with Python's
zipfile) are picked through the file input; every listing is held to the
command-line tool's output in every option state, and each bad input to its
message in place; the table of every file on every tape, held to the
tapes' names, filtered, sorted and its programs downloaded. Also: progress
and cancelling, Copy all and the CSV, the policy that forbids every
connection, and a phone-sized screen.

usage: page_test.py ENGINE PAGE_DIR BRIVANE WRITE_TAPE
       ENGINE: chromium, firefox or webkit (under xvfb-run)
"""
import base64, contextlib, csv, gzip, io, os, struct, subprocess, sys, tempfile, unittest, wave, zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import browser  # noqa: E402

ENGINE = sys.argv[1]
PAGE, BIN, WRITE_TAPE = (os.path.abspath(a) for a in sys.argv[2:5])
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
DEMO = open(os.path.join(ROOT, "examples", "demo.tap"), "rb").read()
OPTION_STATES = [(False, False), (True, False), (False, True), (True, True)]
D, S = zipfile.ZIP_DEFLATED, zipfile.ZIP_STORED


def tape(*args):
    return subprocess.run([WRITE_TAPE] + list(args), capture_output=True, check=True).stdout


class Cp437Info(zipfile.ZipInfo):
    """A member whose name is stored in code page 437, flag bit 11 clear."""
    def _encodeFilenameFlags(self):
        return self.filename.encode("cp437"), self.flag_bits


def build_zip(members, zip64=False):
    """A zip of (name, bytes, method) members, name as str or ZipInfo."""
    buf = io.BytesIO()
    limit = zipfile.ZIP64_LIMIT
    if zip64:
        zipfile.ZIP64_LIMIT = 1  # every size and offset past it: ZIP64 records throughout
    try:
        with zipfile.ZipFile(buf, "w") as z:
            for name, data, method in members:
                info = name if isinstance(name, zipfile.ZipInfo) else zipfile.ZipInfo(name)
                info.compress_type = method
                z.writestr(info, data or b"")  # a name ending in / is a folder
    finally:
        zipfile.ZIP64_LIMIT = limit
    return bytearray(buf.getvalue())


def patch_directory(z, name, offset, fmt, value, local=False):
    """Changes a field of name's central directory entry (and its local header)."""
    at = z.find(b"PK\x01\x02")
    while at >= 0:
        n = struct.unpack_from("<H", z, at + 28)[0]
        if z[at + 46:at + 46 + n] == name.encode():
            struct.pack_into(fmt, z, at + offset, value)
            if local:
                header = struct.unpack_from("<I", z, at + 42)[0]
                struct.pack_into(fmt, z, header + offset - 2, value)
            return
        at = z.find(b"PK\x01\x02", at + 4)
    raise KeyError(name)


class Files:
    """Everything the cases pick, made once: want maps each listing's
    data-tape to its bytes, errors each data-error to words of its message,
    partial each damaged member to the names found before the damage."""

    def __init__(self):
        self.tmp = tempfile.TemporaryDirectory()
        d = self.dir = self.tmp.name
        self.want, self.errors, self.partial, self.paths = {}, {}, {}, []

        def add(name, data, listed=True):
            path = os.path.join(d, name)
            with open(path, "wb") as f:
                f.write(data)
            self.paths.append(path)
            if listed:
                self.want[name] = data
            return path

        one, two = tape("header", "ONE"), tape("--repeat", "3", "header", 'A,"B"')
        add("demo.tap", DEMO)
        subprocess.run([WRITE_TAPE, "samples", d], check=True)
        for n in ("one.tap", "two.tap", "empty.tap"):
            self.paths.append(os.path.join(d, n))
            self.want[n] = open(os.path.join(d, n), "rb").read()
        add('comma, "quote".tap', tape("header", 'A,"B"'))  # a name and a file name to quote
        add("notes.txt", b"not a tape\n")
        # A tape of each turbo format, in one archive; and pulses no loader
        # knows after a Freeload file.
        self.turbo = {}
        turbo = []
        for line in tape("turbo", "list").decode().splitlines():
            n, loader, *files = line.split("\t")
            name = "%02d %s.tap" % (int(n), loader)
            self.turbo["turbo.zip/" + name] = (loader, [tuple(map(int, f.split(":")[0].split("-"))) for f in files])
            turbo.append((name, tape("turbo", n), D))
            self.want["turbo.zip/" + name] = turbo[-1][1]
        add("turbo.zip", build_zip(turbo), listed=False)
        unknown = bytes(0x50 if i % 3 == 0 else 0x28 for i in range(40000))
        add("mystery.tap", tape("turbo", "0") + unknown)
        add("half.tap", DEMO[:-5000])  # a TAP file cut short
        self.large = add("large.tap", tape("--repeat", "900", "file", "LARGE"))  # about 40 MiB
        big = tape("--repeat", "400", "file", "BIG")  # about 18 MiB: a member past one batch's read

        games = [("Arcade/", None, S), ("Arcade/Flight Deck.tap", DEMO, D), ("one.tap", one, S),
                 ("Arcade/LOUD.TAP", two, D), ("readme.txt", b"hello", D), ("empty.tap", b"", S),
                 (Cp437Info("M\u00fcller \u00c7\u00e9.tap"), one, D), ("\u30c6\u30fc\u30d7.tap", two, D),
                 ("notes/info.nfo", b"x", S), ("big.tap", big, D)]
        add("games.zip", build_zip(games), listed=False)
        for name, data, _ in games:
            n = name.filename if isinstance(name, zipfile.ZipInfo) else name
            if n.lower().endswith(".tap"):
                self.want["games.zip/" + n] = data
        add("Z64.ZIP", build_zip([("a/one.tap", one, D), ("two.tap", two, S)], zip64=True), listed=False)
        self.want.update({"Z64.ZIP/a/one.tap": one, "Z64.ZIP/two.tap": two})

        # Archives inside an archive, read where they lie, four deep at the most;
        # a damaged one said in its place; a zip picked under a name that says nothing.
        chain = build_zip([("level 5.tap", one, D)])
        for level in range(4, 0, -1):
            chain = build_zip([("chain.zip", chain, D), ("level %d.tap" % level, one, S)])
            self.want["nested.zip" + "/chain.zip" * level + "/level %d.tap" % level] = one
        inner = build_zip([("a.tap", one, D), ("Side/b.tap", two, S), ("more.zip", build_zip([("c.tap", DEMO, D)]), S)])
        add("nested.zip", build_zip([("inner.zip", inner, D), ("x.tap", two, D), ("chain.zip", chain, S)]), listed=False)
        self.want.update({"nested.zip/inner.zip/a.tap": one, "nested.zip/inner.zip/Side/b.tap": two,
                          "nested.zip/inner.zip/more.zip/c.tap": DEMO, "nested.zip/x.tap": two})
        self.errors["nested.zip" + "/chain.zip" * 5] = "inside 5 other archives; the page opens archives inside archives 4 deep"
        bad_inner = build_zip([("bad.zip", inner, D), ("fine.tap", one, S), ("huge.zip", inner, D), ("liar.zip", inner, D),
                               ("stored-bad.zip", inner, S)])
        patch_directory(bad_inner, "bad.zip", 16, "<I", 0x12345678)
        patch_directory(bad_inner, "stored-bad.zip", 16, "<I", 0x12345678)
        patch_directory(bad_inner, "huge.zip", 24, "<I", 0xC0000000)  # held in memory, it would take 3 GiB
        patch_directory(bad_inner, "liar.zip", 24, "<I", 100)
        add("nested-bad.zip", bad_inner, listed=False)
        self.errors.update({"nested-bad.zip/bad.zip": "CRC-32", "nested-bad.zip/stored-bad.zip": "CRC-32",
                            "nested-bad.zip/huge.zip": "inflates to 3,221,225,472 bytes, more than the 1,073,741,824",
                            "nested-bad.zip/liar.zip": "inflates to more than the 100 bytes the archive records"})
        self.want["nested-bad.zip/fine.tap"] = one
        add("collection.bin", build_zip([("e.tap", two, D)]), listed=False)
        self.want["collection.bin/e.tap"] = two
        add("side.gz", gzip.compress(two, mtime=0), listed=False)
        self.want["side.gz"] = two
        # Gzipped tapes in an archive, stored and deflated; one whose gzip stream is cut.
        gzipped = build_zip([("a.tap.gz", gzip.compress(two, mtime=0), S), ("b/c.TAP.GZ", gzip.compress(DEMO, mtime=0), D),
                             ("cut.tap.gz", gzip.compress(one, mtime=0)[:-20], D)])
        add("gzipped.zip", gzipped, listed=False)
        self.want.update({"gzipped.zip/a.tap.gz": two, "gzipped.zip/b/c.TAP.GZ": DEMO})
        self.errors["gzipped.zip/cut.tap.gz"] = "cut short"

        add("notazip.zip", b"this is not an archive\n" * 50, listed=False)
        self.errors["notazip.zip"] = "not a zip archive"
        whole = build_zip([("x.tap", one, D), ("y.tap", two, D)])
        add("truncated.zip", whole[:len(whole) // 2], listed=False)
        self.errors["truncated.zip"] = "cut short"

        # Damage, member by member; the sound one beside them is still read.
        noise = bytes((i * 2654435761 >> 13) & 0xFF for i in range(400000))  # barely compresses
        two_names = tape("header", "FIRST") + noise + tape("header", "SECOND")
        damaged = build_zip([("broken.tap", two_names, D), ("badcrc.tap", one, S), ("badsize.tap", one, S),
                             ("secret.tap", one, S), ("method14.tap", one, S), ("fine.tap", one, D)])
        start = damaged.index(b"broken.tap") + len(b"broken.tap")  # its data follows its local header
        compressed = struct.unpack_from("<I", damaged, damaged.find(b"PK\x01\x02") + 20)[0]
        for i in range(start + compressed * 2 // 3, start + compressed - 4):
            damaged[i] = 0xFF  # the last third of the deflate stream: the first name comes out whole
        patch_directory(damaged, "badcrc.tap", 16, "<I", 0x12345678)
        patch_directory(damaged, "badsize.tap", 24, "<I", len(one) + 1)
        patch_directory(damaged, "secret.tap", 8, "<H", 1, local=True)
        patch_directory(damaged, "method14.tap", 10, "<H", 14, local=True)
        add("damaged.zip", damaged, listed=False)
        self.errors.update({"damaged.zip/broken.tap": "inflated", "damaged.zip/badcrc.tap": "CRC-32",
                            "damaged.zip/badsize.tap": "inflated to", "damaged.zip/secret.tap": "encrypted",
                            "damaged.zip/method14.tap": "compressed with method 14, which the page cannot read"})
        self.want["damaged.zip/fine.tap"] = one
        self.partial = {"damaged.zip/broken.tap": tape("header", "FIRST"),
                        "damaged.zip/badcrc.tap": one, "damaged.zip/badsize.tap": one}

        # Recordings of a tape, alone and in an archive, and files that are no recording of one.
        heard = tape("--repeat", "2", "recording", "HEARD")
        self.heard = tape("--repeat", "2", "file", "HEARD")  # the tape it was played from
        add("heard.wav", heard, listed=False)
        self.want["heard.wav"] = self.heard
        add("recordings.zip", build_zip([("Side A.WAV", heard, D), ("b.tap", one, S)]), listed=False)
        self.want.update({"recordings.zip/Side A.WAV": self.heard, "recordings.zip/b.tap": one})
        # A VIC-20's tape, on a deck 6% fast, read with the page's default machine.
        add("vic20.wav", tape("--clock", "1108405", "--speed", "1.06", "recording", "VIC"), listed=False)
        self.want["vic20.wav"] = tape("file", "VIC")
        slow = bytearray(heard)
        struct.pack_into("<II", slow, 24, 8000, 16000)  # its sample rate, and bytes a second
        add("slow.wav", slow, listed=False)
        self.errors["slow.wav"] = "sample rate, 8,000 Hz, is outside what brivane reads (11,025 Hz to 384,000 Hz)"
        # The same recording kept as people keep them, encoded by Debian's
        # encoders: by name, in an archive, by its contents alone, cut short.
        wav = add("heard-source.wav", heard, listed=False)
        self.paths.remove(wav)
        encoders = [("flac", ["flac", "-s", "-f", "-o", "{out}", wav]),
                    ("ogg", ["oggenc", "-Q", "-o", "{out}", wav]),
                    ("opus", ["opusenc", "--quiet", wav, "{out}"]),
                    ("mp3", ["lame", "--quiet", wav, "{out}"]),
                    ("oga", ["flac", "-s", "-f", "--ogg", "-o", "{out}", wav])]
        encoded = {}
        for ext, cmd in encoders:
            out = os.path.join(d, "heard." + ext)
            if subprocess.run([a.replace("{out}", out) for a in cmd]).returncode != 0:
                raise RuntimeError("could not encode heard." + ext)
            self.paths.append(out)
            self.want["heard." + ext] = self.heard
            encoded[ext] = open(out, "rb").read()
        add("recordings-encoded.zip", build_zip([("side.flac", encoded["flac"], D), ("side.mp3", encoded["mp3"], S)]),
            listed=False)
        self.want.update({"recordings-encoded.zip/side.flac": self.heard, "recordings-encoded.zip/side.mp3": self.heard})
        add("heard-by-contents.audio", encoded["ogg"], listed=False)
        self.want["heard-by-contents.audio"] = self.heard
        add("cut.flac", encoded["flac"][:len(encoded["flac"]) * 6 // 10], listed=False)
        self.errors["cut.flac"] = "cut short or damaged part-way"
        self.partial["cut.flac"] = tape("file", "HEARD")  # the first of its two files
        add("song.mp3", b"\0\0\0\x20ftypM4A " + bytes(200), listed=False)
        self.errors["song.mp3"] = "it is not a recording brivane reads: it is an MP4 or M4A file (AAC)"
        add("notes.wav", b"not a recording\n" * 20, listed=False)
        adpcm = bytearray(heard)
        adpcm[20] = 2  # its format tag
        add("adpcm.wav", adpcm, listed=False)
        add("cut.wav", heard[:30], listed=False)
        quiet = io.BytesIO()
        with wave.open(quiet, "wb") as w:
            w.setnchannels(1), w.setsampwidth(2), w.setframerate(44100)
            w.writeframes(b"\0\0" * 44100)
        add("silence.wav", quiet.getvalue(), listed=False)
        self.errors.update({"notes.wav": "not a recording brivane reads", "adpcm.wav": "encoded in a way brivane does not read",
                            "cut.wav": "cut short", "silence.wav": "no tape signal"})

        gz = add("demo.tap.gz", gzip.compress(DEMO, mtime=0), listed=False)
        self.want["demo.tap.gz"] = DEMO
        add("bad.tap.gz", open(gz, "rb").read()[:-9] + b"\0" * 9, listed=False)
        self.errors["bad.tap.gz"] = "inflated"
        # Two gzip members, as gzip writes for files put together: one tape, theirs one after the other.
        add("sides.tap.gz", gzip.compress(one, mtime=0) + gzip.compress(two, mtime=0), listed=False)
        self.want["sides.tap.gz"] = one + two
        add("plain.tap.gz", one, listed=False)
        self.errors["plain.tap.gz"] = "not a gzip file"

        self.native = {(n, o): browser.native(BIN, data, *o) for n, data in self.want.items() for o in OPTION_STATES}
        self.native.update({(n, o): browser.native(BIN, data, *o) for n, data in self.partial.items() for o in OPTION_STATES})


FILES = None
stack = contextlib.ExitStack()
B = None
ADDRESSES = {}


def setUpModule():
    global FILES, B
    FILES = Files()
    stack.callback(FILES.tmp.cleanup)
    base = stack.enter_context(browser.serve(PAGE))
    B = stack.enter_context(browser.open_browser(ENGINE))
    ADDRESSES.update({"disk": "file://" + os.path.join(PAGE, "brivane.html"),
                      "http": base + "brivane.html", "index": base + "index.html"})


def tearDownModule():
    stack.close()


def offered_taps():
    """[name, first 15 bytes, whether the size field is right] of every TAP
    the page offers for a recording, as its Download TAP buttons hand them over."""
    return B.js("""
        return (async () => {
          const made = [];
          const make = URL.createObjectURL, click = HTMLAnchorElement.prototype.click;
          URL.createObjectURL = (b) => { made.push([b]); return make.call(URL, b); };
          HTMLAnchorElement.prototype.click = function () { made[made.length - 1].push(this.download); };
          try {
            for (const button of document.querySelectorAll('button.download-tap')) button.click();
          } finally {
            URL.createObjectURL = make;
            HTMLAnchorElement.prototype.click = click;
          }
          return Promise.all(made.map(async ([blob, name]) => {
            const bytes = new Uint8Array(await blob.arrayBuffer());
            return [name, String.fromCharCode(...bytes.subarray(0, 15)),
                    new DataView(bytes.buffer).getUint32(16, true) === bytes.length - 20];
          }));
        })()""")


class Listing:
    """Everything picked at once, then looked at in every way."""
    address = None

    @classmethod
    def setUpClass(cls):
        B.get(ADDRESSES[cls.address])
        browser.set_options(B, False, False)
        B.pick(FILES.paths)
        browser.settled(B)

    def tearDown(self):
        browser.set_options(B, False, False)

    def test_every_listing_in_every_option_state(self):
        for state in OPTION_STATES:
            browser.set_options(B, *state)
            shown = browser.shown(B)
            for name in FILES.want:
                self.assertEqual(shown.get(name), FILES.native[name, state], "%s with %s" % (name, state))
            for name in FILES.partial:
                self.assertEqual(shown.get(name), FILES.native[name, state], "names before the damage: " + name)

    def test_each_bad_input_has_its_message_in_place(self):
        # A message for each bad input, and none for anything sound.
        noted = B.js("return [...document.querySelectorAll('[data-error]')].map(e => e.dataset.error)")
        self.assertEqual(sorted(noted), sorted(FILES.errors))
        for name, words in FILES.errors.items():
            got = B.js("return [...document.querySelectorAll('[data-error]')].filter(e => e.dataset.error === arguments[0])"
                       ".map(e => e.textContent)", name)
            self.assertEqual(len(got), 1, name)
            self.assertIn(words, got[0], name)

    def test_members_in_the_archives_order_and_plain_notes(self):
        order = B.js("return [...document.querySelectorAll('pre[data-tape]')].map(p => p.dataset.tape)")
        self.assertEqual([n for n in order if n.startswith("games.zip/")],
                         [n for n in FILES.want if n.startswith("games.zip/")])
        notes = B.js("const o = {}; for (const a of document.querySelectorAll('.tape, .archive')) {"
                     " const n = a.querySelector(':scope > p:not(.meta):not(.coverage)');"
                     " o[a.querySelector(':scope > :is(h3, h4, h5, h6)').textContent] = [n.textContent, n.hidden]; }"
                     " return o;")
        self.assertIn("3 other files skipped", notes["games.zip"][0])
        self.assertEqual("1 tape and 2 archives in it.", notes["nested.zip"][0])
        self.assertEqual("1 tape in it.", notes["collection.bin"][0])
        self.assertEqual([n for n in order if n.startswith("nested.zip/")],
                         ["nested.zip/inner.zip/a.tap", "nested.zip/inner.zip/Side/b.tap",
                          "nested.zip/inner.zip/more.zip/c.tap", "nested.zip/x.tap"] +
                         ["nested.zip" + "/chain.zip" * n + "/level %d.tap" % n for n in (4, 3, 2, 1)])
        self.assertEqual("1 tape and 1 archive in it.", notes["nested.zip" + "/chain.zip" * 4][0])
        self.assertIn("empty", notes["empty.tap"][0])
        self.assertIn("not a TAP file", notes["notes.txt"][0])
        self.assertTrue(notes["demo.tap"][1], "a note shown beside names")

    def test_a_recording_offers_its_tap(self):
        got = offered_taps()
        c64_pal = "C64-TAPE-RAW\x01\x00\x00"  # version 1, C64, PAL: the page's default machine
        self.assertEqual(sorted(got), sorted([["Side A.tap", c64_pal, True], ["heard.tap", c64_pal, True],
                                              ["vic20.tap", c64_pal, True], ["side.tap", c64_pal, True],
                                              ["side.tap", c64_pal, True], ["heard-by-contents.tap", c64_pal, True],
                                              ["cut.tap", c64_pal, True]] + [["heard.tap", c64_pal, True]] * 5))

    def test_csv_and_copy_all_hold_every_name(self):
        browser.set_options(B, True, True)
        # What the page hands to the download and to the clipboard.
        got = B.js("""
            return (async () => {
              let blob, copied;
              const make = URL.createObjectURL;
              URL.createObjectURL = (b) => { blob = b; return make.call(URL, b); };
              Object.defineProperty(navigator, 'clipboard', {configurable: true,
                value: {writeText: async (t) => { copied = t; }}});
              document.getElementById('download-csv').click();
              document.getElementById('copy-all').click();
              for (const until = performance.now() + 5000; copied === undefined && performance.now() < until;)
                await new Promise((r) => setTimeout(r, 10));
              URL.createObjectURL = make;
              return [await blob.text(), copied, document.getElementById('status').textContent];
            })()""")
        raw, copied, status = got
        rows = list(csv.reader(io.StringIO(raw, newline="")))
        self.assertEqual(rows[0], ["tape", "number", "name", "type", "start", "end", "size", "position", "header", "program",
                                   "loader"])
        self.assertEqual(rows[1:], table_rows())
        # Every name of every listing is a row, numbered as listed.
        listed = [n for n in B.js("return [...document.querySelectorAll('pre[data-tape]')].map(p => p.dataset.tape)")]
        shown = browser.shown(B)
        want = []
        for n in listed:
            for line in shown[n].splitlines()[1:]:
                number, name = line[len("FOUND ("):].split('): "', 1)
                want.append([n, number, name[:-1]])
        self.assertEqual([r[:3] for r in rows[1:] if r[1]], want)
        self.assertIn('"comma, ""quote"".tap",001,"A,""B"""', raw)
        self.assertEqual(copied, "\n".join("%s\n%s" % (n, shown[n]) for n in listed))
        self.assertIn("Copied the listing of %d tapes" % len(listed), status)

    def test_brivane_ls_csv_is_the_pages(self):
        # The page's CSV, names as shown without -e, and brivane-ls's for the
        # same tapes picked in the same order: the same lines, for every tape
        # and archive of tapes (recordings are decoded by other libraries there).
        raw = B.js("""
            return (async () => {
              let blob;
              const make = URL.createObjectURL;
              URL.createObjectURL = (b) => { blob = b; return make.call(URL, b); };
              document.getElementById('download-csv').click();
              URL.createObjectURL = make;
              return await blob.text();
            })()""")
        tapes = ("demo.tap", "one.tap", "two.tap", "empty.tap", 'comma, "quote".tap', "mystery.tap", "large.tap",
                 "turbo.zip", "games.zip", "Z64.ZIP", "demo.tap.gz", "nested.zip", "collection.bin",
                 "gzipped.zip", "side.gz")
        picked = [os.path.basename(p) for p in FILES.paths if os.path.basename(p) in tapes]
        ls = subprocess.run([os.path.join(os.path.dirname(BIN), "brivane-ls"), "--csv", "--"] + picked,
                            cwd=FILES.dir, capture_output=True, check=False)
        ours = lambda row: row[0] in tapes or row[0].split("/")[0] in tapes
        page_rows = [r for r in csv.reader(io.StringIO(raw, newline="")) if ours(r)]
        ls_text = ls.stdout.decode("utf-8")
        self.assertTrue(ls_text.startswith(raw.split("\r\n")[0] + "\r\n"))
        ls_rows = [r for r in csv.reader(io.StringIO(ls_text, newline="")) if ours(r)]
        self.assertGreater(len(page_rows), 100)
        self.assertEqual(ls_rows, page_rows)

    def test_the_table_holds_every_file(self):
        # The example tape's four files, as the tape writer laid them down.
        demo = [r for r in table_rows() if r[0] == "demo.tap"]
        self.assertEqual([r[1:9] for r in demo], [
            ["001", "FLIGHTDECK", "1: program", "$0801", "$0841", "64", "0:10", "ok"],
            ["002", "HI-SCORES ...", "3: program, fixed address", "$0801", "$0841", "64", "0:29", "ok"],
            ["003", "PART 2", "1: program", "$0801", "$0841", "64", "0:47", "ok"],
            ["004", "  LEAD AND TAIL", "1: program", "$0801", "$0841", "64", "1:06", "ok"]])
        self.assertTrue(all(r[9].startswith("ok") for r in demo))
        B.js("const f = document.getElementById('catalogue-filter'); f.value = 'demo.tap';"
             " f.dispatchEvent(new Event('input', {bubbles: true}));")
        marks = B.js("return [...document.querySelectorAll('table[data-catalogue] tr[data-tape=\"demo.tap\"]')]"
                     ".map(r => [r.dataset.number, r.dataset.offset])")
        B.js("const f = document.getElementById('catalogue-filter'); f.value = '';"
             " f.dispatchEvent(new Event('input', {bubbles: true}));")
        self.assertEqual([m[0] for m in marks], ["1", "2", "3", "4"])
        # Members keep their paths in their archive; a tape's rows are its listing's names, escaped with -e.
        browser.set_options(B, True, True)
        rows = table_rows()
        for tape_name in ("games.zip/Arcade/Flight Deck.tap", "games.zip/Arcade/LOUD.TAP", "Z64.ZIP/a/one.tap"):
            lines = FILES.native[tape_name, (True, True)].splitlines()[1:]
            self.assertEqual(['FOUND (%s): "%s"' % (r[1], r[2]) for r in rows if r[0] == tape_name and r[1]], lines,
                             tape_name)
        self.assertNotIn("notes.txt", {r[0] for r in rows})

    def test_filter_and_sort(self):
        B.js("const f = document.getElementById('catalogue-filter'); f.value = 'FLIGHT';"
             " f.dispatchEvent(new Event('input', {bubbles: true}));")
        try:
            shown = table_rows()
            self.assertTrue(shown)
            for r in shown:
                self.assertTrue("flight" in r[0].lower() or "flight" in r[2].lower(), r)
            status = B.js("return document.getElementById('status').textContent")
            self.assertIn("(%d shown)" % len(shown), status)
        finally:
            B.js("const f = document.getElementById('catalogue-filter'); f.value = '';"
                 " f.dispatchEvent(new Event('input', {bubbles: true}));")
        everything = table_rows()
        self.assertEqual(len(shown), len([r for r in everything if "flight" in (r[0] + r[2]).lower()]))
        self.assertGreater(len(everything), 100, "the table has one page of rows only: paging goes untried")
        B.js("[...document.querySelectorAll('table[data-catalogue] th button')].find(b => b.textContent === 'Size').click()")
        size = lambda r: int(r[6]) if r[6] else -1  # a stretch no loader explains has none
        by_size = table_rows()
        self.assertEqual([size(r) for r in by_size], sorted(size(r) for r in everything))
        self.assertEqual(B.js("return document.querySelector('th[aria-sort]').textContent"), "Size")
        B.js("[...document.querySelectorAll('table[data-catalogue] th button')].find(b => b.textContent === 'Size').click()")
        self.assertEqual([size(r) for r in table_rows()], sorted((size(r) for r in everything), reverse=True))
        self.assertEqual(sorted(map(tuple, table_rows())), sorted(map(tuple, everything)))

    def test_a_program_downloads_byte_for_byte(self):
        got = B.js("""
            return (async () => {
              let blob, name;
              const make = URL.createObjectURL, click = HTMLAnchorElement.prototype.click;
              URL.createObjectURL = (b) => { blob = b; return make.call(URL, b); };
              HTMLAnchorElement.prototype.click = function () { name = this.download; };
              try {
                document.querySelector('tr[data-tape="demo.tap"][data-number="2"] button.download-prg').click();
              } finally {
                URL.createObjectURL = make;
                HTMLAnchorElement.prototype.click = click;
              }
              return [name, [...new Uint8Array(await blob.arrayBuffer())]];
            })()""")
        # The tape writer's second program: 64 bytes of 0x10 + 7i + 1, loaded at $0801.
        self.assertEqual(got, ["HI-SCORES ....prg", [0x01, 0x08] + [(0x10 + i * 7 + 1) & 0xFF for i in range(64)]])


    def test_turbo_files_have_their_loader_and_program(self):
        rows = table_rows()
        for member, (loader, files) in FILES.turbo.items():
            got = [r for r in rows if r[0] == member and r[10] != "ROM"]
            self.assertEqual([(r[10], r[4], r[5], r[1], r[3]) for r in got],
                             [(loader, "$%04X" % s, "$%04X" % e, "", "") for s, e in files], member)
            self.assertTrue(all(r[9] in ("ok", "no checksum") for r in got), member)
        coverage = B.js("const o = {}; for (const a of document.querySelectorAll('.tape')) {"
                        " const c = a.querySelector('.coverage');"
                        " o[a.querySelector(':scope > :is(h3, h4, h5, h6)').textContent] ="
                        " c && [c.textContent, Number(c.dataset.coverage)]; } return o;")
        for member in FILES.turbo:
            self.assertGreater(coverage[member][1], 0.98, member)
        self.assertIn("all of its time", coverage["demo.tap"][0])
        self.assertIsNone(coverage["notes.txt"], "a file that is no tape has no coverage")
        given = len(DEMO) - 20
        self.assertRegex(coverage["half.tap"][0], r"^Its blocks explain [^.]+ of its time[^.]*\. The file is cut short: it "
                         r"holds {:,} of the {:,} bytes of pulses its header gives\.$".format(given - 5000, given))
        self.assertNotIn("cut short", coverage["demo.tap"][0])
        # The stretch no loader explains: a row of its own, and the tape says so.
        mystery = [r for r in rows if r[0] == "mystery.tap"]
        self.assertEqual([r[10] for r in mystery], ["Freeload", "Freeload", "unrecognised"])
        self.assertRegex(mystery[2][3], r"^400\d\d pulses, 0:\d\d, mostly \$28 \$50$")
        self.assertEqual(mystery[2][1:3] + mystery[2][4:7] + mystery[2][8:10], [""] * 7)
        self.assertRegex(mystery[2][7], r"^0:\d\d$")
        self.assertRegex(coverage["mystery.tap"][0], r"^Its blocks explain \d\d?% of its time; 1 stretch no loader explains is in the table\.$")
        # Filtered and sorted by loader.
        B.js("const f = document.getElementById('catalogue-filter'); f.value = 'novaload';"
             " f.dispatchEvent(new Event('input', {bubbles: true}));")
        try:
            found = table_rows()
        finally:
            B.js("const f = document.getElementById('catalogue-filter'); f.value = '';"
                 " f.dispatchEvent(new Event('input', {bubbles: true}));")
        self.assertEqual({r[10] for r in found}, {"Novaload", "Novaload Special"})
        B.js("[...document.querySelectorAll('table[data-catalogue] th button')].find(b => b.textContent === 'Loader').click()")
        loaders = [r[10] for r in table_rows()]
        self.assertTrue(B.js("const l = arguments[0]; return l.every((x, i) => i === 0 || l[i - 1].localeCompare(x) <= 0)",
                             loaders), "sorted by loader")
        self.assertEqual(sorted(loaders), sorted(r[10] for r in rows))
        # A turbo file's program as a PRG: its load address, then as many bytes as its addresses say.
        got = B.js("""
            return (async () => {
              let blob, name;
              const make = URL.createObjectURL, click = HTMLAnchorElement.prototype.click;
              URL.createObjectURL = (b) => { blob = b; return make.call(URL, b); };
              HTMLAnchorElement.prototype.click = function () { name = this.download; };
              try {
                document.querySelector('tr[data-tape="turbo.zip/04 Novaload.tap"][data-loader="Novaload"] button.download-prg').click();
              } finally {
                URL.createObjectURL = make;
                HTMLAnchorElement.prototype.click = click;
              }
              return [name, [...new Uint8Array(await blob.arrayBuffer())].slice(0, 2), blob.size];
            })()""")
        start, end = FILES.turbo["turbo.zip/04 Novaload.tap"][1][0]
        self.assertEqual(got, ["FIRST FILE.prg", [start & 0xFF, start >> 8], end - start + 2])
        f2 = B.js("return document.querySelectorAll('tr[data-loader=\"Cyberload F2\"] button.download-prg').length")
        self.assertEqual(f2, 0, "a program enciphered by its loader's own key is not offered")


# Where the table shows each column of the CSV: the loader beside the name.
SHOWN = [0, 1, 2, 10, 3, 4, 5, 6, 7, 8, 9]


def table_rows():
    """Every row of the catalogue table that the filter lets through, page by
    page, as its cells' text (the Program cell without its button) in the
    CSV's order of columns; back on the first page after."""
    shown = B.js("""
        const [previous, next] = ['page-previous', 'page-next'].map((id) => document.getElementById(id));
        while (!previous.disabled) previous.click();
        const rows = [];
        for (;;) {
          for (const r of document.querySelectorAll('table[data-catalogue] tbody tr'))
            rows.push([...r.cells].map((c, i) => i === 10 && c.firstChild ? c.firstChild.textContent.trim() : c.textContent));
          if (next.disabled) break;
          next.click();
        }
        while (!previous.disabled) previous.click();
        return rows;""")
    rows = []
    for r in shown:
        row = [None] * len(r)
        for place, column in enumerate(SHOWN):
            row[column] = r[place]
        rows.append(row)
    return rows


class Reading:
    """Progress, cancelling, the policy and a phone-sized screen, each on a
    freshly opened page."""
    address = None

    def setUp(self):
        B.get(ADDRESSES[self.address])
        browser.set_options(B, False, False)  # a browser may keep a form's state across loads
        B.js("document.getElementById('opt-machine').value = 'c64-pal'")

    def copies(self, n):
        paths = []
        for i in range(n):
            paths.append(os.path.join(FILES.dir, "copy%d.tap" % i))
            if not os.path.exists(paths[-1]):
                os.link(FILES.large, paths[-1])
        return paths

    def test_progress_while_reading(self):
        B.js("window.seen = new Set(); (function look() {"
             " const bars = [...document.querySelectorAll('progress')].filter(p => p.offsetParent !== null);"
             " for (const p of bars) if (p.value > 0 && p.value < 1) seen.add(p.id);"
             " if (bars.length > 1) seen.add('more than one');"
             " requestAnimationFrame(look); })();")
        B.pick(self.copies(16))  # long enough to read that the page shows how far it has come (twice a second)
        browser.settled(B)
        # The page's one bar, for all 16, part-way; never a second one beside it.
        self.assertEqual(B.js("return [...seen]"), ["overall-progress"])

    def test_read_to_the_end_with_no_frame_drawn(self):
        # A tab in the background draws no frames: the tapes are still read,
        # shown and counted, and the page is idle after.
        B.js("window.requestAnimationFrame = () => 0; window.cancelAnimationFrame = () => {};")
        B.pick([os.path.join(FILES.dir, n) for n in ("demo.tap", "one.tap", "Z64.ZIP")])
        browser.settled(B, timeout=20)
        self.assertEqual(B.js("return document.getElementById('status').textContent"), "9 files on 4 tapes.")
        self.assertEqual(B.js("return document.querySelectorAll('table[data-catalogue] tbody tr').length"), 9)

    def test_cancel_then_read_the_next_pick(self):
        # Cancel is pressed the moment the picked tapes are on the page, before
        # the workers can have read them all, however fast or loaded the machine.
        B.js("new MutationObserver((changes, watch) => {"
             " if (!document.querySelector('.tape')) return;"
             " watch.disconnect(); document.getElementById('cancel').click();"
             "}).observe(document.getElementById('results'), {childList: true, subtree: true});")
        B.pick(self.copies(16))
        browser.settled(B)
        status = B.js("return document.getElementById('status').textContent")
        self.assertRegex(status, r"\d+ cancelled\.$")
        notes = B.js("return [...document.querySelectorAll('.tape .note')].map(n => n.textContent)")
        self.assertIn("Reading cancelled.", notes)
        for name, out in browser.shown(B).items():  # those read before the cancel are whole
            self.assertEqual(out, 'Brivane, rel 1.1\nFOUND: "LARGE"\n', name)
        # The same page, with fresh workers, reads what is picked next.
        B.click("clear")
        B.pick([os.path.join(FILES.dir, "demo.tap")])
        browser.settled(B)
        self.assertEqual(browser.shown(B), {"demo.tap": FILES.native["demo.tap", (False, False)]})

    def test_the_machine_chosen_names_the_tap(self):
        # The choice is filled with the core's machines once the page's reader has started.
        browser.wait_for(B, "return document.getElementById('opt-machine').options.length === 4")
        self.assertEqual(B.js("return [...document.getElementById('opt-machine').options].map((o) => o.value + ' ' + o.text)"),
                         ["c64-pal C64, PAL", "c64-ntsc C64, NTSC", "vic20-pal VIC-20, PAL", "vic20-ntsc VIC-20, NTSC"])
        B.js("const s = document.getElementById('opt-machine'); s.value = 'vic20-ntsc';"
             " s.dispatchEvent(new Event('change', {bubbles: true}));")
        B.pick([os.path.join(FILES.dir, "heard.wav")])
        browser.settled(B)
        self.assertEqual(browser.shown(B)["heard.wav"], FILES.native["heard.wav", (False, False)])
        self.assertEqual(offered_taps(), [["heard.tap", "C64-TAPE-RAW\x01\x01\x01", True]])  # VIC-20, NTSC
        B.js("document.getElementById('opt-machine').value = 'c64-pal'")

    def test_a_dropped_folder_lists_in_name_order(self):
        # A folder dropped on the page, as the browser hands it over: entries
        # in no order, a folder inside it. The page lists them in name order.
        one = FILES.want["one.tap"]
        B.js("""
            const bytes = Uint8Array.from(atob(arguments[0]), (c) => c.charCodeAt(0));
            const file = (name) => ({isFile: true, isDirectory: false, name,
                                     file: (ok) => ok(new File([bytes], name))});
            const folder = (name, entries) => ({isFile: false, isDirectory: true, name, createReader() {
              let given = false;
              return {readEntries: (ok) => ok(given ? [] : (given = true, entries))};
            }});
            const dropped = folder('tapes', [file('b.tap'), folder('a', [file('z.tap'), file('c.tap')]), file('B.TAP'),
                                             file('notes.txt')]);
            const event = new Event('drop', {bubbles: true, cancelable: true});
            Object.defineProperty(event, 'dataTransfer', {value: {
              items: [{webkitGetAsEntry: () => dropped}], files: [new File([], 'tapes')]}});
            document.getElementById('drop-zone').dispatchEvent(event);""",
             base64.b64encode(one).decode())
        browser.settled(B)
        order = B.js("return [...document.querySelectorAll('pre[data-tape]')].map(p => p.dataset.tape)")
        self.assertEqual(order, ["tapes/B.TAP", "tapes/a/c.tap", "tapes/a/z.tap", "tapes/b.tap"])
        for name in order:
            self.assertEqual(browser.shown(B)[name], FILES.native["one.tap", (False, False)], name)
        # The table keeps the paths too: two tapes of one name in two folders stay apart.
        self.assertEqual([r[0] for r in table_rows()], order)
        skipped = B.js("return document.querySelector('.skipped').textContent")
        self.assertIn("1 other file skipped", skipped)

    def test_the_policy_refuses_every_connection(self):
        own_readable = ENGINE == "firefox" and self.address == "disk"  # Firefox lets a page on disk read its own file
        expected = 1 if own_readable else 2
        got = B.js("""
            return (async () => {
              const seen = [];
              document.addEventListener('securitypolicyviolation', (e) => seen.push(e.effectiveDirective || e.violatedDirective));
              const tried = {};
              for (const [what, url] of [['own', location.href], ['network', 'http://127.0.0.1:9/upload']]) {
                try { await fetch(url, {method: what === 'own' ? 'GET' : 'POST', body: what === 'own' ? undefined : 'x'});
                      tried[what] = 'fetched'; } catch (e) { tried[what] = 'refused'; }
              }
              // Reports come as events, after the refusals: wait for them, not for a set time.
              for (const until = performance.now() + 5000; seen.length < arguments[0] && performance.now() < until;)
                await new Promise((r) => setTimeout(r, 10));
              return [tried, seen];
            })()""", expected)
        tried, seen = got
        self.assertEqual(tried["network"], "refused")
        if not own_readable:
            self.assertEqual(tried["own"], "refused")
        self.assertGreaterEqual(seen.count("connect-src"), expected)

    def test_a_phone_screen(self):
        B.size(375, 667)
        try:
            B.get(ADDRESSES[self.address])
            long_name = os.path.join(FILES.dir, "A collection of tapes with a very long name indeed.tap")
            if not os.path.exists(long_name):
                os.link(os.path.join(FILES.dir, "demo.tap"), long_name)
            browser.set_options(B, True, True)
            B.pick([long_name, os.path.join(FILES.dir, "demo.tap")])
            browser.settled(B)
            got = B.js("const r = document.getElementById('catalogue').getBoundingClientRect();"
                       " return [document.documentElement.scrollWidth, innerWidth, r.top, innerHeight];")
            self.assertLessEqual(got[0], got[1], "the page scrolls sideways")
            self.assertLess(got[2], got[3], "the first result is out of sight")
            # Escaped names wrap inside their boxes, and in the table.
            cut = B.js("return [...document.querySelectorAll('pre, td.name')].filter(e => e.scrollWidth > e.clientWidth)"
                       ".map(e => e.textContent)")
            self.assertEqual(cut, [], "cut off on a phone")
            B.click("clear")
            self.assertEqual(B.js("return document.activeElement.id"), "drop-zone")
        finally:
            B.size(1000, 900)

    def test_never_a_dead_page(self):
        # index.html opened from disk: where the engine will not run its
        # scripts from there, the page says what to do instead.
        B.get("file://" + os.path.join(PAGE, "index.html"))
        got = B.js("return new Promise((r) => { const until = performance.now() + 5000; (function look() {"
                   " const ready = document.documentElement.hasAttribute('data-ready'), note = document.getElementById('broken');"
                   " if (ready || !note.hidden || performance.now() > until) r([ready, note.hidden, note.textContent]);"
                   " else setTimeout(look, 10); })(); })")
        ready, hidden, text = got
        self.assertTrue(ready or (not hidden and "Open brivane.html" in text), got)
        self.assertTrue(ready == hidden, "a working page shows no warning: %s" % got)

    def test_control_borders_stand_out(self):
        # Every control's border against the page: at least 3:1.
        low = B.js("""
            const lum = (css) => {
              const [r, g, b] = css.match(/[\\d.]+/g).slice(0, 3).map((v) => {
                const c = v / 255;
                return c <= 0.03928 ? c / 12.92 : ((c + 0.055) / 1.055) ** 2.4;
              });
              return 0.2126 * r + 0.7152 * g + 0.0722 * b;
            };
            const page = lum(getComputedStyle(document.body).backgroundColor);
            return [...document.querySelectorAll('button, select, input[type=search], #drop-zone')].map((e) => {
              const border = lum(getComputedStyle(e).borderTopColor);
              const ratio = (Math.max(page, border) + 0.05) / (Math.min(page, border) + 0.05);
              return [e.id || e.textContent, Math.round(ratio * 100) / 100];
            }).filter(([, ratio]) => ratio < 3);""")
        self.assertEqual(low, [])

    def test_every_control_has_a_label(self):
        unlabelled = B.js(
            "return [...document.querySelectorAll('input, button, progress')]"
            ".filter(e => !(e.labels && e.labels.length) && !e.getAttribute('aria-label') && !e.textContent.trim())"
            ".map(e => e.id || e.outerHTML)")
        self.assertEqual(unlabelled, [])


class QuickListing:
    """A few files of each kind, each listing in every option state and a
    message: the way into the page is what differs here, not the reading."""
    address = None
    picked = ["demo.tap", "Z64.ZIP", "sides.tap.gz", "heard.wav", "notazip.zip"]

    def test_a_tape_of_each_kind_in_every_option_state(self):
        B.get(ADDRESSES[self.address])
        browser.set_options(B, False, False)
        B.pick([os.path.join(FILES.dir, n) for n in self.picked])
        browser.settled(B)
        names = [n for n in FILES.want if n.split("/")[0] in self.picked]
        self.assertEqual(len(names), 5)
        for state in OPTION_STATES:
            browser.set_options(B, *state)
            shown = browser.shown(B)
            self.assertEqual(sorted(shown), sorted(names))
            for name in names:
                self.assertEqual(shown[name], FILES.native[name, state], "%s with %s" % (name, state))
        message = B.js("return document.querySelector('[data-error=\"notazip.zip\"]').textContent")
        self.assertIn(FILES.errors["notazip.zip"], message)
        browser.set_options(B, False, False)


# Everything read once, from the one-file page on disk; through the other
# ways in, a few files of each kind.
for _base, _addresses in ((Listing, ("disk",)), (QuickListing, ("http", "index")), (Reading, ("disk", "http", "index"))):
    for _address in _addresses:
        _name = "%s_%s" % (_base.__name__, _address)
        globals()[_name] = type(_name, (_base, unittest.TestCase), {"address": _address})


class LargeMember(unittest.TestCase):
    def peak(self, pilot):
        """The browser's peak memory while it lists a stored member of a
        pilot of that many pulses and a file, and the member's size. (The
        page's table costs memory with each file on it: here there is one.)"""
        path = os.path.join(FILES.dir, "large.zip")
        with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as z:
            z.writestr("large.tap", tape("pilot", str(pilot)) + tape("file", "LARGE"))
        size = zipfile.ZipFile(path).getinfo("large.tap").file_size
        B.get(ADDRESSES["http"])
        browser.set_options(B, True, False)
        with browser.peak_rss_kib(B) as peak:
            B.pick([path])
            browser.settled(B)
        out = browser.shown(B)["large.zip/large.tap"]
        os.remove(path)
        self.assertEqual(out, 'Brivane, rel 1.1\nFOUND (001): "LARGE"\n')
        return peak[0] * 1024, size

    def test_listed_with_flat_memory(self):
        # Members of 64 and 256 MiB, many times the page's slice: the
        # browser's memory while reading grows by far less than the member.
        small, small_size = self.peak(64 << 20)
        large, large_size = self.peak(256 << 20)
        self.assertGreater(large_size, 256 << 20)
        self.assertLess(large - small, (large_size - small_size) // 2,
                        "the browser's memory grew with the member: %d and %d bytes" % (small, large))


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
