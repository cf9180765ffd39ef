#pragma once

#include <memory>
#include <string>

#include "common/console.h"
#include "common/files.h"
#include "css/wfdisc.h"

namespace wavconv::driver {

inline constexpr const char* kOpenOutputFailed = " Error opening output GSE file";
inline constexpr const char* kWriteOutputFailed = " Error writing output GSE file";

// A directory prefix (ignored when it starts with a blank or NUL) joined to a name, each cut
// at its first blank or NUL; no separator is inserted.
std::string join_path(const std::string& dir, const std::string& name);

// The last component of a path: the file's name without its folder.
std::string file_name(const std::string& path);

// True when both paths name one existing file, under any spelling or link.
bool same_file(const std::string& a, const std::string& b);

// Stops the run with the header file's console message, after the system's reason when a
// system call failed.
[[noreturn]] void stop_header_failed(const std::string& header_path, css::HeaderError error,
                                     int system_error, common::Console& console);

// Why an output is not opened when no system call failed: an existing file that is not of the
// output format's `kind`, or a link that is not followed; empty when it may be opened.
std::string output_refusal(common::OutputFile::Open result, const common::FileKind& kind);

// The output file at `path`, to be written and put in place; stops the run with the reason
// (the system's, or output_refusal()'s) and " Error opening output GSE file" when it cannot be
// opened. With `refusal`, a refusal is put there instead and nothing is returned.
std::unique_ptr<common::OutputFile> open_output(const std::string& path,
                                                const common::FileKind& kind,
                                                common::Console& console,
                                                std::string* refusal = nullptr);

// An output opened as open_output() opens it, with nothing said and nothing stopped: the file,
// or the system's reason (`error`), or why it is refused (`refusal`). For opening the outputs of
// several records ahead of their turn; stop_open_failed() then says the failure in its turn.
struct OutputOpening {
  std::unique_ptr<common::OutputFile> file;
  int error = 0;
  std::string refusal;
};
OutputOpening try_open_output(const std::string& path, const common::FileKind& kind);

// Stops the run as open_output() does when the system cannot create `path`.
[[noreturn]] void stop_open_failed(const std::string& path, int error, common::Console& console);

// What opening `path` would do, without creating anything (a listing's check): stops the run as
// open_output() would, and as its first write would for a file that may not be written; a
// refusal goes to `refusal` when given (then false), else stops the run. True when the output
// may be opened.
bool check_output(const std::string& path, const common::FileKind& kind, common::Console& console,
                  std::string* refusal = nullptr);

// `path` made absolute and normal, so that two spellings of one place compare equal (as given
// when that fails).
std::string absolute_path(const std::string& path);

// Stops the run with the write failure of `output`.
[[noreturn]] void stop_write_failed(const std::string& path, const common::OutputFile& output,
                                    common::Console& console);

}  // namespace wavconv::driver
