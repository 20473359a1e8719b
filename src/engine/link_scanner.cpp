#include "engine/link_scanner.h"

#include <utility>

namespace voxtrel {

LinkScanner::LinkScanner(std::vector<PageToCheck> pages, DiskInterface& disk,
                         const ClassicRule& rule)
    : pages_(std::move(pages)), disk_(disk), rule_(rule) {}

void LinkScanner::StartPage() {
  PageToCheck& page = pages_[next_page_++];
  page_ = page.source;
  line_links_.clear();
  line_pos_ = 0;
  PageSource source;
  if (page.fetched) {
    source = std::move(*page.fetched);
    page.fetched.reset();
  } else {
    source.source = page.source;
    std::string err;
    // A page that cannot be read has no links to scan; its page end still comes.
    if (!disk_.ReadWholeFile(page.source, &source.bytes, &err)) return;
  }
  text_ = DecodePage(std::move(source));
  lines_.emplace(text_->text);
}

bool LinkScanner::Next(ScanItem* item) {
  for (;;) {
    if (line_pos_ < line_links_.size()) {
      ClassicLink& found = line_links_[line_pos_++];
      item->kind = found.passed_over ? ScanItem::Kind::kHttpsSkipped : ScanItem::Kind::kLink;
      item->link = std::move(found.link);
      return true;
    }
    if (lines_) {
      std::string_view raw;
      if (lines_->Next(&raw)) {
        ScanClassicLine(raw, text_->form, rule_, page_, &line_links_);
        line_pos_ = 0;
        continue;
      }
      SkipRestOfPage();
    }
    if (pending_page_end_) {
      pending_page_end_ = false;
      item->kind = ScanItem::Kind::kPageEnd;
      item->link = FoundLink{"", "", page_};
      return true;
    }
    if (next_page_ >= pages_.size()) return false;
    StartPage();
    if (!lines_) pending_page_end_ = true;
  }
}

void LinkScanner::SkipRestOfPage() {
  line_links_.clear();
  line_pos_ = 0;
  lines_.reset();
  // The text goes as soon as its page is done: only one page is ever held.
  text_.reset();
  // The page end is still to come, so the caller yields after this page as after any other.
  pending_page_end_ = true;
}

}  // namespace voxtrel
