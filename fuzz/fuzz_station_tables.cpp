#include "targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  wavconv::fuzz::station_tables(data, size);
  return 0;
}
