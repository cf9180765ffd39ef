#include "css/record_samples.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "common/platform.h"
#include "css/packed.h"

namespace wavconv::css {
namespace {

constexpr double kLowest = -9'999'999;  // the widest values of an 8-column field
constexpr double kHighest = 99'999'999;

std::string number_text(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", value);
  return text;
}

Refusal system_refusal(const std::string& path, int error, const char* what) {
  return {"sample file " + path + " " + what + ": " + std::strerror(error), error, path};
}

// The bytes of a gzip stream from where it stands to its end; -1 when the data is damaged.
std::int64_t remaining_bytes(gzFile gz) {
  std::vector<char> scratch(1 << 16);
  std::int64_t total = 0;
  while (true) {
    int got = gzread(gz, scratch.data(), static_cast<unsigned>(scratch.size()));
    if (got < 0) return -1;
    if (got == 0) break;
    total += got;
  }
  int error = Z_OK;
  gzerror(gz, &error);
  return error == Z_OK ? total : -1;
}

// The least and the greatest of the samples (both 0 when there are none). Compiled for AVX2 too
// and chosen when the program starts: the portable instruction set has no 32-bit minimum.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(_WIN32)
__attribute__((target_clones("avx2", "default")))
#endif
std::pair<std::int32_t, std::int32_t>
extremes(const std::int32_t* values, std::size_t count) {
  std::int32_t low = 0, high = 0;
  for (std::size_t i = 0; i < count; ++i) {
    low = std::min(low, values[i]);
    high = std::max(high, values[i]);
  }
  return {low, high};
}

}  // namespace

std::variant<RecordSampleFile, Refusal> RecordSampleFile::open(const SampleSource& source) {
  common::FileHandle file = common::open_for_reading(source.path);
  if (!file.valid()) return system_refusal(source.path, errno, "cannot be opened");
  const std::string code = datatype_code(source.datatype);
  std::optional<Datatype> type = datatype_from_code(code);
  if (!type) return Refusal{"datatype " + code + " is not supported"};
  struct stat info;
  if (::fstat(file.get(), &info) != 0)
    return system_refusal(source.path, errno, "cannot be opened");
  if (!S_ISREG(info.st_mode)) return Refusal{"sample file " + source.path + " is no regular file"};
  std::int64_t size = info.st_size;
  std::unique_ptr<gzFile_s, GzClose> gz;
  if (source.gzip) {
    gz.reset(gzdopen(file.release(), "rb"));
    if (!gz) return Refusal{"sample file " + source.path + " cannot be read as gzip data"};
    gzbuffer(gz.get(), 1 << 17);
    size = remaining_bytes(gz.get());
    if (size < 0 || gzdirect(gz.get()) || gzrewind(gz.get()) != 0) {
      return Refusal{"sample file " + source.path + " holds damaged gzip data"};
    }
  }
  const auto w = static_cast<std::int64_t>(width(*type));
  if (w == 0) {
    // Packed samples: their count cannot be known from the data's size.
    if (source.nsamp <= 0) return Refusal{"nsamp must be given for " + code};
    if (size < source.foff) {
      return Refusal{"sample file " + source.path + " holds " + std::to_string(size) +
                     " bytes, fewer than foff = " + std::to_string(source.foff)};
    }
    RecordSampleFile opened(source, *type, std::move(file), std::move(gz));
    opened.nsamp_ = source.nsamp;
    return opened;
  }
  // A count or offset this large could not be stored; it is taken as more than the file holds.
  bool fits = source.nsamp <= 0 || source.nsamp <= (INT64_MAX - source.foff) / w;
  std::int64_t needed = source.foff + (source.nsamp > 0 && fits ? source.nsamp * w : 0);
  if (!fits || size < needed) {
    return Refusal{"sample file " + source.path + " holds " + std::to_string(size) +
                   " bytes, fewer than foff + nsamp x " + std::to_string(w) + " = " +
                   (fits ? std::to_string(needed) : "more")};
  }
  RecordSampleFile opened(source, *type, std::move(file), std::move(gz));
  opened.nsamp_ = source.nsamp > 0 ? source.nsamp : (size - source.foff) / w;
  return opened;
}

std::size_t RecordSampleFile::read_bytes(std::int64_t position, unsigned char* data,
                                         std::size_t size) {
  std::size_t done = 0;
  if (gz_) {
    if (gzseek(gz_.get(), position, SEEK_SET) != position) return 0;
    while (done < size) {
      unsigned chunk = static_cast<unsigned>(std::min<std::size_t>(size - done, 1u << 30));
      int got = gzread(gz_.get(), data + done, chunk);
      if (got <= 0) break;
      done += static_cast<std::size_t>(got);
    }
    return done;
  }
  while (done < size) {
    long long got = common::platform::read_at(file_.get(), data + done, size - done,
                                              position + static_cast<std::int64_t>(done));
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

std::variant<Samples, Refusal> RecordSampleFile::read_packed(std::int64_t first,
                                                             std::int64_t count) {
  // Every one of the nsamp samples is decoded, so that damage after the window refuses too.
  Samples samples;
  try {
    samples = allocate_samples(count, 4 * static_cast<std::size_t>(nsamp_));
  } catch (const std::bad_alloc&) {
    return Refusal{"not enough memory for " + std::to_string(nsamp_) + " samples"};
  }
  ByteReader reader = [this](std::int64_t position, unsigned char* out, std::size_t size) {
    return read_bytes(source_.foff + position, out, size);
  };
  std::int32_t* out = samples.values.get();
  std::optional<DecodeFault> fault =
      type_ == Datatype::e1 ? decode_e1(reader, nsamp_, out) : decode_c0(reader, nsamp_, out);
  if (fault) {
    const char* where = type_ == Datatype::e1 ? " block at byte " : " text at byte ";
    return Refusal{datatype_code(source_.datatype) + where +
                   std::to_string(source_.foff + fault->offset) + ": " + fault->fault};
  }
  std::copy(out + (first - 1), out + (first - 1 + count), out);
  for (std::int64_t i = 0; i < count; ++i) {
    if (out[i] < kLowest || out[i] > kHighest) {
      return Refusal{"sample " + std::to_string(first + i) + " is " + std::to_string(out[i]) +
                     ", too wide for 8 columns"};
    }
  }
  return samples;
}

std::variant<Samples, Refusal> RecordSampleFile::read(std::int64_t first, std::int64_t count,
                                                      bool round, Rounding& rounding) {
  const std::size_t w = width(type_);
  if (w == 0) return read_packed(first, count);
  const std::size_t n = static_cast<std::size_t>(count);
  // The raw bytes go to the end of the storage, so that decoding front to back into 32-bit
  // values never overtakes them.
  const std::size_t slot = std::max<std::size_t>(w, 4);
  Samples samples;
  try {
    samples = allocate_samples(count, slot * n);
  } catch (const std::bad_alloc&) {
    return Refusal{"not enough memory for " + std::to_string(count) + " samples"};
  }
  auto* raw = reinterpret_cast<unsigned char*>(samples.values.get()) + (slot - w) * n;
  if (read_bytes(source_.foff + (first - 1) * static_cast<std::int64_t>(w), raw, w * n) != w * n) {
    return Refusal{"sample file " + source_.path + " cannot be read"};
  }
  std::int32_t* out = samples.values.get();
  auto too_wide = [&](std::size_t i, double v) {
    return Refusal{"sample " + std::to_string(first + static_cast<std::int64_t>(i)) + " is " +
                   number_text(v) + ", too wide for 8 columns"};
  };
  if (!is_float(type_)) {
    decode_integers(type_, raw, n, out);
    // The extremes first, the offending sample only when there is one.
    auto [low, high] = extremes(out, n);
    if (low < kLowest || high > kHighest) {
      for (std::size_t i = 0; i < n; ++i) {
        if (out[i] < kLowest || out[i] > kHighest) return too_wide(i, out[i]);
      }
    }
    return samples;
  }
  for (std::size_t i = 0; i < n; ++i) {
    double v = decode_float(type_, raw, i);
    std::string number = std::to_string(first + static_cast<std::int64_t>(i));
    if (!std::isfinite(v)) return Refusal{"sample " + number + " is not a finite number"};
    double whole = std::round(v);
    if (whole != v) {
      if (!round) return Refusal{"sample " + number + " is " + number_text(v) + ", not whole"};
      ++rounding.changed;
      rounding.largest = std::max(rounding.largest, std::fabs(whole - v));
    }
    if (whole < kLowest || whole > kHighest) return too_wide(i, whole);
    out[i] = static_cast<std::int32_t>(whole);
  }
  return samples;
}

}  // namespace wavconv::css
