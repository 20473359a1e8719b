#include "web/html_links.h"

#include <gumbo.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <utility>

#include "platform/text.h"
#include "web/css_links.h"
#include "web/link.h"
#include "web/page_encoding.h"

namespace voxtrel {
namespace {

// Gumbo searches its stack of open elements for every tag and frees its tree recursively, so
// deep nesting costs time with the square of the depth and 100,000 nested cells overflow the
// call stack. Pieces end before a tag that would nest deeper than this; browsers stop nesting
// at a few hundred levels too.
constexpr size_t kMaxDepth = 512;
// Each attribute is checked against the ones before it: 40,000 in one tag take seconds.
constexpr size_t kMaxAttributeTokens = 1024;
// Bytes a parse tree may take per byte of its segment. Ordinary markup takes 20 to 70; formatting
// elements re-opened over and over can make a 100 KB page take gigabytes.
constexpr size_t kTreeBytesPerTextByte = 64;
// A piece that outgrows its budget is parsed in halves, down to this size, where the worst tree
// is a few megabytes.
constexpr size_t kSmallestPiece = 4096;

bool IsHtmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

std::string_view TrimHtmlSpace(std::string_view text) {
  while (!text.empty() && IsHtmlSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsHtmlSpace(text.back())) text.remove_suffix(1);
  return text;
}

std::string CapName(std::string name) {
  if (name.size() <= kHtmlNameCap) return name;
  size_t cut = kHtmlNameCap;
  while (cut > 0 && IsContinuationByte(name[cut])) --cut;
  name.resize(cut);
  return name;
}

// Text with each run of whitespace made one blank and none at either end. Stops taking text
// once past the cap, so an anchor left open over a whole page costs no more than a short one.
class NameBuilder {
 public:
  void Add(std::string_view text) {
    for (char c : text) {
      if (Full()) return;
      if (IsHtmlSpace(c)) {
        blank_ = !name_.empty();
        continue;
      }
      if (blank_) name_ += ' ';
      blank_ = false;
      name_ += c;
    }
  }
  bool Full() const { return name_.size() > kHtmlNameCap; }
  std::string Take() { return CapName(std::move(name_)); }

 private:
  std::string name_;
  bool blank_ = false;
};

std::string Collapsed(std::string_view text) {
  NameBuilder name;
  name.Add(text);
  return name.Take();
}

// Where to end a part of `text` (longer than `limit`) that must not be longer than `limit`
// bytes: just after the last '>' that a '<' follows, else at `limit` moved back to the start of
// a character. 0 when neither gives a non-empty part.
size_t CutPoint(std::string_view text, size_t limit) {
  if (limit == 0) return 0;
  const size_t pair = text.rfind("><", limit - 1);
  if (pair != std::string_view::npos) return pair + 1;
  size_t cut = limit;
  for (int back = 0; back < 3 && cut > 0 && IsContinuationByte(text[cut]); ++back) --cut;
  return cut;
}

bool Among(std::string_view name, std::initializer_list<std::string_view> names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// Gumbo's stack of open elements, guessed from the tags alone with the commonest rules of tree
// building: void elements, the elements a start tag closes, end tags stopping at table cells
// and lists. Markup built to fool it can still nest deep, but sloppy pages nest as it thinks.
class NestingEstimate {
 public:
  // False when the element would nest past kMaxDepth.
  bool Start(const std::string& name, bool self_closing) {
    if (Among(name, {"area",   "base",  "basefont", "bgsound", "br",     "col",  "embed", "frame",
                     "hr",     "image", "img",      "input",   "keygen", "link", "meta",  "param",
                     "source", "track", "wbr",      "html",    "head",   "body"}))
      return true;
    // Only foreign elements (SVG, MathML) close themselves with "/>".
    if (self_closing && (foreign_ > 0 || name == "svg" || name == "math")) return true;
    if (Among(name, {"li", "dt", "dd", "option", "optgroup", "tr", "td", "th", "a", "nobr",
                     "button", "rb", "rt", "rp"}))
      PopTo(name);
    if (Among(name,
              {"p",     "div",      "ul",         "ol",         "dl",      "li",      "dd",
               "dt",    "pre",      "blockquote", "center",     "form",    "h1",      "h2",
               "h3",    "h4",       "h5",         "h6",         "hr",      "address", "article",
               "aside", "section",  "nav",        "header",     "footer",  "main",    "menu",
               "dir",   "fieldset", "figure",     "figcaption", "details", "summary"}))
      PopTo("p");
    if (open_.size() >= kMaxDepth) return false;
    open_.push_back(name);
    if (name == "svg" || name == "math") ++foreign_;
    return true;
  }
  void End(const std::string& name) { PopTo(name); }

 private:
  // Closes the nearest open `name` and all above it, unless a cell, table or list lies between.
  void PopTo(std::string_view name) {
    for (size_t i = open_.size(); i-- > 0;) {
      if (open_[i] == name) {
        for (size_t j = i; j < open_.size(); ++j)
          if (open_[j] == "svg" || open_[j] == "math") --foreign_;
        open_.resize(i);
        return;
      }
      if (Among(open_[i], {"applet", "caption", "html", "marquee", "object", "table", "td", "th",
                           "template", "ul", "ol", "dl"}))
        return;
    }
  }

  std::vector<std::string> open_;
  size_t foreign_ = 0;
};

// Where the tag whose attributes start at `i` ends: its closing '>', or the end of the text.
// Attribute tokens (starts of non-blank text outside quoted values) past kMaxAttributeTokens
// are blanked first.
size_t TagEnd(std::string& text, size_t i) {
  size_t tokens = 0;
  size_t blank_from = std::string::npos;
  char quote = 0;
  bool after_equals = false;
  for (; i < text.size() && (quote != 0 || text[i] != '>'); ++i) {
    const char c = text[i];
    const char before = text[i - 1];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if ((c == '"' || c == '\'') && after_equals) {
      quote = c;
    } else if (!IsHtmlSpace(c) && (IsHtmlSpace(before) || before == '"' || before == '\'')) {
      if (++tokens == kMaxAttributeTokens + 1) blank_from = i;
    }
    if (quote == 0 && !IsHtmlSpace(c)) after_equals = c == '=';
  }
  if (blank_from != std::string::npos) std::fill(text.begin() + blank_from, text.begin() + i, ' ');
  return i;
}

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The end of the piece of `text` from `begin` that gumbo can parse cheaply: before the first tag
// that would nest past kMaxDepth, else the end of the text. Blanks attributes as TagEnd does.
size_t CheapPieceEnd(std::string& text, size_t begin) {
  const size_t size = text.size();
  NestingEstimate nesting;
  for (size_t at = text.find('<', begin); at != std::string::npos; at = text.find('<', at)) {
    const size_t tag = at;
    if (text.compare(at, 4, "<!--") == 0) {
      at = text.find("-->", at + 4);
      if (at == std::string::npos) break;
      at += 3;
      continue;
    }
    const bool end_tag = at + 1 < size && text[at + 1] == '/';
    size_t i = at + 1 + end_tag;
    if (i == size || !IsAsciiLetter(text[i])) {
      // "<!doctype", "<?xml" and the like run to the next '>'; any other '<' is text.
      const bool bogus = end_tag || (at + 1 < size && (text[at + 1] == '!' || text[at + 1] == '?'));
      at = bogus ? text.find('>', at + 1) : at + 1;
      if (at == std::string::npos) break;
      continue;
    }
    std::string name;
    for (; i < size && !IsHtmlSpace(text[i]) && text[i] != '/' && text[i] != '>'; ++i)
      if (name.size() < 16) name += AsciiLower(text[i]);
    i = TagEnd(text, i);
    if (i == size) break;  // a tag cut off by the end is dropped by the parser
    const bool self_closing = text[i - 1] == '/';
    at = i + 1;
    if (end_tag) {
      nesting.End(name);
    } else if (name == "plaintext") {
      break;
    } else if (Among(name, {"script", "style", "textarea", "title", "xmp", "iframe", "noembed",
                            "noframes"})) {
      // Their text holds no tags: skip to the matching end tag.
      const std::string close = "</" + AsciiUpper(name);
      while ((at = text.find("</", at)) != std::string::npos &&
             !StartsWithNoCase(std::string_view(text).substr(at), close))
        at += 2;
      if (at == std::string::npos) break;
    } else if (!nesting.Start(name, self_closing)) {
      return tag;
    }
  }
  return size;
}

// Gumbo's allocations for one parse, kept in a list and counted against a budget, so a parse
// that outgrows the budget can be abandoned and everything it took freed. Gumbo has no way to
// fail an allocation, hence the jump back out of it; only gumbo's C frames lie in between.
class TreeArena {
 public:
  explicit TreeArena(size_t budget) : budget_(budget) {
    options_ = kGumboDefaultOptions;
    options_.allocator = &Allocate;
    options_.deallocator = &Deallocate;
    options_.userdata = this;
    options_.max_errors = 0;  // parse errors are of no use here and a broken page has millions
  }
  TreeArena(const TreeArena&) = delete;
  TreeArena& operator=(const TreeArena&) = delete;
  ~TreeArena() { FreeAll(); }

  // The tree of `piece`, nullptr when it outgrew the budget or memory ran out.
  GumboOutput* Parse(std::string_view piece) {
    std::jmp_buf over_budget;
    over_budget_ = &over_budget;
    if (setjmp(over_budget) != 0) {
      FreeAll();
      return nullptr;
    }
    GumboOutput* tree = gumbo_parse_with_options(&options_, piece.data(), piece.size());
    over_budget_ = nullptr;
    return tree;
  }
  void Destroy(GumboOutput* tree) { gumbo_destroy_output(&options_, tree); }

 private:
  struct alignas(std::max_align_t) Block {
    Block* prev;
    Block* next;
    size_t size;
  };
  // What malloc itself keeps per block, roughly.
  static constexpr size_t kBlockCost = sizeof(Block) + 16;

  static void* Allocate(void* userdata, size_t size) {
    auto* arena = static_cast<TreeArena*>(userdata);
    void* raw = nullptr;
    if (size <= arena->budget_ - arena->used_ && arena->budget_ - arena->used_ - size >= kBlockCost)
      raw = std::malloc(sizeof(Block) + size);
    if (raw == nullptr) std::longjmp(*arena->over_budget_, 1);
    auto* block = static_cast<Block*>(raw);
    *block = Block{&arena->blocks_, arena->blocks_.next, size};
    arena->blocks_.next->prev = block;
    arena->blocks_.next = block;
    arena->used_ += size + kBlockCost;
    return block + 1;
  }

  static void Deallocate(void* userdata, void* ptr) {
    if (ptr == nullptr) return;
    auto* arena = static_cast<TreeArena*>(userdata);
    Block* block = static_cast<Block*>(ptr) - 1;
    block->prev->next = block->next;
    block->next->prev = block->prev;
    arena->used_ -= block->size + kBlockCost;
    std::free(block);
  }

  void FreeAll() {
    while (blocks_.next != &blocks_) Deallocate(this, blocks_.next + 1);
  }

  GumboOptions options_;
  Block blocks_{&blocks_, &blocks_, 0};
  size_t used_ = 0;
  size_t budget_;
  std::jmp_buf* over_budget_ = nullptr;
};

const char* Attribute(const GumboElement& element, const char* name) {
  const GumboAttribute* attribute = gumbo_get_attribute(&element.attributes, name);
  return attribute == nullptr ? nullptr : attribute->value;
}

std::string_view AttributeText(const GumboElement& element, const char* name) {
  const char* value = Attribute(element, name);
  return value == nullptr ? "" : value;
}

// The trimmed value when it is one a browser would follow, else empty. Browsers drop tabs and
// line breaks anywhere in an address, so "java&#10;script:" runs script as well.
std::string_view LinkValue(std::string_view value) {
  const std::string_view written = TrimHtmlSpace(value);
  std::string scheme;
  for (size_t i = 0; i < written.size() && scheme.size() < 11; ++i)
    if (written[i] != '\t' && written[i] != '\n' && written[i] != '\r') scheme += written[i];
  for (std::string_view no_link : {"JAVASCRIPT:", "MAILTO:", "TEL:", "DATA:"})
    if (StartsWithNoCase(scheme, no_link)) return {};
  return written;
}

// The candidates' URLs as the srcset rules read them: a URL runs to whitespace and loses any
// trailing commas; what follows it up to a comma outside parentheses describes it ("2x").
std::vector<std::string_view> SrcsetUrls(std::string_view set) {
  std::vector<std::string_view> urls;
  size_t i = 0;
  while (true) {
    while (i < set.size() && (IsHtmlSpace(set[i]) || set[i] == ',')) ++i;
    if (i == set.size()) return urls;
    const size_t start = i;
    while (i < set.size() && !IsHtmlSpace(set[i])) ++i;
    const std::string_view url = set.substr(start, i - start);
    const size_t kept = url.find_last_not_of(',') + 1;
    urls.push_back(url.substr(0, kept));
    if (kept < url.size()) continue;
    for (bool in_parens = false; i < set.size() && (set[i] != ',' || in_parens); ++i) {
      if (set[i] == '(') in_parens = true;
      if (set[i] == ')') in_parens = false;
    }
  }
}

template <typename Visit>
void WalkChildren(const GumboNode* parent, std::vector<const GumboNode*>& stack, Visit visit) {
  const auto push_children = [&stack](const GumboNode* node) {
    const GumboVector& children =
        node->type == GUMBO_NODE_DOCUMENT ? node->v.document.children : node->v.element.children;
    for (unsigned i = children.length; i-- > 0;)
      stack.push_back(static_cast<const GumboNode*>(children.data[i]));
  };
  stack.clear();
  push_children(parent);
  while (!stack.empty()) {
    const GumboNode* node = stack.back();
    stack.pop_back();
    // Template contents are never shown, so a browser follows none of their links.
    if (visit(node) && node->type == GUMBO_NODE_ELEMENT) push_children(node);
  }
}

// The link text of a or area: its text as shown, script and style left out; else the alt of
// the first image inside that has one; else 画像 for an image link.
std::string AnchorName(const GumboNode* anchor) {
  NameBuilder text;
  std::string image_alt;
  bool image = false;
  std::vector<const GumboNode*> stack;
  WalkChildren(anchor, stack, [&](const GumboNode* node) {
    if (node->type == GUMBO_NODE_TEXT || node->type == GUMBO_NODE_WHITESPACE ||
        node->type == GUMBO_NODE_CDATA)
      text.Add(node->v.text.text);
    if (node->type != GUMBO_NODE_ELEMENT) return false;
    const GumboTag tag = node->v.element.tag;
    if (tag == GUMBO_TAG_IMG) {
      image = true;
      if (image_alt.empty()) image_alt = Collapsed(AttributeText(node->v.element, "alt"));
    }
    return !text.Full() && tag != GUMBO_TAG_SCRIPT && tag != GUMBO_TAG_STYLE;
  });
  std::string name = text.Take();
  if (!name.empty()) return name;
  if (!image_alt.empty()) return image_alt;
  return image ? kImageLinkName : "";
}

void AddLink(HtmlLinks& out, std::string_view written, const std::string& name, const char* tag,
             std::string_view as_written = {}) {
  if (written.empty()) return;
  out.links.push_back({std::string(written), name, tag, {}});
  if (as_written != written) out.links.back().as_written = as_written;
}

// An attribute's value as its page writes it: without its quotes, references kept, trimmed.
std::string_view WrittenValue(const GumboElement& element, const char* name) {
  const GumboAttribute* attribute = gumbo_get_attribute(&element.attributes, name);
  if (attribute == nullptr) return {};
  std::string_view value(attribute->original_value.data, attribute->original_value.length);
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
    value = value.substr(1, value.size() - 2);
  return TrimHtmlSpace(value);
}

// Reads the links and anchors of one parse tree's elements, met in document order.
class TreeReader {
 public:
  explicit TreeReader(HtmlLinks& out) : out_(out) {}

  void Element(const GumboNode* node) {
    const GumboElement& element = node->v.element;
    // An <a> left open is copied by the parser wherever its formatting carries on; the copies
    // are the one link written, whose text may sit in a copy only ("<a href=x><p>text</a>").
    const bool copy = node->parse_flags & (GUMBO_INSERTION_RECONSTRUCTED_FORMATTING_ELEMENT |
                                           GUMBO_INSERTION_ADOPTION_AGENCY_CLONED);
    if (copy) {
      const std::string_view href = LinkValue(AttributeText(element, "href"));
      if (element.tag == GUMBO_TAG_A && last_anchor_ < out_.links.size() &&
          out_.links[last_anchor_].written == href) {
        if (out_.links[last_anchor_].name.empty()) out_.links[last_anchor_].name = AnchorName(node);
        return;
      }
    } else {
      const char* id = Attribute(element, "id");
      if (id != nullptr && *id != '\0') out_.anchors.emplace_back(id);
      const char* name = Attribute(element, "name");
      if (element.tag == GUMBO_TAG_A && name != nullptr && *name != '\0')
        out_.anchors.emplace_back(name);
    }
    Links(node);
    // A copy's style="" is the one written, read already.
    if (!copy) StyleLinks(element);
  }

 private:
  // The style sheets inside the page: a <style> element's text, and any element's style="".
  void StyleLinks(const GumboElement& element) {
    if (element.tag == GUMBO_TAG_STYLE) {
      std::string css;
      for (unsigned i = 0; i < element.children.length; ++i) {
        const auto* child = static_cast<const GumboNode*>(element.children.data[i]);
        if (child->type == GUMBO_NODE_TEXT || child->type == GUMBO_NODE_WHITESPACE)
          css += child->v.text.text;
      }
      AddCssLinks(css);
    }
    if (const char* style = Attribute(element, "style")) AddCssLinks(style);
  }

  void AddCssLinks(std::string_view css) {
    for (const CssLink& link : FindCssLinks(css))
      AddLink(out_, LinkValue(link.written), link.name, "style");
  }

  void Links(const GumboNode* node) {
    const GumboElement& element = node->v.element;
    const char* tag = gumbo_normalized_tagname(element.tag);
    const auto src = [&](const char* name) { return LinkValue(AttributeText(element, name)); };
    switch (element.tag) {
      case GUMBO_TAG_A:
      case GUMBO_TAG_AREA:
        if (const std::string_view href = src("href"); !href.empty()) {
          if (element.tag == GUMBO_TAG_A) last_anchor_ = out_.links.size();
          AddLink(out_, href, AnchorName(node), tag, WrittenValue(element, "href"));
        }
        break;
      case GUMBO_TAG_BASE:
        if (const char* href = Attribute(element, "href"); href != nullptr && !out_.base)
          out_.base = std::string(TrimHtmlSpace(href));
        break;
      case GUMBO_TAG_IMG:
      case GUMBO_TAG_SOURCE: {
        std::string name = tag;
        if (element.tag == GUMBO_TAG_IMG) {
          name = Collapsed(AttributeText(element, "alt"));
          if (name.empty()) name = kImageLinkName;
        }
        AddLink(out_, src("src"), name, tag, WrittenValue(element, "src"));
        for (std::string_view url : SrcsetUrls(AttributeText(element, "srcset")))
          AddLink(out_, LinkValue(url), name, tag);
        break;
      }
      case GUMBO_TAG_LINK:
        AddLink(out_, src("href"),
                CapName(std::string(TrimHtmlSpace(AttributeText(element, "rel")))), tag,
                WrittenValue(element, "href"));
        break;
      case GUMBO_TAG_VIDEO:
        AddLink(out_, src("src"), tag, tag, WrittenValue(element, "src"));
        AddLink(out_, src("poster"), tag, tag, WrittenValue(element, "poster"));
        break;
      case GUMBO_TAG_OBJECT:
        AddLink(out_, src("data"), tag, tag, WrittenValue(element, "data"));
        break;
      case GUMBO_TAG_SCRIPT:
      case GUMBO_TAG_IFRAME:
      case GUMBO_TAG_FRAME:
      case GUMBO_TAG_AUDIO:
      case GUMBO_TAG_EMBED:
        AddLink(out_, src("src"), tag, tag, WrittenValue(element, "src"));
        break;
      default:
        break;
    }
  }

  HtmlLinks& out_;
  size_t last_anchor_ = SIZE_MAX;
};

class PageParser {
 public:
  PageParser(size_t segment_bytes, HtmlLinks& out)
      : budget_(segment_bytes > SIZE_MAX / kTreeBytesPerTextByte
                    ? SIZE_MAX
                    : segment_bytes * kTreeBytesPerTextByte),
        smallest_(std::max<size_t>(1, std::min(kSmallestPiece, segment_bytes / 8))),
        out_(out) {}

  void Segment(std::string_view text) {
    // Gumbo reads UTF-8 only.
    std::string valid = ValidUtf8(text);
    for (size_t begin = 0; begin < valid.size();) {
      const size_t end = CheapPieceEnd(valid, begin);
      Piece(std::string_view(valid).substr(begin, end - begin), true);
      begin = end;
    }
  }

 private:
  void Piece(std::string_view piece, bool budgeted) {
    TreeArena arena(budgeted ? budget_ : SIZE_MAX);
    if (GumboOutput* tree = arena.Parse(piece)) {
      TreeReader reader(out_);
      std::vector<const GumboNode*> stack;
      WalkChildren(tree->document, stack, [&](const GumboNode* node) {
        if (node->type == GUMBO_NODE_ELEMENT) reader.Element(node);
        return true;
      });
      arena.Destroy(tree);
      return;
    }
    if (!budgeted) return;  // memory ran out; the piece's links are lost
    const size_t cut = piece.size() > smallest_ ? CutPoint(piece, piece.size() / 2) : 0;
    if (cut == 0) return Piece(piece, false);
    Piece(piece.substr(0, cut), true);
    Piece(piece.substr(cut), true);
  }

  const size_t budget_;
  const size_t smallest_;
  HtmlLinks& out_;
};

}  // namespace

HtmlLinkReader::HtmlLinkReader(std::string_view utf8_text, size_t segment_bytes)
    : rest_(utf8_text), segment_bytes_(std::max<size_t>(segment_bytes, 4)) {}

bool HtmlLinkReader::Next(HtmlLinks* out) {
  // Gumbo's tree takes up to 70 times the bytes of its text, so a long page is parsed a segment
  // at a time, cut between two tags where one lies in reach. A cut inside a comment, a script or
  // an element's text can misread the markup next to it; pages this large are rare.
  *out = HtmlLinks();
  if (rest_.empty()) return false;
  size_t end = rest_.size();
  if (end > segment_bytes_) end = CutPoint(rest_, segment_bytes_);
  PageParser(segment_bytes_, *out).Segment(rest_.substr(0, end));
  rest_.remove_prefix(end);
  if (base_seen_) out->base.reset();
  base_seen_ = base_seen_ || out->base;
  return true;
}

bool IsStyleSheetLink(const HtmlLink& link) {
  if (link.element == "style") return link.name == "@import";
  if (link.element != "link") return false;
  // rel is a list of words parted by blanks: "stylesheet", "alternate stylesheet".
  std::string rel = " " + AsciiUpper(link.name) + " ";
  for (char& c : rel)
    if (IsHtmlSpace(c)) c = ' ';
  return rel.find(" STYLESHEET ") != std::string::npos;
}

HtmlLinks FindHtmlLinks(std::string_view utf8_text, size_t segment_bytes) {
  HtmlLinks all;
  HtmlLinkReader reader(utf8_text, segment_bytes);
  for (HtmlLinks part; reader.Next(&part);) {
    if (!all.base) all.base = std::move(part.base);
    for (HtmlLink& link : part.links) all.links.push_back(std::move(link));
    for (std::string& anchor : part.anchors) all.anchors.push_back(std::move(anchor));
  }
  return all;
}

}  // namespace voxtrel
