#pragma once

#include <zlib.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/files.h"

namespace wavconv::css {

// A gzipped sample file read at any uncompressed offset, in any order. While it inflates it
// keeps access points (where a deflate block starts, with the 32 KiB that came before), so that
// a read behind the stream, or far ahead of it, inflates from the nearest point before it
// instead of from the start. At most kMaxPoints points are kept: when they would be more, every
// other one goes and the spacing doubles, so a file costs at most kMaxPoints x 32 KiB (2 MiB)
// and its buffers, whatever its size. Concatenated gzip members are read as one stream.
class GzipFile {
 public:
  static constexpr int kMaxPoints = 64;
  static constexpr std::int64_t kFirstSpacing = std::int64_t{4} << 20;

  // `spacing`: the uncompressed bytes between access points at first.
  explicit GzipFile(common::FileHandle file, std::int64_t spacing = kFirstSpacing);
  ~GzipFile();
  GzipFile(const GzipFile&) = delete;
  GzipFile& operator=(const GzipFile&) = delete;

  // Whether the file begins as gzip data does.
  bool is_gzip();
  // Up to `size` bytes from uncompressed byte `position`; fewer only at the end of the data, or
  // when it is damaged (then damaged()).
  std::size_t read(std::int64_t position, unsigned char* data, std::size_t size);
  bool damaged() const { return damaged_; }
  // The uncompressed bytes inflated so far, from the start of the furthest pass; all of them
  // when the end was reached.
  std::int64_t reached() const { return furthest_; }
  // Uncompressed bytes this object has inflated, over every pass (for tests and benchmarks).
  std::int64_t inflated() const { return inflated_; }
  // The access points kept now.
  std::size_t points() const { return points_.size(); }
  // Lets go of the file and the input buffer, keeping where the stream stands and at most
  // kIdlePoints points (the latest); resume() takes the file again.
  void idle();
  void resume(common::FileHandle file);
  bool idle_now() const { return !file_.valid(); }
  static constexpr std::size_t kIdlePoints = 4;

 private:
  struct Point {
    std::int64_t out;  // uncompressed offset
    std::int64_t in;   // compressed offset of the first whole byte after the point
    int bits;          // bits of the byte before `in` that belong to the block
    std::unique_ptr<unsigned char[]> window;
  };
  // Starts inflating again at `point`, or at the start of the file.
  bool restart(const Point* point);
  // Inflates more into the window; the number of bytes made (0 at the end or on damage).
  std::size_t inflate_more();
  void add_point();
  // At least `wanted` bytes of input at the stream's next_in (what is left moved to the front);
  // false at the end of the file or on a failed read.
  bool fill_input(std::size_t wanted);
  // After a member's end: the next one's header, or the end of the data.
  void next_member();

  common::FileHandle file_;
  z_stream stream_{};
  bool open_ = false;   // stream_ is initialised
  bool raw_ = false;    // inflating a raw deflate stream from an access point
  bool ended_ = false;  // the last member has ended
  bool damaged_ = false;
  std::int64_t in_ = 0;   // compressed offset of the next byte to read from the file
  std::int64_t out_ = 0;  // uncompressed offset of the next byte inflated
  std::int64_t furthest_ = 0;
  std::int64_t inflated_ = 0;
  std::int64_t spacing_;
  std::vector<Point> points_;  // by offset
  std::unique_ptr<unsigned char[]> input_;
  std::unique_ptr<unsigned char[]> window_;  // the last 32 KiB inflated, circular
  std::size_t window_at_ = 0;                // where the next byte goes in it
  std::size_t valid_ = 0;                    // how many of its bytes before window_at_ are data
};

// The gzipped files a run reads, so that records on several files, or behind one another, do
// not inflate their files again from the start: the kOpen used last are open; up to kKept more
// keep where they stand without their file (about 72 KiB and kIdlePoints points each, at most
// 200 KiB), so that records listed hour by hour over many files continue each file's stream.
class GzipStreams {
 public:
  static constexpr std::size_t kOpen = 8;
  static constexpr std::size_t kKept = 128;
  // The kept reader of `path` when it is undamaged; otherwise a new one on `file`, which it
  // takes.
  std::shared_ptr<GzipFile> get(const std::string& path, common::FileHandle& file);

 private:
  struct Kept {
    std::string path;
    std::shared_ptr<GzipFile> file;
  };
  std::vector<Kept> kept_;  // the one used last at the end
};

}  // namespace wavconv::css
