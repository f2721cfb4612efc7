// Reading a tape as it comes down a pipe: pieces of a few bytes, and reads
// cut short by signals, give what one read of the whole tape gives.
#include "fd_source.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "memory_host.h"

namespace {

bytes three_names() {
  tape_writer w(pulse_values::spread(), 5);
  return w.rom_file(1, "ONE", bytes(40, 0x20))
      .rom_file(3, "\x05TWO", bytes(40, 0x20))
      .rom_file(1, "THREE", bytes(40, 0x20))
      .pulses();
}

volatile sig_atomic_t alarms = 0;
void on_alarm(int) { alarms = alarms + 1; }

// What scan_tape makes of the tape written into a pipe by another process,
// piece bytes at a time with a pause after each; with interrupting set, a
// timer interrupts the reads all along.
std::string through_pipe(const bytes& tape, std::size_t piece, bool interrupting) {
  int fds[2];
  if (pipe(fds) != 0) return "no pipe";
  const pid_t writer = fork();
  if (writer == 0) {
    close(fds[0]);
    for (std::size_t at = 0; at < tape.size(); at += piece) {
      const std::size_t n = std::min(piece, tape.size() - at);
      if (write(fds[1], tape.data() + at, n) != static_cast<ssize_t>(n)) _exit(1);
      if (at % (piece * 64) == 0) usleep(300);
    }
    _exit(0);
  }
  close(fds[1]);
  struct sigaction act {
  }, old{};
  act.sa_handler = on_alarm;  // no SA_RESTART: a blocked read returns EINTR
  sigaction(SIGALRM, &act, &old);
  const itimerval every = {{0, 200}, {0, 200}}, off = {};
  if (interrupting) setitimer(ITIMER_REAL, &every, nullptr);
  string_sink out;
  scan_end end;
  {
    fd_source in(fds[0]);  // closed before the wait, so that a writer left over stops
    end = scan_tape(in, {true, true}, out);
  }
  setitimer(ITIMER_REAL, &off, nullptr);
  sigaction(SIGALRM, &old, nullptr);
  int status = 0;
  waitpid(writer, &status, 0);
  return (end == scan_end::finished ? "" : "read error\n") + out.text;
}

TEST(Reading, PiecesAndInterruptedReadsGiveTheWholeTapesNames) {
  const bytes tape = three_names();
  memory_host whole;
  whole.files["t"] = tape;
  string_sink want;
  ASSERT_EQ(scan_tape(*whole.open("t"), {true, true}, want), scan_end::finished);
  ASSERT_EQ(want.text,
            "FOUND (001): \"ONE\"\nFOUND (002): \"{WHITE}TWO\"\nFOUND (003): \"THREE\"\n");
  for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{4096}}) {
    EXPECT_EQ(through_pipe(tape, piece, false), want.text) << piece;
    alarms = 0;
    EXPECT_EQ(through_pipe(tape, piece, true), want.text) << piece << " interrupted";
    EXPECT_GT(alarms, 0) << "the timer never interrupted a read";
  }
}

}  // namespace
