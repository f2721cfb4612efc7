// A built program run as a process for the byte-exact tests: its standard
// output, standard error and exit status.
#ifndef BRIVANE_TESTS_RUN_PROGRAM_H
#define BRIVANE_TESTS_RUN_PROGRAM_H

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

struct outcome {
  std::string out, err;
  int status;
};

inline std::string slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

/// Runs bin (named argv0) with args in folder dir, standard input from
/// in_path (/dev/null when empty); with file_limit, no file it writes may
/// grow past that many bytes.
inline outcome run_program(const std::string& bin, const std::string& argv0,
                           const std::vector<std::string>& args, const std::string& dir,
                           const std::string& in_path = "", rlim_t file_limit = RLIM_INFINITY) {
  std::vector<std::string> argv = {argv0};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  cargv.reserve(argv.size() + 1);
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  const std::string out = dir + "/.stdout", err = dir + "/.stderr";
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open(in_path.empty() ? "/dev/null" : in_path.c_str(), O_RDONLY);
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || o < 0 || e < 0 || chdir(dir.c_str()) != 0) _exit(127);
    dup2(in, 0);
    dup2(o, 1);
    dup2(e, 2);
    signal(SIGXFSZ, SIG_IGN);  // a file past its limit: the write fails instead
    const rlimit limit{file_limit, file_limit};
    setrlimit(RLIMIT_FSIZE, &limit);
    execv(bin.c_str(), cargv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  outcome r{slurp(out), slurp(err), WIFEXITED(status) ? WEXITSTATUS(status) : 128};
  unlink(out.c_str());
  unlink(err.c_str());
  return r;
}

#endif
