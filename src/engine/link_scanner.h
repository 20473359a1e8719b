#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/run_settings.h"
#include "platform/disk.h"
#include "web/classic_links.h"
#include "web/html_links.h"
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
  LinkScanner(std::vector<PageToCheck> pages, DiskInterface& disk, ScanRule rule,
              const AbortSignal* abort = nullptr);
  /// The next link or page end in page and document order; false once every page is done, or
  /// as soon as `abort` is raised.
  bool Next(ScanItem* item);
  /// Drops the rest of the current page's links (its page end still comes).
  void SkipRestOfPage();
  /// Another page to scan after those given.
  void AddPage(PageToCheck page) { pages_.push_back(std::move(page)); }

 private:
  void StartPage();
  void ScanLine(std::string_view raw);
  /// Finds the page's links a segment at a time; false once the page is done.
  bool ScanNextSegment();
  void AddHtmlLink(HtmlLink& html);

  std::vector<PageToCheck> pages_;
  DiskInterface& disk_;
  ScanRule rule_;
  const AbortSignal* abort_;
  size_t next_page_ = 0;
  std::string page_;
  std::optional<PageText> text_;
  std::optional<PageLines> lines_;
  std::vector<ClassicLink> line_links_;
  size_t line_pos_ = 0;
  /// With every link: the page's text as UTF-8, read a segment at a time, and what its relative
  /// links resolve against.
  std::string utf8_;
  std::optional<HtmlLinkReader> html_;
  std::string base_;
  std::string local_root_;
  std::vector<ScanItem> items_;
  size_t item_pos_ = 0;
  bool pending_page_end_ = false;
};

}  // namespace voxtrel
