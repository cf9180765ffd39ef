#include "common/console.h"

namespace wavconv::common {
namespace {
constexpr std::string_view kLineEnd = "\r\n";
}

void Console::put(std::string_view bytes) { out_.write(bytes.data(), bytes.size()); }

void Console::write(std::string_view record) {
  char control = record.empty() ? ' ' : record[0];
  if (control == '+') {
    put("\r");
  } else if (control == '1') {
    put("\r\n\f\r \r");
  } else if (control == '0') {
    put(line_pending_ ? "\r\n\r\n" : "\r\n");
  } else if (line_pending_) {
    put(kLineEnd);
  }
  if (record.size() > 1) put(record.substr(1));
  line_pending_ = true;
  out_.flush();
}

void Console::write(const std::vector<std::string>& records) {
  for (const std::string& record : records) write(record);
}

void Console::list_write(std::string_view text) {
  std::string record(1, ' ');
  record.append(text);
  write(record);
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
  // Exit processing ends a console line that is still pending.
  if (line_pending_) put(kLineEnd);
  out_.flush();
  return stop.status;
}

}  // namespace wavconv::common
