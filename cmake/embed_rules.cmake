# Writes OUTPUT, a source file whose SuspectRules::ShippedText() returns the bytes of INPUT.
# Run at build time (cmake -DINPUT=... -DOUTPUT=... -P embed_rules.cmake), so editing the rules
# file rebuilds the program. Every byte is written as a \x escape: no text in the file can end
# the literal early, and each escape is followed by a backslash or a quote, never by a hex digit.
file(READ "${INPUT}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" escaped "${hex}")
# One literal per line of the rules file keeps the generated file readable in a diff tool.
string(REPLACE "\\x0a" "\\x0a\"\n    \"" escaped "${escaped}")
file(WRITE "${OUTPUT}.new" "// Made from data/suspect-rules.txt at build time: edit that file instead.
#include \"web/suspect_rules.h\"

namespace voxtrel {

std::string_view SuspectRules::ShippedText() {
  static constexpr char kText[] =
    \"${escaped}\";
  return {kText, sizeof kText - 1};
}

}  // namespace voxtrel
")
# Unchanged output keeps its time stamp, so nothing that depends on it is built again.
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
