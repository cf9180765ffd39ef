#include "common/console.h"

namespace wavconv::common {
namespace {
constexpr std::string_view kLineEnd = "\r\n";
}

void Console::put(std::string_view bytes) { out_.write(bytes.data(), bytes.size()); }

void Console::write_line(std::string_view text) {
  if (line_pending_) put(kLineEnd);
  put(text);
  line_pending_ = true;
  out_.flush();
}

void Console::write_records(const std::vector<std::string>& records) {
  for (const std::string& record : records) {
    write_line(record.empty() ? std::string_view() : std::string_view(record).substr(1));
  }
}

void Console::write_error(std::string_view text) {
  err_.write(text.data(), text.size());
  err_.flush();
}

int Console::finish(const Stop& stop) {
  if (stop.kind == Stop::Kind::kFatal) {
    err_.write(stop.text.data(), stop.text.size());
    err_.flush();
  } else {
    if (line_pending_) put(kLineEnd);
    put(stop.kind == Stop::Kind::kMessage ? std::string_view(stop.text)
                                          : std::string_view("Stop - Program terminated."));
    put(kLineEnd);
  }
  // A console line still open at the end of the run is ended.
  if (line_pending_) put(kLineEnd);
  out_.flush();
  return stop.status;
}

}  // namespace wavconv::common
