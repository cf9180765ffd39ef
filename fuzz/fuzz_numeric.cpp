#include "targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  wavconv::fuzz::numeric_input(data, size);
  return 0;
}
