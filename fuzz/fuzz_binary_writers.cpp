#include "targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  wavconv::fuzz::binary_writers(data, size);
  return 0;
}
