#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/link.h"
#include "engine/run_context.h"
#include "engine/text_utils.h"

namespace voxtrel {

/// Cuts the target and link text of the link whose "HREF=" starts at 1-based character position
/// `hit` of `line` (the line already trimmed with two blanks appended).
FoundLink CutLink(const std::string& line, int32_t hit);

/// One step of the scan: a link, an https:// link passed over (https links not asked for), or
/// the end of a page.
struct ScanItem {
  enum class Kind { kLink, kHttpsSkipped, kPageEnd };
  Kind kind = Kind::kLink;
  FoundLink link;
};

/// Walks ctx.pages in order, preparing each page and cutting out its links line by line.
class LinkScanner {
 public:
  LinkScanner(RunContext& ctx, bool https);
  ~LinkScanner();
  /// The next link or page end in page and line order; false once every page is done.
  bool Next(ScanItem* item);
  /// Drops the rest of the current page's links (its page end still comes).
  void SkipRestOfPage();

 private:
  bool StartPage();
  void ScanLine(std::string_view raw);

  RunContext& ctx_;
  bool https_;
  size_t next_page_ = 0;
  std::string page_;
  std::unique_ptr<InputFile> file_;
  std::unique_ptr<LineReader> reader_;
  std::vector<ScanItem> line_links_;
  size_t line_pos_ = 0;
  std::string upper_;
  bool pending_page_end_ = false;
};

}  // namespace voxtrel
