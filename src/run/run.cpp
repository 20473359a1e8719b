#include "run/run.h"

#include <cstdio>
#include <ctime>

#include "engine/messages.h"
#include "platform/cp932.h"
#include "platform/text.h"
#include "run/find_html_files.h"
#include "web/fetch_web_page.h"
#include "web/robots.h"
#include "web/url.h"

namespace voxtrel {
namespace {

bool Confirmed(RunView& view, const std::string& question) {
  return view.ShowMessage(kMessageTitle, question, MessageIcon::kQuestion,
                          MessageButtons::kOkCancel) == MessageAnswer::kOk;
}

RunSummary Closed(const RunSeams& seams, RunSummary summary) {
  seams.view.RunClosed(summary.outcome, seams.results.Count());
  return summary;
}

RunSummary Refuse(const RunSeams& seams, RunSummary summary, RunOutcome outcome,
                  const char* message) {
  seams.view.ShowMessage(kMessageTitle, message, MessageIcon::kWarning, MessageButtons::kOk);
  summary.outcome = outcome;
  return Closed(seams, std::move(summary));
}

// Fetches `urls` at once for the run; kAbandoned once the abort is raised or the view gives up.
std::vector<FetchResult> Fetch(const RunSeams& seams, const std::vector<std::string>& urls) {
  std::vector<FetchResult> fetched = FetchWebPages(seams.http, urls, [&seams] {
    return !seams.abort.Raised() && seams.view.KeepAlive();
  });
  seams.view.Yield();
  return fetched;
}

// A start page that could not be fetched: why, told as the single page run tells it.
RunSummary Unfetched(const RunSeams& seams, RunSummary summary, const std::string& target,
                     const FetchResult& fetched) {
  summary.pages.push_back(target);
  if (fetched.kind == FetchResult::Kind::kAbandoned)
    return Refuse(seams, std::move(summary), RunOutcome::kAborted, kMsgRunAborted);
  summary.fetch_answer = fetched.answer;
  if (fetched.kind == FetchResult::Kind::kNoRequestObject) {
    seams.view.ShowMessage(kMessageTitle, kMsgNoRequestObject, MessageIcon::kWarning,
                           MessageButtons::kOk);
  }
  seams.view.PageStarted(target);
  seams.view.PageUnfetched(target, fetched.answer);
  return Refuse(seams, std::move(summary), RunOutcome::kTargetUnreadable, kFetchFailedMessage);
}

// Where the robots.txt of `page`'s site lies; "" for no web address.
std::string RobotsAddress(const std::string& page) {
  const std::optional<UrlParts> parts = SplitUrl(page);
  return parts ? parts->scheme + "://" + parts->authority + "/robots.txt" : std::string();
}

// The rules of a fetched robots.txt for this crawler; one that could not be fetched or read
// allows all.
RobotsRules RobotsOf(const FetchResult& robots) {
  if (robots.kind != FetchResult::Kind::kOk || robots.answer.kind != CheckOutcome::Kind::kAnswered)
    return RobotsRules();
  return RobotsRules(robots.page.bytes, "Voxtrel");
}

RunSummary Stopped(const RunSeams& seams, RunSummary summary, RunOutcome outcome) {
  summary.outcome = outcome;
  return Closed(seams, std::move(summary));
}

}  // namespace

std::string StartConfirmationText(size_t file_count) {
  return "HTMLﾌｧｲﾙ数： " + std::to_string(file_count) + "     \r\rVoxtrelを開始しますか？   ";
}

bool IsCheckableFolder(const std::string& folder) {
  const std::string_view trimmed = TrimBlanks(folder);
  // "/" is the counterpart of a drive root; anything shorter than four characters is refused
  // as the drive root was.
  return Utf8Length(trimmed) >= 4 && trimmed != "/";
}

RunSummary RunFolder(const RunSeams& seams, const RunSettings& settings, const std::string& folder,
                     bool include_subfolders) {
  RunView& view = seams.view;
  RunSummary found;
  view.FolderRunRequested();
  if (!IsCheckableFolder(folder))
    return Refuse(seams, std::move(found), RunOutcome::kFolderRefused, kSelectFolderMessage);

  view.SearchStarted();
  FindHtmlFiles(
      seams.disk, folder, include_subfolders,
      [&found](const std::string& path) { found.pages.push_back(path); },
      [&view](const std::string& text) { view.SearchProgress(text); }, &seams.abort);
  // The walk does not yield; this lets the window show its last progress text.
  view.Yield();
  const size_t count = found.pages.size();
  view.SearchFinished(count);
  if (seams.abort.Raised()) {
    view.SearchClosed();
    return Refuse(seams, std::move(found), RunOutcome::kAborted, kMsgRunAborted);
  }
  if (count < 1) {
    view.SearchClosed();
    return Refuse(seams, std::move(found), RunOutcome::kNoPages, kNoHtmlFilesMessage);
  }
  const bool go = Confirmed(view, StartConfirmationText(count));
  view.SearchClosed();
  if (!go) return Stopped(seams, std::move(found), RunOutcome::kCancelled);
  seams.results.Clear();
  view.RunPreparing(true);
  std::vector<PageToCheck> pages;
  for (std::string& path : found.pages) pages.push_back(PageToCheck{std::move(path), {}});
  if (!settings.all_links || !settings.root.empty())
    return Closed(seams, CheckLinks(std::move(pages), settings, seams));
  // "/…" links lead into the checked folder unless another root was named.
  RunSettings rooted = settings;
  rooted.root = folder;
  return Closed(seams, CheckLinks(std::move(pages), rooted, seams));
}

std::optional<int16_t> SinglePageModeFor(const std::string& target) {
  if (target.empty() || target == kNoTarget || !IsHtmlFileName(target)) return std::nullopt;
  if (target.compare(0, 7, "http://") == 0 || target.compare(0, 8, "https://") == 0)
    return kModeWebPage;
  if (target.front() == '/') return kModeLocalFile;
  return std::nullopt;
}

RunSummary RunSinglePage(const RunSeams& seams, const RunSettings& settings,
                         const std::string& target, int16_t mode) {
  RunSummary summary;
  if (!Confirmed(seams.view, StartConfirmationText(1)))
    return Stopped(seams, std::move(summary), RunOutcome::kCancelled);
  seams.results.Clear();
  seams.view.RunPreparing(false);
  std::vector<PageToCheck> pages(1, PageToCheck{target, {}});
  if (mode != kModeWebPage) return Closed(seams, CheckLinks(std::move(pages), settings, seams));

  FetchResult fetched = std::move(Fetch(seams, {target}).front());
  if (fetched.kind == FetchResult::Kind::kOk) {
    pages.front().fetched = std::move(fetched.page);
    // Said before the run, so a long run does not hide that its page was not read whole.
    if (fetched.cut)
      seams.view.ShowMessage(kMessageTitle, PageCutText(target), MessageIcon::kWarning,
                             MessageButtons::kOk);
    summary = CheckLinks(std::move(pages), settings, seams);
    if (fetched.cut) summary.pages_cut.push_back(target);
    return Closed(seams, std::move(summary));
  }
  return Unfetched(seams, std::move(summary), target, fetched);
}

std::string CrawlConfirmationText(const std::string& start) {
  return "開始ｱﾄﾞﾚｽ： " + start + "     \r\rVoxtrelを開始しますか？   ";
}

RunSummary RunCrawl(const RunSeams& seams, const RunSettings& settings, const std::string& start,
                    CrawlBounds bounds) {
  RunSummary summary;
  if (!Confirmed(seams.view, CrawlConfirmationText(start)))
    return Stopped(seams, std::move(summary), RunOutcome::kCancelled);
  seams.results.Clear();
  seams.view.RunPreparing(false);
  // The site's robots.txt is asked with the start page: a crawl's first wait is one, not two.
  const std::string start_robots = RobotsAddress(start);
  std::vector<FetchResult> first = Fetch(seams, {start, start_robots});
  FetchResult& fetched = first[0];
  if (fetched.kind != FetchResult::Kind::kOk)
    return Unfetched(seams, std::move(summary), start, fetched);
  const std::string page = fetched.final_url.empty() ? start : fetched.final_url;
  if (fetched.cut)
    seams.view.ShowMessage(kMessageTitle, PageCutText(page), MessageIcon::kWarning,
                           MessageButtons::kOk);
  // Redirected to another site: its own robots.txt holds.
  RobotsRules robots = RobotsOf(RobotsAddress(page) == start_robots
                                    ? first[1]
                                    : Fetch(seams, {RobotsAddress(page)}).front());
  if (seams.abort.Raised())
    return Refuse(seams, std::move(summary), RunOutcome::kAborted, kMsgRunAborted);
  CrawlFrontier crawl(std::move(fetched.page), fetched.final_url, fetched.answer, std::move(robots),
                      bounds, settings.keep_query, settings.all_links);
  // A site repeats its menus and images on every page: each address is asked once.
  RunSettings once = settings;
  once.once = true;
  summary = CheckLinks({}, once, seams, &crawl);
  if (fetched.cut) summary.pages_cut.insert(summary.pages_cut.begin(), page);
  return Closed(seams, std::move(summary));
}

namespace {

// "60", or "1.5" for what is not a whole second.
std::string SecondsText(long ms) {
  std::string text = std::to_string(ms / 1000);
  if (ms % 1000 == 0) return text;
  std::string fraction = std::to_string(1000 + ms % 1000).substr(1);
  while (fraction.back() == '0') fraction.pop_back();
  return text + "." + fraction;
}

// "2", "0.5": as few digits as say the rate.
std::string RateText(double rate) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", rate);
  return text;
}

}  // namespace

std::string RunOptionsText(const std::string& checked, const RunSettings& settings,
                           const RunRequest& request) {
  std::string text;
  auto add = [&text](bool on, const std::string& words) {
    if (on) text += (text.empty() ? "" : "、") + words;
  };
  add(request.include_subfolders, "ｻﾌﾞﾃﾞｨﾚｸﾄﾘを含む");
  add(settings.show_all, "ﾘﾝｸ結果すべて表示");
  add(settings.all_links, "すべてのﾘﾝｸ");
  add(settings.https, "https:// も検査");
  add(settings.keep_query, "? 以降も含めて検査");
  add(settings.once, "同じｱﾄﾞﾚｽは 1 回だけ検査");
  add(true, "同時 " + std::to_string(settings.jobs) + " 件 (1 ﾎｽﾄ " +
                std::to_string(settings.per_host) + " 件)");
  add(settings.retries != kDefaultRetries, "再試行 " + std::to_string(settings.retries) + " 回");
  add(settings.rate > 0, "1 ﾎｽﾄ毎秒 " + RateText(settings.rate) + " 件");
  add(true, "ﾀｲﾑｱｳﾄ " + SecondsText(request.timeout_ms) + " 秒");
  if (request.crawl)
    add(true, "ｻｲﾄ内のﾍﾟｰｼﾞもたどる (開始 " + DisplayName(checked) + " 、最大 " +
                  std::to_string(request.crawl->max_pages) + " ﾍﾟｰｼﾞ、深さ " +
                  std::to_string(request.crawl->max_depth) + " まで)");
  return text;
}

ReportHeading HeadingForRun(const std::string& checked, const RunSettings& settings,
                            const RunRequest& request) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char when[32];
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
  ReportHeading heading;
  heading.checked = DisplayName(checked);
  heading.when = when;
  heading.options = RunOptionsText(checked, settings, request);
  return heading;
}

CrawlCounts CrawlCountsOf(const RunSummary& summary) {
  CrawlCounts counts;
  counts.crawled = summary.pages.size();
  counts.left_out = summary.pages_left_out;
  counts.disallowed = summary.pages_disallowed;
  counts.failed = summary.pages_failed;
  return counts;
}

SaveOutcome SaveReport(const ResultList& results, DiskInterface& disk, RunView& view,
                       SaveDialog& dialog, std::string* last_name, const ReportHeading& heading) {
  if (results.Count() == 0) return SaveOutcome::kNothingToSave;
  const std::string_view remembered = TrimBlanks(*last_name);
  const std::string proposed = remembered.empty() ? kDefaultReportName : std::string(remembered);
  int filter = 0;
  const std::optional<std::string> chosen = dialog.ShowSave(proposed, kReportFilter, &filter);
  if (!chosen) return SaveOutcome::kCancelled;

  const std::string& path = *chosen;
  *last_name = std::string(TrimBlanks(path));
  if (disk.FileExists(path) &&
      view.ShowMessage(kSaveReportTitle, OverwriteQuestionText(path), MessageIcon::kQuestion,
                       MessageButtons::kOkCancel) == MessageAnswer::kCancel)
    return SaveOutcome::kCancelled;

  std::string err;
  ReportFormat format = ReportFormatForName(path);
  if (filter == kUtf8CsvFilterIndex) format.encoding = ReportEncoding::kUtf8;
  // A detailed report is for sending on: UTF-8 carries every address and name as it is.
  if (filter == kDetailedHtmlFilterIndex || filter == kDetailedCsvFilterIndex)
    format = {filter == kDetailedHtmlFilterIndex ? ReportForm::kHtml : ReportForm::kCsv,
              ReportEncoding::kUtf8, true};
  if (!WriteReport(disk, results.Rows(), path, format, &err, heading)) {
    view.ShowMessage(kMessageTitle, SaveErrorText(err), MessageIcon::kWarning, MessageButtons::kOk);
    return SaveOutcome::kFailed;
  }
  return SaveOutcome::kSaved;
}

}  // namespace voxtrel
