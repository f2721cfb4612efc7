// The built program, run as a process: stdout, stderr and exit status,
// byte for byte.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "expected_text.h"
#include "tape_writer.h"
#include "terminal.h"

namespace {

struct outcome {
  std::string out, err;
  int status;
};

std::string slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

void spill(const std::string& path, const bytes& data) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

const char* env_or(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != '\0' ? v : fallback;
}

// The program under test: BRIVANE_BIN, started through BRIVANE_LAUNCHER
// (such as wine) when that is set.
class Cli : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    char tmpl[] = "/tmp/brivane-cli-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    ASSERT_EQ(mkdir((dir_ + "/adir").c_str(), 0755), 0);
    for (const auto& [name, tape] : sample_tapes()) spill(in_dir(name), tape);
    spill(dir_ + "/empty.tap", {});
    for (const char* name : kept_names) spill(dir_ + "/" + name, sample_tapes().at("two.tap"));
  }
  static std::string in_dir(const std::string& name) {
    std::string path = dir_;
    path.append("/").append(name);
    return path;
  }
  static void TearDownTestSuite() {
    for (const char* f : {"one.tap", "two.tap", "empty.tap", "out", "err"})
      unlink((dir_ + "/" + f).c_str());
    for (const char* name : kept_names) unlink((dir_ + "/" + name).c_str());
    rmdir((dir_ + "/adir").c_str());
    rmdir(dir_.c_str());
  }

  // Tapes named in the scripts collectors use (UTF-8 here; UTF-16 on Windows).
  static constexpr const char* kept_names[] = {
      "\u30c6\u30b9\u30c8.tap",                                // Japanese
      "\u0418\u0433\u0440\u0430 \u0434\u0432\u0430.tap",       // Cyrillic, with a space
      "\u03a0\u03b1\u03b9\u03c7\u03bd\u03af\u03b4\u03b9.tap",  // Greek
      "t\u00ebst \u0141\u00f3d\u017a.tap",  // accented Latin, in and out of Western code pages
      "\U0001F680 rocket.tap",              // outside the Basic Multilingual Plane
  };

  // Runs the program in the tapes' folder with standard output going to a
  // file, or to stdout_path when one is given; with shared, standard error
  // goes to the same file as standard output.
  static outcome run(const std::vector<std::string>& args, const char* stdout_path = nullptr,
                     bool shared = false) {
    const std::string bin = env_or("BRIVANE_BIN", "brivane");
    const char* launcher = env_or("BRIVANE_LAUNCHER", nullptr);
    std::vector<std::string> argv;
    if (launcher)
      argv = {launcher, bin};
    else
      argv = {"brivane"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    cargv.reserve(argv.size() + 1);
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);

    const std::string out = dir_ + "/out", err = dir_ + "/err";
    const pid_t pid = fork();
    if (pid == 0) {
      const int in = open("/dev/null", O_RDONLY);
      const int o =
          open(stdout_path ? stdout_path : out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (in < 0 || o < 0 || e < 0 || chdir(dir_.c_str()) != 0) _exit(127);
      dup2(in, 0);
      dup2(o, 1);
      dup2(shared ? o : e, 2);
      if (launcher)
        execvp(launcher, cargv.data());
      else
        execv(bin.c_str(), cargv.data());
      _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return {stdout_path ? "" : slurp(out), slurp(err),
            WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)};
  }

  static std::string dir_;
};
std::string Cli::dir_;

// What the program is expected to write: "\n" is the line end, turned into
// "\r\n" where the platform's text streams do that (BRIVANE_CRLF).
std::string text(std::string s) {
  if (!std::getenv("BRIVANE_CRLF")) return s;
  std::string t;
  for (const char c : s) {
    if (c == '\n') t += '\r';
    t += c;
  }
  return t;
}

const std::string first = "FOUND: \"FIRST\"\n";
const std::string both = "FOUND (001): \"FIRST\"\nFOUND (002): \"SECOND\"\n";
const std::string both_escaped =
    "FOUND (001): \"FIRST\"\nFOUND (002): \"{CLEAR & HOME}{RED}SECOND{SHIFT+SPACE}{WHITE}\"\n";
const std::string open_failure = "Could not open input file.\n";

struct cli_case {
  std::vector<std::string> args;
  std::string out, err;
  int status;
};

TEST_F(Cli, ArgumentsAndResults) {
  // The usage line names the program as the platform hands it over.
  const std::string usage_text = usage(env_or("BRIVANE_USAGE_NAME", "brivane"));
  const cli_case cases[] = {
      {{}, banner + usage_text, "", 255},
      {{"-a"}, banner + usage_text, "", 255},
      {{"-a", "-e"}, banner + usage_text, "", 255},
      {{"-a.tap"}, banner + usage_text, "", 255},
      {{"one.tap"}, banner + "FOUND: \"ONLY ONE\"\n", "", 0},
      {{"-a", "one.tap"}, banner + "FOUND (001): \"ONLY ONE\"\n", "", 0},
      {{"two.tap"}, banner + first, "", 0},
      {{"-e", "two.tap"}, banner + first, "", 0},
      {{"-a", "two.tap"}, banner + both, "", 0},
      {{"-a", "-e", "two.tap"}, banner + both_escaped, "", 0},
      {{"-ae", "two.tap"}, banner + both, "", 0},
      {{"-ea", "two.tap"}, banner + first, "", 0},
      {{"-x", "two.tap"}, banner + first, "", 0},
      {{"-", "two.tap"}, banner + first, "", 0},
      {{"two.tap", "-a"}, banner + first, "", 0},
      {{"two.tap", "missing.tap"}, banner + first, "", 0},
      {{"empty.tap"}, banner, "", 0},
      {{"-a", "-e", "empty.tap"}, banner, "", 0},
      {{""}, banner, open_failure, 255},
      {{"missing.tap"}, banner, open_failure, 255},
      {{"-a", "adir"}, banner, open_failure, 255},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const auto& a : c.args) shown += " '" + a + "'";
    SCOPED_TRACE("brivane" + shown);
    const outcome r = run(c.args);
    EXPECT_EQ(r.out, text(c.out));
    EXPECT_EQ(r.err, text(c.err));
    EXPECT_EQ(r.status, c.status);
  }
}

TEST_F(Cli, TapesNamedInAnyScript) {
  for (const char* name : kept_names) {
    SCOPED_TRACE(name);
    const outcome r = run({"-a", name});
    EXPECT_EQ(r.out, text(banner + both));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    const outcome missing = run({std::string("no ") + name});
    EXPECT_EQ(missing.out, text(banner));
    EXPECT_EQ(missing.err, text(open_failure));
    EXPECT_EQ(missing.status, 255);
  }
}

// On one shared file the banner comes before the message, whatever buffering
// standard output has.
TEST_F(Cli, MessageFollowsWhatWasWrittenBefore) {
  const outcome r = run({"missing.tap"}, nullptr, true);
  EXPECT_EQ(r.out, text(banner + open_failure));
  EXPECT_EQ(r.status, 255);
}

// A file that opens but cannot be read: reading /proc/self/mem from its start
// fails with EIO.
TEST_F(Cli, ReadErrorIsAFailure) {
  if (std::getenv("BRIVANE_LAUNCHER") || access("/proc/self/mem", R_OK) != 0)
    GTEST_SKIP() << "no /proc/self/mem for this program";
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"/proc/self/mem"}, {"-a", "/proc/self/mem"}}) {
    const outcome r = run(args);
    EXPECT_EQ(r.out, banner);
    EXPECT_EQ(r.err, "Could not read input file.\n");
    EXPECT_EQ(r.status, 255);
  }
}

TEST_F(Cli, FullDiskIsAFailure) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full here";
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"two.tap"}, {"-a", "two.tap"}}) {
    const outcome r = run(args, "/dev/full");
    EXPECT_EQ(r.err, text("Could not write output.\n"));
    EXPECT_EQ(r.status, 255);
  }
}

// A file the user may not read. Root may read any file, so there it is a
// socket: no one can open one as a file.
TEST_F(Cli, UnreadableFileIsAnOpenFailure) {
  const std::string path = dir_ + "/locked.tap";
  const bool as_root = geteuid() == 0 && std::getenv("BRIVANE_LAUNCHER") == nullptr;
  if (as_root) {
    const int s = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un at{};
    at.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof at.sun_path);
    path.copy(at.sun_path, path.size());
    ASSERT_EQ(bind(s, reinterpret_cast<const sockaddr*>(&at), sizeof at), 0);
    close(s);
  } else {
    spill(path, {48, 48});
    chmod(path.c_str(), 0);
  }
  const bool refused =
      as_root || access(path.c_str(), R_OK) != 0;  // as root, access() says yes to a socket
  const outcome r = run({"locked.tap"});
  unlink(path.c_str());
  if (!refused) {
    const char* why =
        "SKIPPED UnreadableFileIsAnOpenFailure: this user may read a file of mode 0 (root under a "
        "launcher)";
    std::fprintf(stderr, "%s\n", why);
    GTEST_SKIP() << why;
  }
  EXPECT_EQ(r.out, text(banner));
  EXPECT_EQ(r.err, text(open_failure));
  EXPECT_EQ(r.status, 255);
}

// A tape still being captured, piped in: each name reaches the terminal as
// soon as its header has passed, before the next piece of tape is sent and
// while the pipe is still open.
TEST_F(Cli, NamesShowWhileTheTapeArrives) {
  if (std::getenv("BRIVANE_LAUNCHER")) GTEST_SKIP() << "needs a terminal of this system";
  // Each file as the ROM saves it; the cut falls just past the pulse that
  // completes its header's name.
  std::vector<std::size_t> cuts;
  tape_writer v(pulse_values::spread(), 9);
  for (const char* name : {"FIRST", "SECOND", "THIRD"}) {
    v.pilot(HEADER_PILOT).block(header_payload(1, name));
    cuts.push_back(v.byte_start(31) + 1);
    v.pilot(COPY_GAP)
        .block(header_payload(1, name), block_copy::repeat)
        .pilot(DATA_PILOT)
        .block(bytes(40, 0x20));
  }
  const bytes& tape = v.pulses();
  signal(SIGPIPE, SIG_IGN);  // the program stops reading after the first name without -a

  for (const bool all : {true, false}) {
    SCOPED_TRACE(all ? "-a" : "no options");
    terminal screen;
    ASSERT_TRUE(screen.ready());
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const std::string bin = env_or("BRIVANE_BIN", "brivane");
    const pid_t pid = fork();
    if (pid == 0) {
      screen.attach_output();
      dup2(fds[0], 0);
      close(fds[1]);
      execl(bin.c_str(), "brivane", all ? "-a" : "-e", "/dev/stdin", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[0]);
    const std::vector<std::string> lines =
        all ? std::vector<std::string>{"FOUND (001): \"FIRST\"\n", "FOUND (002): \"SECOND\"\n",
                                       "FOUND (003): \"THIRD\"\n"}
            : std::vector<std::string>{"FOUND: \"FIRST\"\n"};
    std::size_t at = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const std::size_t n = cuts[i] - at;
      ASSERT_EQ(write(fds[1], tape.data() + at, n), static_cast<ssize_t>(n));
      at = cuts[i];
      EXPECT_TRUE(screen.shows(lines[i]))
          << "not shown before the next piece: " << lines[i] << "shown: " << screen.shown();
    }
    if (all) {
      ASSERT_EQ(write(fds[1], tape.data() + at, tape.size() - at),
                static_cast<ssize_t>(tape.size() - at));
    }
    close(fds[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    screen.shows("\n\n");  // whatever is left
    EXPECT_EQ(status, 0);
    std::string want = banner;
    for (const auto& l : lines) want += l;
    EXPECT_EQ(screen.shown(), want);
  }
}

}  // namespace
