#include "common/files.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace wavconv::common {
namespace {

constexpr std::size_t kBuffer = OutputFile::kBufferSize;

// Text of `size` bytes that shows where each byte came from.
std::string piece(std::size_t size, char seed) {
  std::string text(size, ' ');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>(seed + i % 23);
  return text;
}

// Every piece reaches the file whole and in order, whichever way it passes the buffer.
TEST(OutputFileBuffer, PiecesArriveInOrderAcrossEveryBufferEdge) {
  const std::vector<std::vector<std::size_t>> cases = {
      {kBuffer / 2 - 1, kBuffer / 2 - 1, 2, 5},  // small pieces exactly filling the buffer
      {10, kBuffer + 7, 3},                      // larger than the buffer after buffered text
      {kBuffer / 2, 1, kBuffer / 2, kBuffer},    // at the bypass size, around a small piece
      {kBuffer / 2 - 1, kBuffer / 2 - 1, kBuffer / 2 - 1},  // one that no longer fits
  };
  for (const auto& sizes : cases) {
    SCOPED_TRACE(sizes[0]);
    testing::TempDir dir;
    std::unique_ptr<OutputFile> file;
    int error = 0;
    ASSERT_EQ(OutputFile::open(dir.file("out"), file, error), OutputFile::Open::kOpened);
    std::string expected;
    char seed = 'A';
    for (std::size_t size : sizes) {
      std::string text = piece(size, seed++);
      ASSERT_TRUE(file->put_lines(text));
      expected += text;
    }
    ASSERT_TRUE(file->close());
    EXPECT_TRUE(dir.read("out") == expected);
  }
}

TEST(OutputFileReplace, WholeOrNotAtAllThroughLinksKeepingPermissions) {
  namespace fs = std::filesystem;
  testing::TempDir dir;
  dir.write("old", "keep");
  fs::permissions(dir.file("old"),
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink("old", dir.file("link"));
  int error = 0;
  {
    std::unique_ptr<OutputFile> file;
    ASSERT_EQ(OutputFile::open(dir.file("link"), file, error), OutputFile::Open::kOpened);
    ASSERT_TRUE(file->put_line("new"));
    EXPECT_EQ(testing::snapshot(dir.path()).size(), 3u);  // the temporary file beside "old"
  }  // dropped without close(): nothing changes
  EXPECT_EQ(testing::snapshot(dir.path()).size(), 2u);
  EXPECT_EQ(dir.read("old"), "keep");
  std::unique_ptr<OutputFile> file;
  ASSERT_EQ(OutputFile::open(dir.file("link"), file, error), OutputFile::Open::kOpened);
  ASSERT_TRUE(file->put_line("new") && file->close());
  EXPECT_TRUE(fs::is_symlink(dir.file("link")));
  EXPECT_EQ(dir.read("old"), "new\r\n");
  EXPECT_EQ(fs::status(dir.file("old")).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(testing::snapshot(dir.path()).size(), 2u);
}

}  // namespace
}  // namespace wavconv::common
