#include "common/format.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "common/field_edit.h"

namespace wavconv::common {
namespace {

int parse_number(std::string_view text, std::size_t& pos) {
  int value = 0;
  bool any = false;
  while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
    value = value * 10 + (text[pos++] - '0');
    any = true;
    if (value > 100000) throw std::invalid_argument("format: number too large");
  }
  return any ? value : -1;
}

[[noreturn]] void malformed(std::string_view text) {
  throw std::invalid_argument("malformed format string: " + std::string(text));
}

// Parses a comma-separated list up to the matching ")" and appends its edits. At depth 0,
// records where the last group opened.
void parse_list(std::string_view text, std::size_t& pos, int depth, std::vector<Edit>& edits,
                std::size_t& reversion) {
  while (true) {
    if (pos >= text.size()) malformed(text);
    if (text[pos] == '/') {
      edits.push_back({Edit::Kind::kNewRecord});
      ++pos;
    } else {
      int repeat = parse_number(text, pos);
      if (pos >= text.size()) malformed(text);
      char c = static_cast<char>(std::toupper(static_cast<unsigned char>(text[pos])));
      if (c == '(') {
        ++pos;
        std::size_t start = edits.size();
        std::vector<Edit> group;
        std::size_t unused = 0;
        parse_list(text, pos, depth + 1, group, unused);
        if (depth == 0) reversion = start;
        for (int r = 0; r < (repeat < 0 ? 1 : repeat); ++r) {
          edits.insert(edits.end(), group.begin(), group.end());
        }
      } else if (c == 'X') {
        ++pos;
        edits.push_back({Edit::Kind::kSkip, repeat < 0 ? 1 : repeat});
      } else if (c == 'I' || c == 'F' || c == 'A') {
        ++pos;
        int width = parse_number(text, pos);
        Edit edit{
            c == 'I' ? Edit::Kind::kInteger : (c == 'F' ? Edit::Kind::kReal : Edit::Kind::kText),
            width < 0 ? 0 : width};
        if (c != 'A' && width <= 0) malformed(text);
        if (c == 'F') {
          if (pos >= text.size() || text[pos] != '.') malformed(text);
          ++pos;
          edit.digits = parse_number(text, pos);
          if (edit.digits < 0) malformed(text);
        }
        for (int r = 0; r < (repeat < 0 ? 1 : repeat); ++r) edits.push_back(edit);
      } else {
        malformed(text);
      }
    }
    if (pos >= text.size()) malformed(text);
    if (text[pos] == ')') {
      ++pos;
      return;
    }
    if (text[pos] != ',') malformed(text);
    ++pos;
  }
}

bool is_data(const Edit& edit) {
  return edit.kind == Edit::Kind::kInteger || edit.kind == Edit::Kind::kReal ||
         edit.kind == Edit::Kind::kText;
}

// The field edits of a record being written.
class RecordWriter {
 public:
  void place(const std::string& field) {
    current_.append(pending_skip_, ' ');
    pending_skip_ = 0;
    current_ += field;
  }
  void skip(int columns) { pending_skip_ += columns; }
  void end_record() {
    records_.push_back(std::move(current_));
    current_.clear();
    pending_skip_ = 0;
  }
  std::vector<std::string> take() { return std::move(records_); }

 private:
  std::vector<std::string> records_;
  std::string current_;
  int pending_skip_ = 0;
};

std::string edit_item(const Edit& edit, const Item& item) {
  switch (edit.kind) {
    case Edit::Kind::kInteger:
      if (auto* v = std::get_if<std::int32_t>(&item)) return edit_integer(*v, edit.width);
      break;
    case Edit::Kind::kReal:
      if (auto* v = std::get_if<float>(&item)) return edit_real(*v, edit.width, edit.digits);
      break;
    case Edit::Kind::kText:
      if (auto* v = std::get_if<std::string_view>(&item)) return edit_text(*v, edit.width);
      break;
    default:
      break;
  }
  throw std::invalid_argument("item does not match its edit descriptor");
}

// The unread rest of the record being read.
struct Cursor {
  std::string_view line;
  std::size_t pos = 0;

  std::string_view numeric_field(int width) {
    std::size_t start = pos, end = std::min(line.size(), pos + width);
    for (std::size_t i = start; i < end; ++i) {
      if (line[i] == ',') {
        pos = i + 1;
        return line.substr(start, i - start);
      }
      if (line[i] == '\r' || line[i] == '\n') {
        // The line ends here for every later field of the statement.
        line = line.substr(0, i);
        pos = i;
        return line.substr(start, i - start);
      }
    }
    pos = end;
    return line.substr(start, end - start);
  }

  // Up to `count` characters; fewer at the end of the line.
  std::string_view take(std::size_t count) {
    std::string_view out = line.substr(pos, count);
    pos += out.size();
    return out;
  }
};

ReadStatus read_field(const Edit& edit, Cursor& cursor, const Destination& destination) {
  switch (edit.kind) {
    case Edit::Kind::kInteger:
      if (auto* p = std::get_if<std::int32_t*>(&destination)) {
        return read_integer_field(cursor.numeric_field(edit.width), **p) ? ReadStatus::kOk
                                                                         : ReadStatus::kError;
      }
      if (auto* p = std::get_if<std::int64_t*>(&destination)) {
        return read_integer_field(cursor.numeric_field(edit.width), **p) ? ReadStatus::kOk
                                                                         : ReadStatus::kError;
      }
      break;
    case Edit::Kind::kReal: {
      double value = 0;
      if (auto* p = std::get_if<float*>(&destination)) {
        if (!read_real_field(cursor.numeric_field(edit.width), edit.digits, true, value)) {
          return ReadStatus::kError;
        }
        **p = static_cast<float>(value);
        return ReadStatus::kOk;
      }
      if (auto* p = std::get_if<double*>(&destination)) {
        if (!read_real_field(cursor.numeric_field(edit.width), edit.digits, false, value)) {
          return ReadStatus::kError;
        }
        **p = value;
        return ReadStatus::kOk;
      }
      break;
    }
    case Edit::Kind::kText:
      if (auto* p = std::get_if<std::string*>(&destination)) {
        std::string& text = **p;
        std::size_t length = text.size();
        std::size_t width = edit.width == 0 ? length : static_cast<std::size_t>(edit.width);
        if (width > length) cursor.take(width - length);
        std::string_view taken = cursor.take(std::min(width, length));
        text.assign(taken);
        text.resize(length, ' ');
        return ReadStatus::kOk;
      }
      break;
    default:
      break;
  }
  throw std::invalid_argument("destination does not match its edit descriptor");
}

class SingleRecord : public RecordSource {
 public:
  explicit SingleRecord(std::string_view record) : record_(record) {}
  std::optional<std::string_view> next_record() override {
    if (used_) return std::nullopt;
    used_ = true;
    return record_;
  }

 private:
  std::string_view record_;
  bool used_ = false;
};

}  // namespace

Format Format::parse(std::string_view text) {
  Format format;
  std::size_t pos = 0;
  if (text.empty() || text[0] != '(') malformed(text);
  ++pos;
  parse_list(text, pos, 0, format.edits_, format.reversion_);
  if (pos != text.size()) malformed(text);
  return format;
}

std::vector<std::string> write(const Format& format, std::span<const Item> items) {
  const std::vector<Edit>& edits = format.edits();
  RecordWriter writer;
  const bool has_data = std::any_of(edits.begin(), edits.end(), is_data);
  std::size_t next = 0, i = 0;
  while (true) {
    if (i == edits.size()) {
      if (next == items.size() || !has_data) break;
      writer.end_record();
      i = format.reversion();
      continue;
    }
    const Edit& edit = edits[i++];
    if (edit.kind == Edit::Kind::kNewRecord) {
      writer.end_record();
    } else if (edit.kind == Edit::Kind::kSkip) {
      writer.skip(edit.width);
    } else {
      if (next == items.size()) break;
      writer.place(edit_item(edit, items[next++]));
    }
  }
  writer.end_record();
  return writer.take();
}

std::vector<std::string> write(const Format& format, std::initializer_list<Item> items) {
  return write(format, std::span<const Item>(items.begin(), items.size()));
}

ReadStatus read(const Format& format, RecordSource& source,
                std::span<const Destination> destinations) {
  const std::vector<Edit>& edits = format.edits();
  auto first = source.next_record();
  if (!first) return ReadStatus::kEnd;
  Cursor cursor{*first};
  std::size_t next = 0, i = 0;
  while (true) {
    if (i == edits.size()) {
      if (next == destinations.size()) break;
      auto record = source.next_record();
      if (!record) return ReadStatus::kEnd;
      cursor = Cursor{*record};
      i = format.reversion();
      continue;
    }
    const Edit& edit = edits[i++];
    if (edit.kind == Edit::Kind::kNewRecord) {
      auto record = source.next_record();
      if (!record) return ReadStatus::kEnd;
      cursor = Cursor{*record};
    } else if (edit.kind == Edit::Kind::kSkip) {
      cursor.take(edit.width);
    } else {
      if (next == destinations.size()) break;
      ReadStatus status = read_field(edit, cursor, destinations[next++]);
      if (status != ReadStatus::kOk) return status;
    }
  }
  return ReadStatus::kOk;
}

ReadStatus read(const Format& format, std::string_view record,
                std::span<const Destination> destinations) {
  SingleRecord source(record);
  return read(format, source, destinations);
}

}  // namespace wavconv::common
