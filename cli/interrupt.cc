#include "interrupt.h"

#include <csignal>
#include <initializer_list>

#ifndef _WIN32
#include <signal.h>
#endif

namespace {

volatile std::sig_atomic_t caught = 0;

extern "C" void note(int sig) { caught = sig; }

}  // namespace

void catch_interrupts() {
#ifdef _WIN32
  std::signal(SIGINT, note);
  std::signal(SIGTERM, note);
#else
  struct sigaction sa {};
  sa.sa_handler = note;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a read waiting on a pipe returns
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old {};
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    sigaction(sig, &sa, nullptr);
  }
#endif
}

bool interrupted() { return caught != 0; }

void end_as_interrupted() {
#ifndef _WIN32
  const int sig = caught;
  if (sig == 0) return;
  std::signal(sig, SIG_DFL);
  std::raise(sig);
#endif
}
