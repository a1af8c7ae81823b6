#include "support/cmdline.h"
#include "support/process.h"
#include "tool/startup.h"

int main(int argc, char** argv) {
  return dazi::RunProcess(argc, argv, dazi::RunTool);
}
