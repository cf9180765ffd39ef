#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "common/console.h"
#include "common/files.h"
#include "driver/run.h"

int main(int argc, char** argv) {
  // A reader of standard output that has gone does not end the conversion.
  std::signal(SIGPIPE, SIG_IGN);
  wavconv::common::remove_temporary_files_on_signals();
  std::ios::sync_with_stdio(false);
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  wavconv::common::Console console(std::cout, std::cerr);
  return wavconv::driver::run(args, console);
}
