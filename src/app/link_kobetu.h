#pragma once

#include <QDialog>

#include "run/single_page.h"

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace voxtrel {

class Link_Main;

/// The single page dialog: widgets only; KobetuLogic decides.
class Link_Kobetu : public QDialog, public KobetuView {
  Q_OBJECT

 public:
  Link_Kobetu(KobetuLogic& logic, Link_Main& owner);

  std::string Text1() override;
  void SetText1(const std::string& text) override;
  void SelectAllText1() override;
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
  Link_Main& owner_;
  QLineEdit* text1_ = nullptr;
};

}  // namespace voxtrel
