#!/usr/bin/env python3
"""Plants small, plausible faults in the code one at a time, rebuilds, runs the
test suite, and puts the file back: each fault must make the suite fail.

usage: tests/planted_faults.py [SOURCE_DIR]   (a configured build in SOURCE_DIR/build)
Not run by CI: it edits the sources while it runs.
"""
import subprocess, sys, os
os.chdir(sys.argv[1] if len(sys.argv) > 1 else '.')
M = [
 ("pilot end takes medium", "core/decoder/tape_decoder.cc", "} else if (cls & PULSE_LONG) {", "} else if (cls & (PULSE_LONG | PULSE_MEDIUM)) {"),
 ("marker takes long for medium", "core/decoder/tape_decoder.cc", "      if (cls & PULSE_MEDIUM) {", "      if (cls & (PULSE_MEDIUM | PULSE_LONG)) {"),
 ("byte confirmed by medium", "core/decoder/tape_decoder.cc", "if (cls & PULSE_LONG) return check_byte", "if (cls & (PULSE_LONG | PULSE_MEDIUM)) return check_byte"),
 ("broken pilot keeps count", "core/decoder/tape_decoder.cc", "      } else {\n        d.pilot_run = 0;\n        d.state = STATE_SEEK_PILOT;", "      } else {\n        d.state = STATE_SEEK_PILOT;"),
 ("F4 and F5 swapped", "core/render/filename.cc", '"{F4}", "{F5}"', '"{F5}", "{F4}"'),
 ("read error taken for the end", "cli/fd_source.cc", "if (errno != EINTR) return -1;", "if (errno != EINTR) return 0;"),
 ("interrupted read taken for an error", "cli/fd_source.cc", "if (errno != EINTR) return -1;", "return -1;"),
 ("pair rule: 0 takes a long second pulse", "core/decoder/tape_decoder.h", "if (is_short(first) && is_medium(second)) return 0;", "if (is_short(first) && (is_medium(second) || pulse_classes.of[second] & PULSE_LONG)) return 0;"),
 ("no flush before stderr", "cli/main.cc", "std::fflush(stdout);\n    std::fwrite", "std::fwrite"),
 ("whole byte: marker takes long", "core/decoder/pulse_scan.cc", "if (!is_medium(p[0])) return false;", "if (!is_medium(p[0]) && !(pulse_classes.of[p[0]] & PULSE_LONG)) return false;"),
 ("whole byte: bits the wrong way round", "core/decoder/pulse_scan.cc", "value |= static_cast<unsigned>(bit) << k;", "value |= static_cast<unsigned>(bit) << (7 - k);"),
 ("whole byte: parity pulse not kept", "core/decoder/pulse_scan.cc", "d.second_pulse = p[18];", ""),
 ("gzip: a member reaches back into the one before", "core/archive/deflate.cc", "  last_block_ = false;\n  out_ = 0;\n", "  last_block_ = false;\n"),
 ("gzip: header CRC not checked", "core/archive/gzip.cc", "        return fail(inflate_fault::check_failed);\n      body_.skip(2);", "        ;\n      body_.skip(2);"),
 ("gzip: size not checked", "core/archive/gzip.cc", "le32(p + 4) != size_", "false"),
]
bad = 0
for name, path, old, new in M:
    src = open(path).read()
    assert src.count(old) == 1, (name, src.count(old))
    open(path, 'w').write(src.replace(old, new))
    try:
        b = subprocess.run(['cmake', '--build', 'build', '-j2'], capture_output=True)
        if b.returncode: print('BUILD FAILED', name); bad += 1; continue
        r = subprocess.run(['ctest', '--test-dir', 'build', '-j2'], capture_output=True, text=True)
        failed = [l.strip() for l in r.stdout.splitlines() if 'Failed' in l and ' - ' in l]
        print(('caught  ' if r.returncode else 'MISSED  ') + name, failed[:3])
        bad += r.returncode == 0
    finally:
        open(path, 'w').write(src)
subprocess.run(['cmake', '--build', 'build', '-j2'], capture_output=True)
print('%d passed, %d failed' % (len(M) - bad, bad))
