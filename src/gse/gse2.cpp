// GSE2.0 waveform blocks (WID2, STA2, DAT2, the data, CHK2) with CM6 or INT data, bare or inside
// an IMS2.0 data message. Every line ends with LF.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "common/text.h"
#include "gse/cm6.h"
#include "gse/data_lines.h"
#include "gse/message.h"
#include "gse/writer.h"

namespace wavconv::gse {
namespace {

constexpr std::size_t kDataLine = 80;

// `text` left-justified and blank-padded in columns first..first+width-1 (from 1) of `line`.
void place(std::string& line, std::size_t first, std::string_view text) {
  if (line.size() < first - 1 + text.size()) line.resize(first - 1 + text.size(), ' ');
  std::copy(text.begin(), text.end(), line.begin() + static_cast<std::ptrdiff_t>(first - 1));
}

template <typename... Args>
std::string format(const char* pattern, Args... args) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, args...);
  return text;
}

// A text field as the header gives it, up to its first blank or NUL.
std::string word(std::string_view field) { return std::string(common::cut_at_blank(field)); }

// An instrument type in 6 columns, each NUL a blank.
std::string instrument(std::string_view field) {
  std::string text = common::pad_or_cut(field, 6);
  std::replace(text.begin(), text.end(), '\0', ' ');
  return text;
}

// Why a trace's header fields cannot be written in WID2; nothing when they can.
std::optional<std::string> wid2_refusal(const common::Trace& t) {
  const std::string sta = word(t.sta), chan = word(t.chan);
  if (sta.size() > 5) return "station " + common::printable(sta) + " is longer than 5 characters";
  if (chan.size() > 3) return "channel " + common::printable(chan) + " is longer than 3 characters";
  // A control character would break the line (a CR in a file of LF lines, a form feed...).
  for (const auto& [what, text] :
       {std::pair{"station", &sta}, std::pair{"channel", &chan},
        std::pair{"instrument type", &t.instype}, std::pair{"network", &t.net}}) {
    for (unsigned char c : *text) {
      if ((c < ' ' && c != '\0') || c == 0x7f) {
        return std::string(what) + " " + common::printable(word(*text)) +
               " holds a control character";
      }
    }
  }
  if (t.start.year < 0 || t.start.year > 9999) {
    return "the start year " + std::to_string(t.start.year) + " does not fit WID2";
  }
  std::string rate = format("%11.6f", t.samprate);
  if (rate.size() > 11) return format("samprate %g does not fit WID2", t.samprate);
  if (!(std::strtod(rate.c_str(), nullptr) > 0)) {
    std::string shown = rate.substr(rate.find_first_not_of(' '));
    return format("samprate %g shows as %s in WID2, not above 0", t.samprate, shown.c_str());
  }
  if (format("%7.3f", static_cast<double>(t.calper)).size() > 7) {
    return format("calper %g does not fit WID2", static_cast<double>(t.calper));
  }
  return std::nullopt;
}

// `value` with `pattern` when it is known and fits `width` columns (with fewer decimals if need
// be); blank otherwise.
std::string known(std::optional<double> value, const char* pattern, std::size_t width) {
  if (!value) return "";
  std::string text = format(pattern, *value);
  for (int decimals = 2; text.size() > width && decimals >= 0; --decimals) {
    char fewer[16];
    std::snprintf(fewer, sizeof fewer, "%%%zu.%df", width, decimals);
    text = format(fewer, *value);
  }
  return text.size() <= width ? text : "";
}

std::string wid2_line(const common::Trace& t, const char* data_format) {
  std::string line(105, ' ');
  const common::Calendar& s = t.start;
  place(line, 1, "WID2");
  place(line, 6, format("%04lld/%02d/%02d", static_cast<long long>(s.year), s.month, s.day));
  place(line, 17, format("%02d:%02d:%02d.%03d", s.hour, s.minute, s.second, s.millisecond));
  place(line, 30, word(t.sta));
  place(line, 36, word(t.chan));
  place(line, 45, data_format);
  place(line, 49, format("%8lld", static_cast<long long>(t.samples.size())));
  place(line, 58, format("%11.6f", t.samprate));
  place(line, 70, format("%10.2e", static_cast<double>(t.calib)));
  place(line, 81, format("%7.3f", static_cast<double>(t.calper)));
  place(line, 89, instrument(t.instype));
  std::string hang = known(t.placement.hang, "%5.1f", 5);
  std::string vang = known(t.placement.vang, "%4.1f", 4);
  place(line, 96, hang.empty() ? " -1.0" : hang);
  place(line, 102, vang.empty() ? "-1.0" : vang);
  return line;
}

// Network (blank when unknown), coordinates (WGS-84 when both are known), elevation and
// emplacement depth in km; what is unknown is blank, but for one of elevation and depth when the
// other is known.
std::string sta2_line(const common::Trace& t) {
  const common::Placement& p = t.placement;
  std::string line(60, ' ');
  place(line, 1, "STA2");
  place(line, 6, t.net);
  place(line, 16, known(p.latitude, "%9.5f", 9));
  place(line, 26, known(p.longitude, "%10.5f", 10));
  if (p.latitude && p.longitude) place(line, 37, "WGS-84");
  // Elevation and depth both or neither (a reader takes the numbers after column 48 as a
  // pair): the unknown one of the two is written as 0.
  std::string elevation = known(p.elevation, "%5.3f", 5), depth = known(p.depth, "%5.3f", 5);
  if (elevation.empty() != depth.empty()) {
    (elevation.empty() ? elevation : depth) = "0.000";
  }
  place(line, 50, elevation);
  place(line, 56, depth);
  return line;
}

// Formats `count` samples in pieces of `chunk` straight into the sink's buffer where it offers
// one (else into a buffer of its own): format(begin, end, out) writes the characters of samples
// begin..end-1 at `out`, at most `room` bytes, and returns their end.
template <typename Format>
bool write_in_pieces(std::size_t count, std::size_t chunk, std::size_t room, common::Sink& sink,
                     Format&& format) {
  std::unique_ptr<char[]> own;
  for (std::size_t begin = 0; begin < count; begin += chunk) {
    char* start = sink.reserve(room);
    if (!start) {
      if (!own) own.reset(new char[room]);
      start = own.get();
    }
    char* stop = format(begin, std::min(count, begin + chunk), start);
    std::size_t used = static_cast<std::size_t>(stop - start);
    if (start != own.get()) {
      sink.commit(used);
    } else if (!sink.put_bytes(std::string_view(start, used))) {
      return false;
    }
  }
  return true;
}

// CM6 characters in lines of 80, the checksum of the samples in the same pass.
bool write_cm6(std::span<const std::int32_t> samples, common::Sink& sink,
               std::int64_t& checksum_value) {
  constexpr std::size_t kChunk = 16384;
  constexpr std::size_t kRoom = kChunk * kCm6MaxChars * 81 / 80 + 16;
  Checksum checksum;
  std::size_t column = 0;
  const bool small = cm6_small(samples);
  bool written = write_in_pieces(
      samples.size(), kChunk, kRoom, sink, [&](std::size_t begin, std::size_t end, char* out) {
        out = encode_cm6_lines(samples, begin, end, out, column, checksum, small);
        if (end == samples.size() && column > 0) *out++ = '\n';
        return out;
      });
  checksum_value = checksum.value();
  return written;
}

// The number of decimal digits of `u`.
inline std::size_t decimal_digits(std::uint32_t u) {
  static constexpr std::uint32_t kPowers[] = {0,      10,      100,      1000,      10000,
                                              100000, 1000000, 10000000, 100000000, 1000000000};
  const int t = ((32 - __builtin_clz(u | 1)) * 1233) >> 12;
  return static_cast<std::size_t>(t - (u < kPowers[t]) + 1);
}

// The `n` decimal digits of `u` ending at `end`, written backwards two at a time.
inline void put_digits(char* end, std::uint32_t u) {
  static constexpr char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  while (u >= 100) {
    const std::uint32_t pair = u % 100;
    u /= 100;
    end -= 2;
    std::memcpy(end, kPairs + 2 * pair, 2);
  }
  if (u >= 10) {
    std::memcpy(end - 2, kPairs + 2 * u, 2);
  } else {
    end[-1] = static_cast<char>('0' + u);
  }
}

// The samples in decimal, one blank between them, lines of at most 80 characters ended by LF;
// their checksum in the same pass.
bool write_int(std::span<const std::int32_t> samples, common::Sink& sink,
               std::int64_t& checksum_value) {
  constexpr std::size_t kChunk = 16384;
  constexpr std::size_t kRoom = kChunk * 12 + 16;  // a sign, ten digits and a blank or LF each
  Checksum checksum;
  std::size_t column = 0;
  bool written = write_in_pieces(
      samples.size(), kChunk, kRoom, sink, [&](std::size_t begin, std::size_t end, char* out) {
        for (std::size_t i = begin; i < end; ++i) {
          const std::int32_t v = samples[i];
          checksum.add(v);
          const std::uint32_t u =
              v < 0 ? 0u - static_cast<std::uint32_t>(v) : static_cast<std::uint32_t>(v);
          const std::size_t n = decimal_digits(u) + (v < 0);
          if (column > 0) {
            const bool fits = column + 1 + n <= kDataLine;
            *out++ = fits ? ' ' : '\n';
            column = fits ? column + 1 : 0;
          }
          *out = '-';  // overwritten by the first digit when there is no sign
          put_digits(out + n, u);
          out += n;
          column += n;
        }
        if (end == samples.size() && column > 0) *out++ = '\n';
        return out;
      });
  checksum_value = checksum.value();
  return written;
}

// Bare GSE2.0 blocks with CM6 or INT data.
class Gse2Writer : public Writer {
 public:
  explicit Gse2Writer(bool cm6) : cm6_(cm6) {}
  SampleLimit sample_limit() const override { return kInt32Limit; }
  std::optional<std::string> refusal(const common::Trace& trace) const override {
    if (auto why = wid2_refusal(trace)) return why;
    if (!cm6_) return std::nullopt;
    if (auto large = cm6_too_large(trace.samples)) {
      // Counted from the record's first sample, as every refusal counts them.
      return "sample " +
             std::to_string(static_cast<std::int64_t>(large->first) + trace.first_sample) +
             ": second difference " + std::to_string(large->second) + " is too large for CM6";
    }
    return std::nullopt;
  }
  bool samples_fit(std::span<const std::int32_t> samples) const override {
    return !cm6_ || !cm6_too_large(samples);
  }
  std::optional<double> calib_loss(double calib) const override {
    std::string text = format("%10.2e", calib);
    double shown = std::strtod(text.c_str(), nullptr);
    if (text.size() > 10 || calib == 0 || shown == 0 || !std::isfinite(shown)) return std::nullopt;
    return std::fabs(shown - calib) / std::fabs(calib);
  }
  bool start_file(common::Sink&, std::string_view) override { return true; }
  BlockResult write_block(const common::Trace& trace, common::Sink& sink) override {
    BlockResult result{false, 0};
    std::string head =
        wid2_line(trace, cm6_ ? "CM6" : "INT") + "\n" + sta2_line(trace) + "\nDAT2\n";
    if (!sink.put_bytes(head)) return result;
    std::int64_t checksum = 0;
    if (cm6_ ? !write_cm6(trace.samples, sink, checksum)
             : !write_int(trace.samples, sink, checksum)) {
      return result;
    }
    if (!sink.put_bytes(format("CHK2 %8lld\n", static_cast<long long>(checksum)))) return result;
    result.written = true;
    return result;
  }
  bool end_file(common::Sink&) override { return true; }

 private:
  bool cm6_;
};

}  // namespace

std::string message_id(std::string_view name) {
  constexpr std::size_t kLongest = 20, kKept = 9, kHashDigits = 10;
  std::size_t dot = name.rfind('.');
  std::string_view base =
      name.substr(0, dot == std::string_view::npos || dot == 0 ? name.size() : dot);
  std::string id;
  bool changed = false;
  for (char c : base) {
    bool shown = c > ' ' && c < 0x7f;
    id.push_back(shown ? c : '_');
    changed = changed || !shown;
  }
  if (id.size() <= kLongest && !changed && !id.empty()) return id;
  std::uint64_t hash = 0xcbf29ce484222325ULL;  // FNV-1a of the whole base
  for (unsigned char c : base) hash = (hash ^ c) * 0x100000001b3ULL;
  id.resize(std::min(id.size(), kKept));
  id.push_back('_');
  for (std::size_t i = 0; i < kHashDigits; ++i, hash /= 36) {
    id.push_back("0123456789abcdefghijklmnopqrstuvwxyz"[hash % 36]);
  }
  return id;
}

namespace {

// One IMS2.0 data message of CM6 blocks, identified by the output's name.
class ImsWriter : public Gse2Writer {
 public:
  ImsWriter() : Gse2Writer(true) {}
  bool start_file(common::Sink& sink, std::string_view name) override {
    return sink.put_bytes(data_message_head("IMS2.0", message_id(name)) +
                          waveform_section("IMS2.0", "CM6"));
  }
  bool end_file(common::Sink& sink) override { return sink.put_bytes(kMessageEnd); }
};

}  // namespace

std::unique_ptr<Writer> make_cm6_writer(const WriterOptions&) {
  return std::make_unique<Gse2Writer>(true);
}
std::unique_ptr<Writer> make_int_writer(const WriterOptions&) {
  return std::make_unique<Gse2Writer>(false);
}
std::unique_ptr<Writer> make_ims_writer(const WriterOptions&) {
  return std::make_unique<ImsWriter>();
}

}  // namespace wavconv::gse
