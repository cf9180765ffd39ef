#include <iostream>
#include <string>
#include <vector>

#include "common/console.h"
#include "driver/run.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  wavconv::common::Console console(std::cout, std::cerr);
  return wavconv::driver::run(args, console);
}
