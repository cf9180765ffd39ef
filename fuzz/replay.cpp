// Replays every file of fuzz/corpus/<target>/ through that target's entry point.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "targets.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_replay CORPUS_DIR\n");
    return 2;
  }
  using Target = void (*)(const std::uint8_t*, std::size_t);
  const std::map<std::string, Target> targets = {
      {"wfdisc", wavconv::fuzz::wfdisc_record},
      {"numeric", wavconv::fuzz::numeric_input},
      {"options", wavconv::fuzz::command_line},
      {"conversion", wavconv::fuzz::conversion},
      {"record_mode", wavconv::fuzz::record_mode},
      {"e1", wavconv::fuzz::e1_data},
      {"station_tables", wavconv::fuzz::station_tables},
      {"float_scaling", wavconv::fuzz::float_scaling},
      {"gse2_writers", wavconv::fuzz::gse2_writers},
      {"binary_writers", wavconv::fuzz::binary_writers},
      {"request", wavconv::fuzz::request_message},
  };
  int replayed = 0;
  for (const auto& [name, target] : targets) {
    std::filesystem::path dir = std::filesystem::path(argv[1]) / name;
    if (!std::filesystem::exists(dir)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      std::ifstream in(entry.path(), std::ios::binary);
      std::ostringstream bytes;
      bytes << in.rdbuf();
      std::string data = bytes.str();
      target(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
      ++replayed;
    }
  }
  std::printf("replayed %d corpus files\n", replayed);
  return replayed > 0 ? 0 : 1;
}
