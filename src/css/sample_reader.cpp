#include "css/sample_reader.h"

#include <bit>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "common/platform.h"
#include "css/packed.h"

namespace wavconv::css {
namespace {

std::string number_text(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", value);
  return text;
}

Refusal system_refusal(const std::string& path, int error, const char* what, Failure failure) {
  return {"sample file " + path + " " + what + ": " + std::strerror(error), error, path, failure};
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

std::variant<SampleReader, Refusal> SampleReader::open(const SampleSource& source,
                                                       GzipStreams* streams) {
  common::FileHandle file = common::open_for_reading(source.path);
  if (!file.valid()) {
    return system_refusal(source.path, errno, "cannot be opened", Failure::kCannotOpen);
  }
  const std::string code = datatype_code(source.datatype);
  std::optional<Datatype> type = datatype_from_code(code);
  if (!type) return Refusal{"datatype " + code + " is not supported"};
  struct stat info;
  if (::fstat(file.get(), &info) != 0) {
    return system_refusal(source.path, errno, "cannot be opened", Failure::kCannotOpen);
  }
  if (!S_ISREG(info.st_mode)) {
    return Refusal{"sample file " + source.path + " is no regular file", 0, source.path,
                   Failure::kNotRegular};
  }
  std::shared_ptr<GzipFile> gz;
  if (source.gzip) {
    GzipStreams own;
    gz = (streams ? *streams : own).get(source.path, file);
    if (!gz->is_gzip()) return Refusal{"sample file " + source.path + " holds damaged gzip data"};
  }
  const std::int64_t size = info.st_size;  // of a plain file
  const auto w = static_cast<std::int64_t>(width(*type));
  SampleReader opened(source, *type, std::move(file), std::move(gz));
  if (w == 0) {
    // Packed samples: their count cannot be known from the data's size.
    if (source.nsamp <= 0) return Refusal{"nsamp must be given for " + code};
    std::int64_t held = size;
    if (opened.gz_ ? source.foff > 0 && !opened.reaches(source.foff - 1, held)
                   : size < source.foff) {
      if (opened.damaged_) return opened.damaged();
      return Refusal{"sample file " + source.path + " holds " + std::to_string(held) +
                     " bytes, fewer than foff = " + std::to_string(source.foff)};
    }
    opened.nsamp_ = source.nsamp;
    return opened;
  }
  // A count or offset this large could not be stored; it is taken as more than the file holds.
  bool fits = source.nsamp <= 0 || source.nsamp <= (INT64_MAX - source.foff) / w;
  if (!fits) return opened.too_short(size, false);
  if (opened.gz_) {
    // Inflated no further than needed: the length of a record that gives nsamp is checked when
    // its samples are read; without nsamp the stream is measured, up to one block's worth.
    const std::int64_t limit = source.foff + (kMaxSamples + 1) * w;
    std::int64_t held = 0;
    if (source.nsamp > 0 && source.nsamp <= kMaxSamples) {
      opened.nsamp_ = source.nsamp;
    } else if (opened.reaches(limit - 1, held)) {
      opened.nsamp_ = source.nsamp > 0 ? source.nsamp : kMaxSamples + 1;
    } else if (opened.damaged_) {
      return opened.damaged();
    } else if (held < source.foff + std::max<std::int64_t>(source.nsamp, 0) * w) {
      return opened.too_short(held, true);
    } else {
      opened.nsamp_ = source.nsamp > 0 ? source.nsamp : (held - source.foff) / w;
    }
    return opened;
  }
  std::int64_t needed = source.foff + (source.nsamp > 0 ? source.nsamp * w : 0);
  if (size < needed) return opened.too_short(size, true);
  opened.nsamp_ = source.nsamp > 0 ? source.nsamp : (size - source.foff) / w;
  return opened;
}

Refusal SampleReader::too_short(std::int64_t size, bool fits) const {
  const auto w = static_cast<std::int64_t>(width(type_));
  std::int64_t needed = source_.foff + (source_.nsamp > 0 && fits ? source_.nsamp * w : 0);
  return Refusal{"sample file " + source_.path + " holds " + std::to_string(size) +
                 " bytes, fewer than foff + nsamp x " + std::to_string(w) + " = " +
                 (fits ? std::to_string(needed) : "more")};
}

Refusal SampleReader::damaged() const {
  return Refusal{"sample file " + source_.path + " holds damaged gzip data"};
}

std::size_t SampleReader::read_bytes(std::int64_t position, unsigned char* data, std::size_t size) {
  std::size_t done = 0;
  if (gz_) {
    done = gz_->read(position, data, size);
    // The end of the data: a stream cut short or damaged is no end.
    damaged_ = damaged_ || gz_->damaged();
    return done;
  }
  while (done < size) {
    long long got = common::platform::read_at(file_.get(), data + done, size - done,
                                              position + static_cast<std::int64_t>(done));
    if (got < 0) read_error_ = errno;
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

bool SampleReader::reaches(std::int64_t position, std::int64_t& size) {
  // A byte the stream has passed exists; it need not be read again.
  if (gz_->reached() > position) return true;
  unsigned char byte;
  if (read_bytes(position, &byte, 1) == 1) return true;
  size = damaged_ ? 0 : gz_->reached();
  return false;
}

std::variant<Samples, Refusal> SampleReader::read_packed(std::int64_t first, std::int64_t count,
                                                         const common::SampleLimit& limit) {
  Samples samples;
  try {
    samples = allocate_samples(count, 4 * static_cast<std::size_t>(count));
  } catch (const std::bad_alloc&) {
    return no_memory(count);
  }
  ByteReader reader = [this](std::int64_t position, unsigned char* out, std::size_t size) {
    return read_bytes(source_.foff + position, out, size);
  };
  // Every one of the nsamp samples is decoded, so that damage after the window refuses too;
  // only the window's are kept.
  std::int32_t* out = samples.values.get();
  Kept kept{first - 1, count, out};
  std::optional<DecodeFault> fault =
      type_ == Datatype::e1 ? decode_e1(reader, nsamp_, kept) : decode_c0(reader, nsamp_, kept);
  if (damaged_) return damaged();
  if (fault) {
    const char* where = type_ == Datatype::e1 ? " block at byte " : " text at byte ";
    return Refusal{datatype_code(source_.datatype) + where +
                   std::to_string(source_.foff + fault->offset) + ": " + fault->fault};
  }
  for (std::int64_t i = 0; i < count; ++i) {
    if (out[i] < limit.lowest || out[i] > limit.highest) {
      return Refusal{"sample " + std::to_string(first + i) + " is " + std::to_string(out[i]) +
                     ", too wide for " + limit.what};
    }
  }
  return samples;
}

std::variant<Samples, Refusal> SampleReader::read(std::int64_t first, std::int64_t count,
                                                  bool round, Rounding& rounding,
                                                  const common::SampleLimit& limit) {
  const std::size_t w = width(type_);
  if (w == 0) return read_packed(first, count, limit);
  const std::size_t n = static_cast<std::size_t>(count);
  // The raw bytes go to the end of the storage, so that decoding front to back into 32-bit
  // values never overtakes them.
  const std::size_t slot = std::max<std::size_t>(w, 4);
  Samples samples;
  try {
    samples = allocate_samples(count, slot * n);
  } catch (const std::bad_alloc&) {
    return no_memory(count);
  }
  auto* raw = reinterpret_cast<unsigned char*>(samples.values.get()) + (slot - w) * n;
  if (auto refusal = read_window(first, n, raw)) return std::move(*refusal);
  std::int32_t* out = samples.values.get();
  auto too_wide = [&](std::size_t i, double v) {
    return Refusal{"sample " + std::to_string(first + static_cast<std::int64_t>(i)) + " is " +
                   number_text(v) + ", too wide for " + limit.what};
  };
  if (!is_float(type_)) {
    // Little-endian 4-byte samples on a little-endian host are already in place.
    if (!(type_ == Datatype::i4 && std::endian::native == std::endian::little)) {
      decode_integers(type_, raw, n, out);
    }
    if (limit.lowest <= INT32_MIN && limit.highest >= INT32_MAX) return samples;
    // The extremes first, the offending sample only when there is one.
    auto [low, high] = extremes(out, n);
    if (low < limit.lowest || high > limit.highest) {
      for (std::size_t i = 0; i < n; ++i) {
        if (out[i] < limit.lowest || out[i] > limit.highest) return too_wide(i, out[i]);
      }
    }
    return samples;
  }
  const double lowest = static_cast<double>(limit.lowest),
               highest = static_cast<double>(limit.highest);
  for (std::size_t i = 0; i < n; ++i) {
    double v = decode_float(type_, raw, i);
    std::string number = std::to_string(first + static_cast<std::int64_t>(i));
    if (!std::isfinite(v)) return Refusal{"sample " + number + " is not a finite number"};
    double whole = std::round(v);
    if (whole != v) {
      if (!round) {
        return Refusal{"sample " + number + " is " + number_text(v) +
                       ", not whole; /S scales, /F rounds"};
      }
      ++rounding.changed;
      rounding.largest = std::max(rounding.largest, std::fabs(whole - v));
    }
    if (whole < lowest || whole > highest) return too_wide(i, whole);
    out[i] = static_cast<std::int32_t>(whole);
  }
  return samples;
}

bool SampleReader::is_real() const { return is_float(type_); }

std::variant<std::vector<double>, Refusal> SampleReader::read_reals(std::int64_t first,
                                                                    std::int64_t count) {
  const std::size_t w = width(type_);
  const std::size_t n = static_cast<std::size_t>(count);
  std::vector<unsigned char> raw;
  std::vector<double> values;
  try {
    raw.resize(w * n);
    values.resize(n);
  } catch (const std::bad_alloc&) {
    return no_memory(count);
  }
  if (auto refusal = read_window(first, n, raw.data())) return std::move(*refusal);
  for (std::size_t i = 0; i < n; ++i) {
    values[i] = decode_float(type_, raw.data(), i);
    if (!std::isfinite(values[i])) {
      return Refusal{"sample " + std::to_string(first + static_cast<std::int64_t>(i)) +
                     " is not a finite number"};
    }
  }
  return values;
}

std::optional<Refusal> SampleReader::read_window(std::int64_t first, std::size_t n,
                                                 unsigned char* raw) {
  const std::size_t w = width(type_);
  std::size_t got =
      read_bytes(source_.foff + (first - 1) * static_cast<std::int64_t>(w), raw, w * n);
  if (got != w * n) return short_read(got, w * n);
  // A gzipped record that gives nsamp is checked to its last byte after its window is read, so
  // that the stream is inflated once.
  std::int64_t held = 0;
  if (gz_ && source_.nsamp > 0 &&
      !reaches(source_.foff + source_.nsamp * static_cast<std::int64_t>(w) - 1, held)) {
    return damaged_ ? damaged() : too_short(held, true);
  }
  return std::nullopt;
}

Refusal SampleReader::short_read(std::size_t got, std::size_t wanted) const {
  if (damaged_) return damaged();
  if (gz_) return too_short(gz_->reached(), true);
  std::string detail =
      read_error_ != 0
          ? "cannot be read: " + std::string(std::strerror(read_error_))
          : "ended after " + std::to_string(got) + " of " + std::to_string(wanted) + " bytes";
  Refusal refusal{"sample file " + source_.path + " " + detail, read_error_, source_.path,
                  Failure::kCannotRead};
  refusal.detail = std::move(detail);
  return refusal;
}

Refusal SampleReader::no_memory(std::int64_t count) const {
  return Refusal{"not enough memory for " + std::to_string(count) + " samples", 0, source_.path,
                 Failure::kNoMemory};
}

}  // namespace wavconv::css
