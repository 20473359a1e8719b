#include "cli/options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <regex>

#include "platform/text.h"

namespace voxtrel {

const char* const kCheckerUsage =
    "usage: voxtrel-check [options] TARGET\n"
    "       voxtrel-check [options] --recheck REPORT.json\n"
    "       voxtrel-check [options] --sitemap URL|FILE\n"
    "\n"
    "Checks every absolute http:// link of HTML pages and lists the dead ones.\n"
    "TARGET is a folder (its .htm/.html/.shtm/.shtml pages), one local page file,\n"
    "or the address of a web page (http:// or https://), which is fetched first.\n"
    "\n"
    "options:\n"
    "  -r, --recursive          include subfolders of a folder TARGET\n"
    "  -a, --all                also list links that answered (\xE2\x97\x8E or \xE2\x96\xB3)\n"
    "  -o, --output FILE        save the result list as a report: HTML when FILE ends\n"
    "                           in .htm or .html, JSON for .json, Markdown for .md,\n"
    "                           JUnit XML for .xml, SARIF for .sarif, CSV otherwise\n"
    "      --report-format csv|html|json|markdown|junit|sarif|github\n"
    "                           force the report's form\n"
    "      --report-encoding shift_jis|utf-8   the report's encoding (shift_jis;\n"
    "                           utf-8 for a detailed report)\n"
    "      --report-detail      a detailed HTML or CSV report: what was checked, when,\n"
    "                           the counts, and each row's reason and new address\n"
    "      --format csv|json    rows on stdout as CSV (default) or JSON Lines\n"
    "      --format markdown|junit|sarif|github   instead, when the run ends, a report\n"
    "                           for CI on stdout: Markdown, JUnit XML, SARIF 2.1.0 or\n"
    "                           GitHub Actions commands (written whole after Ctrl-C too)\n"
    "  -q, --quiet              print only errors and the https note\n"
    "  -j, --jobs N             requests in flight at once, 1-256 (128; 1 = one at a time)\n"
    "      --per-host N         requests in flight to one host, 1-64 (8)\n"
    "      --retries N          ask a cut-off answer, a refused reconnection, 502, 503\n"
    "                           or 504 again up to N times, 0-10 (1)\n"
    "      --rate N             requests started per second to one host at most\n"
    "      --once               ask each distinct address once per run\n"
    "      --https              also check https:// links\n"
    "      --keep-query         ask addresses with what follows their '?'\n"
    "      --links classic|all  the old rule's absolute http:// links (classic), or every\n"
    "                           link a browser follows: relative links, images, style\n"
    "                           sheets, scripts, frames, anchors (all)\n"
    "      --root DIR           where /... links of local pages lead (the checked folder)\n"
    "      --crawl              with a web page TARGET: check every page of its site\n"
    "                           (same scheme, host and port, under the page's folder)\n"
    "                           reached from it by links, breadth first; robots.txt\n"
    "                           is honoured and each address asked once\n"
    "      --max-pages N        pages a crawl or a sitemap run checks at most (10000)\n"
    "      --max-depth N        links a crawl follows from the start page at most (50)\n"
    "      --max-links-per-page N   links checked (and followed) in one page at most\n"
    "                           (100000)\n"
    "      --cacert FILE        trust the certificates in this PEM file instead\n"
    "      --timeout SECONDS    a request's time in all, 1-86400 (60; connecting 15 at most)\n"
    "      --user-agent TEXT    the User-Agent header sent\n"
    "      --exclude REGEX      no request and no row for matching links (repeatable)\n"
    "      --suspect            also judge what answered as a reader would: old addresses\n"
    "                           of closed services, parked domains, soft 404s, bot walls,\n"
    "                           anchors missing on other sites (\xEF\xBC\x9F rows, listed\n"
    "                           always); a few more requests (probes)\n"
    "      --suspect-rules FILE more rules, in the form of the shipped ones (repeatable);\n"
    "                           ~/.config/voxtrel/suspect-rules.txt is read when it exists\n"
    "      --fail-on-suspect    exit status 1 for \xEF\xBC\x9F rows too\n"
    "      --cache              keep outcomes between runs ($XDG_CACHE_HOME/voxtrel/\n"
    "                           cache.sqlite): a \xE2\x97\x8E kept lately is not asked again\n"
    "      --cache-file FILE    keep them in FILE (implies --cache)\n"
    "      --max-cache-age DURATION   how long a kept \xE2\x97\x8E is trusted: 1d, 12h, 30m,\n"
    "                           90s or seconds; 0 asks every address (1d)\n"
    "      --accept LIST        statuses that count as answered (\xE2\x97\x8E): codes and\n"
    "                           ranges, such as 200..299,403 (200..299)\n"
    "      --header 'NAME: VALUE'   sent with every request (repeatable)\n"
    "      --netrc              log in with the credentials of ~/.netrc for the hosts it\n"
    "                           names; --netrc-file FILE reads FILE instead\n"
    "      --config FILE        read options from this TOML file (voxtrel.toml in the\n"
    "                           current folder when it exists): keys are the long options\n"
    "                           (jobs = 64, exclude = [\"...\"]); the command line wins, and\n"
    "                           a list given there replaces the file's\n"
    "      --dump-config        print the options in effect as such a file and exit\n"
    "      --archive            look up the archived copy of each \xC3\x97 and \xEF\xBC\x9F\n"
    "                           row's address in a web archive (archived in JSON rows\n"
    "                           and detailed reports)\n"
    "      --archive-api URL    the archive's availability API\n"
    "                           (https://archive.org/wayback/available)\n"
    "      --recheck REPORT.json   ask the \xC3\x97 rows of a JSON report again; the rows\n"
    "                           keep their numbers and are written as a run's rows are\n"
    "      --sitemap URL|FILE   check the pages a sitemap (.xml, .xml.gz, or an index\n"
    "                           of sitemaps) lists, in its order, each as a page TARGET\n"
    "      --fix moved|archived show, as a unified diff on stdout, how the pages of a\n"
    "                           folder or file TARGET would change: each permanently\n"
    "                           moved link (moved) or dead one with an archived copy\n"
    "                           (archived, needs --archive) rewritten; only the\n"
    "                           addresses' bytes change. Rows are not printed; the\n"
    "                           diff is UTF-8 on a terminal, else each page's own\n"
    "                           bytes: 'patch -p1' in the checked folder applies it.\n"
    "                           With a web TARGET the diff is a suggestion only\n"
    "      --apply              with --fix: write the pages (never web pages), keeping\n"
    "                           the old ones in .voxtrel-backup/YYYYMMDD-HHMMSS/ of the\n"
    "                           checked folder; a page changed since it was read or\n"
    "                           that cannot be written is left alone and listed\n"
    "      --fix undo           put back the pages of the last change set under TARGET\n"
    "      --ignore-file FILE   set aside the addresses in FILE (one a line, * for any\n"
    "                           characters, # comments; repeatable): no request, no row,\n"
    "                           counted as ignored. A checked folder's .voxtrelignore\n"
    "                           is read too\n"
    "  -h, --help               show this help\n"
    "      --version            show the version\n"
    "\n"
    "Rows are printed as they are found: No,mark,target,link text,page.\n"
    "Exit status: 0 no dead link, 1 dead links found (or \xEF\xBC\x9F rows with\n"
    "--fail-on-suspect), 2 usage error, unreadable target or a folder without pages,\n"
    "130 interrupted (the report of what was found is still written).\n"
    "With --fix ... --apply or --fix undo: 0 every page rewritten (or put back),\n"
    "1 a page left alone, 2 usage error.\n";

namespace {

bool ParseInt(const std::string& text, int low, int high, int* value) {
  char* end = nullptr;
  errno = 0;
  const long number = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno == ERANGE || number < low || number > high)
    return false;
  *value = static_cast<int>(number);
  return true;
}

// A count of `low` to `high` into *count.
bool ParseCount(const std::string& text, int low, int high, size_t* count) {
  int value = 0;
  if (!ParseInt(text, low, high, &value)) return false;
  *count = static_cast<size_t>(value);
  return true;
}

bool SetReportForm(CheckerOptions* o, const std::string& v) {
  static const std::map<std::string, ReportForm> forms = {
      {"csv", ReportForm::kCsv}, {"html", ReportForm::kHtml}, {"json", ReportForm::kJson}};
  auto form = forms.find(v);
  o->report_ci_form = CiFormNamed(v);
  if (form != forms.end()) o->report_form = form->second;
  return form != forms.end() || o->report_ci_form;
}

bool SetReportEncoding(CheckerOptions* o, const std::string& v) {
  if (v != "shift_jis" && v != "utf-8") return false;
  o->report_encoding = v == "utf-8" ? ReportEncoding::kUtf8 : ReportEncoding::kShiftJis;
  return true;
}

bool SetTimeout(CheckerOptions* o, const std::string& v) {
  // From a second to a day: CI jobs set short ones, unlike the window's 5 to 300.
  char* end = nullptr;
  const double seconds = std::strtod(v.c_str(), &end);
  if (v.empty() || *end != '\0' || !(seconds >= 1 && seconds <= 86400)) return false;
  o->timeout_s = seconds;
  return true;
}

bool AddExclude(CheckerOptions* o, const std::string& v) {
  try {
    std::regex check(v, std::regex::ECMAScript);
  } catch (const std::regex_error&) {
    return false;
  }
  o->excludes.push_back(v);
  return true;
}

// A header line as curl sends it: a name, a colon, a value; never a line break, which would
// smuggle in a header or a request of its own.
bool AddHeader(CheckerOptions* o, const std::string& v) {
  const size_t colon = v.find(':');
  if (colon == 0 || colon == std::string::npos || v.find_first_of("\r\n") != std::string::npos)
    return false;
  o->headers.push_back(v);
  return true;
}

using Setter = std::function<bool(CheckerOptions*, const std::string&)>;

// The options of requests and of the configuration file, kept together.
std::map<std::string, Setter> WithRequestOptions(std::map<std::string, Setter> options) {
  options.insert({
      {"--accept",
       [](CheckerOptions* o, const std::string& v) { return ParseStatusRanges(v, &o->accept); }},
      {"--header", AddHeader},
      {"--netrc-file",
       [](CheckerOptions* o, const std::string& v) {
         o->netrc_file = v;
         return !v.empty();
       }},
      {"--config",
       [](CheckerOptions* o, const std::string& v) {
         o->config_path = v;
         return !v.empty();
       }},
  });
  return options;
}

// Options of where pages come from and of what a run keeps and mends, kept together.
std::map<std::string, Setter> WithSourceAndMendOptions(std::map<std::string, Setter> options) {
  options.insert({
      {"--sitemap",
       [](CheckerOptions* o, const std::string& v) {
         o->sitemap = v;
         return !v.empty();
       }},
      {"--cache-file",
       [](CheckerOptions* o, const std::string& v) {
         o->cache = true;
         o->cache_file = v;
         return !v.empty();
       }},
      {"--max-cache-age",
       [](CheckerOptions* o, const std::string& v) {
         return ParseCacheAge(v, &o->max_cache_age_s);
       }},
      {"--archive-api",
       [](CheckerOptions* o, const std::string& v) {
         o->archive_api = v;
         return StartsWithNoCase(v, "HTTP://") || StartsWithNoCase(v, "HTTPS://");
       }},
      {"--fix",
       [](CheckerOptions* o, const std::string& v) {
         o->fix = v;
         return v == "moved" || v == "archived" || v == "undo";
       }},
      {"--ignore-file",
       [](CheckerOptions* o, const std::string& v) {
         o->ignore_files.push_back(v);
         return !v.empty();
       }},
  });
  return options;
}

// Options taking a value, by their long names; false from a setter means a bad value.
const std::map<std::string, Setter>& ValueOptions() {
  static const std::map<std::string, Setter> options = WithRequestOptions(WithSourceAndMendOptions({
      {"--output", [](CheckerOptions* o, const std::string& v) { o->report_path = v; return true; }},
      {"--jobs", [](CheckerOptions* o, const std::string& v) { return ParseInt(v, 1, 256, &o->jobs); }},
      {"--per-host",
       [](CheckerOptions* o, const std::string& v) { return ParseInt(v, 1, 64, &o->per_host); }},
      {"--retries",
       [](CheckerOptions* o, const std::string& v) {
         return ParseInt(v, 0, kMaxRetries, &o->retries);
       }},
      {"--rate",
       [](CheckerOptions* o, const std::string& v) {
         char* end = nullptr;
         const double rate = std::strtod(v.c_str(), &end);
         if (v.empty() || *end != '\0' || !(rate > 0) || !std::isfinite(rate)) return false;
         o->rate = rate;
         return true;
       }},
      {"--format",
       [](CheckerOptions* o, const std::string& v) {
         o->json_rows = v == "json";
         o->ci_format = CiFormNamed(v);
         return v == "json" || v == "csv" || o->ci_format;
       }},
      {"--report-format", SetReportForm},
      {"--report-encoding", SetReportEncoding},
      {"--timeout", SetTimeout},
      {"--user-agent",
       [](CheckerOptions* o, const std::string& v) {
         o->user_agent = v;
         return v.find_first_of("\r\n") == std::string::npos;
       }},
      {"--cacert", [](CheckerOptions* o, const std::string& v) { o->ca_file = v; return !v.empty(); }},
      {"--links",
       [](CheckerOptions* o, const std::string& v) {
         o->all_links = v == "all";
         return v == "all" || v == "classic";
       }},
      {"--root", [](CheckerOptions* o, const std::string& v) { o->root = v; return !v.empty(); }},
      {"--max-pages",
       [](CheckerOptions* o, const std::string& v) {
         return ParseCount(v, 1, 100000000, &o->crawl_bounds.max_pages);
       }},
      {"--max-depth",
       [](CheckerOptions* o, const std::string& v) {
         return ParseCount(v, 0, 100000000, &o->crawl_bounds.max_depth);
       }},
      {"--max-links-per-page",
       [](CheckerOptions* o, const std::string& v) {
         return ParseCount(v, 1, 100000000, &o->crawl_bounds.max_links_per_page);
       }},
      {"--recheck",
       [](CheckerOptions* o, const std::string& v) {
         o->recheck_path = v;
         return !v.empty();
       }},
      {"--exclude", AddExclude},
      {"--suspect-rules",
       [](CheckerOptions* o, const std::string& v) {
         o->suspect_rules.push_back(v);
         return !v.empty();
       }},
  }));
  return options;
}

const std::map<std::string, bool CheckerOptions::*>& FlagOptions() {
  static const std::map<std::string, bool CheckerOptions::*> flags = {
      {"--recursive", &CheckerOptions::recursive}, {"--all", &CheckerOptions::all_results},
      {"--quiet", &CheckerOptions::quiet},         {"--https", &CheckerOptions::https},
      {"--once", &CheckerOptions::once},           {"--keep-query", &CheckerOptions::keep_query},
      {"--crawl", &CheckerOptions::crawl},
      {"--report-detail", &CheckerOptions::report_detail},
      {"--suspect", &CheckerOptions::suspect},
      {"--fail-on-suspect", &CheckerOptions::fail_on_suspect},
      {"--cache", &CheckerOptions::cache},
      {"--netrc", &CheckerOptions::netrc},
      {"--dump-config", &CheckerOptions::dump_config},
      {"--archive", &CheckerOptions::archive},
      {"--apply", &CheckerOptions::apply},
  };
  return flags;
}

// Short forms of the long options.
const std::map<char, std::string>& ShortNames() {
  static const std::map<char, std::string> names = {{'r', "--recursive"}, {'a', "--all"},
                                                     {'q', "--quiet"},     {'o', "--output"},
                                                     {'j', "--jobs"},      {'h', "--help"}};
  return names;
}

// The options in one word: "--name" or "--name=value", or a bundle of short ones ("-rqa") in
// which one taking a value takes the rest of the word ("-ofile"). False for an unknown letter.
bool OptionsIn(const std::string& word, std::vector<NamedOption>* named, std::string* err) {
  if (word[1] == '-') {
    const size_t eq = word.find('=');
    if (eq == std::string::npos) {
      named->push_back({word, std::nullopt});
    } else {
      named->push_back({word.substr(0, eq), word.substr(eq + 1)});
    }
    return true;
  }
  for (size_t k = 1; k < word.size(); ++k) {
    auto name = ShortNames().find(word[k]);
    if (name == ShortNames().end()) {
      *err = std::string("unknown option -") + word[k];
      return false;
    }
    if (ValueOptions().count(name->second) && k + 1 < word.size()) {
      named->push_back({name->second, word.substr(k + 1)});
      break;
    }
    named->push_back({name->second, std::nullopt});
  }
  return true;
}

}  // namespace

OptionKind KindOf(const std::string& long_name) {
  if (FlagOptions().count(long_name)) return OptionKind::kFlag;
  if (ValueOptions().count(long_name)) return OptionKind::kValue;
  return OptionKind::kUnknown;
}

std::vector<std::string> LongOptions(OptionKind kind) {
  std::vector<std::string> names;
  if (kind == OptionKind::kFlag)
    for (const auto& flag : FlagOptions()) names.push_back(flag.first);
  if (kind == OptionKind::kValue)
    for (const auto& option : ValueOptions()) names.push_back(option.first);
  return names;
}

ParseOutcome ReadCommandLine(const std::vector<std::string>& args, CommandLine* line,
                             std::string* err) {
  bool targets_only = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (targets_only || word.size() < 2 || word[0] != '-') {
      if (line->target) {
        *err = "only one TARGET may be given";
        return ParseOutcome::kError;
      }
      line->target = word;
      continue;
    }
    if (word == "--") {
      targets_only = true;
      continue;
    }
    std::vector<NamedOption> named;
    if (!OptionsIn(word, &named, err)) return ParseOutcome::kError;
    for (NamedOption& option : named) {
      if (option.name == "--help" && !option.value) return ParseOutcome::kHelp;
      if (option.name == "--version" && !option.value) return ParseOutcome::kVersion;
      const OptionKind kind = KindOf(option.name);
      if (kind == OptionKind::kUnknown || (kind == OptionKind::kFlag && option.value)) {
        *err = "unknown option " + option.name;
        return ParseOutcome::kError;
      }
      if (kind == OptionKind::kValue && !option.value) {
        // The next argument is the value whatever it begins with: a User-Agent may be "-a",
        // an exclusion "-old".
        if (i + 1 >= args.size()) {
          *err = "option " + option.name + " needs a value";
          return ParseOutcome::kError;
        }
        option.value = args[++i];
      }
      line->options.push_back(std::move(option));
    }
  }
  return ParseOutcome::kRun;
}

bool ApplyOption(const NamedOption& option, CheckerOptions* options) {
  if (auto flag = FlagOptions().find(option.name); flag != FlagOptions().end()) {
    if (option.value && *option.value != "true" && *option.value != "false") return false;
    options->*(flag->second) = !option.value || *option.value == "true";
    return true;
  }
  auto setter = ValueOptions().find(option.name);
  return setter != ValueOptions().end() && option.value && setter->second(options, *option.value);
}

bool CheckTarget(const CommandLine& line, const CheckerOptions& options, std::string* err) {
  if (options.dump_config) return true;
  if (options.recheck_path && line.target) {
    *err = "--recheck takes no TARGET";
    return false;
  }
  if (options.sitemap && (line.target || options.crawl || options.recursive ||
                          options.recheck_path)) {
    *err = "--sitemap takes no TARGET, --crawl, -r or --recheck";
    return false;
  }
  if (!options.recheck_path && !options.sitemap && (!line.target || line.target->empty())) {
    *err = "no TARGET given";
    return false;
  }
  return true;
}

ParseOutcome ParseCheckerArgs(const std::vector<std::string>& args, CheckerOptions* options,
                              std::string* err) {
  CommandLine line;
  const ParseOutcome outcome = ReadCommandLine(args, &line, err);
  if (outcome != ParseOutcome::kRun) return outcome;
  for (const NamedOption& option : line.options) {
    if (!ApplyOption(option, options)) {
      *err = "bad value for " + option.name + ": " + *option.value;
      return ParseOutcome::kError;
    }
  }
  if (line.target) options->target = *line.target;
  return CheckTarget(line, *options, err) ? ParseOutcome::kRun : ParseOutcome::kError;
}

}  // namespace voxtrel
