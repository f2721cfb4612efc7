#!/usr/bin/env python3
"""Zipped and gzipped tapes in the page, in a real browser: archives built
here with Python's zipfile, every tape member against the command-line
tool's output for its bytes, and a message, in place, for each bad input.

usage: zip_test.py PAGE_DIR BRIVANE WRITE_TAPE
"""
import contextlib, gzip, io, os, struct, subprocess, sys, tempfile, unittest, zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import browser  # noqa: E402

PAGE, BIN, WRITE_TAPE = (os.path.abspath(a) for a in sys.argv[1:4])
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
DEMO = open(os.path.join(ROOT, "examples", "demo.tap"), "rb").read()


def tape(*args):
    return subprocess.run([WRITE_TAPE] + list(args), capture_output=True, check=True).stdout


def native(data, all_=True, escape=True):
    with tempfile.NamedTemporaryFile(suffix=".tap") as f:
        f.write(data)
        f.flush()
        args = [BIN] + (["-a"] if all_ else []) + (["-e"] if escape else []) + [f.name]
        return subprocess.run(args, capture_output=True).stdout.decode("latin-1")


class Cp437Info(zipfile.ZipInfo):
    """A member whose name is stored in code page 437, flag bit 11 clear."""
    def _encodeFilenameFlags(self):
        return self.filename.encode("cp437"), self.flag_bits


def build(members, zip64=False):
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


D, S = zipfile.ZIP_DEFLATED, zipfile.ZIP_STORED


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


class Archives(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        d = cls.tmp.name
        one, two = tape("header", "ONE"), tape("--repeat", "3", "header", 'A,"B"')
        big = tape("--repeat", "400", "file", "BIG")  # about 18 MiB: many pieces of the page's reading
        cls.want = {}  # data-tape: the member's bytes
        cls.errors = {}  # data-error: a word its message must hold

        def archive(name, members, **kw):
            z = build(members, **kw)
            write(os.path.join(d, name), z)
            return z

        games = [("Arcade/", None, S), ("Arcade/Flight Deck.tap", DEMO, D), ("one.tap", one, S),
                 ("Arcade/LOUD.TAP", two, D), ("readme.txt", b"hello", D), ("empty.tap", b"", S),
                 (Cp437Info("M\u00fcller \u00c7\u00e9.tap"), one, D), ("\u30c6\u30fc\u30d7.tap", two, D),
                 ("notes/info.nfo", b"x", S), ("big.tap", big, D)]
        archive("games.zip", games)
        for name, data, _ in games:
            n = name.filename if isinstance(name, zipfile.ZipInfo) else name
            if n.lower().endswith(".tap"):
                cls.want["games.zip/" + n] = data
        archive("Z64.ZIP", [("a/one.tap", one, D), ("two.tap", two, S)], zip64=True)
        cls.want["Z64.ZIP/a/one.tap"] = one
        cls.want["Z64.ZIP/two.tap"] = two

        write(os.path.join(d, "notazip.zip"), b"this is not an archive\n" * 50)
        cls.errors["notazip.zip"] = "not a zip archive"
        whole = build([("x.tap", one, D), ("y.tap", two, D)])
        write(os.path.join(d, "truncated.zip"), whole[:len(whole) // 2])
        cls.errors["truncated.zip"] = "cut short"

        # Damage, member by member; the sound one beside them is still read.
        two_names = tape("header", "FIRST") + bytes(range(256)) * 400 + tape("header", "SECOND")
        damaged = build([("broken.tap", two_names, D), ("badcrc.tap", one, S), ("badsize.tap", one, S),
                         ("secret.tap", one, S), ("method14.tap", one, S), ("fine.tap", one, D)])
        start = damaged.index(b"broken.tap") + len(b"broken.tap")  # its data follows its local header
        compressed = struct.unpack_from("<I", damaged, damaged.find(b"PK\x01\x02") + 20)[0]
        for i in range(start + compressed * 2 // 3, start + compressed - 4):
            damaged[i] = 0xFF  # the last third of the deflate stream: the first name comes out whole
        patch_directory(damaged, "badcrc.tap", 16, "<I", 0x12345678)
        patch_directory(damaged, "badsize.tap", 24, "<I", len(one) + 1)
        patch_directory(damaged, "secret.tap", 8, "<H", 1, local=True)
        patch_directory(damaged, "method14.tap", 10, "<H", 14, local=True)
        write(os.path.join(d, "damaged.zip"), damaged)
        cls.errors.update({"damaged.zip/broken.tap": "inflated", "damaged.zip/badcrc.tap": "CRC-32",
                           "damaged.zip/badsize.tap": "inflated to", "damaged.zip/secret.tap": "encrypted",
                           "damaged.zip/method14.tap": "compressed with method 14, which the page cannot read"})
        cls.want["damaged.zip/fine.tap"] = one
        cls.partial = {"damaged.zip/broken.tap": native(tape("header", "FIRST")),
                       "damaged.zip/badcrc.tap": native(one), "damaged.zip/badsize.tap": native(one)}

        write(os.path.join(d, "demo.tap.gz"), gzip.compress(DEMO, mtime=0))
        cls.want["demo.tap.gz"] = DEMO
        write(os.path.join(d, "bad.tap.gz"), gzip.compress(DEMO, mtime=0)[:-9] + b"\0" * 9)
        cls.errors["bad.tap.gz"] = "inflated"

        cls.files = [os.path.join(d, n) for n in ("games.zip", "Z64.ZIP", "notazip.zip", "truncated.zip",
                                                 "damaged.zip", "demo.tap.gz", "bad.tap.gz")]
        cls.stack = contextlib.ExitStack()
        url = cls.stack.enter_context(browser.serve(PAGE))
        cls.driver = cls.stack.enter_context(browser.chromium())
        cls.driver.get(url)
        for box in ("opt-all", "opt-escape"):
            cls.driver.find_element("id", box).click()
        browser.pick(cls.driver, cls.files)
        browser.settled(cls.driver, timeout=120)

    @classmethod
    def tearDownClass(cls):
        cls.stack.close()
        cls.tmp.cleanup()

    def shown(self):
        return {p.get_attribute("data-tape"): p.get_attribute("textContent")
                for p in self.driver.find_elements("css selector", "pre[data-tape]")}

    def test_every_tape_member_as_the_program_lists_it(self):
        shown = self.shown()
        for name, data in self.want.items():
            self.assertEqual(shown.get(name), native(data), name)

    def test_members_in_the_archives_order_with_others_counted(self):
        order = [p.get_attribute("data-tape") for p in self.driver.find_elements("css selector", "pre[data-tape]")]
        games = [n for n in order if n.startswith("games.zip/")]
        self.assertEqual(games, [n for n in self.want if n.startswith("games.zip/")])
        self.assertIn("3 other files skipped",
                      self.driver.find_element("css selector", "section.archive .skipped").text)

    def test_each_bad_input_has_its_message_in_place(self):
        for name, words in self.errors.items():
            els = self.driver.find_elements("css selector", '[data-error="%s"]' % name.replace('"', '\\"'))
            self.assertEqual(len(els), 1, name)
            self.assertIn(words, els[0].text, name)
        for name, text in self.partial.items():
            self.assertEqual(self.shown().get(name), text, "names found before the damage stay: " + name)

    def test_options_apply_to_members_too(self):
        self.driver.find_element("id", "opt-all").click()
        try:
            self.assertEqual(self.shown()["games.zip/Arcade/Flight Deck.tap"], native(DEMO, False, True))
        finally:
            self.driver.find_element("id", "opt-all").click()


class LargeMember(unittest.TestCase):
    def test_listed_with_flat_memory(self):
        # A stored member of 256 MiB, many times the page's 4 MiB slice: the
        # browser's memory while reading it stays far below its size.
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "large.zip")
            with open(os.path.join(d, "large.tap"), "wb") as f:
                subprocess.run([WRITE_TAPE, "--repeat", "6000", "file", "LARGE"], stdout=f, check=True)
            with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as z:
                z.write(os.path.join(d, "large.tap"), "large.tap")
            size = os.path.getsize(os.path.join(d, "large.tap"))
            self.assertGreater(size, 256 << 20)
            with browser.serve(PAGE) as url, browser.chromium() as driver:
                driver.get(url)
                driver.find_element("id", "opt-all").click()
                with browser.peak_rss_kib(driver) as peak:
                    browser.pick(driver, [path])
                    browser.settled(driver, timeout=120)
                out = driver.find_element("css selector", 'pre[data-tape="large.zip/large.tap"]').get_attribute("textContent")
            self.assertEqual(out.count("\n"), 6001)
            self.assertTrue(out.endswith('FOUND (6000): "LARGE"\n'))
            self.assertLess(peak[0] * 1024, size // 2, "the browser's memory grew with the member")


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
