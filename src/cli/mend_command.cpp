#include "cli/mend_command.h"

#include <ctime>
#include <map>

#include "platform/text.h"

namespace voxtrel {
namespace {

// What mending says on err, in the checker's two languages; {1}, {2} as in the checker's texts.
struct MendTexts {
  const char* rewritten;    // the page
  const char* left_alone;   // the page, why
  const char* backup;       // the folder
  const char* counts;       // pages rewritten, links, pages left alone
  const char* put_back;     // the page
  const char* as_it_was;    // the page
  const char* undo_counts;  // pages put back, pages left alone
  const char* nothing;      // no link to rewrite
  const char* no_undo;      // the folder
};

constexpr MendTexts kEnglishMend = {
    "rewritten: {1}",
    "left alone: {1} ({2})",
    "old pages kept in {1}",
    "voxtrel-check: {1} pages rewritten ({2} links), {3} left alone",
    "put back: {1}",
    "already as it was: {1}",
    "voxtrel-check: {1} pages put back, {2} left alone",
    "voxtrel-check: no link to rewrite",
    "voxtrel-check: no change set to undo in {1}",
};

constexpr MendTexts kJapaneseMend = {
    "書き換えました： {1}",
    "書き換えていません： {1} （{2}）",
    "元のﾍﾟｰｼﾞの保存先： {1}",
    "voxtrel-check: ﾍﾟｰｼﾞ {1} 件を書き換え（ﾘﾝｸ {2} 件）、{3} 件はそのまま",
    "元に戻しました： {1}",
    "元のままです： {1}",
    "voxtrel-check: ﾍﾟｰｼﾞ {1} 件を元に戻し、{2} 件はそのまま",
    "voxtrel-check: 書き換えるﾘﾝｸはありません",
    "voxtrel-check: 元に戻す変更がありません： {1}",
};

// The first line of a web page's diff: patch passes over it.
constexpr const char* kSuggestion =
    "# voxtrel-check: a suggestion only: web pages are never changed\n";

const MendTexts& TextsFor(bool japanese) { return japanese ? kJapaneseMend : kEnglishMend; }

// A diff for a terminal: a page's controls are shown, never obeyed.
std::string ShownDiff(const std::string& diff) {
  std::string shown;
  for (size_t at = 0; at < diff.size();) {
    const size_t end = std::min(diff.find('\n', at), diff.size());
    std::string_view line = std::string_view(diff).substr(at, end - at);
    // A CR LF page's lines end on a terminal as any other's.
    if (line.ends_with('\r')) line.remove_suffix(1);
    shown += TerminalSafe(line) + "\n";
    at = end + 1;
  }
  return shown;
}

// Prints the plan's diff and tells its refused pages; false when `out` fails.
bool ShowPlan(const MendPlan& plan, bool web, std::ostream& out, std::ostream& err,
              const CheckerEnvironment& env, bool* first) {
  for (const PagePlan& page : plan.pages)
    if (!page.refused.empty())
      err << Fill(TextsFor(env.japanese).left_alone, {page.page, page.refused}) << "\n";
  const std::string diff =
      MendDiff(plan, env.out_is_terminal ? DiffForm::kUtf8 : DiffForm::kPageBytes);
  if (diff.empty()) return true;
  if (web && *first) out << kSuggestion;
  *first = false;
  out << (env.out_is_terminal ? ShownDiff(diff) : diff);
  out.flush();
  return static_cast<bool>(out);
}

// Writes the plan and tells each page; 0 when every planned page was rewritten.
int ApplyPlan(DiskInterface& disk, const MendPlan& plan, std::ostream& err, bool japanese) {
  const MendTexts& texts = TextsFor(japanese);
  std::map<std::string, size_t> links;
  for (const PagePlan& page : plan.pages) links[page.page] = page.edits.size();
  const MendResult result = ApplyMends(disk, plan, BackupFolderName(std::time(nullptr)));
  size_t rewritten = 0;
  size_t links_rewritten = 0;
  for (const PageOutcome& page : result.pages) {
    if (page.is_new) {
      ++rewritten;
      links_rewritten += links[page.page];
      err << Fill(texts.rewritten, {page.page}) << "\n";
    } else {
      err << Fill(texts.left_alone, {page.page, page.why}) << "\n";
    }
  }
  if (rewritten > 0) err << Fill(texts.backup, {result.backup}) << "\n";
  err << Fill(texts.counts, {std::to_string(rewritten), std::to_string(links_rewritten),
                             std::to_string(result.pages.size() - rewritten)})
      << "\n";
  return rewritten == result.pages.size() ? kExitClean : kExitDeadLinks;
}

// Whether `args` hold anything beyond --fix undo and its TARGET.
bool UndoHasOthers(const CheckerOptions& options, const std::vector<std::string>& args) {
  bool target_seen = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--fix" && i + 1 < args.size() && args[i + 1] == "undo") {
      ++i;
    } else if (args[i] == "--fix=undo" || args[i] == "--") {
      continue;
    } else if (args[i] == options.target && !target_seen) {
      target_seen = true;
    } else {
      return true;
    }
  }
  return false;
}

}  // namespace

std::string MendUsageError(const CheckerOptions& options, const std::vector<std::string>& args) {
  if (options.apply && !options.fix) return "--apply needs --fix moved or --fix archived";
  if (!options.fix) return "";
  if (options.recheck_path || options.sitemap)
    return options.sitemap ? "--fix takes a TARGET, not --sitemap"
                           : "--fix takes a TARGET, not --recheck";
  const bool web = IsWebAddress(options.target);
  if (*options.fix == "undo") {
    if (UndoHasOthers(options, args)) return "--fix undo takes a TARGET and nothing else";
    return web ? "web pages are never changed" : "";
  }
  if (options.apply && web) return "web pages are never changed";
  if (*options.fix == "archived" && !options.archive) return "--fix archived needs --archive";
  return "";
}

bool ReadIgnoreLists(DiskInterface& disk, const std::string& root,
                     const std::vector<std::string>& files, IgnoreList* list, std::string* why) {
  if (!root.empty() && !ReadIgnoreFile(disk, JoinPath(root, kIgnoreFileName), list, why))
    return false;
  for (const std::string& file : files) {
    // A file named on the command line that is not there is a mistake, not an empty list.
    if (!disk.FileExists(file)) {
      *why = "cannot read " + file;
      return false;
    }
    if (!ReadIgnoreFile(disk, file, list, why)) {
      *why = "cannot read " + file + ": " + *why;
      return false;
    }
  }
  return true;
}

int UndoMendsCommand(DiskInterface& disk, const std::string& root, std::ostream& err,
                     bool japanese) {
  const MendTexts& texts = TextsFor(japanese);
  const MendResult result = UndoLastMends(disk, root);
  if (result.backup.empty()) {
    err << Fill(texts.no_undo, {root}) << "\n";
    return kExitDeadLinks;
  }
  size_t put_back = 0;
  for (const PageOutcome& page : result.pages) {
    // An undo leaves a page new only when it could not put it back.
    if (page.is_new) {
      err << Fill(texts.left_alone, {page.page, page.why}) << "\n";
      continue;
    }
    ++put_back;
    err << Fill(page.why.empty() ? texts.put_back : texts.as_it_was, {page.page}) << "\n";
  }
  err << Fill(texts.undo_counts,
              {std::to_string(put_back), std::to_string(result.pages.size() - put_back)})
      << "\n";
  return put_back == result.pages.size() ? kExitClean : kExitDeadLinks;
}

int MendAfterRun(const RunSeams& seams, const RunSettings& settings, const CheckerOptions& options,
                 const RunSummary& summary, const std::string& root, std::ostream& out,
                 std::ostream& err, const CheckerEnvironment& env, int run_status) {
  const std::vector<Mend> mends = MendsOf(
      seams.results.Rows(), *options.fix == "archived" ? MendKind::kArchived : MendKind::kMoved);
  if (mends.empty()) {
    err << TextsFor(env.japanese).nothing << "\n";
    return options.apply ? kExitClean : run_status;
  }
  bool first = true;
  bool written = true;
  if (root.empty()) {
    PlanWebMends(seams, settings, mends, [&](const MendPlan& plan) {
      written = written && ShowPlan(plan, true, out, err, env, &first);
    });
    return written ? run_status : kExitUsage;
  }
  const MendPlan plan = PlanMends(seams.disk, root, mends, summary.page_stamps);
  if (options.apply) return ApplyPlan(seams.disk, plan, err, env.japanese);
  return ShowPlan(plan, false, out, err, env, &first) ? run_status : kExitUsage;
}

}  // namespace voxtrel
