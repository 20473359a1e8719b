#include "run/run.h"

#include <cstdio>
#include <ctime>

#include "engine/crawl_source.h"
#include "engine/page_fetch.h"
#include "engine/request_queue.h"
#include "platform/cp932.h"
#include "platform/text.h"
#include "run/find_html_files.h"

namespace voxtrel {
namespace {

bool Confirmed(RunView& view, const Notice& question) {
  return view.Notify(question) == MessageAnswer::kOk;
}

RunSummary Closed(const RunSeams& seams, RunSummary summary) {
  seams.view.RunClosed(summary.outcome, seams.results.Count());
  return summary;
}

RunSummary Refuse(const RunSeams& seams, RunSummary summary, RunOutcome outcome,
                  const Notice& notice) {
  seams.view.Notify(notice);
  summary.outcome = outcome;
  return Closed(seams, std::move(summary));
}

// Fetches `urls` through the run's queue; kAbandoned once the abort is raised or the view gives
// up.
std::vector<FetchResult> Fetch(const RunSeams& seams, RequestQueue& queue,
                               const std::vector<std::string>& urls) {
  std::vector<FetchResult> fetched = FetchWebPages(
      queue, urls, [&seams] { return !seams.abort.Raised() && seams.view.KeepAlive(); });
  seams.view.Yield();
  return fetched;
}

// A start page that could not be fetched: why, told as the single page run tells it.
RunSummary Unfetched(const RunSeams& seams, RunSummary summary, const std::string& target,
                     const FetchResult& fetched) {
  summary.pages.push_back(target);
  if (fetched.kind == FetchResult::Kind::kAbandoned)
    return Refuse(seams, std::move(summary), RunOutcome::kAborted, notice::RunAborted{});
  summary.fetch_answer = fetched.answer;
  if (fetched.kind == FetchResult::Kind::kNoRequestObject) {
    seams.view.Notify(notice::NoRequestObject{});
  }
  seams.view.PageStarted(target);
  return Refuse(seams, std::move(summary), RunOutcome::kTargetUnreadable,
                notice::TargetUnreadable{target, fetched.answer});
}

// The rules of a fetched robots.txt for this crawler; one that could not be fetched or read
// allows all.
RobotsRules RobotsOf(const FetchResult& robots) {
  if (robots.kind != FetchResult::Kind::kOk || robots.answer.kind != CheckOutcome::Kind::kAnswered)
    return RobotsRules();
  return RobotsRules(robots.page.bytes, "Voxtrel");
}

QueueClock& ClockOf(const RunSeams& seams) { return seams.clock ? *seams.clock : SystemClock(); }

// The start page's links take its answer (a 2xx one), by the address asked and where the
// redirects ended.
void RememberStart(RequestQueue& queue, const std::string& start, const FetchResult& fetched) {
  QueueAnswer known;
  known.answer.status = fetched.answer.status;
  known.answer.redirects = fetched.answer.redirects;
  known.answer.elapsed_ms = fetched.answer.elapsed_ms;
  known.answer.moved_permanently = !fetched.answer.redirected_to.empty();
  known.answer.final_url = fetched.final_url;
  for (const std::string& address : {start, fetched.final_url})
    if (const std::string key = CrawlFrontier::KeyOf(address); !key.empty())
      queue.Remember(key, known);
}

// Pages a crawl asks for ahead of its scan: enough to keep every slot of the site busy while
// the scan waits for slow hosts, few enough that the pages held stay small beside the run.
size_t PagesAhead(const RunSettings& settings) {
  return static_cast<size_t>(std::max(1, settings.jobs)) * 2 + 32;
}

RunSummary Stopped(const RunSeams& seams, RunSummary summary, RunOutcome outcome) {
  summary.outcome = outcome;
  return Closed(seams, std::move(summary));
}

}  // namespace

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
    return Refuse(seams, std::move(found), RunOutcome::kFolderRefused, notice::FolderRefused{});

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
    return Refuse(seams, std::move(found), RunOutcome::kAborted, notice::RunAborted{});
  }
  if (count < 1) {
    view.SearchClosed();
    return Refuse(seams, std::move(found), RunOutcome::kNoPages, notice::NoPages{});
  }
  const bool go = Confirmed(view, notice::StartQuestion{count});
  view.SearchClosed();
  if (!go) return Stopped(seams, std::move(found), RunOutcome::kCancelled);
  seams.results.Clear();
  view.RunPreparing(true);
  std::vector<PageToCheck> pages;
  for (std::string& path : found.pages) pages.push_back(PageToCheck{std::move(path), {}});
  RequestQueue queue(seams.http, LimitsOf(settings), ClockOf(seams));
  if (!settings.all_links || !settings.root.empty())
    return Closed(seams, CheckLinks(std::move(pages), settings, seams, queue));
  // "/…" links lead into the checked folder unless another root was named.
  RunSettings rooted = settings;
  rooted.root = folder;
  return Closed(seams, CheckLinks(std::move(pages), rooted, seams, queue));
}

std::optional<SinglePageMode> SinglePageModeFor(const std::string& target) {
  if (target.empty() || target == kNoTarget || !IsHtmlFileName(target)) return std::nullopt;
  if (target.compare(0, 7, "http://") == 0 || target.compare(0, 8, "https://") == 0)
    return SinglePageMode::kWebPage;
  if (target.front() == '/') return SinglePageMode::kLocalFile;
  return std::nullopt;
}

RunSummary RunSinglePage(const RunSeams& seams, const RunSettings& settings,
                         const std::string& target, SinglePageMode mode) {
  RunSummary summary;
  if (!Confirmed(seams.view, notice::StartQuestion{1}))
    return Stopped(seams, std::move(summary), RunOutcome::kCancelled);
  seams.results.Clear();
  seams.view.RunPreparing(false);
  std::vector<PageToCheck> pages(1, PageToCheck{target, {}});
  RequestQueue queue(seams.http, LimitsOf(settings), ClockOf(seams));
  if (mode != SinglePageMode::kWebPage)
    return Closed(seams, CheckLinks(std::move(pages), settings, seams, queue));

  FetchResult fetched = std::move(Fetch(seams, queue, {target}).front());
  if (fetched.kind == FetchResult::Kind::kOk) {
    pages.front().fetched = std::move(fetched.page);
    // Said before the run, so a long run does not hide that its page was not read whole.
    if (fetched.cut) seams.view.Notify(PageCutOf(target));
    summary = CheckLinks(std::move(pages), settings, seams, queue);
    if (fetched.cut) summary.pages_cut.push_back(target);
    return Closed(seams, std::move(summary));
  }
  return Unfetched(seams, std::move(summary), target, fetched);
}

RunSummary RunCrawl(const RunSeams& seams, const RunSettings& settings, const std::string& start,
                    CrawlBounds bounds) {
  RunSummary summary;
  if (!Confirmed(seams.view, notice::CrawlQuestion{start}))
    return Stopped(seams, std::move(summary), RunOutcome::kCancelled);
  seams.results.Clear();
  seams.view.RunPreparing(false);
  // One queue for the whole crawl: the start page's answer is the one its links take.
  RequestQueue queue(seams.http, LimitsOf(settings), ClockOf(seams));
  // The site's robots.txt is asked with the start page: a crawl's first wait is one, not two.
  const std::string start_robots = RobotsAddress(start);
  std::vector<FetchResult> first = Fetch(seams, queue, {start, start_robots});
  FetchResult& fetched = first[0];
  if (fetched.kind != FetchResult::Kind::kOk)
    return Unfetched(seams, std::move(summary), start, fetched);
  const std::string page = fetched.final_url.empty() ? start : fetched.final_url;
  if (fetched.cut) seams.view.Notify(PageCutOf(page));
  // Redirected to another site: its own robots.txt holds.
  RobotsRules robots = RobotsOf(RobotsAddress(page) == start_robots
                                    ? first[1]
                                    : Fetch(seams, queue, {RobotsAddress(page)}).front());
  if (seams.abort.Raised())
    return Refuse(seams, std::move(summary), RunOutcome::kAborted, notice::RunAborted{});
  RememberStart(queue, start, fetched);
  CrawlFrontier crawl(std::move(fetched.page), fetched.final_url, std::move(robots), bounds,
                      settings.keep_query, settings.all_links);
  // A site repeats its menus and images on every page: each address is asked once.
  RunSettings once = settings;
  once.once = true;
  CrawlSource source(crawl, queue, once, PagesAhead(settings));
  summary = CheckLinks({}, once, seams, queue, &source);
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
  add(settings.suspect.rules != nullptr, "応答があっても切れているﾘﾝｸを見分ける");
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
  heading.archive = settings.archive.look_up;
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
      view.Notify(notice::OverwriteQuestion{path}) == MessageAnswer::kCancel)
    return SaveOutcome::kCancelled;

  std::string err;
  ReportFormat format = ReportFormatForName(path);
  if (filter == kUtf8CsvFilterIndex) format.encoding = ReportEncoding::kUtf8;
  // A detailed report is for sending on: UTF-8 carries every address and name as it is.
  if (filter == kDetailedHtmlFilterIndex || filter == kDetailedCsvFilterIndex)
    format = {filter == kDetailedHtmlFilterIndex ? ReportForm::kHtml : ReportForm::kCsv,
              ReportEncoding::kUtf8, true};
  if (!WriteReport(disk, results.Rows(), path, format, &err, heading)) {
    view.Notify(notice::SaveFailed{path, err});
    return SaveOutcome::kFailed;
  }
  return SaveOutcome::kSaved;
}

}  // namespace voxtrel
