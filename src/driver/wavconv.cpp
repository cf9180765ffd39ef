#include <string>
#include <vector>

#include "common/console.h"
#include "common/files.h"
#include "driver/run.h"

int main(int argc, char** argv) {
  wavconv::common::prepare_process();
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  wavconv::common::DescriptorSink out(1), err(2);
  wavconv::common::Console console(out, err);
  return wavconv::driver::run(args, console);
}
