#include "cli/config_file.h"

#include <toml++/toml.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <utility>

#include "platform/http_options.h"

namespace voxtrel {

namespace {

// What a key's value must be beyond what the option's own setter checks. A key this table does
// not know takes text or a number, once or as a list, so a new option is a key with no more code.
enum class Shape { kText, kNumber, kTextList, kAny };

Shape ShapeOf(const std::string& key) {
  static const std::map<std::string, Shape> shapes = {
      {"jobs", Shape::kNumber},
      {"per-host", Shape::kNumber},
      {"retries", Shape::kNumber},
      {"rate", Shape::kNumber},
      {"timeout", Shape::kNumber},
      {"max-pages", Shape::kNumber},
      {"max-depth", Shape::kNumber},
      {"max-links-per-page", Shape::kNumber},
      {"output", Shape::kText},
      {"report-format", Shape::kText},
      {"report-encoding", Shape::kText},
      {"format", Shape::kText},
      {"user-agent", Shape::kText},
      {"cacert", Shape::kText},
      {"links", Shape::kText},
      {"root", Shape::kText},
      {"recheck", Shape::kText},
      {"accept", Shape::kText},
      {"netrc-file", Shape::kText},
      {"exclude", Shape::kTextList},
      {"suspect-rules", Shape::kTextList},
      {"header", Shape::kTextList},
  };
  auto shape = shapes.find(key);
  return shape == shapes.end() ? Shape::kAny : shape->second;
}

const char* Wanted(Shape shape) {
  switch (shape) {
    case Shape::kText:
      return "a string";
    case Shape::kNumber:
      return "a number";
    case Shape::kTextList:
      return "a list of strings";
    case Shape::kAny:
      break;
  }
  return "a string, a number or a list of them";
}

// A number as the command line would write it; the shortest text that reads back the same.
std::string NumberText(const toml::node& node) {
  if (const auto* integer = node.as_integer()) return std::to_string(integer->get());
  char text[64];
  const auto written = std::to_chars(text, text + sizeof text, node.as_floating_point()->get());
  return std::string(text, written.ptr);
}

// One value of the file as the command line would give it; false when `shape` does not take
// its type.
bool ScalarText(const toml::node& node, Shape shape, std::string* text) {
  if (const auto* string = node.as_string(); string && shape != Shape::kNumber) {
    *text = string->get();
    return true;
  }
  if ((node.is_integer() || node.is_floating_point()) &&
      (shape == Shape::kNumber || shape == Shape::kAny)) {
    *text = NumberText(node);
    return true;
  }
  return false;
}

// What a configuration file says, as options of the command line with the line of each.
struct ConfigFile {
  std::vector<std::pair<NamedOption, size_t>> options;
  std::optional<std::string> target;
};

std::string Where(const std::string& file, const toml::node& node) {
  return file + ":" + std::to_string(node.source().begin.line) + ": ";
}

bool WrongType(const std::string& file, const toml::node& node, const std::string& key,
               const char* wanted, std::string* err) {
  *err = Where(file, node) + "wrong type for key '" + key + "': " + wanted + " is wanted";
  return false;
}

bool ReadEntry(const std::string& file, const std::string& key, const toml::node& node,
               ConfigFile* config, std::string* err) {
  const size_t line = node.source().begin.line;
  if (key == "target") {
    if (!node.is_string()) return WrongType(file, node, key, "a string", err);
    config->target = node.as_string()->get();
    return true;
  }
  const std::string name = "--" + key;
  // The file cannot name another file, nor ask for itself to be printed.
  const OptionKind kind =
      key == "config" || key == "dump-config" ? OptionKind::kUnknown : KindOf(name);
  if (kind == OptionKind::kUnknown) {
    *err = Where(file, node) + "unknown key '" + key + "'";
    return false;
  }
  if (kind == OptionKind::kFlag) {
    if (!node.is_boolean()) return WrongType(file, node, key, "true or false", err);
    config->options.push_back({{name, node.as_boolean()->get() ? "true" : "false"}, line});
    return true;
  }
  const Shape shape = ShapeOf(key);
  const Shape item_shape = shape == Shape::kTextList ? Shape::kText : shape;
  std::string text;
  if (const toml::array* list = node.as_array();
      list && (shape == Shape::kTextList || shape == Shape::kAny)) {
    for (const toml::node& item : *list) {
      if (!ScalarText(item, item_shape, &text))
        return WrongType(file, item, key, Wanted(shape), err);
      config->options.push_back({{name, text}, item.source().begin.line});
    }
    return true;
  }
  if (!ScalarText(node, item_shape, &text)) return WrongType(file, node, key, Wanted(shape), err);
  config->options.push_back({{name, text}, line});
  return true;
}

bool ReadConfigFile(const std::string& file, ConfigFile* config, std::string* err) {
  std::ifstream in(file, std::ios::binary);
  std::error_code ec;
  if (!in || std::filesystem::is_directory(file, ec)) {
    *err = "cannot read " + file;
    return false;
  }
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  toml::table table;
  try {
    table = toml::parse(text, file);
  } catch (const toml::parse_error& fault) {
    *err = file + ":" + std::to_string(fault.source().begin.line) + ": " +
           std::string(fault.description());
    return false;
  }
  // Keys come sorted; a file's faults are told from its top, so the first by line is told.
  std::vector<std::pair<std::string, const toml::node*>> entries;
  for (const auto& [key, node] : table) entries.emplace_back(std::string(key.str()), &node);
  std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
    return a.second->source().begin.line < b.second->source().begin.line;
  });
  for (const auto& [key, node] : entries)
    if (!ReadEntry(file, key, *node, config, err)) return false;
  return true;
}

// An option's value as the file would hold it: a number where the key takes one.
void Insert(toml::table* table, const std::string& key, const std::string& text) {
  if (ShapeOf(key) == Shape::kNumber) {
    char* end = nullptr;
    const long long integer = std::strtoll(text.c_str(), &end, 10);
    if (!text.empty() && *end == '\0') {
      table->insert_or_assign(key, static_cast<int64_t>(integer));
      return;
    }
    table->insert_or_assign(key, std::strtod(text.c_str(), nullptr));
    return;
  }
  table->insert_or_assign(key, text);
}

// The options in effect as a file that reads back as them: what was given over the defaults
// this front end knows.
std::string DumpConfig(const CommandLine& given) {
  toml::table table;
  const CheckerOptions defaults;
  for (const std::string& flag : LongOptions(OptionKind::kFlag))
    if (flag != "--dump-config") table.insert_or_assign(flag.substr(2), false);
  for (const auto& [key, value] :
       {std::pair{"jobs", defaults.jobs},
        {"per-host", defaults.per_host},
        {"retries", defaults.retries},
        {"max-pages", static_cast<int>(defaults.crawl_bounds.max_pages)},
        {"max-depth", static_cast<int>(defaults.crawl_bounds.max_depth)},
        {"max-links-per-page", static_cast<int>(defaults.crawl_bounds.max_links_per_page)}})
    table.insert_or_assign(key, static_cast<int64_t>(value));
  table.insert_or_assign("links", "classic");
  table.insert_or_assign("format", "csv");
  table.insert_or_assign("accept", "200..299");
  table.insert_or_assign("timeout", static_cast<int64_t>(HttpOptions().total_timeout_ms / 1000));
  table.insert_or_assign("max-cache-age", "1d");
  std::map<std::string, std::vector<std::string>> values;
  for (const NamedOption& option : given.options)
    if (option.name != "--config" && option.name != "--dump-config")
      values[option.name.substr(2)].push_back(option.value.value_or("true"));
  for (const auto& [key, texts] : values) {
    const Shape shape = ShapeOf(key);
    if (KindOf("--" + key) == OptionKind::kFlag) {
      table.insert_or_assign(key, texts.back() == "true");
    } else if (shape == Shape::kTextList || (shape == Shape::kAny && texts.size() > 1)) {
      toml::array list;
      for (const std::string& text : texts) list.push_back(text);
      table.insert_or_assign(key, std::move(list));
    } else {
      Insert(&table, key, texts.back());
    }
  }
  if (given.target) table.insert_or_assign("target", *given.target);
  std::ostringstream out;
  out << "# voxtrel-check: the options in effect\n" << table << "\n";
  return out.str();
}

}  // namespace

ParseOutcome ParseCheckerConfig(const std::vector<std::string>& args,
                                const std::string& default_file, CheckerOptions* options,
                                std::string* dump, std::string* err) {
  CommandLine line;
  const ParseOutcome outcome = ReadCommandLine(args, &line, err);
  if (outcome != ParseOutcome::kRun) return outcome;
  std::optional<std::string> file;
  std::set<std::string> given;
  for (const NamedOption& option : line.options) {
    if (option.name == "--config") file = option.value;
    given.insert(option.name);
  }
  std::error_code ec;
  if (!file && !default_file.empty() && std::filesystem::is_regular_file(default_file, ec))
    file = default_file;
  ConfigFile config;
  if (file && !ReadConfigFile(*file, &config, err)) return ParseOutcome::kError;
  // The file's options only where the command line leaves them: a repeatable option given
  // there replaces the file's whole list rather than adding to it.
  CommandLine in_effect;
  for (const auto& [option, at] : config.options) {
    if (given.count(option.name)) continue;
    if (!ApplyOption(option, options)) {
      *err = *file + ":" + std::to_string(at) + ": bad value for key '" + option.name.substr(2) +
             "': " + *option.value;
      return ParseOutcome::kError;
    }
    in_effect.options.push_back(option);
  }
  for (const NamedOption& option : line.options) {
    if (!ApplyOption(option, options)) {
      *err = "bad value for " + option.name + ": " + *option.value;
      return ParseOutcome::kError;
    }
    in_effect.options.push_back(option);
  }
  // A TARGET on the command line, or a report to ask again there, replaces the file's.
  in_effect.target = line.target || given.count("--recheck") ? line.target : config.target;
  if (in_effect.target) options->target = *in_effect.target;
  if (!CheckTarget(in_effect, *options, err)) return ParseOutcome::kError;
  if (options->dump_config) *dump = DumpConfig(in_effect);
  return ParseOutcome::kRun;
}

}  // namespace voxtrel
