#include "engine/crawl_frontier.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <utility>

#include "platform/http_answer.h"
#include "platform/text.h"
#include "web/css_links.h"
#include "web/html_links.h"
#include "web/page_encoding.h"
#include "web/url.h"

namespace voxtrel {
namespace {

// The elements whose links lead to other pages, as a browser shows them.
bool LeadsToPage(const std::string& element) {
  return element == "a" || element == "area" || element == "frame" || element == "iframe";
}

size_t Hash(const std::string& text) { return std::hash<std::string>{}(text); }

// A field of a packed list: its length, then its bytes.
void Pack(std::string_view field, std::string* packed) {
  const uint32_t size = static_cast<uint32_t>(field.size());
  packed->append(reinterpret_cast<const char*>(&size), sizeof size);
  packed->append(field);
}

std::string Unpack(std::string_view* packed) {
  uint32_t size = 0;
  std::memcpy(&size, packed->data(), sizeof size);
  std::string field(packed->substr(sizeof size, size));
  packed->remove_prefix(sizeof size + size);
  return field;
}

}  // namespace

CrawlFrontier::CrawlFrontier(PageSource start, const std::string& final_address, RobotsRules robots,
                             CrawlBounds bounds, bool keep_query, bool all_links)
    : robots_(std::move(robots)), bounds_(bounds), keep_query_(keep_query), all_links_(all_links) {
  const std::string address = final_address.empty() ? start.source : final_address;
  const std::string key = KeyOf(address);
  if (const std::optional<UrlParts> parts = SplitUrl(key)) {
    scheme_authority_ = parts->scheme + "://" + parts->authority;
    folder_ = parts->path.substr(0, parts->path.rfind('/') + 1);
  }
  std::vector<std::string> start_keys = {KeyOf(start.source)};
  if (start_keys.front() != key) start_keys.push_back(key);
  for (const std::string& start_key : start_keys) known_.insert(start_key);
  page_keys_.insert(key);
  start.source = address;
  Candidate& first = candidates_.emplace_back();
  first.address = address;
  first.state = State::kPage;
  first.page = std::move(start);
  ReadPage(first, start_keys);
  resolved_ = 1;
  pages_ = 1;
}

std::string CrawlFrontier::KeyOf(std::string_view address) {
  return NormalizeUrl(address).value_or(std::string());
}

bool CrawlFrontier::OnSite(const std::string& key) const {
  if (scheme_authority_.empty() || key.compare(0, scheme_authority_.size(), scheme_authority_))
    return false;
  const std::string_view path = std::string_view(key).substr(scheme_authority_.size());
  return path.starts_with(folder_);
}

bool CrawlFrontier::OnSiteHost(const std::string& key) const {
  return !scheme_authority_.empty() &&
         !key.compare(0, scheme_authority_.size(), scheme_authority_) &&
         (key.size() == scheme_authority_.size() || key[scheme_authority_.size()] == '/');
}

bool CrawlFrontier::RobotsRefuse(const std::string& key) const {
  if (!OnSiteHost(key)) return false;
  return !robots_.Allows(std::string_view(key).substr(scheme_authority_.size()));
}

bool CrawlFrontier::Disallows(const std::string& key) {
  if (!OnSiteHost(key)) return false;
  if (disallowed_keys_.count(key)) return true;
  const size_t hash = std::hash<std::string>{}(key);
  if (allowed_hashes_.count(hash)) return false;
  if (robots_.Allows(std::string_view(key).substr(scheme_authority_.size()))) {
    allowed_hashes_.insert(hash);
    return false;
  }
  disallowed_keys_.insert(key);
  return true;
}

bool CrawlFrontier::Settle(std::vector<Fetch>* to_fetch) {
  Resolve();
  while (!found_.empty() || TakeLinks()) {
    FoundLink& link = found_.front();
    const std::string key = KeyOf(link.resolved);
    if (!key.empty() && OnSite(key) && !known_.count(key) && !Disallows(key)) {
      if (found_depth_ > bounds_.max_depth || pages_ >= bounds_.max_pages) {
        ++left_out_;
      } else if (pages_ + (candidates_.size() - resolved_) >= bounds_.max_pages) {
        // Whether it fits depends on how many of the pages before it turn out to be pages.
        return false;
      } else {
        Candidate& candidate = candidates_.emplace_back();
        candidate.address = link.resolved;
        candidate.depth = found_depth_;
        link.page = found_on_;
        to_fetch->push_back(Fetch{candidates_.size() - 1, std::move(link), found_from_});
      }
      known_.insert(key);
    }
    found_.pop_front();
    if (found_.empty()) ++pages_settled_;
    if (abort_ && abort_->Raised()) return false;
  }
  return true;
}

bool CrawlFrontier::TakeLinks() {
  while (take_next_ < resolved_) {
    Candidate& candidate = candidates_[take_next_++];
    if (candidate.state != State::kPage) continue;
    for (std::string_view packed = candidate.follow; !packed.empty();) {
      FoundLink& link = found_.emplace_back();
      link.resolved = Unpack(&packed);
      link.target = Unpack(&packed);
      link.name = Unpack(&packed);
      link.internal = SchemeOf(link.target).empty() && !link.target.starts_with("//");
    }
    candidate.follow = {};
    found_depth_ = candidate.depth + 1;
    found_on_ = candidate.address;
    found_from_ = pages_taken_++;
    if (!found_.empty()) return true;
    ++pages_settled_;  // a page without links to lead on by
  }
  return false;
}

void CrawlFrontier::Answered(size_t index, Answer answer) {
  Candidate& candidate = candidates_[index];
  candidate.state = State::kNotPage;
  const std::string final_address =
      answer.final_address.empty() ? candidate.address : answer.final_address;
  const bool sheet = all_links_ && IsStyleSheetContentType(answer.content_type);
  if (answer.ok && (IsHtmlContentType(answer.content_type) || sheet) &&
      OnSite(KeyOf(final_address))) {
    const std::vector<std::string> keys = {KeyOf(candidate.address), KeyOf(final_address)};
    candidate.state = State::kPage;
    candidate.sheet = sheet;
    candidate.address = final_address;
    candidate.page = PageSource{final_address, std::move(answer.body),
                                CharsetOfContentType(answer.content_type), PageOrigin::kWeb};
    candidate.cut = answer.cut;
    if (sheet)
      ReadImports(candidate);
    else
      ReadPage(candidate, keys);
  }
  Resolve();
}

void CrawlFrontier::Unanswered(size_t index) {
  candidates_[index].state = State::kNotPage;
  Resolve();
}

void CrawlFrontier::Resolve() {
  while (resolved_ < candidates_.size() && candidates_[resolved_].state != State::kAsked) {
    Candidate& candidate = candidates_[resolved_++];
    if (candidate.state != State::kPage) continue;
    if (page_keys_.insert(KeyOf(candidate.address)).second) {
      ++pages_;
    } else {
      // Reached again through a redirect: the page is checked where it was met first.
      candidate.state = State::kNotPage;
      candidate.page.reset();
      candidate.follow = {};
    }
  }
}

CrawlFrontier::Next CrawlFrontier::NextPage(PageToCheck* page, bool* cut) {
  Resolve();
  while (next_ < resolved_) {
    Candidate& candidate = candidates_[next_];
    if (candidate.state != State::kPage) {
      ++next_;
      continue;
    }
    // Its links become fetches first, so the fetches of pages it links to are asked before any
    // of its links and each address is requested once.
    if (handed_on_ >= pages_settled_) return Next::kWait;
    ++next_;
    page->source = std::move(candidate.address);
    page->fetched = std::move(candidate.page);
    page->style_sheet = candidate.sheet;
    candidate.page.reset();
    *cut = candidate.cut;
    ++handed_on_;
    return Next::kPage;
  }
  return next_ == candidates_.size() && take_next_ == candidates_.size() && found_.empty()
             ? Next::kDone
             : Next::kWait;
}

bool CrawlFrontier::HasAnchor(const std::string& key, const std::string& anchor) const {
  if (anchor.empty() || AsciiUpper(anchor) == "TOP" || !anchors_.count(Hash(key))) return true;
  return anchors_.count(Hash(key + '#' + anchor)) > 0;
}

void CrawlFrontier::ReadPage(Candidate& candidate, const std::vector<std::string>& keys) {
  const PageText decoded = DecodePage(*candidate.page);
  const std::string text = Utf8Text(decoded);
  std::string base = candidate.page->source;
  // A page cut at the size cap may hold further anchors: links to it are not judged by it.
  const bool anchors = all_links_ && !candidate.cut;
  // A key holds no "#", so a page's own mark never meets one of its anchors.
  if (anchors)
    for (const std::string& key : keys) anchors_.insert(Hash(key));
  // Settle passes over what is off the site or met before, so a page's links wait for their
  // turn only once per address: a menu repeated a thousand times costs one entry.
  std::unordered_set<std::string> kept;
  HtmlLinkReader reader(text);
  HtmlLinks found;
  size_t links = 0;
  while ((!abort_ || !abort_->Raised()) && reader.Next(&found)) {
    if (found.base)
      if (std::optional<std::string> resolved = ResolveUrl(base, *found.base)) base = *resolved;
    for (const HtmlLink& link : found.links) {
      if (links++ == bounds_.max_links_per_page) {
        links_cut_.push_back(candidate.page->source);
        // Its anchors past the cap are unknown: links to it are not judged by it.
        if (anchors)
          for (const std::string& key : keys) anchors_.erase(Hash(key));
        candidate.follow.shrink_to_fit();
        return;
      }
      if (!LeadsToPage(link.element) && !(all_links_ && IsStyleSheetLink(link))) continue;
      const std::optional<std::string> resolved = ResolveUrl(base, link.written);
      if (!resolved) continue;
      const std::string scheme = SchemeOf(*resolved);
      if (scheme != "http" && scheme != "https") continue;
      Follow(BrowserAddress(RequestAddress(*resolved, keep_query_), decoded.form), link.written,
             link.name, &kept, &candidate.follow);
    }
    if (anchors)
      for (const std::string& anchor : found.anchors)
        for (const std::string& key : keys) anchors_.insert(Hash(key + '#' + anchor));
  }
  candidate.follow.shrink_to_fit();
}

void CrawlFrontier::ReadImports(Candidate& candidate) {
  const PageSource& sheet = *candidate.page;
  const PageEncoding encoding =
      sheet.charset ? EncodingForName(*sheet.charset) : PageEncoding::kUtf8;
  const std::string text = StyleSheetText(sheet.bytes, encoding);
  std::unordered_set<std::string> kept;
  CssLinkReader reader(text);
  for (CssLink link; reader.Next(&link);) {
    if (!link.import) continue;
    const std::optional<std::string> resolved = ResolveUrl(sheet.source, link.written);
    if (resolved && (SchemeOf(*resolved) == "http" || SchemeOf(*resolved) == "https"))
      Follow(RequestAddress(*resolved, keep_query_), link.written, link.name, &kept,
             &candidate.follow);
  }
  candidate.follow.shrink_to_fit();
}

void CrawlFrontier::Follow(const std::string& address, std::string_view written,
                           std::string_view name, std::unordered_set<std::string>* kept,
                           std::string* follow) const {
  const std::string key = KeyOf(address);
  if (key.empty() || !OnSite(key) || !kept->insert(key).second) return;
  Pack(address, follow);
  Pack(written, follow);
  Pack(name, follow);
}

}  // namespace voxtrel
