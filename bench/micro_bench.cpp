// Micro-benchmarks of the per-run hot spots: data lines, checksum, header read, F editing.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "common/field_edit.h"
#include "common/format.h"
#include "css/packed.h"
#include "css/wfdisc.h"
#include "e1_encoder.h"
#include "gse/block.h"
#include "gse/window.h"

namespace {

using namespace wavconv;

// A random walk within +-2,000,000: the widths of a real broadband trace.
std::vector<std::int32_t> realistic(std::size_t n) {
  std::vector<std::int32_t> values(n);
  std::mt19937 random(42);
  std::int32_t v = 0;
  for (auto& value : values) {
    v += static_cast<std::int32_t>(random() % 2001) - 1000;
    if (v > 2'000'000 || v < -2'000'000) v /= 2;
    value = v;
  }
  return values;
}

std::vector<std::int32_t> widest(std::size_t n) {
  std::vector<std::int32_t> values(n);
  for (std::size_t i = 0; i < n; ++i) values[i] = (i % 2) ? -9'999'999 + i % 7 : 99'999'999 - i % 7;
  return values;
}

struct NullSink : common::LineSink {
  std::size_t bytes = 0;
  bool put_line(std::string_view line) override { return put_lines(line); }
  bool put_lines(std::string_view text) override {
    bytes += text.size();
    benchmark::DoNotOptimize(text.data());
    return true;
  }
};

void data_lines(benchmark::State& state, const std::vector<std::int32_t>& values) {
  NullSink sink;
  for (auto _ : state) {
    std::int64_t too_wide = 0;
    gse::write_data_lines(values, sink, too_wide);
    benchmark::DoNotOptimize(too_wide);
  }
  state.SetItemsProcessed(state.iterations() * values.size());
}

void BM_DataLinesRealistic(benchmark::State& state) { data_lines(state, realistic(864000)); }
void BM_DataLinesWidest(benchmark::State& state) { data_lines(state, widest(864000)); }

void BM_Checksum(benchmark::State& state) {
  std::vector<std::int32_t> values = realistic(864000);
  for (auto _ : state) benchmark::DoNotOptimize(gse::checksum(values));
  state.SetItemsProcessed(state.iterations() * values.size());
}

void BM_WfdiscLineRead(benchmark::State& state) {
  const std::string line =
      "ABC    BHZ          981947229.00000        1        1  2001043      981947229.00000"
      "        0  20.0000000         1.000000         1.000000 STS-2  - i4 - -              "
      "                                                  abc.w                                    "
      "0       -1 2001/02/12       ";
  css::Wfdisc record;
  for (auto _ : state) benchmark::DoNotOptimize(css::parse_wfdisc(line, record));
}

void BM_RealEdit(benchmark::State& state) {
  float value = 20.0f;
  for (auto _ : state) {
    benchmark::DoNotOptimize(common::edit_real(value, 11, 7));
    value += 0.125f;
  }
}

// e1 decoding from memory: a realistic trace, first differences, blocks of 2,000 samples.
void BM_E1Decode(benchmark::State& state) {
  std::vector<std::int32_t> values = realistic(864000);
  std::string data = testing::encode_e1(values, 1, 2000);
  css::ByteReader reader = [&data](std::int64_t position, unsigned char* out, std::size_t size) {
    std::size_t n = std::min(size, data.size() - static_cast<std::size_t>(position));
    std::memcpy(out, data.data() + position, n);
    return n;
  };
  std::vector<std::int32_t> out(values.size());
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        css::decode_e1(reader, static_cast<std::int64_t>(out.size()), out.data()));
  }
  if (out != values) state.SkipWithError("decoded values differ");
  state.SetItemsProcessed(state.iterations() * values.size());
}

BENCHMARK(BM_DataLinesRealistic)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DataLinesWidest)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Checksum)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WfdiscLineRead);
BENCHMARK(BM_RealEdit);
BENCHMARK(BM_E1Decode)->Unit(benchmark::kMillisecond);

}  // namespace
