#include <algorithm>
#include <charconv>

#include "engine/page_mend.h"
#include "platform/text.h"

namespace voxtrel {
namespace {

// Lists the pages of a change set with the size and hash of their new bytes, so that an undo
// can tell a page still holding them from one edited since. A hidden name keeps it out of
// folder listings and away from any page's name.
constexpr const char* kRecordName = ".voxtrel-change-set";

std::string ParentOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string FreeFolder(DiskInterface& disk, const std::string& base, const std::string& name) {
  std::string folder = JoinPath(base, name);
  for (int n = 2; disk.IsFolder(folder); ++n)
    folder = JoinPath(base, name + "-" + std::to_string(n));
  return folder;
}

bool Keep(DiskInterface& disk, const std::string& path, const std::string& bytes,
          std::string* err) {
  return disk.MakeFolders(ParentOf(path), err) && disk.WriteWholeFile(path, bytes, err);
}

// Keeps the old bytes of each page still as planned; the pages kept are those to write.
std::vector<const PagePlan*> KeepOldPages(DiskInterface& disk,
                                          const std::vector<const PagePlan*>& ready,
                                          const std::string& folder, MendResult* result) {
  std::vector<const PagePlan*> kept;
  for (const PagePlan* page : ready) {
    std::string now;
    std::string err;
    if (!disk.ReadWholeFile(page->page, &now, &err)) {
      result->pages.push_back({page->page, false, "cannot be read: " + err});
    } else if (now != page->old_bytes) {
      result->pages.push_back({page->page, false, "changed since the run"});
    } else if (!Keep(disk, JoinPath(folder, page->relative), page->old_bytes, &err)) {
      result->pages.push_back({page->page, false, "cannot be kept: " + err});
    } else {
      kept.push_back(page);
    }
  }
  return kept;
}

std::string RecordOf(const std::vector<const PagePlan*>& pages) {
  std::string record;
  for (const PagePlan* page : pages) {
    const PageStamp stamp = StampOf(page->new_bytes, 0);
    record += std::to_string(stamp.size) + "\t" + std::to_string(stamp.hash) + "\t" +
              page->relative + "\n";
  }
  return record;
}

struct RecordLine {
  PageStamp stamp;
  std::string relative;
};

std::vector<RecordLine> ReadRecord(std::string_view text) {
  std::vector<RecordLine> lines;
  while (!text.empty()) {
    const size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    const size_t tab1 = line.find('\t');
    const size_t tab2 = line.find('\t', tab1 + 1);
    if (tab2 == std::string_view::npos) continue;
    RecordLine read;
    std::from_chars(line.data(), line.data() + tab1, read.stamp.size);
    std::from_chars(line.data() + tab1 + 1, line.data() + tab2, read.stamp.hash);
    read.relative = std::string(line.substr(tab2 + 1));
    lines.push_back(std::move(read));
  }
  return lines;
}

std::string LastChangeSet(DiskInterface& disk, const std::string& base) {
  std::vector<DirEntry> entries;
  std::string err;
  if (!disk.IsFolder(base) || !disk.ListFolder(base, &entries, &err)) return {};
  std::string last;
  for (const DirEntry& entry : entries) {
    if (entry.attributes & kAttrDirectory) last = std::max(last, entry.name);
  }
  return last.empty() ? last : JoinPath(base, last);
}

PageOutcome PutBack(DiskInterface& disk, const std::string& root, const std::string& folder,
                    const RecordLine& line) {
  const std::string page = JoinPath(root, line.relative);
  std::string old;
  std::string now;
  std::string err;
  if (!disk.ReadWholeFile(JoinPath(folder, line.relative), &old, &err)) {
    return {page, true, "its old bytes cannot be read: " + err};
  }
  if (!disk.ReadWholeFile(page, &now, &err)) return {page, true, "cannot be read: " + err};
  if (now == old) return {page, false, "already as it was"};
  const PageStamp stamp = StampOf(now, 0);
  if (stamp.size != line.stamp.size || stamp.hash != line.stamp.hash) {
    return {page, true, "changed since the change"};
  }
  if (!disk.WriteWholeFile(page, old, &err)) return {page, true, "cannot be written: " + err};
  return {page, false, ""};
}

}  // namespace

std::string BackupFolderName(std::time_t now) { return LocalTimeText(now, "%Y%m%d-%H%M%S"); }

MendResult ApplyMends(DiskInterface& disk, const MendPlan& plan, const std::string& folder_name) {
  MendResult result;
  std::vector<const PagePlan*> ready;
  for (const PagePlan& page : plan.pages) {
    if (!page.refused.empty()) {
      result.pages.push_back({page.page, false, page.refused});
    } else if (page.new_bytes != page.old_bytes) {
      ready.push_back(&page);
    }
  }
  if (ready.empty()) return result;
  result.backup = FreeFolder(disk, JoinPath(plan.root, kBackupFolder), folder_name);
  std::vector<const PagePlan*> kept = KeepOldPages(disk, ready, result.backup, &result);
  std::string err;
  if (!kept.empty() && !Keep(disk, JoinPath(result.backup, kRecordName), RecordOf(kept), &err)) {
    for (const PagePlan* page : kept)
      result.pages.push_back({page->page, false, "cannot be kept: " + err});
    kept.clear();
  }
  for (const PagePlan* page : kept) {
    // Each page is replaced whole in one step: a failure leaves it old, the rest still go.
    if (disk.WriteWholeFile(page->page, page->new_bytes, &err)) {
      result.pages.push_back({page->page, true, ""});
    } else {
      result.pages.push_back({page->page, false, "cannot be written: " + err});
    }
  }
  std::stable_sort(result.pages.begin(), result.pages.end(),
                   [](const PageOutcome& a, const PageOutcome& b) { return a.page < b.page; });
  return result;
}

MendResult UndoLastMends(DiskInterface& disk, const std::string& root) {
  MendResult result;
  result.backup = LastChangeSet(disk, JoinPath(root, kBackupFolder));
  std::string record;
  std::string err;
  if (result.backup.empty() ||
      !disk.ReadWholeFile(JoinPath(result.backup, kRecordName), &record, &err)) {
    return result;
  }
  for (const RecordLine& line : ReadRecord(record)) {
    result.pages.push_back(PutBack(disk, root, result.backup, line));
  }
  return result;
}

}  // namespace voxtrel
