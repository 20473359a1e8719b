#include "web/answer_facts.h"

#include <algorithm>
#include <array>

#include "platform/text.h"
#include "web/html_links.h"
#include "web/page.h"
#include "web/page_encoding.h"
#include "web/url.h"

namespace voxtrel {
namespace {

// A page a script builds shows next to nothing before the script runs; a real page with so
// little text is rare, and a short one still needs a script and an empty root to count.
constexpr size_t kShellTextBytes = 512;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// Whether `html` at `pos` starts with `lower_word` in any ASCII case.
bool At(std::string_view html, size_t pos, std::string_view lower_word) {
  if (html.size() - pos < lower_word.size()) return false;
  for (size_t i = 0; i < lower_word.size(); ++i)
    if (Lower(html[pos + i]) != lower_word[i]) return false;
  return true;
}

// Where `lower_word` next starts at or after `pos`, any ASCII case; npos when nowhere.
size_t FindNoCase(std::string_view html, std::string_view lower_word, size_t pos) {
  for (; pos < html.size(); ++pos)
    if (At(html, pos, lower_word)) return pos;
  return std::string_view::npos;
}

// Whether a tag name starting at `pos` is `lower_name` and ends right there.
bool TagNamed(std::string_view html, size_t pos, std::string_view lower_name) {
  if (!At(html, pos, lower_name)) return false;
  const size_t end = pos + lower_name.size();
  if (end == html.size()) return true;
  const char c = html[end];
  return c == '>' || c == '/' || c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

bool Blank(std::string_view text, size_t pos, size_t* length) {
  const char c = text[pos];
  if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') return (*length = 1);
  // The ideographic space and the no-break space stand between words as a blank does.
  if (text.substr(pos, 3) == "\xE3\x80\x80") return (*length = 3);
  if (text.substr(pos, 2) == "\xC2\xA0") return (*length = 2);
  return false;
}

std::string CollapseBlanks(std::string_view text) {
  std::string out;
  bool blank = false;
  for (size_t pos = 0, length = 0; pos < text.size(); pos += length) {
    length = 1;
    if (Blank(text, pos, &length)) {
      blank = !out.empty();
      continue;
    }
    if (blank) out += ' ';
    blank = false;
    out += text[pos];
  }
  return out;
}

// The position after the element `lower_name` that starts a raw text (a script, a style):
// past its end tag, or the end of the page.
size_t SkipRawText(std::string_view html, size_t pos, std::string_view lower_name) {
  const std::string end_tag = "</" + std::string(lower_name);
  for (size_t at = FindNoCase(html, end_tag, pos); at != std::string_view::npos;
       at = FindNoCase(html, end_tag, at + 1))
    if (TagNamed(html, at + 2, lower_name)) {
      const size_t close = html.find('>', at);
      return close == std::string_view::npos ? html.size() : close + 1;
    }
  return html.size();
}

// Removes every occurrence of `echo` from `text`: an error page that repeats the address asked
// must not look unlike another answer of its kind for that.
void RemoveEcho(std::string* text, std::string_view echo) {
  // Shorter pieces ("a", "/") would take real words with them.
  if (echo.size() < 4) return;
  for (size_t at = text->find(echo); at != std::string::npos; at = text->find(echo, at))
    text->erase(at, echo.size());
}

void RemoveEchoesOf(std::string* text, std::string_view url) {
  RemoveEcho(text, url);
  const std::optional<UrlParts> parts = SplitUrl(url);
  if (!parts) return;
  RemoveEcho(text, parts->path);
  RemoveEcho(text, PercentDecode(parts->path));
  const std::string_view path = parts->path;
  RemoveEcho(text, path.substr(path.rfind('/') + 1));
}

uint64_t Mix(uint64_t x) {
  // splitmix64's finaliser: spreads the bits so that the smallest hashes are a fair sample.
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ULL;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

std::vector<uint64_t> SignatureOf(std::string_view text) {
  // Characters, not bytes: a Japanese character is three bytes, and shingles of bytes would be
  // shorter than one of them.
  std::vector<uint32_t> chars;
  for (size_t pos = 0; pos < text.size();) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + pos;
    const size_t length = std::max<size_t>(1, Utf8SequenceLength(p, text.size() - pos));
    uint32_t code = 0;
    for (size_t i = 0; i < length; ++i) code = code << 8 | p[i];
    chars.push_back(code);
    pos += length;
  }
  std::vector<uint64_t> hashes;
  const size_t width = std::min<size_t>(4, chars.size());
  for (size_t i = 0; width > 0 && i + width <= chars.size(); ++i) {
    uint64_t hash = 0xCBF29CE484222325ULL;
    for (size_t j = 0; j < width; ++j) hash = Mix(hash ^ chars[i + j]);
    hashes.push_back(hash);
  }
  std::sort(hashes.begin(), hashes.end());
  hashes.erase(std::unique(hashes.begin(), hashes.end()), hashes.end());
  if (hashes.size() > kSignatureSize) hashes.resize(kSignatureSize);
  return hashes;
}

// An element a script fills in: an empty <div id=...>, or an empty custom element
// (<app-root></app-root>).
bool HasEmptyRoot(std::string_view html) {
  for (size_t at = html.find('<'); at != std::string_view::npos; at = html.find('<', at + 1)) {
    const size_t close = html.find('>', at);
    if (close == std::string_view::npos) return false;
    const std::string_view tag = html.substr(at + 1, close - at - 1);
    const size_t name_end = std::min(tag.size(), tag.find_first_of(" \t\r\n/"));
    const std::string_view name = tag.substr(0, name_end);
    const bool div_with_id =
        TagNamed(html, at + 1, "div") && FindNoCase(tag, "id=", 0) != std::string_view::npos;
    const bool custom = name.find('-') != std::string_view::npos && name[0] != '!';
    if (!div_with_id && !custom) continue;
    size_t next = close + 1;
    while (next < html.size() &&
           (html[next] == ' ' || html[next] == '\n' || html[next] == '\r' || html[next] == '\t'))
      ++next;
    std::string lower_name(name);
    for (char& c : lower_name) c = Lower(c);
    if (At(html, next, "</") && TagNamed(html, next + 2, lower_name)) return true;
  }
  return false;
}

}  // namespace

std::string VisibleText(std::string_view html) {
  std::string text;
  for (size_t pos = 0; pos < html.size();) {
    const size_t open = html.find('<', pos);
    text.append(html.substr(pos, open == std::string_view::npos ? open : open - pos));
    if (open == std::string_view::npos) break;
    pos = open + 1;
    if (At(html, pos, "!--")) {
      const size_t end = html.find("-->", pos + 3);
      pos = end == std::string_view::npos ? html.size() : end + 3;
      continue;
    }
    const char c = pos < html.size() ? Lower(html[pos]) : ' ';
    if (!(c >= 'a' && c <= 'z') && c != '/' && c != '!' && c != '?') {
      text += '<';  // a lone "<" is text, as a browser shows it
      continue;
    }
    bool raw = false;
    for (std::string_view name : {"script", "style", "noscript", "template", "title"})
      if (TagNamed(html, pos, name)) {
        pos = SkipRawText(html, pos, name);
        raw = true;
        break;
      }
    if (raw) continue;
    const size_t close = html.find('>', pos);
    pos = close == std::string_view::npos ? html.size() : close + 1;
    text += ' ';  // a tag may part words (<br>, </p>)
  }
  return CollapseBlanks(DecodeCharacterReferences(text));
}

std::string TitleOf(std::string_view html) {
  for (size_t at = FindNoCase(html, "<title", 0); at != std::string_view::npos;
       at = FindNoCase(html, "<title", at + 1)) {
    if (!TagNamed(html, at + 1, "title")) continue;
    const size_t open_end = html.find('>', at);
    if (open_end == std::string_view::npos) return "";
    size_t end = FindNoCase(html, "</title", open_end);
    if (end == std::string_view::npos) end = html.size();
    return CollapseBlanks(DecodeCharacterReferences(html.substr(open_end + 1, end - open_end - 1)));
  }
  return "";
}

AnswerFacts FactsOf(const std::string& asked, const HttpAnswer& answer, bool want_anchors) {
  AnswerFacts facts;
  facts.final_url = answer.final_url.empty() ? asked : answer.final_url;
  facts.status = answer.status.value_or(0);
  facts.html = IsHtmlContentType(answer.content_type);
  facts.cut = answer.body_cut;
  if (!facts.html || answer.body.empty()) return facts;
  PageSource source;
  source.source = facts.final_url;
  source.bytes = answer.body;
  source.charset = CharsetOfContentType(answer.content_type);
  source.origin = PageOrigin::kWeb;
  const std::string page = Utf8Text(DecodePage(std::move(source)));
  std::string title = TitleOf(page);
  std::string text = VisibleText(page);
  for (std::string_view url : {std::string_view(asked), std::string_view(facts.final_url)}) {
    RemoveEchoesOf(&title, url);
    RemoveEchoesOf(&text, url);
  }
  facts.title = CollapseBlanks(title);
  text = CollapseBlanks(text);
  facts.text_bytes = text.size();
  facts.signature = SignatureOf(text);
  facts.app_shell = text.size() < kShellTextBytes &&
                    FindNoCase(page, "<script", 0) != std::string::npos &&
                    (text.empty() || HasEmptyRoot(page));
  if (want_anchors) facts.anchors = FindHtmlLinks(page).anchors;
  return facts;
}

double Resemblance(const std::vector<uint64_t>& a, const std::vector<uint64_t>& b) {
  if (a.empty() || b.empty()) return a.empty() && b.empty() ? 1.0 : 0.0;
  std::vector<uint64_t> joined;
  std::set_union(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(joined));
  if (joined.size() > kSignatureSize) joined.resize(kSignatureSize);
  size_t both = 0;
  for (uint64_t hash : joined)
    both += std::binary_search(a.begin(), a.end(), hash) &&
            std::binary_search(b.begin(), b.end(), hash);
  return static_cast<double>(both) / static_cast<double>(joined.size());
}

// Two answers of one error template differ in little but the address they repeat, which is
// left out, and perhaps a date or a request number: they resemble each other well above 0.95.
// Two real pages of one templated site share the menus and the footer but not their own text;
// with the same title and nearly the same length, 0.85 still asks that six shingles in seven
// be shared, which only pages with next to no text of their own reach.
bool NearlySame(const AnswerFacts& a, const AnswerFacts& b) {
  if (a.title != b.title) return false;
  const size_t longer = std::max(a.text_bytes, b.text_bytes);
  const size_t shorter = std::min(a.text_bytes, b.text_bytes);
  if ((longer - shorter) * 20 > longer) return false;
  return Resemblance(a.signature, b.signature) >= kNearlySame;
}

bool IsTopPage(std::string_view url) {
  const std::optional<UrlParts> parts = SplitUrl(url);
  if (!parts) return false;
  std::string_view path = parts->path;
  // An old personal site's home on a shared host is that site's top page.
  if (path.size() > 2 && path.substr(0, 2) == "/~") {
    const size_t slash = path.find('/', 2);
    if (slash == std::string_view::npos) return true;
    path.remove_prefix(slash);
  }
  if (path == "/") return true;
  if (path.rfind('/') != 0) return false;
  const std::string name = AsciiUpper(path.substr(1, path.find('.') - 1));
  return name == "INDEX" || name == "DEFAULT" || name == "TOP" || name == "HOME";
}

std::string FolderKeyOf(std::string_view url) {
  const std::optional<UrlParts> parts = SplitUrl(url);
  if (!parts) return "";
  std::string authority = parts->authority.substr(parts->authority.rfind('@') + 1);
  const size_t bracket = authority.rfind(']');
  if (authority.find(':', bracket == std::string::npos ? 0 : bracket) == std::string::npos)
    authority += parts->scheme == "https" ? ":443" : ":80";
  return parts->scheme + "://" + authority + parts->path.substr(0, parts->path.rfind('/') + 1);
}

std::string ProbeExtensionOf(std::string_view url) {
  const std::optional<UrlParts> parts = SplitUrl(url);
  if (!parts) return "";
  const std::string_view name = std::string_view(parts->path).substr(parts->path.rfind('/') + 1);
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return "";
  std::string extension(name.substr(dot));
  for (char& c : extension) c = Lower(c);
  // A static server treats every page name alike: one probe stands for all of them.
  for (std::string_view page : {".htm", ".html", ".shtm", ".shtml", ".xhtml"})
    if (extension == page) return ".html";
  return extension;
}

std::string ProbeAddressOf(std::string_view url, std::string_view name) {
  const std::optional<UrlParts> parts = SplitUrl(url);
  if (!parts) return "";
  const std::string folder = parts->path.substr(0, parts->path.rfind('/') + 1);
  return parts->scheme + "://" + parts->authority + folder + std::string(name) +
         ProbeExtensionOf(url);
}

}  // namespace voxtrel
