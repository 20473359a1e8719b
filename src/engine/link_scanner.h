#pragma once

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "engine/page_mend.h"
#include "platform/disk.h"
#include "web/classic_links.h"
#include "web/css_links.h"
#include "web/html_links.h"
#include "web/link.h"
#include "web/link_place.h"
#include "web/page.h"

namespace voxtrel {

class AbortSignal;

/// Links found in one page at most, unless asked otherwise: a page of millions of links (a
/// compressed page expands to many) would fill the memory with their rows.
inline constexpr size_t kDefaultMaxLinksPerPage = 100000;

/// A page for a run: a file, read when its turn comes, or a page fetched already.
struct PageToCheck {
  std::string source;
  std::optional<PageSource> fetched;
  /// A style sheet a crawl fetched, not a page: its url()s and @imports are its links.
  bool style_sheet = false;
};

/// One step of the scan: a link, an https:// link passed over (https links not asked for), or
/// the end of a page.
struct ScanItem {
  enum class Kind { kLink, kHttpsSkipped, kPageEnd };
  Kind kind = Kind::kLink;
  FoundLink link;
  /// The address a browser sends for a link asked over HTTP; empty for the others.
  std::string request;
  /// Why the link fails without a look or a request (a scheme no browser knows, a path no file
  /// can have); kNone for the others.
  FailureReason fails = FailureReason::kNone;
  /// For a local link: how much of its path is the root it stays in, above which nothing is
  /// looked at.
  size_t root_size = 0;
  /// At a page end: the page had more links than the scan takes from one page.
  bool links_cut = false;
};

/// Which links a scan finds.
struct ScanRule {
  ClassicRule classic;
  /// Every link a browser would follow, found by an HTML5 parser; otherwise the old rule's.
  bool all_links = false;
  /// The folder "/…" links of local pages lead into; empty: each page's own folder.
  std::string root;
  /// Links taken from one page; the rest of the page is passed over.
  size_t max_links_per_page = kDefaultMaxLinksPerPage;
  /// Keep a stamp of each local page read (TakeStamps).
  bool stamp_pages = false;
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
  /// What was read of each local page so far, by its path as its links name it.
  std::map<std::string, PageStamp> TakeStamps() { return std::move(stamps_); }

 private:
  void StartPage();
  void ScanLine(std::string_view raw);
  /// Finds the page's links a segment at a time; false once the page is done.
  bool ScanNextSegment();
  /// Finds the next links of the style sheet being read, else of the next local one the page
  /// uses that the run has not read; false when none is left.
  bool ScanNextSheet();
  /// Starts reading a style sheet's text, whose links are found on `page`, relative to `base`.
  void OpenSheet(std::string css_text, const std::string& page, const std::string& base);
  /// Adds a link found on `page` (a page or a style sheet), relative to `base`.
  void AddHtmlLink(HtmlLink& html, const std::string& page, const std::string& base);
  /// Where a link written as `written` stands in the page's file; unknown in a style sheet.
  LinkPlace PlaceOf(std::string_view written);

  std::vector<PageToCheck> pages_;
  DiskInterface& disk_;
  ScanRule rule_;
  const AbortSignal* abort_;
  size_t next_page_ = 0;
  std::string page_;
  std::optional<PageText> text_;
  /// Where the page's links stand in its file's bytes.
  std::optional<PlaceFinder> places_;
  std::optional<PageLines> lines_;
  std::vector<ClassicLink> line_links_;
  size_t line_pos_ = 0;
  /// With every link: the page's text as UTF-8, read a segment at a time, and what its relative
  /// links resolve against.
  std::string utf8_;
  std::optional<HtmlLinkReader> html_;
  std::string base_;
  std::string local_root_;
  /// The encoding the page's queries are sent in, as a browser sends a form's.
  TextForm query_form_ = TextForm::kUtf8;
  PageEncoding page_encoding_ = PageEncoding::kShiftJis;
  /// Local style sheets whose links come after the page's, and every one met in the run.
  std::deque<std::string> sheets_;
  std::set<std::string> sheets_met_;
  /// The style sheet being read: its text as UTF-8, its links as found, its name and address.
  std::string sheet_text_;
  std::optional<CssLinkReader> sheet_;
  std::string sheet_page_;
  std::string sheet_base_;
  std::vector<ScanItem> items_;
  size_t item_pos_ = 0;
  bool pending_page_end_ = false;
  size_t page_links_ = 0;
  bool links_cut_ = false;
  std::map<std::string, PageStamp> stamps_;
};

/// The address a browser sends for a link as a row keeps it: its resolved address, or for a
/// row of the old rule the link as cut from the page, references and all.
std::string RequestAddressOf(const FoundLink& link);

}  // namespace voxtrel
