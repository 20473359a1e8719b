#include "web/css_links.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>

#include "platform/text.h"

namespace voxtrel {

// Reads a style sheet token by token, as far as finding its links needs: comments, strings,
// names, at-rules and url()s; every other character is punctuation.
class CssReader {
 public:
  explicit CssReader(std::string_view css) : css_(css) {}
  bool Next(CssLink* link);

 private:
  // What the at-rule being read does with a url() or string in it: @import's first names a
  // style sheet, @namespace's names no file at all.
  enum class Rule { kOther, kImport, kNamespace };

  bool StartsEscape() const;
  void Token();
  void NameOrUrl();
  void Punctuation(char c);
  void Escape(std::string& out);
  std::string Name();
  bool String(char quote, std::string* out);
  std::optional<std::string> Url();
  void SkipBadUrl();
  void Add(std::string written, bool import);

  std::string_view css_;
  size_t pos_ = 0;
  Rule rule_ = Rule::kOther;
  std::string last_name_;  // the name just read, a property when a ":" follows
  std::string property_;
  std::optional<CssLink> found_;
};

namespace {

bool IsCssSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

bool IsNewline(char c) { return c == '\n' || c == '\r' || c == '\f'; }

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

uint32_t HexValue(char c) {
  if (c <= '9') return static_cast<uint32_t>(c - '0');
  return static_cast<uint32_t>((c | 0x20) - 'a' + 10);
}

bool IsNameChar(char c) {
  return static_cast<unsigned char>(c) >= 0x80 || (c >= 'a' && c <= 'z') ||
         (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

// Characters a url() may not hold unquoted: a browser drops the whole value.
bool IsNonPrintable(char c) {
  return (c >= 0 && c <= 0x08) || c == 0x0B || (c >= 0x0E && c <= 0x1F) || c == 0x7F;
}

std::string AsciiLowerCopy(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return text;
}

}  // namespace

bool CssReader::Next(CssLink* link) {
  while (!found_ && pos_ < css_.size()) {
    const char c = css_[pos_];
    if (c == '/' && pos_ + 1 < css_.size() && css_[pos_ + 1] == '*') {
      const size_t end = css_.find("*/", pos_ + 2);
      pos_ = end == std::string_view::npos ? css_.size() : end + 2;
    } else if (IsCssSpace(c)) {
      ++pos_;
    } else if (c == '"' || c == '\'') {
      ++pos_;
      std::string text;
      if (String(c, &text) && rule_ == Rule::kImport) Add(std::move(text), true);
      Token();
    } else if (c == '@') {
      ++pos_;
      const std::string name = AsciiLowerCopy(Name());
      rule_ = name == "import"      ? Rule::kImport
              : name == "namespace" ? Rule::kNamespace
                                    : Rule::kOther;
      last_name_.clear();
    } else if (IsNameChar(c) || StartsEscape()) {
      NameOrUrl();
    } else {
      Punctuation(c);
    }
  }
  if (!found_) return false;
  *link = std::move(*found_);
  found_.reset();
  return true;
}

bool CssReader::StartsEscape() const {
  return css_[pos_] == '\\' && pos_ + 1 < css_.size() && !IsNewline(css_[pos_ + 1]);
}

// A token other than the first after @import ends the hope of one.
void CssReader::Token() {
  if (rule_ == Rule::kImport) rule_ = Rule::kOther;
  last_name_.clear();
}

void CssReader::NameOrUrl() {
  std::string name = Name();
  if (pos_ < css_.size() && css_[pos_] == '(' && AsciiLowerCopy(name) == "url") {
    ++pos_;
    std::optional<std::string> url = Url();
    if (url && rule_ != Rule::kNamespace) Add(std::move(*url), rule_ == Rule::kImport);
    Token();
    return;
  }
  Token();
  last_name_ = std::move(name);
}

void CssReader::Punctuation(char c) {
  if (c == ':' && !last_name_.empty()) property_ = AsciiLowerCopy(last_name_);
  if (c == '{' || c == '}' || c == ';') {
    property_.clear();
    rule_ = Rule::kOther;
  }
  Token();
  ++pos_;
}

// The escape whose backslash lies just before pos_: hex digits (and one blank after them)
// give a code point, any other character stands for itself.
void CssReader::Escape(std::string& out) {
  if (pos_ >= css_.size()) return AppendUtf8(0xFFFD, &out);
  if (!IsHexDigit(css_[pos_])) {
    out += css_[pos_++];
    return;
  }
  uint32_t code = 0;
  for (int digits = 0; digits < 6 && pos_ < css_.size() && IsHexDigit(css_[pos_]); ++digits)
    code = code * 16 + HexValue(css_[pos_++]);
  if (pos_ < css_.size() && IsCssSpace(css_[pos_]))
    pos_ += css_.compare(pos_, 2, "\r\n") == 0 ? 2 : 1;
  AppendUtf8(code == 0 ? 0xFFFD : code, &out);
}

std::string CssReader::Name() {
  std::string name;
  while (pos_ < css_.size()) {
    if (IsNameChar(css_[pos_])) {
      name += css_[pos_++];
    } else if (StartsEscape()) {
      ++pos_;
      Escape(name);
    } else {
      break;
    }
  }
  return name;
}

// The string whose opening quote lies just before pos_; false when a line break cuts it off,
// which a browser drops.
bool CssReader::String(char quote, std::string* out) {
  while (pos_ < css_.size()) {
    const char c = css_[pos_++];
    if (c == quote) return true;
    if (IsNewline(c)) {
      --pos_;
      return false;
    }
    if (c != '\\') {
      *out += c;
    } else if (pos_ < css_.size() && IsNewline(css_[pos_])) {
      pos_ += css_.compare(pos_, 2, "\r\n") == 0 ? 2 : 1;  // a line continued
    } else if (pos_ < css_.size()) {
      Escape(*out);
    }
  }
  return true;
}

// The value of the url() whose "(" lies just before pos_, nothing when a browser rejects it.
std::optional<std::string> CssReader::Url() {
  while (pos_ < css_.size() && IsCssSpace(css_[pos_])) ++pos_;
  if (pos_ < css_.size() && (css_[pos_] == '"' || css_[pos_] == '\'')) {
    std::string text;
    const bool whole = String(css_[pos_++], &text);
    return whole ? std::optional<std::string>(std::move(text)) : std::nullopt;
  }
  std::string text;
  while (pos_ < css_.size()) {
    const char c = css_[pos_++];
    if (c == ')') return text;
    if (IsCssSpace(c)) {
      while (pos_ < css_.size() && IsCssSpace(css_[pos_])) ++pos_;
      if (pos_ == css_.size() || css_[pos_] == ')') return ++pos_, text;
    } else if (c == '\\' && pos_ < css_.size() && !IsNewline(css_[pos_])) {
      Escape(text);
      continue;
    } else if (c != '"' && c != '\'' && c != '(' && c != '\\' && !IsNonPrintable(c)) {
      text += c;
      continue;
    }
    SkipBadUrl();
    return std::nullopt;
  }
  return text;
}

// What is left of a rejected url(), up to its ")".
void CssReader::SkipBadUrl() {
  while (pos_ < css_.size() && css_[pos_] != ')') pos_ += css_[pos_] == '\\' ? 2 : 1;
  pos_ = std::min(pos_ + 1, css_.size());
}

void CssReader::Add(std::string written, bool import) {
  const size_t first = written.find_first_not_of(" \t\n\r\f");
  if (first == std::string::npos || written[first] == '#') return;
  written = written.substr(first, written.find_last_not_of(" \t\n\r\f") + 1 - first);
  std::string name = import ? "@import" : property_.empty() ? "url" : property_;
  found_ = CssLink{std::move(written), std::move(name), import};
}

std::vector<CssLink> FindCssLinks(std::string_view css) {
  std::vector<CssLink> links;
  CssLinkReader reader(css);
  for (CssLink link; reader.Next(&link);) links.push_back(std::move(link));
  return links;
}

CssLinkReader::CssLinkReader(std::string_view css) : reader_(std::make_unique<CssReader>(css)) {}
CssLinkReader::CssLinkReader(CssLinkReader&&) noexcept = default;
CssLinkReader& CssLinkReader::operator=(CssLinkReader&&) noexcept = default;
CssLinkReader::~CssLinkReader() = default;

bool CssLinkReader::Next(CssLink* link) { return reader_->Next(link); }

std::string StyleSheetText(std::string_view bytes, PageEncoding linking_page) {
  if (HasUtf8Bom(bytes)) return ValidUtf8(bytes.substr(3));
  PageEncoding encoding = linking_page;
  // The rule counts only as the sheet's very first bytes, written exactly so.
  constexpr std::string_view kCharsetRule = "@charset \"";
  if (bytes.starts_with(kCharsetRule)) {
    const size_t end = bytes.find("\";", kCharsetRule.size());
    if (end != std::string_view::npos && end < 64)
      encoding = EncodingForName(bytes.substr(kCharsetRule.size(), end - kCharsetRule.size()));
  }
  return BytesAsUtf8(bytes, encoding);
}

}  // namespace voxtrel
