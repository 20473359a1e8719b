#pragma once

#include <QDialog>
#include <string>

namespace voxtrel {

/// What a change set is about to do, shown before anything is written.
struct MendPreview {
  size_t pages = 0;
  size_t links = 0;
  /// The changes as a unified diff, in UTF-8.
  std::string diff;
  /// One "page: why" line for each page left alone; empty when none is.
  std::string left_alone;
};

/// The changes of a rewrite in a read-only monospace view, the pages left alone under them, and
/// 書き換える (accept) or ｷｬﾝｾﾙ (reject).
class MendDialog : public QDialog {
 public:
  MendDialog(const MendPreview& preview, QWidget* parent);
};

}  // namespace voxtrel
