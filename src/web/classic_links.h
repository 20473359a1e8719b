#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "web/link.h"
#include "web/page.h"

namespace voxtrel {

/// Which links of the old rule a scan cuts out.
struct ClassicRule {
  /// Cut https:// links out too; otherwise each is only passed over.
  bool https = false;
  /// Keep what follows "?" in a target; "#" and what follows it are always cut.
  bool keep_query = false;
};

/// One link of a line: cut out, or an https:// link passed over. Its page is the scanner's to
/// add: a line of a long page can hold millions of links.
struct ClassicLink {
  bool passed_over = false;
  std::string target;
  std::string name;
};

/// Cuts the target and link text of the link whose "HREF=" starts at 1-based character position
/// `hit` of `line` (the line already trimmed with two blanks appended).
FoundLink CutLink(const std::string& line, int32_t hit);

/// The links written as HREF="http://..." (or https) on one raw line of a page's text held in
/// `form`, in line order. Replaces the contents of *links.
void ScanClassicLine(std::string_view raw, TextForm form, const ClassicRule& rule,
                     std::vector<ClassicLink>* links);

}  // namespace voxtrel
