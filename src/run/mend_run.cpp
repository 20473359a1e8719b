#include "run/mend_run.h"

#include <map>
#include <set>
#include <utility>

#include "engine/page_fetch.h"
#include "engine/request_queue.h"

namespace voxtrel {
namespace {

// What the link as written carries beyond the address asked: a query the old rule cut off, and
// a fragment, which no server sees. A new address keeps them unless it brings its own.
std::string CarriedOver(const FoundLink& link, const std::string& address) {
  const std::string& written = link.target;
  const size_t hash = written.find('#');
  const std::string fragment = hash == std::string::npos ? "" : written.substr(hash);
  std::string carried;
  const size_t query = written.find('?');
  const std::string& asked = AddressOf(link);
  if (query != std::string::npos && query < hash && asked.find('?') == std::string::npos &&
      address.find('?') == std::string::npos)
    carried = written.substr(query, hash == std::string::npos ? std::string::npos : hash - query);
  if (address.find('#') == std::string::npos) carried += fragment;
  return carried;
}

// Where a row's link now leads for a change set of `kind`; "" when the row calls for none.
std::string NewAddress(const ResultRow& row, MendKind kind) {
  const CheckOutcome& outcome = row.outcome;
  switch (kind) {
    case MendKind::kMoved:
      return outcome.kind == CheckOutcome::Kind::kAnswered ? outcome.redirected_to : "";
    case MendKind::kArchived:
      return outcome.kind == CheckOutcome::Kind::kFailed ||
                     outcome.kind == CheckOutcome::Kind::kSuspect
                 ? outcome.archived
                 : "";
  }
  return "";
}

// Web pages fetched again at once: enough to keep a few requests busy, few enough that the
// pages held stay small.
constexpr size_t kWebPagesAtOnce = 16;

// Where the paths of a web page's site start: "http://host:port" of "http://host:port/a/b".
std::string SiteOf(const std::string& address) {
  const size_t host = address.find("//");
  if (host == std::string::npos) return address;
  return address.substr(0, address.find('/', host + 2));
}

// Plans `mends` (of the pages `pages` names, all of one site) against the bytes fetched now.
MendPlan PlanFetched(const RunSeams& seams, RequestQueue& queue,
                     const std::vector<std::string>& pages, const std::vector<Mend>& mends) {
  std::vector<FetchResult> fetched = FetchWebPages(
      queue, pages, [&seams] { return !seams.abort.Raised() && seams.view.KeepAlive(); });
  std::map<std::string, std::string> bytes;
  for (size_t i = 0; i < pages.size(); ++i)
    if (fetched[i].kind == FetchResult::Kind::kOk && !fetched[i].cut)
      bytes[pages[i]] = std::move(fetched[i].page.bytes);
  return PlanMendsOfBytes(SiteOf(pages.front()), mends, bytes);
}

}  // namespace

std::vector<Mend> MendsOf(ResultRows rows, MendKind kind) {
  std::vector<Mend> mends;
  std::set<std::pair<std::string, uint64_t>> seen;
  for (const ResultRow& row : rows) {
    const std::string address = NewAddress(row, kind);
    const LinkPlace& place = row.link.place;
    if (address.empty() || place.length == 0 || row.link.page.empty()) continue;
    if (!seen.emplace(row.link.page, place.offset).second) continue;
    mends.push_back({row.link.page, place, row.link.target,
                     address + CarriedOver(row.link, address)});
  }
  return mends;
}

std::string MendRoot(DiskInterface& disk, const std::string& target) {
  if (disk.IsFolder(target)) return target;
  const size_t slash = target.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : target.substr(0, slash);
}

void PlanWebMends(const RunSeams& seams, const RunSettings& settings,
                  const std::vector<Mend>& mends,
                  const std::function<void(const MendPlan&)>& planned) {
  std::map<std::string, std::vector<Mend>> by_page;
  for (const Mend& mend : mends) by_page[mend.page].push_back(mend);
  RequestQueue queue(seams.http, LimitsOf(settings), seams.clock ? *seams.clock : SystemClock());
  std::vector<std::string> pages;
  std::vector<Mend> batch;
  for (auto page = by_page.begin(); page != by_page.end();) {
    pages.push_back(page->first);
    batch.insert(batch.end(), page->second.begin(), page->second.end());
    ++page;
    const bool full = pages.size() == kWebPagesAtOnce || page == by_page.end() ||
                      SiteOf(page->first) != SiteOf(pages.front());
    if (!full) continue;
    if (seams.abort.Raised()) return;
    planned(PlanFetched(seams, queue, pages, batch));
    pages.clear();
    batch.clear();
  }
}

}  // namespace voxtrel
