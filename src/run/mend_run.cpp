#include "run/mend_run.h"

#include <set>
#include <utility>

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

}  // namespace voxtrel
