#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/disk.h"
#include "web/link.h"
#include "web/page_encoding.h"

namespace voxtrel {

/// What a run saw of a page it read, to tell later whether the page has changed since.
struct PageStamp {
  uint64_t size = 0;
  int64_t modified = 0;  // FileFacts::modified
  uint64_t hash = 0;
  bool operator==(const PageStamp&) const = default;
};

/// The stamp of a page read as `bytes` whose file was last modified at `modified`.
PageStamp StampOf(std::string_view bytes, int64_t modified);

/// One link to rewrite: where it stands, what the run read there, and what it becomes.
struct Mend {
  std::string page;     // the page's path, as the run read it
  LinkPlace place;      // where its address stands in the file
  std::string written;  // the link as written (FoundLink::target)
  std::string address;  // the new address, UTF-8
};

/// One swap of bytes in a page.
struct ByteEdit {
  uint64_t offset = 0;
  uint64_t length = 0;
  std::string bytes;  // what takes their place
};

/// What becomes of one page.
struct PagePlan {
  std::string page;
  std::string relative;  // its path under the checked folder
  PageEncoding encoding = PageEncoding::kShiftJis;
  /// Empty when the page can be rewritten; else why it is left alone.
  std::string refused;
  std::string old_bytes;
  std::string new_bytes;
  std::vector<ByteEdit> edits;  // by offset, none overlapping
};

struct MendPlan {
  std::string root;             // the checked folder
  std::vector<PagePlan> pages;  // by path
};

/// Reads each page the mends name and works out its new bytes. A page is refused when it is not
/// under `root`, cannot be read, differs from its stamp in `stamps` (or has none), or when the
/// bytes at one of its places do not read as the link written there.
MendPlan PlanMends(DiskInterface& disk, const std::string& root, const std::vector<Mend>& mends,
                   const std::map<std::string, PageStamp>& stamps);

/// As PlanMends, for pages given as `pages` (bytes by path) and never compared with a disk: web
/// pages, whose plan is only shown. A page missing from `pages` is refused.
MendPlan PlanMendsOfBytes(const std::string& root, const std::vector<Mend>& mends,
                          const std::map<std::string, std::string>& pages);

/// `address` (UTF-8) as a page in `encoding` holds it inside an attribute: "&" as "&amp;", a
/// character the encoding lacks (and a blank, quote or angle bracket) percent-encoded in UTF-8.
std::string AddressInPage(std::string_view address, PageEncoding encoding);

/// `bytes` of a page in `encoding` as UTF-8, as the scanner reads them (EUC-JP's half-width
/// katakana widened) or, not `as_scanned`, as they stand.
std::string PageBytesAsUtf8(std::string_view bytes, PageEncoding encoding, bool as_scanned = true);

enum class DiffForm {
  kPageBytes,  // each page's own bytes, for patch
  kUtf8,       // every line as UTF-8, for a terminal
};

/// The plan's changes as a unified diff with "a/" and "b/" before the paths under the checked
/// folder: `patch -p1` applies it there. Refused pages are left out.
std::string MendDiff(const MendPlan& plan, DiffForm form);

/// What became of one page of a change set.
struct PageOutcome {
  std::string page;
  bool is_new = false;  // the file holds the new bytes; else it holds the old ones
  std::string why;      // for a page left old: why
};

struct MendResult {
  std::string backup;  // the folder the old pages were kept in; empty when none was made
  std::vector<PageOutcome> pages;
};

/// The folder name a change set made at `now` keeps its old pages in (local time).
std::string BackupFolderName(std::time_t now);

/// The folder under the checked folder that holds one folder of old pages per change set.
inline constexpr const char* kBackupFolder = ".voxtrel-backup";

/// Keeps each page to rewrite in `<root>/.voxtrel-backup/<folder_name>/` under its relative path,
/// then writes its new bytes; the outcomes come by path. A page whose bytes are no longer those
/// planned, that cannot be kept or cannot be written is left as it is; the others still go.
MendResult ApplyMends(DiskInterface& disk, const MendPlan& plan, const std::string& folder_name);

/// Puts back the old pages of the last change set under `root`, byte for byte. A page changed
/// since the change is left alone and listed; one already old counts as put back.
MendResult UndoLastMends(DiskInterface& disk, const std::string& root);

}  // namespace voxtrel
