#include <windows.h>

#include "support/runtime/interrupts.h"

namespace dazi {

namespace {

volatile LONG held = 0;
volatile LONG pending = 0;

LONG Read(volatile LONG& value) {
  return InterlockedCompareExchange(&value, 0, 0);
}

// Runs on a thread of its own: waits while a rename is between its steps,
// then lets the system's default handling end the process as usual.
BOOL WINAPI WaitWhileHeld(DWORD) {
  InterlockedExchange(&pending, 1);
  while (Read(held) != 0) Sleep(1);
  return FALSE;
}

// Once an event has come, no rename starts again: the process waits for the
// event's handling to end it.
void WaitForPendingEvent() {
  if (Read(pending) != 0) Sleep(INFINITE);
}

}  // namespace

void HoldInterrupts() {
  static const BOOL installed = SetConsoleCtrlHandler(WaitWhileHeld, TRUE);
  (void)installed;
  InterlockedExchange(&held, 1);
  if (Read(pending) != 0) {
    InterlockedExchange(&held, 0);
    WaitForPendingEvent();
  }
}

void ReleaseInterrupts() {
  InterlockedExchange(&held, 0);
  WaitForPendingEvent();
}

}  // namespace dazi
