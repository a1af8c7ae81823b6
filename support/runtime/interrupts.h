#pragma once
// Interrupts held while an entry is between the two steps of a rename: an
// interrupt that arrives meanwhile (SIGINT, SIGTERM, SIGHUP or SIGQUIT on
// POSIX; the console's Ctrl+C, Ctrl+Break and close events on Windows) takes
// effect as usual once the hold ends, never between the steps.

namespace dazi {

void HoldInterrupts();
void ReleaseInterrupts();

class InterruptHold {
 public:
  InterruptHold() { HoldInterrupts(); }
  ~InterruptHold() { ReleaseInterrupts(); }
  InterruptHold(const InterruptHold&) = delete;
  InterruptHold& operator=(const InterruptHold&) = delete;
};

}  // namespace dazi
