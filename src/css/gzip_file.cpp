#include "css/gzip_file.h"

#include <algorithm>
#include <cstring>

#include "common/platform.h"

namespace wavconv::css {
namespace {

constexpr std::size_t kWindow = 32768;  // the most a deflate stream refers back
constexpr std::size_t kInput = 65536;

}  // namespace

GzipFile::GzipFile(common::FileHandle file, std::int64_t spacing)
    : file_(std::move(file)),
      spacing_(spacing),
      input_(new unsigned char[kInput]),
      window_(new unsigned char[kWindow]) {}

GzipFile::~GzipFile() {
  if (open_) inflateEnd(&stream_);
}

bool GzipFile::is_gzip() {
  unsigned char magic[2];
  return common::platform::read_at(file_.get(), magic, 2, 0) == 2 && magic[0] == 0x1f &&
         magic[1] == 0x8b;
}

bool GzipFile::restart(const Point* point) {
  if (open_) inflateEnd(&stream_);
  stream_ = z_stream{};
  open_ = false;
  ended_ = false;
  window_at_ = 0;
  valid_ = 0;
  if (!point) {
    if (inflateInit2(&stream_, 15 + 32) != Z_OK) return !(damaged_ = true);
    raw_ = false;
    in_ = 0;
    out_ = 0;
  } else {
    if (inflateInit2(&stream_, -15) != Z_OK) return !(damaged_ = true);
    raw_ = true;
    in_ = point->in;
    out_ = point->out;
    if (point->bits > 0) {
      unsigned char byte;
      if (common::platform::read_at(file_.get(), &byte, 1, point->in - 1) != 1) {
        inflateEnd(&stream_);
        return !(damaged_ = true);
      }
      inflatePrime(&stream_, point->bits, byte >> (8 - point->bits));
    }
    inflateSetDictionary(&stream_, point->window.get(), kWindow);
    std::memcpy(window_.get(), point->window.get(), kWindow);
    valid_ = static_cast<std::size_t>(std::min<std::int64_t>(point->out, kWindow));
  }
  open_ = true;
  return true;
}

bool GzipFile::fill_input(std::size_t wanted) {
  // What is left moves to the front; more is read after it.
  if (stream_.avail_in > 0 && stream_.next_in != input_.get()) {
    std::memmove(input_.get(), stream_.next_in, stream_.avail_in);
  }
  stream_.next_in = input_.get();
  while (stream_.avail_in < wanted) {
    long long got = common::platform::read_at(file_.get(), input_.get() + stream_.avail_in,
                                              kInput - stream_.avail_in, in_);
    if (got < 0) damaged_ = true;
    if (got <= 0) return false;
    stream_.avail_in += static_cast<unsigned>(got);
    in_ += got;
  }
  return true;
}

void GzipFile::next_member() {
  if (raw_) {
    // A raw stream ends before its member's trailer (the check value and length).
    if (!fill_input(8)) return void(damaged_ = true);
    stream_.next_in += 8;
    stream_.avail_in -= 8;
  }
  // Another member follows, or the data ends (anything after the last member is not data).
  if (!fill_input(2) || stream_.next_in[0] != 0x1f || stream_.next_in[1] != 0x8b) {
    ended_ = !damaged_;
    return;
  }
  raw_ = false;
  if (inflateReset2(&stream_, 15 + 16) != Z_OK) damaged_ = true;
}

void GzipFile::add_point() {
  if (static_cast<int>(points_.size()) == kMaxPoints) {
    // Every other point goes, and the spacing doubles.
    std::size_t kept = 0;
    for (std::size_t i = 1; i < points_.size(); i += 2) points_[kept++] = std::move(points_[i]);
    points_.resize(kept);
    spacing_ *= 2;
  }
  Point point;
  point.out = out_;
  point.in = in_ - stream_.avail_in;
  point.bits = stream_.data_type & 7;
  point.window.reset(new unsigned char[kWindow]);
  // Oldest byte first: from where the next byte goes to the end, then the start.
  std::memcpy(point.window.get(), window_.get() + window_at_, kWindow - window_at_);
  std::memcpy(point.window.get() + (kWindow - window_at_), window_.get(), window_at_);
  points_.push_back(std::move(point));
}

std::size_t GzipFile::inflate_more() {
  while (!ended_ && !damaged_) {
    if (stream_.avail_in == 0 && !fill_input(1)) {
      damaged_ = true;  // the data stops inside a member
      return 0;
    }
    stream_.next_out = window_.get() + window_at_;
    stream_.avail_out = static_cast<unsigned>(kWindow - window_at_);
    int result = inflate(&stream_, Z_BLOCK);
    const std::size_t made = kWindow - window_at_ - stream_.avail_out;
    if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
      damaged_ = true;
      return 0;
    }
    out_ += static_cast<std::int64_t>(made);
    inflated_ += static_cast<std::int64_t>(made);
    furthest_ = std::max(furthest_, out_);
    window_at_ = (window_at_ + made) % kWindow;
    valid_ = std::min(valid_ + made, kWindow);
    if (result == Z_STREAM_END) {
      next_member();
    } else if ((stream_.data_type & 128) && !(stream_.data_type & 64) &&
               out_ - (points_.empty() ? 0 : points_.back().out) >= spacing_) {
      add_point();
    }
    if (made > 0) return made;
  }
  return 0;
}

std::size_t GzipFile::read(std::int64_t position, unsigned char* data, std::size_t size) {
  if (damaged_ || position < 0) return 0;
  // The access point nearest before `position`.
  auto after = std::upper_bound(points_.begin(), points_.end(), position,
                                [](std::int64_t p, const Point& point) { return p < point.out; });
  const Point* nearest = after == points_.begin() ? nullptr : &*(after - 1);
  const bool in_window =
      open_ && position < out_ && out_ - position <= static_cast<std::int64_t>(valid_);
  if (!in_window && (!open_ || position < out_ || (nearest && nearest->out > out_))) {
    if (!restart(nearest)) return 0;
  }
  std::size_t done = 0;
  if (position < out_) {
    // The bytes are among the last inflated.
    std::size_t back = static_cast<std::size_t>(out_ - position);
    std::size_t start = (window_at_ + kWindow - back) % kWindow;
    while (done < size && done < back) {
      std::size_t n = std::min({size - done, back - done, kWindow - start});
      std::memcpy(data + done, window_.get() + start, n);
      done += n;
      start = (start + n) % kWindow;
    }
  }
  while (done < size) {
    const std::int64_t before = out_;
    const std::size_t at = window_at_;
    const std::size_t made = inflate_more();
    if (made == 0) break;
    const std::int64_t wanted = position + static_cast<std::int64_t>(done);
    if (before + static_cast<std::int64_t>(made) <= wanted) continue;
    const std::size_t skip = static_cast<std::size_t>(wanted - before);
    const std::size_t n = std::min(made - skip, size - done);
    std::memcpy(data + done, window_.get() + at + skip, n);
    done += n;
  }
  return done;
}

void GzipFile::idle() {
  if (!file_.valid()) return;
  // Input read but not inflated is read again on resume.
  in_ -= stream_.avail_in;
  stream_.avail_in = 0;
  stream_.next_in = nullptr;
  input_.reset();
  file_.close();
  if (points_.size() > kIdlePoints) {
    points_.erase(points_.begin(), points_.end() - static_cast<std::ptrdiff_t>(kIdlePoints));
  }
}

void GzipFile::resume(common::FileHandle file) {
  if (file_.valid()) return;
  file_ = std::move(file);
  input_.reset(new unsigned char[kInput]);
}

std::shared_ptr<GzipFile> GzipStreams::get(const std::string& path, common::FileHandle& file) {
  std::shared_ptr<GzipFile> found;
  for (auto it = kept_.begin(); it != kept_.end(); ++it) {
    if (it->path != path) continue;
    if (!it->file->damaged()) found = std::move(it->file);
    kept_.erase(it);
    break;
  }
  if (found) {
    found->resume(std::move(file));
  } else {
    found = std::make_shared<GzipFile>(std::move(file));
  }
  kept_.push_back({path, found});
  // The ones used longest ago let go of their files, then go.
  if (kept_.size() > kOpen) kept_[kept_.size() - kOpen - 1].file->idle();
  if (kept_.size() > kOpen + kKept) kept_.erase(kept_.begin());
  return found;
}

}  // namespace wavconv::css
