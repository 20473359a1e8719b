#pragma once

#include <QDialog>

#include <optional>
#include <string>

#include "app/notice_text.h"
#include "run/run.h"

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace voxtrel {

/// What the dialog needs of the window that opens it: its message boxes and its open dialog.
class KobetuOwner {
 public:
  virtual ~KobetuOwner() = default;
  virtual MessageAnswer ShowMessage(const std::string& title, const std::string& text,
                                    MessageIcon icon, MessageButtons buttons) = 0;
  /// The file open dialog with `filter`; the chosen full path, nothing when cancelled.
  virtual std::optional<std::string> ShowOpenDialog(const std::string& filter) = 0;
};

inline constexpr const char* kKobetuTitle = " Voxtrel (個別ﾌｧｲﾙ)";
inline constexpr const char* kKobetuLabel1Caption = "HTMLﾌｧｲﾙ名";
inline constexpr const char* kKobetuLabel3Caption =
    "WEBｻｰﾊﾞまたはﾊﾟｿｺﾝのHTMLﾌｧｲﾙ名を入力してください";
inline constexpr const char* kKobetuBrowseCaption = "参照";
inline constexpr const char* kKobetuCrawlCaption = "ｻｲﾄ内のﾍﾟｰｼﾞもたどる";
inline constexpr const char* kKobetuOkCaption = "OK";
inline constexpr const char* kKobetuCancelCaption = "ｷｬﾝｾﾙ";
inline constexpr const char* kSpecifyHtmlMessage = "HTMLを指定してください。     ";
inline constexpr const char* kKobetuOpenFilter = "HTMLﾌｧｲﾙ|*.htm;*.html;*.shtm;*.shtml";
inline constexpr int kKeyEnter = 13;

/// Link_Kobetu's controls as its logic needs them; the window or a test implements it.
class KobetuView {
 public:
  virtual ~KobetuView() = default;
  virtual std::string Text1() = 0;
  virtual void SetText1(const std::string& text) = 0;
  /// Selects the whole text of Text1.
  virtual void SelectAllText1() = 0;
  /// The check box that asks for the pages of a web page's site too.
  virtual bool CrawlChecked() { return false; }
  virtual void SetCrawlChecked(bool /*on*/) {}
  /// Moves the focus into Text1; the window then runs Text1_GotFocus.
  virtual void FocusText1() = 0;
  /// Closes (unloads) the dialog; the window must not report this as a close-box close.
  virtual void CloseDialog() = 0;
  virtual MessageAnswer ShowMessage(const std::string& title, const std::string& text,
                                    MessageIcon icon, MessageButtons buttons) = 0;
  /// The file open dialog with `filter`; the chosen full path, nothing when cancelled.
  virtual std::optional<std::string> ShowOpenDialog(const std::string& filter) = 0;
};

/// The handlers of Link_Kobetu. They read and set the window's single page choice.
class KobetuLogic {
 public:
  explicit KobetuLogic(SinglePageChoice& choice) : choice_(choice) {}

  void Form_Load(KobetuView& view);
  void Text1_GotFocus(KobetuView& view);
  /// Enter (13) acts as OK; the shift state is not looked at.
  void Text1_KeyDown(KobetuView& view, int key_code, int shift);
  /// Browse: puts the chosen file into Text1; a cancelled dialog leaves Text1 as it was.
  void Command2_Click(KobetuView& view);
  /// 0 OK (validate and accept), 1 cancel.
  void Command1_Click(KobetuView& view, int index);
  /// The window's close box: counts as cancel (SinglePageMode::kNone) unless a button closed it.
  void Form_CloseBox();

  /// Whether a button has closed the dialog.
  bool closed() const { return closed_; }

 private:
  void Close(KobetuView& view);
  void RejectInput(KobetuView& view);

  SinglePageChoice& choice_;
  bool closed_ = false;
};

/// The single page dialog: widgets only; KobetuLogic decides.
class Link_Kobetu : public QDialog, public KobetuView {
  Q_OBJECT

 public:
  Link_Kobetu(KobetuLogic& logic, KobetuOwner& owner, QWidget* parent);

  std::string Text1() override;
  void SetText1(const std::string& text) override;
  void SelectAllText1() override;
  bool CrawlChecked() override;
  void SetCrawlChecked(bool on) override;
  void FocusText1() override;
  void CloseDialog() override;
  MessageAnswer ShowMessage(const std::string& title, const std::string& text, MessageIcon icon,
                            MessageButtons buttons) override;
  std::optional<std::string> ShowOpenDialog(const std::string& filter) override;
  /// The close box and Escape: cancel.
  void reject() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  KobetuLogic& logic_;
  KobetuOwner& owner_;
  QLineEdit* text1_ = nullptr;
  QCheckBox* crawl_ = nullptr;
};

}  // namespace voxtrel
