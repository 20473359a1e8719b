#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace voxtrel {

struct JsonValue;
using JsonObject = std::map<std::string, JsonValue>;
using JsonArray = std::vector<JsonValue>;

/// A number keeps its text: a report's numbers are integers, which doubles could not hold.
struct JsonNumber {
  std::string text;
};

struct JsonValue {
  std::variant<std::nullptr_t, bool, JsonNumber, std::string, JsonArray, JsonObject> value;
  /// The line the value begins on.
  size_t line = 1;
};

/// Reads `text`, which begins on line `first_line` of its file, as one RFC 8259 JSON value and
/// nothing more: no comments, no trailing commas, no duplicate keys, UTF-8 only, nested at most
/// 32 deep. False when it is not, *err then saying where ("line 3: …") and why.
bool ParseJson(std::string_view text, JsonValue* value, std::string* err, size_t first_line = 1);

/// The field `key` of `value` when `value` is an object that has it; else null.
const JsonValue* JsonField(const JsonValue& value, const std::string& key);

}  // namespace voxtrel
