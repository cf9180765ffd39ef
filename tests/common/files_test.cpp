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
    ASSERT_EQ(OutputFile::open(dir.file("out"), file), OutputFile::Open::kOpened);
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

}  // namespace
}  // namespace wavconv::common
