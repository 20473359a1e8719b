#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace voxtrel {

/// The encodings a page can be read in.
enum class PageEncoding { kShiftJis, kEucJp, kUtf8, kIso2022Jp };

/// The encoding a charset name stands for (any ASCII case, blanks around it ignored); Shift_JIS
/// for a name not known, the empty name included.
PageEncoding EncodingForName(std::string_view name);

/// The charset parameter of a Content-Type header value (quotes removed), nothing when absent.
/// A parameter given with an empty value is returned as the empty string.
std::optional<std::string> CharsetOfContentType(std::string_view content_type);

/// The first charset= value inside a <meta> tag of the page read as code page 932 text (original
/// case, quotes removed); nothing when no tag holds one.
std::optional<std::string> DeclaredCharset(std::string_view page_bytes);

/// Whether `bytes` are valid UTF-8 holding at least one multi-byte sequence.
bool IsUtf8WithMultibyte(std::string_view bytes);

/// Whether `bytes` start with the UTF-8 byte order mark.
bool HasUtf8Bom(std::string_view bytes);

/// The encoding to read a page in: the EUC-JP test when it fired, then a UTF-8 byte order mark,
/// then `http_charset` (the Content-Type charset of a fetched page, if any), then the page's
/// <meta> declaration, then UTF-8 for undeclared valid UTF-8 with a multi-byte sequence, else
/// Shift_JIS.
PageEncoding DecidePageEncoding(std::string_view bytes, bool euc_test_fired,
                                const std::optional<std::string>& http_charset);

/// ISO-2022-JP bytes as UTF-8; an invalid sequence becomes U+FFFD and decoding goes on.
std::string Iso2022JpToUtf8(std::string_view bytes);

/// `bytes` as valid UTF-8: each byte not part of a valid sequence becomes U+FFFD.
std::string ValidUtf8(std::string_view bytes);

/// Bytes in `encoding` as UTF-8, read as pages are read: EUC-JP by way of Shift_JIS (its
/// half-width katakana widened), Shift_JIS as code page 932.
std::string BytesAsUtf8(std::string_view bytes, PageEncoding encoding);

}  // namespace voxtrel
