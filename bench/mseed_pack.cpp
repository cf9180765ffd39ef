// libmseed alone: the samples of a file of little-endian 32-bit integers packed into miniSEED
// records (Steim-2, 4096 bytes) and written to a file, as a program calling the library directly
// would. The floor that wavconv's /Tmseed is measured against (bench/scale_run.py mseed).
// Usage: mseed_pack SAMPLES OUTPUT
#include <libmseed.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: mseed_pack SAMPLES OUTPUT\n");
    return 2;
  }
  std::FILE* in = std::fopen(argv[1], "rb");
  if (!in) return 1;
  std::fseek(in, 0, SEEK_END);
  const long size = std::ftell(in);
  std::fseek(in, 0, SEEK_SET);
  std::vector<std::int32_t> samples(static_cast<std::size_t>(size) / 4);
  if (std::fread(samples.data(), 4, samples.size(), in) != samples.size()) return 1;
  std::fclose(in);
  std::FILE* out = std::fopen(argv[2], "wb");
  if (!out) return 1;
  std::setvbuf(out, nullptr, _IOFBF, 256 * 1024);
  MSRecord* msr = msr_init(nullptr);
  std::strcpy(msr->station, "ABC");
  std::strcpy(msr->channel, "BHZ");
  msr->dataquality = 'D';
  msr->starttime = 981947229000000;
  msr->samprate = 100;
  msr->reclen = 4096;
  msr->byteorder = 1;
  msr->encoding = DE_STEIM2;
  msr->sampletype = 'i';
  msr->datasamples = samples.data();
  msr->numsamples = static_cast<std::int64_t>(samples.size());
  blkt_1001_s microseconds{};
  msr_addblockette(msr, reinterpret_cast<char*>(&microseconds), sizeof microseconds, 1001, 0);
  std::int64_t packed = 0;
  const int records = msr_pack(
      msr,
      [](char* record, int length, void* file) {
        std::fwrite(record, 1, static_cast<std::size_t>(length), static_cast<std::FILE*>(file));
      },
      out, &packed, 1, 0);
  msr->datasamples = nullptr;
  msr_free(&msr);
  return records > 0 && packed == static_cast<std::int64_t>(samples.size()) && std::fclose(out) == 0
             ? 0
             : 1;
}
