// SAC binary files: a 632-byte header (70 floats, 40 integers and logicals, 24 strings, header
// version 6) and the samples as 32-bit floats, little-endian; one trace a file.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "common/calendar.h"
#include "common/text.h"
#include "gse/writer.h"

namespace wavconv::gse {
namespace {

constexpr std::size_t kHeaderSize = 632;
constexpr std::size_t kVersionWord = 76;  // nvhdr
constexpr float kUndefined = -12345.0f;
constexpr std::int32_t kUndefinedInt = -12345;
// The largest count a 32-bit float holds exactly, with every count below it.
constexpr std::int64_t kExactCounts = 16'777'216;

// Header words (each 4 bytes) and strings (from byte 440) by name.
enum Word : std::size_t {
  kDelta = 0,
  kDepmin = 1,
  kDepmax = 2,
  kScale = 3,
  kB = 5,
  kE = 6,
  kStla = 31,
  kStlo = 32,
  kStel = 33,
  kStdp = 34,
  kDepmen = 56,
  kCmpaz = 57,
  kCmpinc = 58,
  kNzyear = 70,
  kNzjday = 71,
  kNzhour = 72,
  kNzmin = 73,
  kNzsec = 74,
  kNzmsec = 75,
  kNvhdr = 76,
  kNpts = 79,
  kIftype = 85,
  kIdep = 86,
  kIztype = 87,
  kLeven = 105,
  kLpspol = 106,
  kLovrok = 107,
  kLcalda = 108,
};
enum Text : std::size_t { kKstnm = 440, kKhole = 464, kKcmpnm = 600, kKnetwk = 608 };
constexpr std::int32_t kItime = 1, kIunkn = 5, kIb = 9;

bool holds_sac(std::string_view head) {
  if (head.size() < kHeaderSize) return false;
  unsigned char v[4];
  std::memcpy(v, head.data() + 4 * kVersionWord, 4);
  return (v[0] == 6 && v[1] == 0 && v[2] == 0 && v[3] == 0) ||
         (v[0] == 0 && v[1] == 0 && v[2] == 0 && v[3] == 6);
}

void put_le(char* at, std::uint32_t bits) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<char>((bits >> (8 * i)) & 0xff);
}

class SacHeader {
 public:
  SacHeader() {
    for (std::size_t w = 0; w < 70; ++w) set(w, kUndefined);
    for (std::size_t w = 70; w < 105; ++w) set_int(w, kUndefinedInt);
    for (std::size_t w = 105; w < 110; ++w) set_int(w, 0);
    for (std::size_t at = 440; at < kHeaderSize; at += 8) std::memcpy(bytes_ + at, "-12345  ", 8);
    std::memcpy(bytes_ + 448, "-12345          ", 16);  // kevnm takes 16
  }
  void set(std::size_t word, float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, 4);
    put_le(bytes_ + 4 * word, bits);
  }
  void set(std::size_t word, std::optional<double> value, double unit = 1) {
    if (value) set(word, static_cast<float>(*value * unit));
  }
  void set_int(std::size_t word, std::int32_t value) {
    put_le(bytes_ + 4 * word, static_cast<std::uint32_t>(value));
  }
  void set_text(std::size_t at, std::string_view text) {
    std::memset(bytes_ + at, ' ', 8);
    std::memcpy(bytes_ + at, text.data(), std::min<std::size_t>(text.size(), 8));
  }
  std::string_view bytes() const { return {bytes_, kHeaderSize}; }

 private:
  char bytes_[kHeaderSize];
};

class SacWriter : public Writer {
 public:
  SampleLimit sample_limit() const override {
    return {-kExactCounts, kExactCounts, "+-16777216, the counts a 32-bit float holds exactly"};
  }
  bool takes_reals() const override { return true; }
  bool one_trace_per_file() const override { return true; }

  std::optional<std::string> refusal(const common::Trace& t) const override {
    if (!(t.samprate > 0) || !std::isfinite(static_cast<float>(1 / t.samprate))) {
      return "samprate " + std::to_string(t.samprate) + " cannot be written in SAC";
    }
    if (t.count() > static_cast<std::size_t>(INT32_MAX)) return "more samples than SAC holds";
    if (t.start.year < INT32_MIN / 2 || t.start.year > INT32_MAX / 2) {
      return "the start year cannot be written in SAC";
    }
    for (std::size_t i = 0; i < t.samples.size(); ++i) {
      if (t.samples[i] < -kExactCounts || t.samples[i] > kExactCounts) {
        return "sample " + std::to_string(static_cast<std::int64_t>(i) + t.first_sample) + " is " +
               std::to_string(t.samples[i]) +
               ": beyond +-16777216, a 32-bit float does not hold every such count exactly";
      }
    }
    for (std::size_t i = 0; i < t.reals.size(); ++i) {
      const double value = t.reals[i];
      if (static_cast<double>(static_cast<float>(value)) != value) {
        return "sample " + std::to_string(static_cast<std::int64_t>(i) + t.first_sample) + " is " +
               common::printable(std::to_string(value)) +
               ": a 32-bit float does not hold it exactly";
      }
    }
    return std::nullopt;
  }
  std::optional<double> calib_loss(double calib) const override {
    const float held = static_cast<float>(calib);
    if (calib == 0 || !std::isfinite(held) || held == 0) return std::nullopt;
    return std::fabs(static_cast<double>(held) - calib) / std::fabs(calib);
  }
  bool start_file(common::Sink&, std::string_view) override { return true; }

  BlockResult write_block(const common::Trace& t, common::Sink& sink) override {
    BlockResult result{false, 0};
    const std::size_t n = t.count();
    auto value = [&](std::size_t i) {
      return t.reals.empty() ? static_cast<float>(t.samples[i]) : static_cast<float>(t.reals[i]);
    };
    double low = 0, high = 0, sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const double v = value(i);
      low = i == 0 ? v : std::min(low, v);
      high = i == 0 ? v : std::max(high, v);
      sum += v;
    }
    SacHeader header;
    const float delta = static_cast<float>(1 / t.samprate);
    header.set(kDelta, delta);
    header.set(kB, 0.0f);
    header.set(kE, static_cast<float>(static_cast<double>(n > 0 ? n - 1 : 0) / t.samprate));
    if (n > 0) {
      header.set(kDepmin, static_cast<float>(low));
      header.set(kDepmax, static_cast<float>(high));
      header.set(kDepmen, static_cast<float>(sum / static_cast<double>(n)));
    }
    header.set(kScale, t.calib);
    const common::Placement& p = t.placement;
    header.set(kStla, p.latitude);
    header.set(kStlo, p.longitude);
    header.set(kStel, p.elevation, 1000);  // km in the tables, metres here
    header.set(kStdp, p.depth, 1000);
    header.set(kCmpaz, p.hang);
    header.set(kCmpinc, p.vang);
    // The reference time is the first sample, to the nearest millisecond.
    const std::int64_t ms =
        t.start_us / 1000 + ((t.start_us % 1000 + 1000) % 1000 >= 500) - (t.start_us % 1000 < 0);
    const common::Calendar at = common::to_calendar_milliseconds(ms);
    header.set_int(kNzyear, static_cast<std::int32_t>(at.year));
    header.set_int(kNzjday, at.day_of_year);
    header.set_int(kNzhour, at.hour);
    header.set_int(kNzmin, at.minute);
    header.set_int(kNzsec, at.second);
    header.set_int(kNzmsec, at.millisecond);
    header.set_int(kNvhdr, 6);
    header.set_int(kNpts, static_cast<std::int32_t>(n));
    header.set_int(kIftype, kItime);
    header.set_int(kIdep, kIunkn);
    header.set_int(kIztype, kIb);
    header.set_int(kLeven, 1);
    header.set_int(kLpspol, 0);
    header.set_int(kLovrok, 1);
    header.set_int(kLcalda, 1);
    header.set_text(kKstnm, common::cut_at_blank(t.sta));
    header.set_text(kKcmpnm, common::cut_at_blank(t.chan));
    if (!t.net.empty()) header.set_text(kKnetwk, t.net);
    if (!t.loc.empty()) header.set_text(kKhole, t.loc);
    if (!sink.put_bytes(header.bytes())) return result;
    constexpr std::size_t kChunk = 16384;
    std::vector<char> data(4 * std::min(n, kChunk));
    for (std::size_t begin = 0; begin < n; begin += kChunk) {
      const std::size_t end = std::min(n, begin + kChunk);
      for (std::size_t i = begin; i < end; ++i) {
        const float v = value(i);
        std::uint32_t bits;
        std::memcpy(&bits, &v, 4);
        put_le(data.data() + 4 * (i - begin), bits);
      }
      if (!sink.put_bytes({data.data(), 4 * (end - begin)})) return result;
    }
    result.written = true;
    return result;
  }
  bool end_file(common::Sink&) override { return true; }
};

}  // namespace

extern const common::FileKind kSacFile = {"SAC", kHeaderSize, holds_sac};

std::unique_ptr<Writer> make_sac_writer(const WriterOptions&) {
  return std::make_unique<SacWriter>();
}

}  // namespace wavconv::gse
