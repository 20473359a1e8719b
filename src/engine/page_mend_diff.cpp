#include <algorithm>

#include "engine/page_mend.h"
#include "platform/cp932.h"

namespace voxtrel {
namespace {

// Lines as diff and patch count them: each ends after a line feed, so a CR LF page keeps its
// CR inside the line and a page of bare CRs is one line; either way patch gives back the bytes.
constexpr size_t kContext = 3;

struct Block {
  size_t first = 0;  // lines, both ends included
  size_t last = 0;
  std::vector<const ByteEdit*> edits;
};

class PageDiff {
 public:
  PageDiff(const PagePlan& page, DiffForm form) : page_(page), form_(form) {
    const std::string& old = page.old_bytes;
    starts_.push_back(0);
    for (size_t at = old.find('\n'); at != std::string::npos && at + 1 < old.size();
         at = old.find('\n', at + 1)) {
      starts_.push_back(at + 1);
    }
  }

  std::string Text() {
    const std::string name =
        form_ == DiffForm::kUtf8 ? DisplayName(page_.relative) : page_.relative;
    std::string out = "--- a/" + name + "\n+++ b/" + name + "\n";
    std::vector<Block> blocks = Blocks();
    for (size_t i = 0; i < blocks.size();) {
      size_t j = i + 1;
      while (j < blocks.size() && blocks[j].first - blocks[j - 1].last <= 2 * kContext + 1) ++j;
      out += Hunk(blocks, i, j);
      i = j;
    }
    return out;
  }

 private:
  size_t LineOf(uint64_t offset) const {
    return static_cast<size_t>(std::upper_bound(starts_.begin(), starts_.end(), offset) -
                               starts_.begin()) -
           1;
  }
  size_t EndOf(size_t line) const {
    return line + 1 < starts_.size() ? starts_[line + 1] : page_.old_bytes.size();
  }

  std::vector<Block> Blocks() const {
    std::vector<Block> blocks;
    for (const ByteEdit& edit : page_.edits) {
      const size_t first = LineOf(edit.offset);
      const size_t last = LineOf(edit.offset + std::max<uint64_t>(edit.length, 1) - 1);
      if (!blocks.empty() && first <= blocks.back().last) {
        blocks.back().last = std::max(blocks.back().last, last);
      } else {
        blocks.push_back({first, last, {}});
      }
      blocks.back().edits.push_back(&edit);
    }
    return blocks;
  }

  std::string NewText(const Block& block) const {
    const std::string& old = page_.old_bytes;
    uint64_t at = starts_[block.first];
    std::string text;
    for (const ByteEdit* edit : block.edits) {
      text.append(old, at, edit->offset - at);
      text += edit->bytes;
      at = edit->offset + edit->length;
    }
    text.append(old, at, EndOf(block.last) - at);
    return text;
  }

  // Adds each line of `text` after `mark`; returns how many.
  size_t AddLines(char mark, std::string_view text, std::string* out) const {
    size_t count = 0;
    while (!text.empty()) {
      const size_t feed = text.find('\n');
      const size_t end = feed == std::string_view::npos ? text.size() : feed + 1;
      std::string_view line = text.substr(0, end);
      text.remove_prefix(end);
      *out += mark;
      *out += form_ == DiffForm::kUtf8 ? PageBytesAsUtf8(line, page_.encoding, false)
                                       : std::string(line);
      if (line.back() != '\n') *out += "\n\\ No newline at end of file\n";
      ++count;
    }
    return count;
  }

  std::string_view OldLines(size_t first, size_t end) const {
    if (first >= end) return {};
    return std::string_view(page_.old_bytes)
        .substr(starts_[first], EndOf(end - 1) - starts_[first]);
  }

  std::string Hunk(const std::vector<Block>& blocks, size_t i, size_t j) {
    const size_t start = blocks[i].first >= kContext ? blocks[i].first - kContext : 0;
    const size_t end = std::min(starts_.size(), blocks[j - 1].last + 1 + kContext);
    std::string body;
    size_t added = 0;
    size_t at = start;
    for (size_t k = i; k < j; ++k) {
      added += AddLines(' ', OldLines(at, blocks[k].first), &body);
      AddLines('-', OldLines(blocks[k].first, blocks[k].last + 1), &body);
      added += AddLines('+', NewText(blocks[k]), &body);
      at = blocks[k].last + 1;
    }
    added += AddLines(' ', OldLines(at, end), &body);
    const size_t new_start = start + 1 + shift_;
    shift_ += added - (end - start);
    return "@@ -" + std::to_string(start + 1) + "," + std::to_string(end - start) + " +" +
           std::to_string(new_start) + "," + std::to_string(added) + " @@\n" + body;
  }

  const PagePlan& page_;
  DiffForm form_;
  std::vector<size_t> starts_;
  size_t shift_ = 0;  // new lines less old ones in the hunks so far (wraps as it must)
};

}  // namespace

std::string MendDiff(const MendPlan& plan, DiffForm form) {
  std::string out;
  for (const PagePlan& page : plan.pages) {
    if (page.refused.empty() && page.new_bytes != page.old_bytes) {
      out += PageDiff(page, form).Text();
    }
  }
  return out;
}

}  // namespace voxtrel
