// Gzipped sample files read at any offset in any order: every byte as the plain file holds it,
// each far or backward read costing at most one spacing of inflation, members joined, damage
// seen, memory bounded, and several files kept apart.
#include "css/gzip_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

#include "test_support.h"

namespace wavconv::css {
namespace {

// Bytes that compress into many deflate blocks: a slow wave with noise.
std::string wave(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<char>((i / 97) % 50 + random() % 4);
  }
  return bytes;
}

std::string gzipped(const std::string& bytes, int level = 6) {
  return testing::deflated(bytes, 15 + 16, level, Z_FINISH);
}

// A small spacing keeps the tests quick; the rules are the same at any.
constexpr std::int64_t kSpacing = 256 << 10;

std::unique_ptr<GzipFile> open_gzip(const testing::TempDir& dir, const std::string& name,
                                    std::int64_t spacing = kSpacing) {
  return std::make_unique<GzipFile>(common::FileHandle(::open(dir.file(name).c_str(), O_RDONLY)),
                                    spacing);
}

std::string read(GzipFile& file, std::int64_t position, std::size_t size) {
  std::string bytes(size, '\0');
  bytes.resize(file.read(position, reinterpret_cast<unsigned char*>(bytes.data()), size));
  return bytes;
}

TEST(GzipFile, AnyOffsetInAnyOrderAtMostOneSpacingAway) {
  testing::TempDir dir;
  const std::string plain = wave(8 << 20, 1);
  dir.write("a.gz", gzipped(plain));
  auto file = open_gzip(dir, "a.gz");
  ASSERT_TRUE(file->is_gzip());
  // Through to the end once: the points are made on the way.
  EXPECT_EQ(read(*file, plain.size() - 10, 20), plain.substr(plain.size() - 10));
  EXPECT_EQ(file->reached(), static_cast<std::int64_t>(plain.size()));
  EXPECT_GE(file->points(), 8u);
  std::mt19937 random(7);
  for (int i = 0; i < 200; ++i) {
    std::int64_t position = random() % plain.size();
    std::size_t size = 1 + random() % 70000;
    SCOPED_TRACE(position);
    const std::int64_t before = file->inflated();
    EXPECT_EQ(read(*file, position, size), plain.substr(position, size));
    EXPECT_LE(file->inflated() - before, kSpacing + 2 * 131072 + static_cast<std::int64_t>(size));
  }
  // A byte just behind the stream comes from what it inflated last, without inflating.
  EXPECT_EQ(read(*file, 1000, 4000), plain.substr(1000, 4000));
  const std::int64_t before = file->inflated();
  EXPECT_EQ(read(*file, 3000, 10), plain.substr(3000, 10));
  EXPECT_EQ(file->inflated(), before);
}

TEST(GzipFile, MembersJoinedDamageSeenTrailingBytesIgnored) {
  testing::TempDir dir;
  const std::string one = wave(300000, 2), two = wave(200000, 3);
  dir.write("members.gz", gzipped(one) + gzipped(two, 1));
  auto members = open_gzip(dir, "members.gz");
  EXPECT_EQ(read(*members, 299990, 20), (one + two).substr(299990, 20));
  EXPECT_EQ(read(*members, 0, 600000), one + two);
  EXPECT_FALSE(members->damaged());
  std::string cut = gzipped(one);
  dir.write("cut.gz", cut.substr(0, cut.size() / 2));
  auto damaged = open_gzip(dir, "cut.gz");
  EXPECT_LT(read(*damaged, 0, one.size()).size(), one.size());
  EXPECT_TRUE(damaged->damaged());
  dir.write("garbage.gz", gzipped(one) + std::string(100, '\0'));
  auto garbage = open_gzip(dir, "garbage.gz");
  EXPECT_EQ(read(*garbage, 0, one.size() + 10), one);
  EXPECT_FALSE(garbage->damaged());
  dir.write("plain.gz", one);
  EXPECT_FALSE(open_gzip(dir, "plain.gz")->is_gzip());
}

// However long the stream, the points stay within kMaxPoints: their spacing doubles.
TEST(GzipFile, PointsBoundedWhateverTheLength) {
  testing::TempDir dir;
  const std::string plain = wave(2 * GzipFile::kMaxPoints * (64 << 10) + 100000, 4);  // 8 MiB
  dir.write("long.gz", gzipped(plain, 1));
  auto file = open_gzip(dir, "long.gz", 64 << 10);
  EXPECT_EQ(read(*file, plain.size() - 5, 5), plain.substr(plain.size() - 5));
  EXPECT_LE(file->points(), static_cast<std::size_t>(GzipFile::kMaxPoints));
  EXPECT_GE(file->points(), static_cast<std::size_t>(GzipFile::kMaxPoints / 2));
  EXPECT_EQ(read(*file, 5 << 20, 100), plain.substr(5 << 20, 100));
}

// Records alternating between two gzipped files each read their own file's bytes, and neither
// file is inflated again from its start.
TEST(GzipStreams, FilesKeptApart) {
  testing::TempDir dir;
  const std::string a = wave(10 << 20, 5), b = wave(10 << 20, 6);  // the run's own spacing
  dir.write("a.gz", gzipped(a));
  dir.write("b.gz", gzipped(b));
  GzipStreams streams;
  std::int64_t inflated = 0;
  for (int round = 0; round < 4; ++round) {
    for (const auto& [name, plain] : {std::pair{"a.gz", &a}, std::pair{"b.gz", &b}}) {
      SCOPED_TRACE(name);
      common::FileHandle handle(::open(dir.file(name).c_str(), O_RDONLY));
      std::shared_ptr<GzipFile> file = streams.get(dir.file(name), handle);
      const std::int64_t before = file->inflated();
      const std::int64_t position = (3 - round) * (2 << 20);  // backward each round
      EXPECT_EQ(read(*file, position, 1000), plain->substr(position, 1000));
      inflated += file->inflated() - before;
    }
  }
  EXPECT_LE(inflated, 2 * (7 << 20) + 6 * GzipFile::kFirstSpacing + 16 * 131072);
}

// Records listed hour by hour over many files (more than are kept open) continue each file's
// stream where it stood: every file is inflated about once.
TEST(GzipStreams, ManyFilesInTurnEachInflatedOnce) {
  testing::TempDir dir;
  constexpr int kFiles = 3 * GzipStreams::kOpen;
  const std::string plain = wave(1 << 20, 8);
  const std::string packed = gzipped(plain);
  auto name = [](int f) { return std::string("c").append(std::to_string(f)).append(".gz"); };
  for (int f = 0; f < kFiles; ++f) dir.write(name(f), packed);
  GzipStreams streams;
  std::vector<std::shared_ptr<GzipFile>> seen(kFiles);
  for (int hour = 0; hour < 16; ++hour) {
    for (int f = 0; f < kFiles; ++f) {
      const std::string path = dir.file(name(f));
      common::FileHandle handle(::open(path.c_str(), O_RDONLY));
      seen[f] = streams.get(path, handle);
      const std::int64_t position = hour * 65536;
      ASSERT_EQ(read(*seen[f], position, 65536), plain.substr(position, 65536));
    }
  }
  for (int f = 0; f < kFiles; ++f) {
    SCOPED_TRACE(f);
    EXPECT_LE(seen[f]->inflated(), static_cast<std::int64_t>(plain.size()) + 65536);
  }
}

}  // namespace
}  // namespace wavconv::css
