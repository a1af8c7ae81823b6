/* The benchmark's floor for a run that prints only the usage text: a plain C
   program that writes the same bytes as DAZI without arguments, at once. */
#include <unistd.h>

static const char kUsage[] =
    "-------------------------\r\n"
    "  \r\n"
    "-------------------------\r\n"
    "Usage:\r\n"
    "  DAZI %outdir%\r\n"
    "Options:\r\n"
    "  -?, --help\r\n"
    "\tdisplay this help and exit.\r\n";

int main(void) {
  return write(1, kUsage, sizeof kUsage - 1) == (ssize_t)(sizeof kUsage - 1) ? 0 : 1;
}
