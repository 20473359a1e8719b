#include "engine/link_scanner.h"

#include <algorithm>
#include <utility>

#include "engine/run_settings.h"
#include "platform/cp932.h"
#include "platform/text.h"
#include "web/css_links.h"
#include "web/html_links.h"
#include "web/url.h"

namespace voxtrel {
namespace {

// Local pages are given an address on a host no one has, so that their links resolve as a
// browser resolves them on the server: "../" never climbs above the site's root.
constexpr std::string_view kLocalHost = "local.voxtrel.invalid";
constexpr std::string_view kLocalSite = "http://local.voxtrel.invalid";

// A path as part of an address: what would end the path there is escaped.
std::string PathAsUrl(std::string_view path) {
  std::string out;
  for (char c : path) {
    if (c == '%' || c == '?' || c == '#')
      out += c == '%' ? "%25" : c == '?' ? "%3F" : "%23";
    else
      out += c;
  }
  return out;
}

// How many of a style sheet's links become scan items at a time.
constexpr size_t kSheetLinksAtOnce = 256;

}  // namespace

LinkScanner::LinkScanner(std::vector<PageToCheck> pages, DiskInterface& disk, ScanRule rule,
                         const AbortSignal* abort)
    : pages_(std::move(pages)), disk_(disk), rule_(std::move(rule)), abort_(abort) {}

void LinkScanner::StartPage() {
  PageToCheck& page = pages_[next_page_++];
  page_ = page.source;
  items_.clear();
  item_pos_ = 0;
  PageSource source;
  if (page.fetched) {
    source = std::move(*page.fetched);
    page.fetched.reset();
  } else {
    source.source = page.source;
    std::string err;
    // A page that cannot be read has no links to scan; its page end still comes.
    if (!disk_.ReadWholeFile(page.source, &source.bytes, &err)) return;
    // The file's own bytes, before any decoding: a change set compares them with the disk's.
    FileFacts facts;
    if (rule_.stamp_pages && !page.style_sheet && disk_.FactsOf(page.source, &facts, &err))
      stamps_[page.source] = StampOf(source.bytes, facts.modified);
  }
  if (page.style_sheet) {
    // Read as its server says, else as the site's pages before it.
    const PageEncoding encoding =
        source.charset ? EncodingForName(*source.charset) : page_encoding_;
    OpenSheet(StyleSheetText(source.bytes, encoding), page_, page_);
    return;
  }
  text_ = DecodePage(std::move(source));
  query_form_ = text_->form;
  page_encoding_ = text_->encoding;
  // The text is kept while the page is read: it is the file's bytes unless they came apart.
  places_.emplace(text_->bytes.empty() ? text_->text : text_->bytes, page_encoding_,
                  rule_.all_links);
  if (!rule_.all_links) {
    lines_.emplace(text_->text);
    return;
  }
  utf8_ = Utf8Text(*text_);
  html_.emplace(utf8_);
  // What relative links resolve against: the page's address, or for a local page its place
  // under the root, as its server would give it; then the page's <base href>.
  // A page named without a folder lies in the current one.
  const std::string path = page_.find('/') == std::string::npos ? "./" + page_ : page_;
  const std::string folder = path.substr(0, path.rfind('/'));
  local_root_ = rule_.root.empty() ? folder : rule_.root;
  while (!local_root_.empty() && local_root_.back() == '/') local_root_.pop_back();
  // A page outside the root keeps to its own folder: no link leads above the root it has.
  if (path.compare(0, local_root_.size() + 1, local_root_ + "/") != 0) local_root_ = folder;
  base_ = IsWebAddress(page_)
              ? page_
              : std::string(kLocalSite) + PathAsUrl(path.substr(local_root_.size()));
}

void LinkScanner::ScanLine(std::string_view raw) {
  ScanClassicLine(raw, text_->form, rule_.classic, &line_links_);
  line_pos_ = 0;
}

bool LinkScanner::ScanNextSegment() {
  HtmlLinks found;
  if (!html_ || !html_->Next(&found)) return false;
  items_.clear();
  item_pos_ = 0;
  if (found.base)
    if (std::optional<std::string> resolved = ResolveUrl(base_, *found.base)) base_ = *resolved;
  for (HtmlLink& html : found.links) AddHtmlLink(html, page_, base_);
  return true;
}

bool LinkScanner::ScanNextSheet() {
  for (;;) {
    if (sheet_) {
      // A few links at a time, so that a huge sheet is never held as rows all at once.
      items_.clear();
      item_pos_ = 0;
      size_t taken = 0;
      for (CssLink css; taken < kSheetLinksAtOnce && sheet_->Next(&css); ++taken) {
        HtmlLink html{std::move(css.written), std::move(css.name), "style", {}};
        AddHtmlLink(html, sheet_page_, sheet_base_);
      }
      if (taken > 0) return true;
      sheet_.reset();
      sheet_text_ = std::string();
    }
    if (sheets_.empty()) return false;
    const std::string path = std::move(sheets_.front());
    sheets_.pop_front();
    if (path.compare(0, local_root_.size(), local_root_) != 0) continue;  // never outside the root
    // Looked for by both spellings of its name, as the link's own check does.
    std::string bytes;
    std::string err;
    const std::string cp932 = Utf8ToCp932(path);
    if (!disk_.ReadWholeFile(path, &bytes, &err) &&
        (cp932 == path || !disk_.ReadWholeFile(cp932, &bytes, &err)))
      continue;  // its link's row says it is missing
    OpenSheet(StyleSheetText(bytes, page_encoding_), path,
              std::string(kLocalSite) + PathAsUrl(path.substr(local_root_.size())));
  }
}

void LinkScanner::OpenSheet(std::string css_text, const std::string& page,
                            const std::string& base) {
  sheet_text_ = std::move(css_text);
  sheet_.emplace(sheet_text_);
  sheet_page_ = page;
  sheet_base_ = base;
}

void LinkScanner::AddHtmlLink(HtmlLink& html, const std::string& page, const std::string& base) {
  const std::string written = CleanReference(html.written);
  const std::string scheme = SchemeOf(written);
  const bool sheet = IsStyleSheetLink(html);
  ScanItem item;
  FoundLink& link = item.link;
  if (&page == &page_)
    link.place = PlaceOf(html.as_written.empty() ? html.written : html.as_written);
  link.target = html.written;
  link.name = std::move(html.name);
  link.page = page;
  if (scheme == "http" || scheme == "https" || (scheme.empty() && IsSchemeRelative(written))) {
    link.resolved =
        RequestAddress(scheme.empty() ? "http:" + written : written, rule_.classic.keep_query);
    item.request = BrowserAddress(link.resolved, query_form_);
    if (!rule_.classic.https && SchemeOf(link.resolved) == "https")
      item.kind = ScanItem::Kind::kHttpsSkipped;
  } else if (!scheme.empty()) {
    // mailto:, ftp:, file: and the like lead somewhere no link check asks; any other scheme is
    // mistyped, and a reader's click on it goes nowhere.
    if (IsKnownScheme(scheme)) return;
    item.fails = FailureReason::kUnknownScheme;
  } else {
    link.internal = true;
    const std::optional<std::string> resolved = ResolveUrl(base, written);
    if (!resolved) return;
    const std::optional<UrlParts> parts = SplitUrl(*resolved);
    if (parts && parts->authority == kLocalHost && !IsWebAddress(page)) {
      const std::string_view fragment = parts->fragment;
      link.local = true;
      link.anchor = PercentDecode(fragment.substr(fragment.empty() ? 0 : 1));
      // A name no file can have is not looked for, so nothing outside the root is touched.
      const std::optional<std::string> path = LocalPathOf(parts->path);
      link.resolved = local_root_ + path.value_or(parts->path);
      if (!path) item.fails = FailureReason::kFileNotFound;
      item.root_size = local_root_.size();
      // A sheet is read once a run, after the page that first uses it: it is mended there.
      if (sheet && path && sheets_met_.insert(link.resolved).second)
        sheets_.push_back(link.resolved);
    } else {
      link.resolved = RequestAddress(*resolved, rule_.classic.keep_query);
      item.request = BrowserAddress(link.resolved, query_form_);
    }
  }
  // A web link's fragment is looked up when a crawl has read the page it leads to.
  if (const size_t hash = html.written.find('#'); !link.local && hash != std::string::npos)
    link.anchor = PercentDecode(std::string_view(html.written).substr(hash + 1));
  items_.push_back(std::move(item));
}

LinkPlace LinkScanner::PlaceOf(std::string_view written) {
  return places_ ? places_->Find(written) : LinkPlace{};
}

bool LinkScanner::Next(ScanItem* item) {
  for (;;) {
    // A huge page without links is read in one call: a stop is looked for at every line and
    // segment.
    if (abort_ && abort_->Raised()) return false;
    const bool more = line_pos_ < line_links_.size() || item_pos_ < items_.size();
    if (more && page_links_ == rule_.max_links_per_page) {
      links_cut_ = true;
      SkipRestOfPage();
      continue;
    }
    if (line_pos_ < line_links_.size()) {
      ClassicLink& found = line_links_[line_pos_++];
      item->kind = found.passed_over ? ScanItem::Kind::kHttpsSkipped : ScanItem::Kind::kLink;
      // The old rule cuts the attribute's text as written, references and all.
      item->request = BrowserAddress(DecodeCharacterReferences(found.target), query_form_);
      if (item->request == found.target) item->request.clear();  // most are asked as written
      item->fails = FailureReason::kNone;
      item->root_size = 0;
      item->link = FoundLink(std::move(found.target), std::move(found.name), page_);
      item->link.place = PlaceOf(item->link.target);
      item->links_cut = false;
      ++page_links_;
      return true;
    }
    if (item_pos_ < items_.size()) {
      *item = std::move(items_[item_pos_++]);
      ++page_links_;
      return true;
    }
    if (lines_) {
      std::string_view raw;
      if (lines_->Next(&raw)) {
        ScanLine(raw);
        continue;
      }
      SkipRestOfPage();
    }
    if (html_ || sheet_) {
      if (ScanNextSegment() || ScanNextSheet()) continue;
      SkipRestOfPage();
    }
    if (pending_page_end_) {
      pending_page_end_ = false;
      *item = ScanItem{};
      item->kind = ScanItem::Kind::kPageEnd;
      item->link.page = page_;
      item->links_cut = std::exchange(links_cut_, false);
      page_links_ = 0;
      return true;
    }
    if (next_page_ >= pages_.size()) return false;
    StartPage();
    if (!lines_ && !html_ && !sheet_) pending_page_end_ = true;
  }
}

void LinkScanner::SkipRestOfPage() {
  line_links_.clear();
  line_pos_ = 0;
  items_.clear();
  item_pos_ = 0;
  lines_.reset();
  html_.reset();
  sheets_.clear();
  sheet_.reset();
  sheet_text_ = std::string();
  // The text goes as soon as its page is done: only one page is ever held.
  text_.reset();
  utf8_ = std::string();
  places_.reset();
  // The page end is still to come, so the caller yields after this page as after any other.
  pending_page_end_ = true;
}

std::string RequestAddressOf(const FoundLink& link) {
  return BrowserAddress(link.resolved.empty() ? DecodeCharacterReferences(link.target)
                                              : link.resolved);
}

}  // namespace voxtrel
