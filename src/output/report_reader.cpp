#include "output/report_reader.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <variant>

#include "engine/link_scanner.h"
#include "platform/text.h"
#include "web/json.h"
#include "web/url.h"

namespace voxtrel {
namespace {

bool Fail(const std::string& why, std::string* err) {
  *err = why;
  return false;
}

// The report's text read a piece at a time: only the value being read, and what is left of the
// last piece read, are held.
class ReportStream {
 public:
  explicit ReportStream(InputFile& file) : file_(file) {}

  /// Passes over blanks; false at the end of the file, else *c is the next character.
  bool Peek(char* c) {
    for (;; ++pos_) {
      if (pos_ == buffer_.size()) {
        buffer_.clear();
        pos_ = 0;
        if (!More()) return false;
      }
      const char next = buffer_[pos_];
      if (next == '\n') ++line_;
      if (next != ' ' && next != '\t' && next != '\n' && next != '\r') return *c = next, true;
    }
  }
  void Skip() { ++pos_; }

  /// The next value's text: a string, or an object or list up to its matching bracket (brackets
  /// in strings not counted), else up to the next blank, comma or bracket; at least a character
  /// unless the file ends. Valid until the next call.
  std::string_view Value() {
    buffer_.erase(0, pos_);
    pos_ = 0;
    size_t end = 0;
    int depth = 0;
    bool in_string = false, escaped = false;
    for (;; ++end) {
      if (end == buffer_.size() && !More()) break;
      const char c = buffer_[end];
      if (in_string) {
        if (escaped)
          escaped = false;
        else if (c == '\\')
          escaped = true;
        else if (c == '"' && !(in_string = false) && depth == 0)
          return Taken(end + 1);
      } else if (c == '"') {
        in_string = true;
      } else if (c == '{' || c == '[') {
        ++depth;
      } else if (c == '}' || c == ']') {
        if (depth == 0) return Taken(std::max<size_t>(end, 1));
        if (--depth == 0) return Taken(end + 1);
      } else if (depth == 0 && (c == ',' || c == ' ' || c == '\t' || c == '\n' || c == '\r')) {
        return Taken(std::max<size_t>(end, 1));
      }
    }
    return Taken(end);
  }

  size_t line() const { return line_; }
  bool failed() const { return failed_; }

 private:
  bool More() {
    char piece[64 * 1024];
    const size_t got = file_.Read(piece, sizeof piece, &failed_);
    buffer_.append(piece, got);
    return got > 0;
  }
  std::string_view Taken(size_t size) {
    pos_ = size;
    const std::string_view text(buffer_.data(), size);
    line_ += static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    return text;
  }

  InputFile& file_;
  std::string buffer_;
  size_t pos_ = 0;
  size_t line_ = 1;
  bool failed_ = false;
};

// A text already in memory, read as a file is.
class TextInput : public InputFile {
 public:
  explicit TextInput(std::string_view text) : text_(text) {}
  size_t Read(char* buffer, size_t size, bool* /*failed*/) override {
    const size_t n = std::min(size, text_.size());
    std::copy_n(text_.data(), n, buffer);
    text_.remove_prefix(n);
    return n;
  }

 private:
  std::string_view text_;
};

// One row object's fields, each looked up with its type; the first failure is kept.
class RowFields {
 public:
  RowFields(const JsonObject& fields, size_t line) : fields_(fields), line_(line) {}

  const std::string* Text(const char* key, bool required = true) {
    const JsonValue* value = Find(key, required);
    if (!value) return nullptr;
    if (const auto* text = std::get_if<std::string>(&value->value)) return text;
    return Bad(key, "is not a string"), nullptr;
  }
  /// An integer from `low` up; nothing (and no failure) for null when `nullable`, or when
  /// absent and not `required`.
  std::optional<int64_t> Integer(const char* key, int64_t low, bool nullable = false,
                                 bool required = true) {
    const JsonValue* value = Find(key, required);
    if (!value || (nullable && std::holds_alternative<std::nullptr_t>(value->value))) return {};
    const auto* number = std::get_if<JsonNumber>(&value->value);
    if (number) {
      char* end = nullptr;
      errno = 0;
      const long long n = std::strtoll(number->text.c_str(), &end, 10);
      if (*end == '\0' && errno == 0 && n >= low) return n;
    }
    return Bad(key, "is not a whole number from " + std::to_string(low)), std::nullopt;
  }
  bool Fail(const std::string& what) {
    if (why.empty()) why = "line " + std::to_string(line_) + ": " + what;
    return false;
  }

  std::string why;

 private:
  const JsonValue* Find(const char* key, bool required) {
    auto found = fields_.find(key);
    if (found != fields_.end()) return &found->second;
    if (required) Fail(std::string("the row has no \"") + key + "\"");
    return nullptr;
  }
  void Bad(const char* key, const std::string& what) {
    Fail(std::string("\"") + key + "\" " + what);
  }

  const JsonObject& fields_;
  size_t line_;
};

// Whether `reason` is what `outcome` is written as, a detail it has (the name as it is on the
// disk, a closed service) matching whatever stands in its place; that detail then goes into
// *outcome.
bool WrittenAs(const std::string& reason, CheckOutcome* outcome) {
  constexpr std::string_view kHole = "\x01";
  outcome->detail = kHole;
  const std::string words = ReasonText(*outcome);
  const size_t hole = words.find(kHole);
  if (hole == std::string::npos) {
    outcome->detail.clear();
    return words == reason;
  }
  const size_t tail = words.size() - hole - 1;
  if (reason.size() < hole + tail || reason.compare(0, hole, words, 0, hole) != 0 ||
      reason.compare(reason.size() - tail, tail, words, hole + 1) != 0)
    return false;
  outcome->detail = reason.substr(hole, reason.size() - hole - tail);
  return true;
}

// The × or ？ outcome whose words a report wrote, found by asking every reason a row of that
// mark can have for its words: a failure's, also on a closed service; every doubt's.
std::optional<CheckOutcome> VerdictOf(const std::string& reason, CheckOutcome outcome) {
  std::vector<std::pair<FailureReason, SuspectKind>> reasons;
  if (outcome.kind == CheckOutcome::Kind::kSuspect) {
    for (int s = 1; s <= static_cast<int>(kLastSuspectKind); ++s)
      reasons.emplace_back(FailureReason::kNone, static_cast<SuspectKind>(s));
  } else {
    for (int r = 0; r <= static_cast<int>(kLastFailureReason); ++r)
      for (SuspectKind s : {SuspectKind::kNone, SuspectKind::kClosedService})
        reasons.emplace_back(static_cast<FailureReason>(r), s);
  }
  for (const auto& [failure, suspect] : reasons) {
    outcome.reason = failure;
    outcome.suspect = suspect;
    if (WrittenAs(reason, &outcome)) return outcome;
  }
  return std::nullopt;
}

// The kind a row's mark stands for and, for × and ？, what its reason says; "suspect", when
// written, must name the doubt the reason tells.
bool ReadVerdict(RowFields& fields, const std::string& mark, const std::string& reason,
                 CheckOutcome* outcome) {
  int kind = 0;
  // Each kind has its own mark: the mark names the kind whose mark it is.
  for (; kind < static_cast<int>(kMarkCount); ++kind) {
    outcome->kind = static_cast<CheckOutcome::Kind>(kind);
    if (mark == MarkOf(*outcome)) break;
  }
  if (kind == static_cast<int>(kMarkCount)) return fields.Fail("unknown mark \"" + mark + "\"");
  if (outcome->kind == CheckOutcome::Kind::kFailed ||
      outcome->kind == CheckOutcome::Kind::kSuspect) {
    const std::optional<CheckOutcome> judged = VerdictOf(reason, *outcome);
    if (!judged) return fields.Fail("unknown reason \"" + reason + "\"");
    *outcome = *judged;
  }
  const std::string* suspect = fields.Text("suspect", false);
  if (!fields.why.empty()) return false;
  if ((suspect ? *suspect : "") != SuspectName(outcome->suspect))
    return fields.Fail("\"suspect\" does not match the reason");
  return true;
}

bool ReadLink(RowFields& fields, bool keep_query, FoundLink* link) {
  const std::string* url = fields.Text("url");
  const std::string* name = fields.Text("name");
  const std::string* page = fields.Text("page");
  const std::string* kind = fields.Text("kind", false);
  const std::string* resolved = fields.Text("resolved", false);
  if (!url || !name || !page || !fields.why.empty()) return false;
  *link = FoundLink(*url, *name, *page);
  if (!kind) return !resolved || fields.Fail("\"resolved\" without \"kind\"");
  static const std::set<std::string> kKinds = {"http", "https", "internal", "script"};
  if (!kKinds.count(*kind)) return fields.Fail("unknown kind \"" + *kind + "\"");
  if (resolved) {
    link->internal = true;
    link->resolved = *resolved;
    link->local = !IsWebAddress(*resolved);
    const size_t hash = url->find('#');
    if (link->local && hash != std::string::npos)
      link->anchor = PercentDecode(url->substr(hash + 1));
    return true;
  }
  if (*kind == "internal") return fields.Fail("an internal link without \"resolved\"");
  link->resolved = RequestAddress(url->starts_with("//") ? "http:" + *url : *url, keep_query);
  return true;
}

bool ReadRow(const JsonValue& value, bool keep_query, ResultRow* row, std::string* err) {
  const auto* object = std::get_if<JsonObject>(&value.value);
  if (!object) return Fail("line " + std::to_string(value.line) + ": a row is not an object", err);
  RowFields fields(*object, value.line);
  const std::optional<int64_t> number = fields.Integer("no", 1);
  const std::string* mark = fields.Text("mark");
  const std::optional<int64_t> status = fields.Integer("status", 0, true);
  const std::string* reason = fields.Text("reason");
  const std::optional<int64_t> redirects = fields.Integer("redirects", 0);
  const std::optional<int64_t> elapsed = fields.Integer("elapsed_ms", 0);
  const std::optional<int64_t> tries = fields.Integer("tries", 1, false, false);
  const std::optional<int64_t> line = fields.Integer("line", 1, false, false);
  const std::string* archived = fields.Text("archived", false);
  if (fields.why.empty() && ReadLink(fields, keep_query, &row->link) && number && mark && reason &&
      redirects && elapsed) {
    row->number = *number;
    CheckOutcome& outcome = row->outcome;
    outcome.status = status ? std::optional<int>(static_cast<int>(*status)) : std::nullopt;
    outcome.redirects = static_cast<int>(*redirects);
    outcome.elapsed_ms = *elapsed;
    outcome.tries = static_cast<int>(std::min<int64_t>(tries.value_or(1), INT_MAX));
    row->link.place.line = static_cast<uint32_t>(std::min<int64_t>(line.value_or(0), UINT32_MAX));
    if (archived) outcome.archived = *archived;
    ReadVerdict(fields, *mark, *reason, &outcome);
  }
  if (fields.why.empty()) return true;
  *err = fields.why;
  return false;
}

// Rows are found again by their numbers: the first number met twice fails the report.
bool NoNumberTwice(std::vector<std::pair<int64_t, size_t>> numbers, std::string* err) {
  std::sort(numbers.begin(), numbers.end());
  const std::pair<int64_t, size_t>* twice = nullptr;
  for (size_t i = 1; i < numbers.size(); ++i)
    if (numbers[i].first == numbers[i - 1].first && (!twice || numbers[i].second < twice->second))
      twice = &numbers[i];
  if (!twice) return true;
  return Fail("line " + std::to_string(twice->second) + ": the number " +
                  std::to_string(twice->first) + " appears twice",
              err);
}

bool ReadRows(InputFile& file, bool keep_query, const std::function<void(ResultRow&&)>& take,
              std::string* err) {
  ReportStream in(file);
  auto fail = [&in, err](const std::string& why) {
    return Fail(in.failed() ? "the file could not be read" : why, err);
  };
  char c = 0;
  if (!in.Peek(&c))
    return fail("line " + std::to_string(in.line()) + ": the text ends where a value should be");
  if (c != '[') return fail("the report is not a list of rows");
  in.Skip();
  // Each row's number and line, kept apart from the rows for the check that ends the reading.
  std::vector<std::pair<int64_t, size_t>> numbers;
  if (in.Peek(&c) && c == ']') in.Skip();
  while (c != ']') {
    in.Peek(&c);  // the blanks before the row
    const size_t line = in.line();
    JsonValue value;
    ResultRow row;
    if (!ParseJson(in.Value(), &value, err, line) || !ReadRow(value, keep_query, &row, err))
      return false;
    numbers.emplace_back(row.number, value.line);
    take(std::move(row));
    if (!in.Peek(&c) || (c != ',' && c != ']'))
      return fail("line " + std::to_string(in.line()) + ": expected , or ] in a list");
    in.Skip();
  }
  if (in.Peek(&c)) return fail("text after the end of the report");
  if (in.failed()) return fail("");
  return NoNumberTwice(std::move(numbers), err);
}

}  // namespace

bool ReadJsonReport(std::string_view text, bool keep_query, std::vector<ResultRow>* rows,
                    std::string* err) {
  rows->clear();
  TextInput input(text);
  return ReadRows(
      input, keep_query, [rows](ResultRow&& row) { rows->push_back(std::move(row)); }, err);
}

bool ReadJsonReport(InputFile& file, bool keep_query, ResultList* rows, std::string* err) {
  return ReadRows(
      file, keep_query, [rows](ResultRow&& row) { rows->AddNumbered(row); }, err);
}

}  // namespace voxtrel
