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

/// Walks the pages in order, reading and decoding each in memory and cutting out its links line
/// by line. Only the page being scanned is held.
class LinkScanner {
 public:
  LinkScanner(std::vector<PageToCheck> pages, DiskInterface& disk, const ClassicRule& rule);
  /// The next link or page end in page and line order; false once every page is done.
  bool Next(ScanItem* item);
  /// Drops the rest of the current page's links (its page end still comes).
  void SkipRestOfPage();

 private:
  void StartPage();

  std::vector<PageToCheck> pages_;
  DiskInterface& disk_;
  ClassicRule rule_;
  size_t next_page_ = 0;
  std::string page_;
  std::optional<PageText> text_;
  std::optional<PageLines> lines_;
  std::vector<ClassicLink> line_links_;
  size_t line_pos_ = 0;
  bool pending_page_end_ = false;
};

}  // namespace voxtrel
