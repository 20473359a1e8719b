#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace voxtrel {

/// The most a sitemap may hold once inflated, as the sitemap protocol says: 50 MiB.
inline constexpr size_t kSitemapCap = size_t{50} << 20;
/// The most addresses taken from one sitemap, as the protocol allows; the rest are passed over.
inline constexpr size_t kSitemapMaxAddresses = 50000;

/// What a sitemap lists: the addresses of pages (a <urlset>) or of other sitemaps (a
/// <sitemapindex>), in document order, trimmed, entities decoded.
struct Sitemap {
  enum class Kind { kPages, kIndex };
  Kind kind = Kind::kPages;
  std::vector<std::string> addresses;
  /// Addresses past kSitemapMaxAddresses, not taken.
  size_t passed_over = 0;
};

/// Reads a sitemap's bytes, gzip-compressed (inflated up to kSitemapCap) or not; names are
/// matched by their local part, with or without a namespace. No DTD or external entity is ever
/// fetched. False when the bytes are no sitemap; *err then says why ("not well-formed (invalid
/// token) at line 3").
bool ReadSitemap(std::string_view bytes, Sitemap* sitemap, std::string* err);

/// Inflates gzip `bytes` into *out, at most `cap` bytes; false with *err saying why when they
/// are no gzip stream or inflate past the cap.
bool Gunzip(std::string_view bytes, size_t cap, std::string* out, std::string* err);

}  // namespace voxtrel
