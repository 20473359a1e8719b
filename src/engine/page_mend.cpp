#include "engine/page_mend.h"

#include <iconv.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <tuple>

#include "platform/cp932.h"
#include "platform/text.h"
#include "web/euc_to_sjis.h"
#include "web/page.h"
#include "web/url.h"

namespace voxtrel {
namespace {

// FNV-1a: a page that changed behind the run's back is what it must catch, not an attacker.
uint64_t HashOf(std::string_view bytes) {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char byte : bytes) hash = (hash ^ byte) * 1099511628211ull;
  return hash;
}

// `utf8` in an iconv encoding; nothing when it holds a character the encoding lacks.
std::optional<std::string> Iconv(std::string_view utf8, const char* to,
                                 const char* from = "UTF-8") {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out(utf8.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t in_left = utf8.size();
  char* put = out.data();
  size_t out_left = out.size();
  bool ok = iconv(cd, &in, &in_left, &put, &out_left) != static_cast<size_t>(-1) &&
            iconv(cd, nullptr, nullptr, &put, &out_left) != static_cast<size_t>(-1);
  iconv_close(cd);
  if (!ok) return std::nullopt;
  out.resize(out.size() - out_left);
  return out;
}

// The encoding's bytes for non-ASCII `utf8`; nothing when it cannot hold all of it.
std::optional<std::string> InPageEncoding(std::string_view utf8, PageEncoding encoding) {
  switch (encoding) {
    case PageEncoding::kUtf8:
      return std::string(utf8);
    case PageEncoding::kShiftJis: {
      std::string bytes = Utf8ToCp932(utf8);
      if (Cp932ToUtf8(bytes) != utf8) return std::nullopt;
      return bytes;
    }
    case PageEncoding::kEucJp:
      return Iconv(utf8, "EUC-JP-MS");
    case PageEncoding::kIso2022Jp:
      return Iconv(utf8, "ISO-2022-JP");
  }
  return std::nullopt;
}

void AppendPercent(std::string_view bytes, std::string* out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (unsigned char byte : bytes) {
    *out += '%';
    *out += kHex[byte >> 4];
    *out += kHex[byte & 15];
  }
}

// Bytes that would end the attribute, or that a browser would cut or drop from it.
bool MustEscapeAscii(unsigned char c) {
  return c <= 0x20 || c == 0x7F || c == '"' || c == '\'' || c == '<' || c == '>' || c == '`';
}

void AppendRun(std::string_view run, PageEncoding encoding, std::string* out) {
  if (run.empty()) return;
  if (std::optional<std::string> whole = InPageEncoding(run, encoding)) {
    *out += *whole;
    return;
  }
  // Character by character, so that only what the encoding lacks is percent-encoded.
  const auto* p = reinterpret_cast<const unsigned char*>(run.data());
  for (size_t at = 0; at < run.size();) {
    size_t length = std::max<size_t>(1, Utf8SequenceLength(p + at, run.size() - at));
    std::string_view one = run.substr(at, length);
    std::optional<std::string> held = length > 1 ? InPageEncoding(one, encoding) : std::nullopt;
    if (held) {
      *out += *held;
    } else {
      AppendPercent(one, out);
    }
    at += length;
  }
}

std::string AsUtf8(std::string_view text, PageEncoding encoding) {
  const bool shift_jis_form =
      encoding == PageEncoding::kShiftJis || encoding == PageEncoding::kEucJp;
  return shift_jis_form ? Cp932ToUtf8(text) : std::string(text);
}

// Whether the bytes at a place read as the link the run found there. The run may hold the link
// in the page's text form or in UTF-8, with or without its character references decoded.
bool PlaceMatches(std::string_view span, std::string_view written, PageEncoding encoding) {
  const std::string here = DecodeCharacterReferences(PageBytesAsUtf8(span, encoding));
  for (const std::string& seen : {AsUtf8(written, encoding), std::string(written)}) {
    const std::string decoded = DecodeCharacterReferences(seen);
    if (decoded == here || CleanReference(decoded) == CleanReference(here)) return true;
  }
  return false;
}

bool Refuse(PagePlan* page, std::string why) {
  page->refused = std::move(why);
  page->edits.clear();
  return false;
}

bool ReadAndCheck(DiskInterface& disk, const std::map<std::string, PageStamp>& stamps,
                  PagePlan* page) {
  std::string err;
  FileFacts facts;
  if (!disk.ReadWholeFile(page->page, &page->old_bytes, &err) ||
      !disk.FactsOf(page->page, &facts, &err)) {
    return Refuse(page, "cannot be read: " + err);
  }
  auto stamp = stamps.find(page->page);
  if (stamp == stamps.end()) return Refuse(page, "not read by the run");
  if (StampOf(page->old_bytes, facts.modified) != stamp->second) {
    return Refuse(page, "changed since the run");
  }
  page->encoding =
      DecidePageEncoding(page->old_bytes, DeclaresEucJp(page->old_bytes), std::nullopt);
  return true;
}

std::string PlaceName(const LinkPlace& place) {
  return "line " + std::to_string(place.line) + ", byte " + std::to_string(place.offset);
}

bool AddEdits(const std::vector<const Mend*>& mends, PagePlan* page) {
  const std::string_view bytes = page->old_bytes;
  for (const Mend* mend : mends) {
    const LinkPlace& place = mend->place;
    if (place.length == 0 || place.offset > bytes.size() ||
        place.length > bytes.size() - place.offset) {
      return Refuse(page, "no such place: " + PlaceName(place));
    }
    if (!PlaceMatches(bytes.substr(place.offset, place.length), mend->written, page->encoding)) {
      return Refuse(page, "the link is not there: " + PlaceName(place));
    }
    page->edits.push_back(
        {place.offset, place.length, AddressInPage(mend->address, page->encoding)});
  }
  std::sort(page->edits.begin(), page->edits.end(), [](const ByteEdit& a, const ByteEdit& b) {
    return std::tie(a.offset, a.length, a.bytes) < std::tie(b.offset, b.length, b.bytes);
  });
  auto same = [](const ByteEdit& a, const ByteEdit& b) {
    return a.offset == b.offset && a.length == b.length && a.bytes == b.bytes;
  };
  page->edits.erase(std::unique(page->edits.begin(), page->edits.end(), same), page->edits.end());
  for (size_t i = 1; i < page->edits.size(); ++i) {
    const ByteEdit& before = page->edits[i - 1];
    if (before.offset + before.length > page->edits[i].offset) {
      return Refuse(page, "two mends overlap at byte " + std::to_string(page->edits[i].offset));
    }
  }
  return true;
}

void BuildNewBytes(PagePlan* page) {
  const std::string& old = page->old_bytes;
  std::string& out = page->new_bytes;
  out.reserve(old.size() + 64);
  uint64_t at = 0;
  for (const ByteEdit& edit : page->edits) {
    out.append(old, at, edit.offset - at);
    out += edit.bytes;
    at = edit.offset + edit.length;
  }
  out.append(old, at);
}

// The page's path below `root`, or nothing when it is not below it.
std::optional<std::string> RelativePath(const std::string& root, const std::string& page) {
  std::string prefix = root;
  if (prefix.empty() || prefix.back() != '/') prefix += '/';
  if (page.size() <= prefix.size() || page.compare(0, prefix.size(), prefix) != 0) {
    return std::nullopt;
  }
  std::string relative = page.substr(prefix.size());
  if (relative.front() == '/' || relative == ".." || relative.starts_with("../") ||
      relative.find("/../") != std::string::npos || relative.ends_with("/..")) {
    return std::nullopt;
  }
  return relative;
}

}  // namespace

PageStamp StampOf(std::string_view bytes, int64_t modified) {
  return {bytes.size(), modified, HashOf(bytes)};
}

std::string AddressInPage(std::string_view address, PageEncoding encoding) {
  std::string out;
  size_t run_start = 0;
  for (size_t at = 0; at <= address.size(); ++at) {
    const bool end = at == address.size();
    const auto c = end ? 0 : static_cast<unsigned char>(address[at]);
    if (!end && c >= 0x80) continue;
    AppendRun(address.substr(run_start, at - run_start), encoding, &out);
    run_start = at + 1;
    if (end) break;
    if (c == '&') {
      out += "&amp;";
    } else if (MustEscapeAscii(c)) {
      AppendPercent(address.substr(at, 1), &out);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string PageBytesAsUtf8(std::string_view bytes, PageEncoding encoding, bool as_scanned) {
  if (encoding == PageEncoding::kEucJp && !as_scanned) {
    if (std::optional<std::string> shown = Iconv(bytes, "UTF-8", "EUC-JP-MS")) return *shown;
  }
  return BytesAsUtf8(bytes, encoding);
}

namespace {

// The plan of `mends` with each page's bytes read by `read`, which refuses a page it cannot give.
MendPlan Plan(const std::string& root, const std::vector<Mend>& mends,
              const std::function<bool(PagePlan*)>& read) {
  std::map<std::string, std::vector<const Mend*>> by_page;
  for (const Mend& mend : mends) by_page[mend.page].push_back(&mend);
  MendPlan plan;
  plan.root = root;
  for (const auto& [path, page_mends] : by_page) {
    PagePlan& page = plan.pages.emplace_back();
    page.page = path;
    std::optional<std::string> relative = RelativePath(root, path);
    if (!relative) {
      Refuse(&page, "not under the checked folder");
      continue;
    }
    page.relative = *relative;
    if (read(&page) && AddEdits(page_mends, &page)) BuildNewBytes(&page);
  }
  return plan;
}

}  // namespace

MendPlan PlanMends(DiskInterface& disk, const std::string& root, const std::vector<Mend>& mends,
                   const std::map<std::string, PageStamp>& stamps) {
  return Plan(root, mends, [&](PagePlan* page) { return ReadAndCheck(disk, stamps, page); });
}

MendPlan PlanMendsOfBytes(const std::string& root, const std::vector<Mend>& mends,
                          const std::map<std::string, std::string>& pages) {
  return Plan(root, mends, [&pages](PagePlan* page) {
    auto bytes = pages.find(page->page);
    if (bytes == pages.end()) return Refuse(page, "cannot be read");
    page->old_bytes = bytes->second;
    page->encoding =
        DecidePageEncoding(page->old_bytes, DeclaresEucJp(page->old_bytes), std::nullopt);
    return true;
  });
}

}  // namespace voxtrel
