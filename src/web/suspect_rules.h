#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/http_answer.h"

namespace voxtrel {

/// What a closed service's old addresses do now.
enum class ServiceFate {
  kDeleted,   // gone: the pages were removed
  kNotice,    // a closure notice in place of every page
  kForwards,  // they forward to the service's new home: alive
  kStale,     // frozen pages still served, never updated again
};

/// A hosting or blog service that has closed.
struct ClosedService {
  std::string name;    // "Yahoo!ジオシティーズ"
  std::string closed;  // "2019-03-31"
  ServiceFate fate = ServiceFate::kDeleted;
};

/// A line of a rules file that could not be read: passed over, the rest still counts.
struct RulesProblem {
  std::string file;
  size_t line = 0;  // from 1
  std::string why;  // in English, e.g. "unknown kind \"closd\"", "bad date \"2019-3-31\""
};

/// What the judgement of answers knows beyond the status: closed services and their address
/// forms, parking services' hosts and the marks of their pages, bot protections' marks, and the
/// titles that say a page is not there. Read from the file shipped with Voxtrel and from the
/// user's own files, in the same form (see data/suspect-rules.txt).
class SuspectRules {
 public:
  /// The rules shipped with Voxtrel.
  static SuspectRules Shipped();
  /// The text of the shipped rules file, as built into the program.
  static std::string_view ShippedText();

  /// Adds what the lines of a rules file say; a line that cannot be read is passed over and
  /// told in `problems` with `file` and its number.
  void Add(std::string_view text, const std::string& file, std::vector<RulesProblem>* problems);

  /// The closed service `url` (an absolute address) is an old address of, when it closed on or
  /// before `today` ("YYYY-MM-DD"); null otherwise.
  const ClosedService* ClosedServiceOf(std::string_view url, std::string_view today) const;
  /// Whether `url` is on one of the service's own hosts (a forwarding service's answer that
  /// never left it did not forward).
  bool OnServiceHost(const ClosedService& service, std::string_view url) const;
  /// The parking service `url`'s host belongs to; "" when none.
  std::string ParkingServiceOfHost(std::string_view url) const;
  /// The parking service whose marks a page carries (`body`: the start of its bytes, in any
  /// encoding; marks are ASCII or UTF-8); "" when none.
  std::string ParkingServiceMarkedIn(std::string_view body) const;
  /// The bot protection whose marks an answer with `status` carries, in its header fields, its
  /// page's title (UTF-8) or the start of its body; "" when none. Only a 403, 429, 503 or 999 is
  /// ever a bot wall.
  std::string BotWallOf(int status, const HeaderFields& headers, std::string_view title,
                        std::string_view body) const;
  /// Whether a page's title (UTF-8) says the page is not there: "404 Not Found",
  /// "ページが見つかりません", "削除されました"...
  bool TitleSaysNotFound(std::string_view title) const;

 private:
  struct HostPattern {
    std::string host;  // lower case; "*" matches any run of characters
    std::string path;  // the path must start with this ("/~"); "" for any
  };
  struct Service {
    ClosedService service;
    std::vector<HostPattern> patterns;
  };
  struct Marked {
    std::string name;
    std::string text;   // in the body (parking marks, bot texts) or a header's value
    std::string field;  // bot header marks: the header's name, lower case
    int status = 0;     // bot status marks
  };
  // The reason a line cannot be read, "" once it counts; `fields` starts with its kind.
  std::string AddLine(const std::vector<std::string_view>& fields);
  // Reads the blank-separated patterns of `fields`; all of them or, with a reason, none.
  static std::string AddPatterns(const std::vector<std::string_view>& fields,
                                 std::vector<HostPattern>* patterns);

  std::vector<Service> services_;
  std::vector<std::pair<std::string, HostPattern>> parking_hosts_;
  std::vector<Marked> parking_marks_;
  std::vector<Marked> bot_marks_;
  std::vector<std::string> not_found_titles_;
};

}  // namespace voxtrel
