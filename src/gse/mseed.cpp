// miniSEED 2.4 records, packed by libmseed: Steim-2, Steim-1 or 32-bit integers for counts,
// 32- and 64-bit IEEE floats for float records, big-endian, one stream of records a trace.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "common/text.h"
#include "gse/writer.h"

#ifdef WAVCONV_MSEED
#include <libmseed.h>

#include <mutex>
#include <vector>
#endif

namespace wavconv::gse {
namespace {

// A fixed section of data header starts as six digits of sequence number (blanks and NULs are
// met too), a quality code and a blank.
bool holds_mseed(std::string_view head) {
  if (head.size() < 8) return false;
  for (std::size_t i = 0; i < 6; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(head[i])) && head[i] != ' ' && head[i] != '\0') {
      return false;
    }
  }
  return std::strchr("DRQM", head[6]) != nullptr && head[6] != '\0' &&
         (head[7] == ' ' || head[7] == '\0');
}

}  // namespace

extern const common::FileKind kMseedFile = {"miniSEED", 8, holds_mseed};

#ifdef WAVCONV_MSEED
namespace {

constexpr std::int64_t kSteim2Lowest = -(std::int64_t{1} << 29);
constexpr std::int64_t kSteim2Highest = (std::int64_t{1} << 29) - 1;

// The first sample whose difference from the one before is beyond [lowest, highest] (a trace's
// first sample is written whole, whatever its value).
std::optional<std::size_t> difference_beyond(std::span<const std::int32_t> samples,
                                             std::int64_t lowest, std::int64_t highest) {
  for (std::size_t i = 1; i < samples.size(); ++i) {
    const std::int64_t difference = std::int64_t{samples[i]} - samples[i - 1];
    if (difference < lowest || difference > highest) return i;
  }
  return std::nullopt;
}

// Why a code cannot be written in a field of `longest` characters; nothing when it can.
std::optional<std::string> code_refusal(const char* what, std::string_view code,
                                        std::size_t longest) {
  if (code.size() > longest) {
    return std::string(what) + " " + common::printable(std::string(code)) + " is longer than " +
           std::to_string(longest) + " characters (miniSEED holds " + std::to_string(longest) + ")";
  }
  for (unsigned char c : code) {
    if (c <= ' ' || c >= 0x7f) {
      return std::string(what) + " " + common::printable(std::string(code)) +
             " holds a character miniSEED does not";
    }
  }
  return std::nullopt;
}

// libmseed's messages are not the program's: its failures are said by the writer's callers.
void quiet(char*) {}

class MseedWriter : public Writer {
 public:
  explicit MseedWriter(const WriterOptions& options)
      : record_length_(options.record_length > 0 ? options.record_length : 4096) {
    if (options.encoding == "steim1") encoding_ = DE_STEIM1;
    if (options.encoding == "int32") encoding_ = DE_INT32;
    static std::once_flag silenced;
    std::call_once(silenced, [] { ms_loginit(quiet, nullptr, quiet, nullptr); });
  }

  SampleLimit sample_limit() const override { return kInt32Limit; }
  bool takes_reals() const override { return true; }

  std::optional<std::string> refusal(const common::Trace& t) const override {
    const std::string_view sta = common::cut_at_blank(t.sta), chan = common::cut_at_blank(t.chan);
    for (const auto& [what, code, longest] :
         {std::tuple{"station", sta, 5}, std::tuple{"channel", chan, 3},
          std::tuple{"network", std::string_view(t.net), 2},
          std::tuple{"location", std::string_view(t.loc), 2}}) {
      if (auto why = code_refusal(what, code, static_cast<std::size_t>(longest))) return why;
    }
    if (!(t.samprate > 0) || !(t.samprate < 1e9)) {
      return "samprate " + std::to_string(t.samprate) + " cannot be written in miniSEED";
    }
    if (t.start.year < 1 || t.start.year > 9999) {
      return "the start year " + std::to_string(t.start.year) + " cannot be written in miniSEED";
    }
    if (t.count() == 0) return "no samples: a miniSEED record holds at least one";
    if (t.reals.empty()) {
      if (auto at = beyond(t.samples)) {
        return "sample " + std::to_string(static_cast<std::int64_t>(*at) + t.first_sample) +
               ": its difference from the one before is too large for " +
               (encoding_ == DE_STEIM2 ? "Steim-2 (--encoding steim1 or int32 keeps it)"
                                       : "Steim-1 (--encoding int32 keeps it)");
      }
    }
    return std::nullopt;
  }
  bool samples_fit(std::span<const std::int32_t> samples) const override {
    return !beyond(samples);
  }
  // miniSEED has no calib field: nothing of it is written, nothing lost.
  std::optional<double> calib_loss(double) const override { return 0.0; }

  bool start_file(common::Sink&, std::string_view) override {
    sequence_ = 1;
    return true;
  }

  BlockResult write_block(const common::Trace& t, common::Sink& sink) override {
    BlockResult result{false, 0};
    std::unique_ptr<MSRecord, void (*)(MSRecord*)> msr(msr_init(nullptr), [](MSRecord* m) {
      m->datasamples = nullptr;  // the trace's, not libmseed's to free
      msr_free(&m);
    });
    if (!msr) return result;
    // The codes fit (refusal() says so); a field holds 10 characters at the most in any case.
    auto copy = [](char* field, std::string_view text) {
      const std::size_t n = std::min<std::size_t>(text.size(), 10);
      std::memcpy(field, text.data(), n);
      field[n] = '\0';
    };
    copy(msr->network, t.net);
    copy(msr->station, common::cut_at_blank(t.sta));
    copy(msr->location, t.loc);
    copy(msr->channel, common::cut_at_blank(t.chan));
    msr->dataquality = 'D';
    msr->starttime = t.start_us;
    msr->samprate = t.samprate;
    msr->reclen = record_length_;
    msr->byteorder = 1;
    msr->sequence_number = sequence_;
    // Blockette 1001 carries each record's start to the microsecond (the fixed header holds
    // tenths of milliseconds); libmseed fills it in as it packs.
    blkt_1001_s microseconds{};
    if (!msr_addblockette(msr.get(), reinterpret_cast<char*>(&microseconds), sizeof microseconds,
                          1001, 0)) {
      return result;
    }
    std::vector<float> floats;
    if (!t.reals.empty() && t.real_width == 4) {
      // Each value came from 4 bytes: the float holds it exactly.
      floats.assign(t.reals.begin(), t.reals.end());
      msr->datasamples = floats.data();
      msr->sampletype = 'f';
      msr->encoding = DE_FLOAT32;
    } else if (!t.reals.empty()) {
      msr->datasamples = const_cast<double*>(t.reals.data());
      msr->sampletype = 'd';
      msr->encoding = DE_FLOAT64;
    } else {
      msr->datasamples = const_cast<std::int32_t*>(t.samples.data());
      msr->sampletype = 'i';
      msr->encoding = encoding_;
    }
    msr->numsamples = static_cast<std::int64_t>(t.count());
    struct Out {
      common::Sink& sink;
      bool ok = true;
    } out{sink};
    auto handler = [](char* record, int length, void* data) {
      Out& to = *static_cast<Out*>(data);
      to.ok = to.ok && to.sink.put_bytes({record, static_cast<std::size_t>(length)});
    };
    std::int64_t packed = 0;
    const int records = msr_pack(msr.get(), handler, &out, &packed, 1, 0);
    sequence_ = msr->sequence_number;
    result.written = records >= 0 && out.ok && packed == msr->numsamples;
    return result;
  }

  bool end_file(common::Sink&) override { return true; }

 private:
  std::optional<std::size_t> beyond(std::span<const std::int32_t> samples) const {
    if (encoding_ == DE_STEIM2) return difference_beyond(samples, kSteim2Lowest, kSteim2Highest);
    if (encoding_ == DE_STEIM1) return difference_beyond(samples, INT32_MIN, INT32_MAX);
    return std::nullopt;
  }

  int record_length_;
  std::int8_t encoding_ = DE_STEIM2;
  std::int32_t sequence_ = 1;
};

}  // namespace

std::unique_ptr<Writer> make_mseed_writer(const WriterOptions& options) {
  return std::make_unique<MseedWriter>(options);
}
#endif

}  // namespace wavconv::gse
