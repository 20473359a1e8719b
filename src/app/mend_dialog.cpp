#include "app/mend_dialog.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

#include "app/captions.h"

namespace voxtrel {

MendDialog::MendDialog(const MendPreview& preview, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("MendDialog"));
  setWindowTitle(QString::fromUtf8(kMendTitle));
  auto* layout = new QVBoxLayout(this);
  auto* heading =
      new QLabel(QString::fromUtf8(kMendHeading).arg(preview.pages).arg(preview.links), this);
  heading->setObjectName(QStringLiteral("MendHeading"));
  layout->addWidget(heading);

  auto* diff = new QPlainTextEdit(QString::fromStdString(preview.diff), this);
  diff->setObjectName(QStringLiteral("MendDiff"));
  diff->setReadOnly(true);
  diff->setLineWrapMode(QPlainTextEdit::NoWrap);
  diff->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  layout->addWidget(diff, 1);

  if (!preview.left_alone.empty()) {
    auto* left = new QLabel(QString::fromUtf8(kMendLeftAloneHeading) + QLatin1Char('\n') +
                                QString::fromStdString(preview.left_alone),
                            this);
    left->setObjectName(QStringLiteral("MendLeftAlone"));
    left->setTextInteractionFlags(Qt::TextSelectableByMouse);
    left->setWordWrap(true);
    layout->addWidget(left);
  }

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* apply =
      buttons->addButton(QString::fromUtf8(kMendApplyCaption), QDialogButtonBox::AcceptRole);
  apply->setObjectName(QStringLiteral("MendApply"));
  QPushButton* cancel =
      buttons->addButton(QString::fromUtf8(kMendCancelCaption), QDialogButtonBox::RejectRole);
  cancel->setObjectName(QStringLiteral("MendCancel"));
  // Writing is the step that cannot be taken back by a slip of the Enter key.
  cancel->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  // Wide enough for a line of a page, yet never past the screen the window stands on.
  const QRect area = screen()->availableGeometry();
  resize(std::min(800, area.width() * 9 / 10), std::min(520, area.height() * 9 / 10));
}

}  // namespace voxtrel
