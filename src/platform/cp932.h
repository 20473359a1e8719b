#pragma once

#include <string>
#include <string_view>

namespace voxtrel {

/// Decodes code page 932 bytes to UTF-8. Invalid or unmapped bytes become U+FFFD and decoding goes on.
std::string Cp932ToUtf8(std::string_view bytes);

/// Whether `byte` opens a double-byte character (0x81-0x9F, 0xE0-0xFC). The byte after it is
/// always taken with it or, when that byte is ASCII and the pair is unmapped, read next on its own.
bool IsCp932LeadByte(unsigned char byte);

/// Encodes UTF-8 text as code page 932. Characters the code page lacks (and invalid UTF-8) become "?".
std::string Utf8ToCp932(std::string_view utf8);

/// The single-byte code page 932 character of `byte` as UTF-8: ASCII below 0x80, half-width
/// katakana for 0xA1-0xDF, U+FFFD for bytes that do not stand alone.
std::string Cp932SingleByteToUtf8(unsigned char byte);

/// The full-width form of half-width katakana / punctuation 0xA1-0xDF as UTF-8 (ﾞ -> ゛, ﾟ -> ゜).
/// Other bytes give the same as Cp932SingleByteToUtf8.
std::string WidenHalfwidthKatakana(unsigned char byte);

/// A file or folder name's bytes as UTF-8 to show: valid UTF-8 as it is, anything else read as
/// code page 932, with U+FFFD for what is still no character.
std::string DisplayName(std::string_view bytes);

}  // namespace voxtrel
