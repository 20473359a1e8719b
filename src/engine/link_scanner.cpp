#include "engine/link_scanner.h"

#include <algorithm>
#include <utility>

#include "web/html_links.h"
#include "web/url.h"

namespace voxtrel {
namespace {

// Local pages are given an address on a host no one has, so that their links resolve as a
// browser resolves them on the server: "../" never climbs above the site's root.
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

}  // namespace

LinkScanner::LinkScanner(std::vector<PageToCheck> pages, DiskInterface& disk, ScanRule rule)
    : pages_(std::move(pages)), disk_(disk), rule_(std::move(rule)) {}

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
  }
  text_ = DecodePage(std::move(source));
  if (!rule_.all_links) {
    lines_.emplace(text_->text);
    return;
  }
  utf8_ = Utf8Text(*text_);
  text_.reset();
  html_.emplace(utf8_);
  // What relative links resolve against: the page's address, or for a local page its place
  // under the root, as its server would give it; then the page's <base href>.
  // A page named without a folder lies in the current one.
  const std::string path = page_.find('/') == std::string::npos ? "./" + page_ : page_;
  local_root_ = rule_.root.empty() ? path.substr(0, path.rfind('/')) : rule_.root;
  while (local_root_.size() > 1 && local_root_.back() == '/') local_root_.pop_back();
  if (path.compare(0, local_root_.size() + 1, local_root_ + "/") != 0) local_root_.clear();
  base_ = IsWebAddress(page_) ? page_
                              : std::string(kLocalSite) +
                                    PathAsUrl(path.substr(local_root_.size()));
  // A relative path outside the root still needs a "/" to be an address's path.
  if (!IsWebAddress(page_) && local_root_.empty() && path.front() != '/')
    base_ = std::string(kLocalSite) + "/" + PathAsUrl(path);
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
  for (HtmlLink& html : found.links) AddHtmlLink(html);
  return true;
}

void LinkScanner::AddHtmlLink(HtmlLink& html) {
  const std::string scheme = SchemeOf(html.written);
  ScanItem item;
  FoundLink& link = item.link;
  link.target = html.written;
  link.name = std::move(html.name);
  link.page = page_;
  if (scheme == "http" || scheme == "https" || (scheme.empty() && html.written.starts_with("//"))) {
    link.resolved = RequestAddress(scheme.empty() ? "http:" + html.written : html.written,
                                 rule_.classic.keep_query);
    if (!rule_.classic.https && SchemeOf(link.resolved) == "https")
      item.kind = ScanItem::Kind::kHttpsSkipped;
  } else if (!scheme.empty()) {
    return;  // ftp:, file: and the like: nothing a link check can ask
  } else {
    link.internal = true;
    const std::optional<std::string> resolved = ResolveUrl(base_, html.written);
    if (!resolved) return;
    if (resolved->starts_with(kLocalSite)) {
      const std::optional<UrlParts> parts = SplitUrl(*resolved);
      const std::string_view fragment = parts->fragment;
      link.local = true;
      link.resolved = local_root_ + PercentDecode(parts->path);
      link.anchor = PercentDecode(fragment.substr(fragment.empty() ? 0 : 1));
    } else {
      link.resolved = RequestAddress(*resolved, rule_.classic.keep_query);
    }
  }
  items_.push_back(std::move(item));
}

bool LinkScanner::Next(ScanItem* item) {
  for (;;) {
    const bool more = line_pos_ < line_links_.size() || item_pos_ < items_.size();
    if (more && page_links_ == rule_.max_links_per_page) {
      links_cut_ = true;
      SkipRestOfPage();
      continue;
    }
    if (line_pos_ < line_links_.size()) {
      ClassicLink& found = line_links_[line_pos_++];
      item->kind = found.passed_over ? ScanItem::Kind::kHttpsSkipped : ScanItem::Kind::kLink;
      item->link = FoundLink(std::move(found.target), std::move(found.name), page_);
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
    if (html_) {
      if (ScanNextSegment()) continue;
      SkipRestOfPage();
    }
    if (pending_page_end_) {
      pending_page_end_ = false;
      item->kind = ScanItem::Kind::kPageEnd;
      item->link = FoundLink{};
      item->link.page = page_;
      item->links_cut = std::exchange(links_cut_, false);
      page_links_ = 0;
      return true;
    }
    if (next_page_ >= pages_.size()) return false;
    StartPage();
    if (!lines_ && !html_) pending_page_end_ = true;
  }
}

void LinkScanner::SkipRestOfPage() {
  line_links_.clear();
  line_pos_ = 0;
  items_.clear();
  item_pos_ = 0;
  lines_.reset();
  html_.reset();
  // The text goes as soon as its page is done: only one page is ever held.
  text_.reset();
  utf8_ = std::string();
  // The page end is still to come, so the caller yields after this page as after any other.
  pending_page_end_ = true;
}

}  // namespace voxtrel
