#pragma once

#include <string>
#include <string_view>

namespace voxtrel {

/// Converts EUC-JP bytes to Shift_JIS bytes by the JIS arithmetic, widening half-width katakana;
/// a character code page 932 lacks becomes "?".
std::string EucToSjis(std::string_view bytes);

}  // namespace voxtrel
