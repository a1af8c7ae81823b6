#include <windows.h>

#include "support/interrupts.h"

namespace dazi {

namespace {

volatile LONG held = 0;

// Runs on a thread of its own: waits while the rename is between its steps,
// then lets the system's default handling end the process as usual.
BOOL WINAPI WaitWhileHeld(DWORD) {
  while (InterlockedCompareExchange(&held, 0, 0) != 0) Sleep(1);
  return FALSE;
}

}  // namespace

void HoldInterrupts() {
  static const BOOL installed = SetConsoleCtrlHandler(WaitWhileHeld, TRUE);
  (void)installed;
  InterlockedExchange(&held, 1);
}

void ReleaseInterrupts() {
  InterlockedExchange(&held, 0);
}

}  // namespace dazi
