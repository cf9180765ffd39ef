// Micro-benchmarks of the per-run hot spots: data lines with their checksum (each kernel),
// header read, F editing, e1 decoding, whole CM6 and GSE1.0 blocks.
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
#include "gse/data_lines.h"
#include "gse/window.h"
#include "gse/writer.h"

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

struct NullSink : common::Sink {
  std::size_t bytes = 0;
  bool put_line(std::string_view line) override { return put_bytes(line); }
  bool put_bytes(std::string_view text) override {
    bytes += text.size();
    benchmark::DoNotOptimize(text.data());
    return true;
  }
};

// Data lines with their checksum in the same pass, by one kernel (skipped where the CPU
// lacks it).
void data_lines(benchmark::State& state, const std::vector<std::int32_t>& values,
                gse::Kernel kernel) {
  if (!gse::kernel_available(kernel)) {
    state.SkipWithError("this CPU lacks the kernel");
    return;
  }
  NullSink sink;
  for (auto _ : state) {
    std::int64_t too_wide = 0;
    gse::Checksum checksum;
    gse::write_data_lines(values, sink, checksum, too_wide, kernel);
    benchmark::DoNotOptimize(checksum.value());
  }
  state.SetItemsProcessed(state.iterations() * values.size());
}

void BM_DataLinesScalar(benchmark::State& state) {
  data_lines(state, realistic(864000), gse::Kernel::kScalar);
}
void BM_DataLinesAvx2(benchmark::State& state) {
  data_lines(state, realistic(864000), gse::Kernel::kAvx2);
}
void BM_DataLinesWidestScalar(benchmark::State& state) {
  data_lines(state, widest(864000), gse::Kernel::kScalar);
}
void BM_DataLinesWidestAvx2(benchmark::State& state) {
  data_lines(state, widest(864000), gse::Kernel::kAvx2);
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
        css::decode_e1(reader, static_cast<std::int64_t>(out.size()),
                       css::Kept{0, static_cast<std::int64_t>(out.size()), out.data()}));
  }
  if (out != values) state.SkipWithError("decoded values differ");
  state.SetItemsProcessed(state.iterations() * values.size());
}

// A CM6 block of a realistic trace (second differences, characters, lines, checksum), and the
// same as GSE1.0 INT8 lines for comparison.
void block_of(benchmark::State& state, const char* format) {
  std::vector<std::int32_t> values = realistic(864000);
  common::Trace trace;
  trace.sta = "ABC   ";
  trace.chan = "BHZ     ";
  trace.instype = "STS-2 ";
  trace.samprate = 20.0f;
  trace.day_text = "043";
  trace.samples = values;
  std::unique_ptr<gse::Writer> writer = gse::find_output_format(format)->make({});
  NullSink sink;
  for (auto _ : state) benchmark::DoNotOptimize(writer->write_block(trace, sink).written);
  state.SetItemsProcessed(state.iterations() * values.size());
}
void BM_BlockCm6(benchmark::State& state) { block_of(state, "cm6"); }
void BM_BlockGse1(benchmark::State& state) { block_of(state, "gse1"); }

BENCHMARK(BM_BlockCm6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlockGse1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DataLinesScalar)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DataLinesAvx2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DataLinesWidestScalar)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DataLinesWidestAvx2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WfdiscLineRead);
BENCHMARK(BM_RealEdit);
BENCHMARK(BM_E1Decode)->Unit(benchmark::kMillisecond);

}  // namespace
