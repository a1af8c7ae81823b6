#include <signal.h>

#include <initializer_list>

#include "support/runtime/interrupts.h"

namespace dazi {

namespace {

sigset_t saved;

sigset_t InterruptSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&signals, signal);
  return signals;
}

}  // namespace

void HoldInterrupts() {
  static const sigset_t signals = InterruptSignals();
  sigprocmask(SIG_BLOCK, &signals, &saved);
}

// A signal that came while held is delivered here, with its usual effect.
void ReleaseInterrupts() {
  sigprocmask(SIG_SETMASK, &saved, nullptr);
}

}  // namespace dazi
