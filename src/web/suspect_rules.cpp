#include "web/suspect_rules.h"

#include <algorithm>
#include <optional>

#include "platform/text.h"
#include "web/url.h"

namespace voxtrel {
namespace {

using Fields = std::vector<std::string_view>;

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = AsciiLower(c);
  return lower;
}

bool ContainsNoCase(std::string_view text, std::string_view piece) {
  return std::search(text.begin(), text.end(), piece.begin(), piece.end(),
                     [](char a, char b) { return AsciiLower(a) == AsciiLower(b); }) != text.end() ||
         piece.empty();
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), IsDigit);
}

// Whether `number` occurs in `text` with no digit on either side: "Error 404" says it, "14040
// items" does not.
bool HasWholeNumber(std::string_view text, std::string_view number) {
  for (size_t at = text.find(number); at != std::string_view::npos;
       at = text.find(number, at + 1)) {
    const size_t end = at + number.size();
    if ((at == 0 || !IsDigit(text[at - 1])) && (end == text.size() || !IsDigit(text[end])))
      return true;
  }
  return false;
}

struct HostAndPath {
  std::string host;
  std::string path;
};

// The host an address names, without user info, port or a final dot, and its path; nothing for
// an address that is no absolute http(s) one.
std::optional<HostAndPath> HostAndPathOf(std::string_view url) {
  const std::optional<UrlParts> parts = SplitUrl(url);
  if (!parts) return std::nullopt;
  std::string_view host = parts->authority;
  if (const size_t at = host.rfind('@'); at != std::string_view::npos) host.remove_prefix(at + 1);
  const size_t colon = host.rfind(':');
  if (colon != std::string_view::npos && host.find(']', colon) == std::string_view::npos)
    host = host.substr(0, colon);
  if (host.ends_with('.')) host.remove_suffix(1);
  return HostAndPath{std::string(host), parts->path};
}

// Whether an address's host (and, unless `host_only`, path) is one a pattern names.
bool Matches(std::string_view host, std::string_view path_prefix, const HostAndPath& where,
             bool host_only) {
  if (!MatchesStars(host, where.host)) return false;
  // Old links often write "~" as "%7E"; either names the same folder.
  return host_only || where.path.starts_with(path_prefix) ||
         PercentDecode(where.path).starts_with(path_prefix);
}

// Splits a line at its tabs, a run of tabs counting as one; blanks around a field are dropped.
Fields SplitFields(std::string_view line) {
  Fields fields;
  size_t start = 0;
  while (start <= line.size()) {
    size_t tab = line.find('\t', start);
    if (tab == std::string_view::npos) tab = line.size();
    const std::string_view field = TrimBlanks(line.substr(start, tab - start));
    if (!field.empty()) fields.push_back(field);
    start = tab + 1;
  }
  return fields;
}

bool IsDate(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
    if (!IsDigit(text[i])) return false;
  const std::string_view month = text.substr(5, 2), day = text.substr(8, 2);
  return month >= "01" && month <= "12" && day >= "01" && day <= "31";
}

std::optional<ServiceFate> FateOf(std::string_view text) {
  if (text == "deleted") return ServiceFate::kDeleted;
  if (text == "notice") return ServiceFate::kNotice;
  if (text == "forwards") return ServiceFate::kForwards;
  if (text == "stale") return ServiceFate::kStale;
  return std::nullopt;
}

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// How many fields each kind takes, its own name included; patterns may run on (`open`).
struct KindShape {
  std::string_view kind;
  size_t fields;
  bool open;
  std::string_view needs;
};

constexpr KindShape kShapes[] = {
    {"closed", 5, true, "a name, a date, a fate and a pattern"},
    {"parking-host", 3, true, "a name and a pattern"},
    {"parking-mark", 3, false, "a name and a text"},
    {"bot-header", 4, false, "a name, a header field and a text"},
    {"bot-text", 3, false, "a name and a text"},
    {"bot-status", 3, false, "a name and a status"},
    {"not-found-title", 2, false, "a text"},
};

}  // namespace

SuspectRules SuspectRules::Shipped() {
  SuspectRules rules;
  rules.Add(ShippedText(), "suspect-rules.txt", nullptr);
  return rules;
}

void SuspectRules::Add(std::string_view text, const std::string& file,
                       std::vector<RulesProblem>* problems) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  size_t number = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++number;
    if (line.ends_with('\r')) line.remove_suffix(1);
    const Fields fields = SplitFields(line);
    if (fields.empty() || fields.front().starts_with('#')) continue;
    std::string why = AddLine(fields);
    if (!why.empty() && problems) problems->push_back({file, number, std::move(why)});
  }
}

std::string SuspectRules::AddLine(const std::vector<std::string_view>& fields) {
  const auto shape = std::find_if(std::begin(kShapes), std::end(kShapes),
                                  [&](const KindShape& s) { return s.kind == fields[0]; });
  if (shape == std::end(kShapes)) return "unknown kind " + Quoted(fields[0]);
  if (fields.size() < shape->fields || (!shape->open && fields.size() > shape->fields))
    return std::string(fields.size() < shape->fields ? "missing field" : "extra field") + " (" +
           std::string(shape->kind) + " takes " + std::string(shape->needs) + ")";
  const std::string name(fields[1]);
  if (shape->kind == "closed") {
    if (!IsDate(fields[2])) return "bad date " + Quoted(fields[2]);
    const std::optional<ServiceFate> fate = FateOf(fields[3]);
    if (!fate) return "bad fate " + Quoted(fields[3]);
    Service service{{name, std::string(fields[2]), *fate}, {}};
    std::string why = AddPatterns({fields.begin() + 4, fields.end()}, &service.patterns);
    if (why.empty()) services_.push_back(std::move(service));
    return why;
  }
  if (shape->kind == "parking-host") {
    std::vector<HostPattern> patterns;
    std::string why = AddPatterns({fields.begin() + 2, fields.end()}, &patterns);
    if (why.empty())
      for (HostPattern& pattern : patterns) parking_hosts_.emplace_back(name, std::move(pattern));
    return why;
  }
  if (shape->kind == "parking-mark") {
    parking_marks_.push_back({name, std::string(fields[2]), "", 0});
  } else if (shape->kind == "bot-header") {
    bot_marks_.push_back({name, std::string(fields[3]), Lower(fields[2]), 0});
  } else if (shape->kind == "bot-text") {
    bot_marks_.push_back({name, std::string(fields[2]), "", 0});
  } else if (shape->kind == "bot-status") {
    if (fields[2].size() != 3 || !AllDigits(fields[2]) || fields[2][0] == '0')
      return "bad status " + Quoted(fields[2]);
    bot_marks_.push_back({name, "", "", std::stoi(std::string(fields[2]))});
  } else {
    not_found_titles_.emplace_back(fields[1]);
  }
  return "";
}

std::string SuspectRules::AddPatterns(const std::vector<std::string_view>& fields,
                                      std::vector<HostPattern>* patterns) {
  std::vector<HostPattern> read;
  for (std::string_view field : fields) {
    while (!field.empty()) {
      const size_t blank = std::min(field.find(' '), field.size());
      const std::string_view written = field.substr(0, blank);
      field = TrimBlanks(field.substr(blank));
      const size_t slash = std::min(written.find('/'), written.size());
      if (slash == 0 || written.find_first_of(":@?#") != std::string_view::npos)
        return "bad pattern " + Quoted(written);
      read.push_back({Lower(written.substr(0, slash)), std::string(written.substr(slash))});
    }
  }
  patterns->insert(patterns->end(), read.begin(), read.end());
  return "";
}

const ClosedService* SuspectRules::ClosedServiceOf(std::string_view url,
                                                   std::string_view today) const {
  const std::optional<HostAndPath> where = HostAndPathOf(url);
  if (!where) return nullptr;
  for (const Service& service : services_) {
    if (service.service.closed > today) continue;
    for (const HostPattern& pattern : service.patterns)
      if (Matches(pattern.host, pattern.path, *where, false)) return &service.service;
  }
  return nullptr;
}

bool SuspectRules::OnServiceHost(const ClosedService& service, std::string_view url) const {
  const std::optional<HostAndPath> where = HostAndPathOf(url);
  if (!where) return false;
  for (const Service& own : services_) {
    if (own.service.name != service.name) continue;
    for (const HostPattern& pattern : own.patterns)
      if (Matches(pattern.host, pattern.path, *where, true)) return true;
  }
  return false;
}

std::string SuspectRules::ParkingServiceOfHost(std::string_view url) const {
  const std::optional<HostAndPath> where = HostAndPathOf(url);
  if (!where) return "";
  for (const auto& [name, pattern] : parking_hosts_)
    if (Matches(pattern.host, pattern.path, *where, false)) return name;
  return "";
}

std::string SuspectRules::ParkingServiceMarkedIn(std::string_view body) const {
  for (const Marked& mark : parking_marks_)
    if (body.find(mark.text) != std::string_view::npos) return mark.name;
  return "";
}

std::string SuspectRules::BotWallOf(int status, const HeaderFields& headers, std::string_view title,
                                    std::string_view body) const {
  if (status != 403 && status != 429 && status != 503 && status != 999) return "";
  for (const Marked& mark : bot_marks_) {
    if (mark.status != 0) {
      if (mark.status == status) return mark.name;
    } else if (!mark.field.empty()) {
      for (const auto& [field, value] : headers)
        if (Lower(field) == mark.field && (mark.text == "*" || ContainsNoCase(value, mark.text)))
          return mark.name;
    } else if (ContainsNoCase(title, mark.text) || ContainsNoCase(body, mark.text)) {
      return mark.name;
    }
  }
  return "";
}

bool SuspectRules::TitleSaysNotFound(std::string_view title) const {
  for (const std::string& text : not_found_titles_)
    if (AllDigits(text) ? HasWholeNumber(title, text) : ContainsNoCase(title, text)) return true;
  return false;
}

}  // namespace voxtrel
