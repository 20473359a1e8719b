#include "run/single_page.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/run_context.h"
#include "platform/cp932.h"
#include "run/run_control.h"
#include "support/fake_disk.h"
#include "support/recording_view.h"
#include "support/scripted_http.h"

namespace voxtrel {
namespace {

using test::FakeDisk;
using test::RecordingView;
using test::ScriptedHttpFactory;

/// Link_Kobetu as a script of its controls. Focusing Text1 runs the logic's GotFocus handler,
/// as the window does.
class FakeKobetuView : public KobetuView {
 public:
  std::string Text1() override { return text; }
  void SetText1(const std::string& t) override {
    text = t;
    selected = 0;
    log.push_back("text " + t);
  }
  void SelectAllText1() override {
    selected = text.size();
    log.push_back("select all");
  }
  void FocusText1() override {
    log.push_back("focus Text1");
    if (logic) logic->Text1_GotFocus(*this);
  }
  void CloseDialog() override {
    closed = true;
    log.push_back("close");
  }
  MessageAnswer ShowMessage(const std::string& title, const std::string& message, MessageIcon icon,
                            MessageButtons buttons) override {
    messages.push_back({title, message, icon, buttons});
    log.push_back("message " + title + ": " + message);
    return MessageAnswer::kOk;
  }
  std::optional<std::string> ShowOpenDialog(const std::string& filter) override {
    filters.push_back(filter);
    log.push_back("open dialog");
    return open_answer;
  }

  KobetuLogic* logic = nullptr;
  std::string text;
  size_t selected = 0;
  bool closed = false;
  std::optional<std::string> open_answer;
  std::vector<std::string> filters;
  std::vector<test::ShownMessage> messages;
  std::vector<std::string> log;
};

class FakeMainView : public MainView {
 public:
  explicit FakeMainView(RecordingView& rec) : rec_(rec) {}
  void SetCaption(Control c, const std::string& t) override { rec_.SetCaption(c, t); }
  void SetVisible(Control c, bool v) override { rec_.SetVisible(c, v); }
  void Repaint(Control c) override { rec_.Repaint(c); }
  void SetTextColor(Control c, LabelColor color) override { rec_.SetTextColor(c, color); }
  void SetMenuEnabled(bool e) override { rec_.SetMenuEnabled(e); }
  void SetBusyCursor(bool b) override { rec_.SetBusyCursor(b); }
  void SetFocus(Control c) override { rec_.SetFocus(c); }
  void RefreshResults() override { rec_.RefreshResults(); }
  void Yield() override { rec_.Yield(); }
  bool KeepAlive() override { return rec_.KeepAlive(); }
  MessageAnswer ShowMessage(const std::string& title, const std::string& text, MessageIcon icon,
                            MessageButtons buttons) override {
    return rec_.ShowMessage(title, text, icon, buttons);
  }
  std::string Dir1Path() override { return ""; }
  int16_t Check1Value() override { return 0; }
  void ShowSinglePageDialog(KobetuLogic& dialog) override {
    rec_.log.push_back("dialog");
    dialog_view = FakeKobetuView();
    dialog_view.logic = &dialog;
    dialog.Form_Load(dialog_view);
    if (user) user(dialog, dialog_view);
  }

  /// What the user does in the dialog.
  std::function<void(KobetuLogic&, FakeKobetuView&)> user;
  FakeKobetuView dialog_view;

 private:
  RecordingView& rec_;
};

class SinglePageTest : public ::testing::Test {
 protected:
  SinglePageTest() : main(view), ctx(view, disk, http, "/prog") { disk.AddFolder("/prog"); }

  /// The user types `text` and presses OK.
  void TypeAndOk(const std::string& text) {
    main.user = [text](KobetuLogic& dialog, FakeKobetuView& v) {
      v.SetText1(text);
      dialog.Command1_Click(v, 0);
    };
  }

  void LeavePreviousRun() {
    ctx.results.AddRow("000001", kMarkFailed, "http://old/", "old", "/old.htm");
    view.SetVisible(Control::kCommand3, true);
    view.log.clear();
  }

  RecordingView view;
  FakeMainView main;
  FakeDisk disk;
  ScriptedHttpFactory http;
  RunContext ctx;
};

TEST_F(SinglePageTest, FormLoadOffersTheRememberedTarget) {
  const struct {
    const char* target;
    const char* shown;
  } cases[] = {{"http://", "http://"}, {"", "http://"}, {"/site/a.htm", "/site/a.htm"}};
  for (const auto& c : cases) {
    ctx.SinglePageTarget = c.target;
    KobetuLogic logic(ctx);
    FakeKobetuView v;
    logic.Form_Load(v);
    EXPECT_EQ(v.log, (std::vector<std::string>{"text http://", std::string("text ") + c.shown}));
    EXPECT_EQ(ctx.SinglePageTarget, c.shown);
  }
}

TEST_F(SinglePageTest, OkAcceptsOrRejectsTheTypedText) {
  constexpr int16_t kEarlier = 999;  // as an earlier local check leaves it
  const std::string kBefore = "/before.htm";
  const struct {
    const char* typed;
    bool accepted;
    int16_t mode;        // after the click
    const char* target;  // after the click; nullptr: unchanged
  } cases[] = {
      {"", false, kEarlier, nullptr},
      {"http://", false, kEarlier, nullptr},
      {"   http://   ", false, kEarlier, nullptr},
      {"  http://host/Index.HTML  ", true, kModeWebPage, "http://host/Index.HTML"},
      {"http://host/a.htm", true, kModeWebPage, "http://host/a.htm"},
      {"http://host/", false, kEarlier, nullptr},
      {"http://host/page.php", false, kEarlier, nullptr},
      {"http://host/a.htmx", false, kEarlier, nullptr},
      {"HTTP://HOST/A.HTM", false, kModeNone, "HTTP://HOST/A.HTM"},
      {"Http://host/a.htm", false, kModeNone, "Http://host/a.htm"},
      {"https://host/a.htm", false, kModeNone, "https://host/a.htm"},
      {"/site/index.htm", true, kModeLocalFile, "/site/index.htm"},
      {" /site/index.htm ", true, kModeLocalFile, "/site/index.htm"},
      {"/x/a.SHTML", true, kModeLocalFile, "/x/a.SHTML"},
      {"/x/a.shtm", true, kModeLocalFile, "/x/a.shtm"},
      {"/x/a.Htm", true, kModeLocalFile, "/x/a.Htm"},
      {"index.htm", false, kModeNone, "index.htm"},
      {"../index.htm", false, kModeNone, "../index.htm"},
      {"\\\\server\\share\\a.htm", false, kModeNone, "\\\\server\\share\\a.htm"},
      {"C:\\site\\index.htm", false, kModeNone, "C:\\site\\index.htm"},
      {"\t/x/a.htm", false, kModeNone, "\t/x/a.htm"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    ctx.SinglePageMode = kEarlier;
    ctx.SinglePageTarget = kBefore;
    KobetuLogic logic(ctx);
    FakeKobetuView v;
    v.logic = &logic;
    logic.Form_Load(v);
    v.SetText1(c.typed);
    v.log.clear();
    logic.Command1_Click(v, 0);

    const std::string trimmed = TrimBlanks(c.typed);
    EXPECT_EQ(v.text, trimmed);
    EXPECT_EQ(ctx.SinglePageMode, c.mode);
    EXPECT_EQ(ctx.SinglePageTarget, c.target ? std::string(c.target) : kBefore);
    EXPECT_EQ(v.closed, c.accepted);
    EXPECT_EQ(logic.closed(), c.accepted);
    if (c.accepted) {
      EXPECT_EQ(v.log, (std::vector<std::string>{"text " + trimmed, "close"}));
    } else {
      // The message, then the focus back in Text1 with the whole text selected.
      EXPECT_EQ(v.log, (std::vector<std::string>{"text " + trimmed,
                                                 "message Voxtrel: HTMLを指定してください。     ",
                                                 "focus Text1", "select all"}));
      ASSERT_EQ(v.messages.size(), 1u);
      EXPECT_EQ(v.messages[0].icon, MessageIcon::kWarning);
      EXPECT_EQ(v.messages[0].buttons, MessageButtons::kOk);
      EXPECT_EQ(v.selected, trimmed.size());
    }
  }
}

TEST_F(SinglePageTest, CancelClearsTheModeAndKeepsTheTarget) {
  for (const char* target : {"/kept.htm", ""}) {
    ctx.SinglePageMode = kModeWebPage;
    ctx.SinglePageTarget = target;
    KobetuLogic logic(ctx);
    FakeKobetuView v;
    v.SetText1("http://typed/but/cancelled.htm");
    logic.Command1_Click(v, 1);
    EXPECT_EQ(ctx.SinglePageMode, kModeNone);
    EXPECT_EQ(ctx.SinglePageTarget, *target ? target : "http://");
    EXPECT_TRUE(v.closed);
    EXPECT_TRUE(v.messages.empty());
  }
}

TEST_F(SinglePageTest, EnterActsAsOkAndOtherKeysDoNothing) {
  ctx.SinglePageMode = kModeNone;
  KobetuLogic logic(ctx);
  FakeKobetuView v;
  v.SetText1("http://host/a.html");
  for (int key : {10, 32, 65, 27}) logic.Text1_KeyDown(v, key, 0);
  EXPECT_FALSE(v.closed);
  EXPECT_EQ(ctx.SinglePageMode, kModeNone);
  logic.Text1_KeyDown(v, 13, 1);  // with Shift held: still OK
  EXPECT_TRUE(v.closed);
  EXPECT_EQ(ctx.SinglePageMode, kModeWebPage);
}

TEST_F(SinglePageTest, GotFocusSelectsTheWholeText) {
  KobetuLogic logic(ctx);
  FakeKobetuView v;
  v.SetText1("http://host/a.htm");
  logic.Text1_GotFocus(v);
  EXPECT_EQ(v.selected, v.text.size());
}

TEST_F(SinglePageTest, BrowsePutsTheChosenFileIntoText1) {
  KobetuLogic logic(ctx);
  FakeKobetuView v;
  v.SetText1("http://");
  v.open_answer = std::nullopt;
  logic.Command2_Click(v);
  EXPECT_EQ(v.text, "http://");
  v.open_answer = "/home/me/site/page.shtml";
  logic.Command2_Click(v);
  EXPECT_EQ(v.text, "/home/me/site/page.shtml");
  EXPECT_EQ(v.filters, (std::vector<std::string>{"HTMLﾌｧｲﾙ|*.htm;*.html;*.shtm;*.shtml",
                                                 "HTMLﾌｧｲﾙ|*.htm;*.html;*.shtm;*.shtml"}));
  EXPECT_FALSE(v.closed);
}

TEST_F(SinglePageTest, TheCloseBoxCountsAsCancel) {
  ctx.SinglePageMode = kModeWebPage;
  ctx.SinglePageTarget = "http://earlier/page.htm";
  main.user = [](KobetuLogic& dialog, FakeKobetuView&) { dialog.Form_CloseBox(); };
  KKK_Search_Click(ctx, main);
  EXPECT_EQ(ctx.SinglePageMode, kModeNone);
  EXPECT_TRUE(view.messages.empty());
  EXPECT_TRUE(http.requested.empty());

  // A dialog that went away without any handler running is a cancel too.
  ctx.SinglePageMode = kModeLocalFile;
  main.user = nullptr;
  KKK_Search_Click(ctx, main);
  EXPECT_EQ(ctx.SinglePageMode, kModeNone);
  EXPECT_TRUE(view.messages.empty());

  // After OK has closed the dialog, the window's close notice changes nothing.
  main.user = [](KobetuLogic& dialog, FakeKobetuView& v) {
    v.SetText1("/site/a.htm");
    dialog.Command1_Click(v, 0);
    dialog.Form_CloseBox();
  };
  view.answers = {MessageAnswer::kCancel};
  KKK_Search_Click(ctx, main);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, "HTMLﾌｧｲﾙ数： 1     \r\rVoxtrelを開始しますか？   ");
}

TEST_F(SinglePageTest, CancelInTheDialogChangesNothingElse) {
  LeavePreviousRun();
  ctx.SinglePageMode = kModeLocalFile;
  ctx.List1 = {"/earlier.htm"};
  main.user = [](KobetuLogic& dialog, FakeKobetuView& v) { dialog.Command1_Click(v, 1); };
  KKK_Search_Click(ctx, main);
  EXPECT_EQ(view.log, (std::vector<std::string>{"dialog"}));
  EXPECT_EQ(ctx.List1, (std::vector<std::string>{"/earlier.htm"}));
  EXPECT_EQ(ctx.results.Count(), 1u);
}

TEST_F(SinglePageTest, CancellingTheConfirmationLeavesTheResults) {
  LeavePreviousRun();
  TypeAndOk("/site/a.htm");
  view.answers = {MessageAnswer::kCancel};
  ctx.AbortFlag = 999;
  KKK_Search_Click(ctx, main);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].title, "Voxtrel");
  EXPECT_EQ(view.messages[0].text, "HTMLﾌｧｲﾙ数： 1     \r\rVoxtrelを開始しますか？   ");
  EXPECT_EQ(view.messages[0].icon, MessageIcon::kQuestion);
  EXPECT_EQ(view.messages[0].buttons, MessageButtons::kOkCancel);
  EXPECT_EQ(view.log.size(), 2u);  // the dialog and the question
  EXPECT_EQ(ctx.AbortFlag, 0);
  EXPECT_TRUE(ctx.List1.empty());
  EXPECT_EQ(ctx.SinglePageMode, kModeNone);
  EXPECT_EQ(ctx.SinglePageTarget, "/site/a.htm");
  EXPECT_EQ(ctx.results.Count(), 1u);
  EXPECT_TRUE(view.IsVisible(Control::kCommand3));
}

TEST_F(SinglePageTest, ALocalFileIsCheckedAsTheOnlyListedPage) {
  disk.AddFile("/site/a.htm", "<A HREF=\"http://h/x.html\">X</A>\r\n");
  http.Answer("http://h/x.html", 500);
  LeavePreviousRun();
  TypeAndOk("/site/a.htm");
  KKK_Search_Click(ctx, main);
  EXPECT_EQ(ctx.List1, (std::vector<std::string>{"/site/a.htm"}));
  EXPECT_EQ(ctx.SinglePageMode, kModeLocalFile);
  ASSERT_EQ(ctx.results.Count(), 1u);
  EXPECT_EQ(ctx.results.Row(0)[kColFile], "/site/a.htm");
  EXPECT_EQ(http.requested, (std::vector<std::string>{"http://h/x.html"}));
  const auto& log = view.log;
  ASSERT_GE(log.size(), 6u);
  EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 4),
            (std::vector<std::string>{
                "dialog", "message Voxtrel: HTMLﾌｧｲﾙ数： 1     \r\rVoxtrelを開始しますか？   ",
                "hide Command3", "menu off"}));
  EXPECT_EQ(std::vector<std::string>(log.end() - 2, log.end()),
            (std::vector<std::string>{"cursor default", "menu on"}));
  EXPECT_TRUE(view.IsVisible(Control::kCommand3));
}

TEST_F(SinglePageTest, AWebPageIsFetchedAndItsRowsNameTheAddress) {
  http.Answer("http://site.test/top.html", 200,
              "<html>\n<a href=\"http://h/dead.htm\">dead</a>\n</html>\n");
  http.Answer("http://h/dead.htm", 404);
  TypeAndOk("http://site.test/top.html");
  KKK_Search_Click(ctx, main);
  EXPECT_EQ(ctx.List1, (std::vector<std::string>{"/prog/WEB_Dummy.htm"}));
  EXPECT_EQ(ctx.SinglePageMode, kModeWebPage);
  EXPECT_EQ(http.requested,
            (std::vector<std::string>{"http://site.test/top.html", "http://h/dead.htm"}));
  ASSERT_EQ(ctx.results.Count(), 1u);
  EXPECT_EQ(ctx.results.Row(0)[kColTarget], "http://h/dead.htm");
  EXPECT_EQ(ctx.results.Row(0)[kColFile], "http://site.test/top.html");
  EXPECT_TRUE(view.menu_enabled);
  EXPECT_FALSE(view.busy);
}

TEST_F(SinglePageTest, AFailedFetchShowsTheAddressAndGivesTheMenuBack) {
  http.Answer("http://site.test/gone.htm", 404, "not here");
  LeavePreviousRun();
  TypeAndOk("http://site.test/gone.htm");
  KKK_Search_Click(ctx, main);
  const std::vector<std::string> tail = {
      "caption Label3=http://site.test/gone.htm", "cursor default",
      "message Voxtrel: WEBｻｰﾊﾞｰからHTMLを取得できません。     ", "menu on"};
  ASSERT_GE(view.log.size(), tail.size());
  EXPECT_EQ(std::vector<std::string>(view.log.end() - 4, view.log.end()), tail);
  EXPECT_EQ(view.messages.back().icon, MessageIcon::kWarning);
  EXPECT_EQ(view.messages.back().buttons, MessageButtons::kOk);
  EXPECT_EQ(view.Caption(Control::kLabel3), "http://site.test/gone.htm");
  EXPECT_TRUE(view.menu_enabled);
  EXPECT_EQ(ctx.SinglePageMode, kModeNone);
  EXPECT_EQ(ctx.results.Count(), 0u);
  EXPECT_FALSE(view.IsVisible(Control::kCommand3));
  EXPECT_EQ(http.requested, (std::vector<std::string>{"http://site.test/gone.htm"}));
}

}  // namespace
}  // namespace voxtrel
