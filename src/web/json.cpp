#include "web/json.h"

#include <cstdint>
#include <utility>

#include "platform/text.h"

namespace voxtrel {
namespace {

bool Fail(const std::string& why, std::string* err) {
  *err = why;
  return false;
}

// RFC 8259 JSON, nothing more: no comments, no trailing commas, no duplicate keys, UTF-8 only.
class JsonParser {
 public:
  /// `text` begins on line `first_line` of the file.
  JsonParser(std::string_view text, size_t first_line) : text_(text), line_(first_line) {}

  bool Parse(JsonValue* value, std::string* err) {
    if (!IsValidUtf8(text_)) return Fail("the file is not UTF-8", err);
    if (!Value(value, 0)) return Fail(why_, err);
    SkipBlanks();
    if (pos_ != text_.size()) return Fail("text after the end of the value", err);
    return true;
  }

 private:
  // Deeper than any report goes; keeps a hostile file from exhausting the stack.
  static constexpr int kMaxDepth = 32;

  bool Error(const std::string& what) {
    why_ = "line " + std::to_string(Line()) + ": " + what;
    return false;
  }
  // The reading only moves forward, so the lines are counted as it goes.
  size_t Line() {
    for (; counted_ < pos_ && counted_ < text_.size(); ++counted_) line_ += text_[counted_] == '\n';
    return line_;
  }
  void SkipBlanks() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                   text_[pos_] == '\n' || text_[pos_] == '\r'))
      ++pos_;
  }
  bool Take(char c) {
    SkipBlanks();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool Word(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  bool Value(JsonValue* out, int depth) {
    SkipBlanks();
    out->line = Line();
    if (depth > kMaxDepth) return Error("nested too deeply");
    if (pos_ >= text_.size()) return Error("the text ends where a value should be");
    const char c = text_[pos_];
    if (c == '{') return Object(out, depth);
    if (c == '[') return Array(out, depth);
    if (c == '"') {
      std::string s;
      if (!String(&s)) return false;
      out->value = std::move(s);
      return true;
    }
    if (Word("null")) return out->value = nullptr, true;
    if (Word("true")) return out->value = true, true;
    if (Word("false")) return out->value = false, true;
    return Number(out);
  }

  bool Number(JsonValue* out) {
    const size_t start = pos_;
    auto digits = [this] {
      const size_t from = pos_;
      while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
      return pos_ - from;
    };
    if (pos_ < text_.size() && text_[pos_] == '-') ++pos_;
    const size_t int_start = pos_;
    const size_t int_digits = digits();
    if (int_digits == 0 || (int_digits > 1 && text_[int_start] == '0'))
      return Error("not a JSON value");
    if (pos_ < text_.size() && text_[pos_] == '.' && (++pos_, digits() == 0))
      return Error("a number without digits after its point");
    if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
      if (digits() == 0) return Error("a number without digits in its exponent");
    }
    out->value = JsonNumber{std::string(text_.substr(start, pos_ - start))};
    return true;
  }

  bool Hex4(uint32_t* code) {
    if (pos_ + 4 > text_.size()) return Error("a short \\u escape");
    *code = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = text_[pos_++];
      const int digit = h >= '0' && h <= '9'   ? h - '0'
                        : h >= 'a' && h <= 'f' ? h - 'a' + 10
                        : h >= 'A' && h <= 'F' ? h - 'A' + 10
                                               : -1;
      if (digit < 0) return Error("a bad \\u escape");
      *code = *code * 16 + static_cast<uint32_t>(digit);
    }
    return true;
  }

  bool String(std::string* out) {
    ++pos_;  // the opening quote
    for (;;) {
      if (pos_ >= text_.size()) return Error("a string without its closing quote");
      const char c = text_[pos_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return Error("a control character in a string");
      if (c != '\\') {
        *out += c;
        continue;
      }
      if (pos_ >= text_.size()) return Error("a string without its closing quote");
      const char e = text_[pos_++];
      static constexpr std::string_view kFrom = "\"\\/bfnrt", kTo = "\"\\/\b\f\n\r\t";
      if (const size_t k = kFrom.find(e); k != std::string_view::npos) {
        *out += kTo[k];
        continue;
      }
      if (e != 'u') return Error(std::string("an unknown escape \\") + e);
      uint32_t code = 0;
      if (!Hex4(&code)) return false;
      if (code >= 0xDC00 && code <= 0xDFFF) return Error("a lone surrogate");
      if (code >= 0xD800 && code <= 0xDBFF) {
        uint32_t low = 0;
        if (!Word("\\u") || !Hex4(&low) || low < 0xDC00 || low > 0xDFFF)
          return Error("a lone surrogate");
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
      }
      AppendUtf8(code, out);
    }
  }

  bool Array(JsonValue* out, int depth) {
    ++pos_;
    JsonArray items;
    if (!Take(']')) {
      do {
        if (!Value(&items.emplace_back(), depth + 1)) return false;
      } while (Take(','));
      if (!Take(']')) return Error("expected , or ] in a list");
    }
    out->value = std::move(items);
    return true;
  }

  bool Object(JsonValue* out, int depth) {
    ++pos_;
    JsonObject fields;
    if (!Take('}')) {
      do {
        SkipBlanks();
        if (pos_ >= text_.size() || text_[pos_] != '"') return Error("expected a field name");
        std::string key;
        if (!String(&key)) return false;
        if (fields.count(key)) return Error("the field \"" + key + "\" appears twice");
        if (!Take(':')) return Error("expected : after a field name");
        if (!Value(&fields[key], depth + 1)) return false;
      } while (Take(','));
      if (!Take('}')) return Error("expected , or } in an object");
    }
    out->value = std::move(fields);
    return true;
  }

  std::string_view text_;
  size_t pos_ = 0;
  size_t counted_ = 0;
  size_t line_;
  std::string why_;
};

}  // namespace

bool ParseJson(std::string_view text, JsonValue* value, std::string* err, size_t first_line) {
  return JsonParser(text, first_line).Parse(value, err);
}

const JsonValue* JsonField(const JsonValue& value, const std::string& key) {
  const auto* object = std::get_if<JsonObject>(&value.value);
  if (!object) return nullptr;
  const auto found = object->find(key);
  return found == object->end() ? nullptr : &found->second;
}

}  // namespace voxtrel
