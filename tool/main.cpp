#include "support/runtime/cmdline.h"
#include "support/runtime/process.h"
#include "tool/startup.h"

int main(int argc, char** argv) {
  return dazi::RunProcess(argc, argv, dazi::RunTool);
}
