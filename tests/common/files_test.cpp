#include "common/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "gse/writer.h"
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
    ASSERT_EQ(OutputFile::open(dir.file("out"), kGseFile, file, error), OutputFile::Open::kOpened);
    std::string expected;
    char seed = 'A';
    for (std::size_t size : sizes) {
      std::string text = piece(size, seed++);
      ASSERT_TRUE(file->put_bytes(text));
      expected += text;
    }
    ASSERT_TRUE(file->close());
    EXPECT_TRUE(dir.read("out") == expected);
  }
}

TEST(OutputFileReplace, WholeOrNotAtAllThroughLinksKeepingPermissions) {
  namespace fs = std::filesystem;
  testing::TempDir dir;
  dir.write("old", "WID1 keep");
  fs::permissions(dir.file("old"),
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink("old", dir.file("link"));
  int error = 0;
  {
    std::unique_ptr<OutputFile> file;
    ASSERT_EQ(OutputFile::open(dir.file("link"), kGseFile, file, error), OutputFile::Open::kOpened);
    ASSERT_TRUE(file->put_line("new"));
    EXPECT_EQ(testing::snapshot(dir.path()).size(), 3u);  // the temporary file beside "old"
  }  // dropped without close(): nothing changes
  EXPECT_EQ(testing::snapshot(dir.path()).size(), 2u);
  EXPECT_EQ(dir.read("old"), "WID1 keep");
  std::unique_ptr<OutputFile> file;
  ASSERT_EQ(OutputFile::open(dir.file("link"), kGseFile, file, error), OutputFile::Open::kOpened);
  ASSERT_TRUE(file->put_line("new") && file->close());
  EXPECT_TRUE(fs::is_symlink(dir.file("link")));
  EXPECT_EQ(dir.read("old"), "new\r\n");
  EXPECT_EQ(fs::status(dir.file("old")).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(testing::snapshot(dir.path()).size(), 2u);
}

// Only an empty file or one of the output format's kind is replaced: a GSE file or message, a
// miniSEED file, a SAC file (header version 6, either byte order).
TEST(OutputFileReplace, OnlyFilesOfTheFormatsKindAreReplaced) {
  std::string sac_le(632, '\0'), sac_be(632, '\0');
  sac_le[304] = 6;
  sac_be[307] = 6;
  const std::string mseed = std::string("000001D ABC  ") + std::string(51, '\0');
  struct Case {
    const char* format;
    std::string old;
    OutputFile::Open result;
  } cases[] = {
      {"mseed", "", OutputFile::Open::kOpened},
      {"mseed", mseed, OutputFile::Open::kOpened},
      {"mseed", std::string("      R\0", 8), OutputFile::Open::kOpened},
      {"mseed", "000001X ABC", OutputFile::Open::kNotOfKind},
      {"mseed", "WID2 x", OutputFile::Open::kNotOfKind},
      {"mseed", sac_le, OutputFile::Open::kNotOfKind},
      {"sac", sac_le, OutputFile::Open::kOpened},
      {"sac", sac_be, OutputFile::Open::kOpened},
      {"sac", sac_le.substr(0, 631), OutputFile::Open::kNotOfKind},
      {"sac", mseed, OutputFile::Open::kNotOfKind},
      {"gse1", mseed, OutputFile::Open::kNotOfKind},
      {"ims", "WID2 x", OutputFile::Open::kOpened},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.format) + " over " + c.old.substr(0, 12));
    testing::TempDir dir;
    dir.write("out", c.old);
    std::unique_ptr<OutputFile> file;
    int error = 0;
    const FileKind& kind = *gse::find_output_format(c.format)->kind;
    ASSERT_EQ(OutputFile::open(dir.file("out"), kind, file, error), c.result);
    if (file) {
      ASSERT_TRUE(file->put_bytes("new") && file->close());
    }
    EXPECT_EQ(dir.read("out"), file ? "new" : c.old);
  }
}

// Only an empty file or one that begins as a GSE file or message is replaced.
TEST(OutputFileReplace, OnlyGseFilesAreReplaced) {
  struct Case {
    const char* old;
    OutputFile::Open result;
  } cases[] = {
      {"", OutputFile::Open::kOpened},
      {"WID1  2001043", OutputFile::Open::kOpened},
      {"WID2 x", OutputFile::Open::kOpened},
      {"BEGIN IMS2.0", OutputFile::Open::kOpened},
      {"DATA_TYPE W", OutputFile::Open::kOpened},
      {"WID", OutputFile::Open::kNotOfKind},
      {"ABC    BHZ", OutputFile::Open::kNotOfKind},
      {" WID1", OutputFile::Open::kNotOfKind},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.old);
    testing::TempDir dir;
    dir.write("out", c.old);
    std::unique_ptr<OutputFile> file;
    int error = 0;
    ASSERT_EQ(OutputFile::open(dir.file("out"), kGseFile, file, error), c.result);
    if (file) {
      ASSERT_TRUE(file->put_line("new") && file->close());
    }
    EXPECT_EQ(dir.read("out"), file ? "new\r\n" : c.old);
    EXPECT_EQ(testing::snapshot(dir.path()).size(), 1u);
  }
}

// A name of the longest length a directory takes still gets a temporary file beside it.
TEST(OutputFileReplace, LongestNamesGetAShorterTemporaryName) {
  testing::TempDir dir;
  for (std::size_t length : {243u, 244u, 255u}) {
    SCOPED_TRACE(length);
    std::string name(length, 'n');
    std::unique_ptr<OutputFile> file;
    int error = 0;
    ASSERT_EQ(OutputFile::open(dir.file(name), kGseFile, file, error), OutputFile::Open::kOpened);
    ASSERT_TRUE(file->put_line("new") && file->close());
    EXPECT_EQ(dir.read(name), "new\r\n");
  }
  EXPECT_EQ(testing::snapshot(dir.path()).size(), 3u);
}

// A path as long as the system accepts (4,095 bytes) is written and replaced: the temporary
// name beside it is used relative to its folder, never as a longer path.
TEST(OutputFileReplace, PathsUpToTheSystemsLimit) {
  testing::TempDir dir;
  std::string folder = dir.path().string();
  while (folder.size() < 4095 - 260) {
    folder += "/" + std::string(200, 'd');
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0) << folder.size();
  }
  for (std::size_t total : {4084u, 4095u}) {
    SCOPED_TRACE(total);
    std::string path = folder + "/" + std::string(total - folder.size() - 1, 'n');
    ASSERT_EQ(path.size(), total);
    for (const char* text : {"WID1 first", "WID1 second"}) {
      std::unique_ptr<OutputFile> file;
      int error = 0;
      ASSERT_EQ(OutputFile::open(path, kGseFile, file, error), OutputFile::Open::kOpened) << error;
      ASSERT_TRUE(file->put_line(text) && file->close()) << file->error();
      EXPECT_EQ(testing::read_file(path), std::string(text) + "\r\n");
    }
  }
  EXPECT_EQ(testing::snapshot(folder).size(), 2u);  // no temporary file left
}

// Standard descriptors named by path are written as they are: appended where they append,
// into a pipe; never replaced.
TEST(OutputFileReplace, NamedDescriptorsWrittenAsTheyAre) {
  testing::TempDir dir;
  dir.write("log", "WID1 first\r\n");
  int log = ::open(dir.file("log").c_str(), O_WRONLY | O_APPEND);
  int pipe_ends[2];
  ASSERT_TRUE(log >= 0 && ::pipe(pipe_ends) == 0);
  for (std::string path : {"/dev/fd/" + std::to_string(log), "/proc/self/fd/" + std::to_string(log),
                           "/dev/fd/" + std::to_string(pipe_ends[1])}) {
    SCOPED_TRACE(path);
    std::unique_ptr<OutputFile> file;
    int error = 0;
    ASSERT_EQ(OutputFile::open(path, kGseFile, file, error), OutputFile::Open::kOpened);
    ASSERT_TRUE(file->put_line("more") && file->close());
  }
  ::close(pipe_ends[1]);
  char piped[16] = {};
  EXPECT_EQ(::read(pipe_ends[0], piped, sizeof piped), 6);
  EXPECT_STREQ(piped, "more\r\n");
  ::close(pipe_ends[0]);
  ::close(log);
  EXPECT_EQ(dir.read("log"), "WID1 first\r\nmore\r\nmore\r\n");
  std::unique_ptr<OutputFile> file;
  int error = 0;
  EXPECT_EQ(OutputFile::open("/dev/fd/999", kGseFile, file, error), OutputFile::Open::kFailed);
  EXPECT_EQ(error, EBADF);
}

// A link in a sticky, world-writable folder is followed only when it belongs to the user
// running the program or to the folder's owner. Root changes the link's owner to show it.
TEST(OutputFileReplace, LinksInSharedFoldersFollowedOnlyWhereTheKernelWould) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the link another owner";
  namespace fs = std::filesystem;
  testing::TempDir dir;
  fs::create_directory(dir.file("shared"));
  fs::permissions(dir.file("shared"), fs::perms::all | fs::perms::sticky_bit);
  dir.write("victim", "WID1 precious");
  fs::create_symlink(dir.file("victim"), dir.file("shared/out"));
  fs::create_symlink(dir.file("missing"), dir.file("shared/dangling"));
  for (uid_t owner : {61001u, 0u}) {
    SCOPED_TRACE(owner);
    ASSERT_EQ(::lchown(dir.file("shared/out").c_str(), owner, owner), 0);
    ASSERT_EQ(::lchown(dir.file("shared/dangling").c_str(), owner, owner), 0);
    for (const char* link : {"shared/out", "shared/dangling"}) {
      std::unique_ptr<OutputFile> file;
      int error = 0;
      EXPECT_EQ(OutputFile::open(dir.file(link), kGseFile, file, error),
                owner == 0 ? OutputFile::Open::kOpened : OutputFile::Open::kSharedLink);
    }
  }
  EXPECT_EQ(dir.read("victim"), "WID1 precious");
}

}  // namespace
}  // namespace wavconv::common
