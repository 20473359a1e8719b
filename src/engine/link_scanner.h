#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/disk.h"
#include "web/classic_links.h"
#include "web/link.h"
#include "web/page.h"

namespace voxtrel {

/// A page for a run: a file, read when its turn comes, or a page fetched already.
struct PageToCheck {
  std::string source;
  std::optional<PageSource> fetched;
};

/// One step of the scan: a link, an https:// link passed over (https links not asked for), or
/// the end of a page.
struct ScanItem {
  enum class Kind { kLink, kHttpsSkipped, kPageEnd };
  Kind kind = Kind::kLink;
  FoundLink link;
};

/// Which links a scan finds.
struct ScanRule {
  ClassicRule classic;
  /// Every link a browser would follow, found by an HTML5 parser; otherwise the old rule's.
  bool all_links = false;
  /// The folder "/…" links of local pages lead into; empty: each page's own folder.
  std::string root;
};

/// Walks the pages in order, reading and decoding each in memory and finding its links. Only
/// the page being scanned is held.
class LinkScanner {
 public:
  LinkScanner(std::vector<PageToCheck> pages, DiskInterface& disk, ScanRule rule);
  /// The next link or page end in page and document order; false once every page is done.
  bool Next(ScanItem* item);
  /// Drops the rest of the current page's links (its page end still comes).
  void SkipRestOfPage();

 private:
  void StartPage();
  void ScanLine(std::string_view raw);
  void ScanAllLinks(const PageText& text);

  std::vector<PageToCheck> pages_;
  DiskInterface& disk_;
  ScanRule rule_;
  size_t next_page_ = 0;
  std::string page_;
  std::optional<PageText> text_;
  std::optional<PageLines> lines_;
  std::vector<ClassicLink> line_links_;
  std::vector<ScanItem> items_;
  size_t item_pos_ = 0;
  bool pending_page_end_ = false;
};

}  // namespace voxtrel
