#include "app/link_kobetu.h"

#include <QCheckBox>
#include <QEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/layout.h"
#include "platform/text.h"
#include "run/find_html_files.h"
#include "run/run.h"

namespace voxtrel {

Link_Kobetu::Link_Kobetu(KobetuLogic& logic, KobetuOwner& owner, QWidget* parent)
    : QDialog(parent), logic_(logic), owner_(owner) {
  setObjectName(QStringLiteral("Link_Kobetu"));
  setWindowTitle(QString::fromUtf8(kKobetuTitle));
  setModal(true);
  setFixedSize(Twips(6945), Twips(2445));

  auto* label1 = new QLabel(QString::fromUtf8(kKobetuLabel1Caption), this);
  label1->setObjectName(QStringLiteral("Label1"));
  PlaceFitted(label1, 360, 240, 1050, 180);

  text1_ = new QLineEdit(this);
  text1_->setObjectName(QStringLiteral("Text1"));
  PlaceFitted(text1_, 240, 480, 6495, 270);
  text1_->installEventFilter(this);

  auto* command2 = new QPushButton(QString::fromUtf8(kKobetuBrowseCaption), this);
  command2->setObjectName(QStringLiteral("Command2"));
  PlaceButton(command2, 5640, 240, 855, 255);

  auto* frame1 = new QGroupBox(this);
  frame1->setObjectName(QStringLiteral("Frame1"));
  Place(frame1, 240, 840, 6495, 600);
  auto* label3 = new QLabel(QString::fromUtf8(kKobetuLabel3Caption), frame1);
  label3->setObjectName(QStringLiteral("Label3"));
  PlaceFitted(label3, 240, 240, 4350, 180);
  crawl_ = new QCheckBox(QString::fromUtf8(kKobetuCrawlCaption), this);
  crawl_->setObjectName(QStringLiteral("Check1"));
  PlaceFitted(crawl_, 240, 1440, 4350, 210);

  auto* ok = new QPushButton(QString::fromUtf8(kKobetuOkCaption), this);
  ok->setObjectName(QStringLiteral("Command1_0"));
  PlaceButton(ok, 1680, 1680, 1215, 495);
  auto* cancel = new QPushButton(QString::fromUtf8(kKobetuCancelCaption), this);
  cancel->setObjectName(QStringLiteral("Command1_1"));
  PlaceButton(cancel, 3960, 1680, 1215, 495);

  // Enter belongs to Text1_KeyDown alone; a default button would take it as a second OK.
  for (QPushButton* button : {command2, ok, cancel}) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }
  connect(ok, &QPushButton::clicked, this, [this] { logic_.Command1_Click(*this, 0); });
  connect(cancel, &QPushButton::clicked, this, [this] { logic_.Command1_Click(*this, 1); });
  connect(command2, &QPushButton::clicked, this, [this] { logic_.Command2_Click(*this); });

  logic_.Form_Load(*this);
}

std::string Link_Kobetu::Text1() { return text1_->text().toStdString(); }

void Link_Kobetu::SetText1(const std::string& text) {
  text1_->setText(QString::fromStdString(text));
}

void Link_Kobetu::SelectAllText1() { text1_->selectAll(); }

bool Link_Kobetu::CrawlChecked() { return crawl_->isChecked(); }

void Link_Kobetu::SetCrawlChecked(bool on) { crawl_->setChecked(on); }

void Link_Kobetu::FocusText1() {
  const bool had_focus = text1_->hasFocus();
  text1_->setFocus(Qt::OtherFocusReason);
  // No focus-in event arrives when Text1 has the focus already or the dialog is not active,
  // yet the text must be selected for the next typing all the same.
  if (had_focus || !text1_->hasFocus()) logic_.Text1_GotFocus(*this);
}

void Link_Kobetu::CloseDialog() { accept(); }

MessageAnswer Link_Kobetu::ShowMessage(const std::string& title, const std::string& text,
                                       MessageIcon icon, MessageButtons buttons) {
  return owner_.ShowMessage(title, text, icon, buttons);
}

std::optional<std::string> Link_Kobetu::ShowOpenDialog(const std::string& filter) {
  return owner_.ShowOpenDialog(filter);
}

bool Link_Kobetu::eventFilter(QObject* watched, QEvent* event) {
  if (watched == text1_) {
    if (event->type() == QEvent::FocusIn) {
      logic_.Text1_GotFocus(*this);
    } else if (event->type() == QEvent::KeyPress) {
      auto* key = static_cast<QKeyEvent*>(event);
      if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        logic_.Text1_KeyDown(*this, kKeyEnter, 0);
        return true;
      }
    }
  }
  return QDialog::eventFilter(watched, event);
}

void Link_Kobetu::reject() {
  // The close box and Escape: no button ran, which the caller takes as cancel.
  if (!logic_.closed()) logic_.Form_CloseBox();
  QDialog::reject();
}

void KobetuLogic::Form_Load(KobetuView& view) {
  closed_ = false;
  view.SetText1(kNoTarget);
  if (choice_.target.empty()) choice_.target = kNoTarget;
  view.SetText1(choice_.target);
  view.SetCrawlChecked(choice_.crawl);
}

void KobetuLogic::Text1_GotFocus(KobetuView& view) { view.SelectAllText1(); }

void KobetuLogic::Text1_KeyDown(KobetuView& view, int key_code, int /*shift*/) {
  if (key_code == kKeyEnter) Command1_Click(view, 0);
}

void KobetuLogic::Command2_Click(KobetuView& view) {
  std::optional<std::string> chosen = view.ShowOpenDialog(kKobetuOpenFilter);
  if (chosen) view.SetText1(*chosen);
}

void KobetuLogic::Command1_Click(KobetuView& view, int index) {
  if (choice_.target.empty()) choice_.target = kNoTarget;
  if (index == 1) {
    choice_.mode = SinglePageMode::kNone;
    Close(view);
    return;
  }
  if (index != 0) return;

  const std::string text(TrimBlanks(view.Text1()));
  view.SetText1(text);
  const std::optional<SinglePageMode> mode = SinglePageModeFor(text);
  // A text that names an HTML file but is neither an address nor an absolute path stays the
  // target, so the dialog offers it again next time.
  if (!text.empty() && text != kNoTarget && IsHtmlFileName(text)) choice_.target = text;
  if (!mode) {
    RejectInput(view);
    if (!text.empty() && text != kNoTarget && IsHtmlFileName(text))
      choice_.mode = SinglePageMode::kNone;
    return;
  }
  choice_.mode = *mode;
  choice_.crawl = view.CrawlChecked();
  Close(view);
}

void KobetuLogic::Form_CloseBox() {
  // Leaving by the close box is a cancel; otherwise an earlier target would be checked again.
  if (!closed_) choice_.mode = SinglePageMode::kNone;
  closed_ = true;
}

void KobetuLogic::Close(KobetuView& view) {
  closed_ = true;
  view.CloseDialog();
}

void KobetuLogic::RejectInput(KobetuView& view) {
  view.ShowMessage(kMessageTitle, kSpecifyHtmlMessage, MessageIcon::kWarning, MessageButtons::kOk);
  view.FocusText1();
}

}  // namespace voxtrel
