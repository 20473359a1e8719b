#include "run/run_control.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/run_context.h"
#include "support/fake_disk.h"
#include "support/recording_view.h"
#include "support/scripted_http.h"

namespace voxtrel {
namespace {

using test::FakeDisk;
using test::RecordingView;
using test::ScriptedHttpFactory;

/// The main window: everything visual goes to the recorder, the picker values come from fields.
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
  std::string Dir1Path() override { return dir1; }
  int16_t Check1Value() override { return check1; }
  void ShowSinglePageDialog(KobetuLogic&) override { ADD_FAILURE() << "no dialog here"; }

  std::string dir1;
  int16_t check1 = 0;

 private:
  RecordingView& rec_;
};

/// Writes list changes into the recorder's log so their order against the view calls shows.
class LoggingObserver : public ResultListObserver {
 public:
  explicit LoggingObserver(RecordingView& rec) : rec_(rec) {}
  void RowsCleared() override { rec_.log.push_back("rows cleared"); }
  void RowAdded(size_t index) override { rec_.log.push_back("row " + std::to_string(index)); }
  void RowsReordered() override { rec_.log.push_back("rows reordered"); }

 private:
  RecordingView& rec_;
};

class RunControlTest : public ::testing::Test {
 protected:
  RunControlTest() : main(view), ctx(view, disk, http, "/prog"), observer(view) {
    ctx.results.SetObserver(&observer);
    disk.AddFolder("/prog");
  }

  /// Rows and a shown save button as a previous run would leave them.
  void LeavePreviousRun() {
    ctx.results.AddRow("000001", kMarkFailed, "http://old/", "old", "/old.htm");
    view.SetVisible(Control::kCommand3, true);
    view.log.clear();
  }

  std::vector<std::string> Messages() const {
    std::vector<std::string> texts;
    for (const auto& m : view.messages) texts.push_back(m.text);
    return texts;
  }

  RecordingView view;
  FakeMainView main;
  FakeDisk disk;
  ScriptedHttpFactory http;
  RunContext ctx;
  LoggingObserver observer;
};

TEST_F(RunControlTest, MessageTextsAreExact) {
  EXPECT_EQ(std::string(kSelectFolderMessage),
            "\xEF\xBE\x8C\xEF\xBD\xAB\xEF\xBE\x99\xEF\xBE\x80\xEF\xBE\x9E"
            "を選択してください。   ");
  EXPECT_EQ(std::string(kNoHtmlFilesMessage), "HTMLﾌｧｲﾙがみつかりません。   ");
  EXPECT_EQ(StartConfirmationText(12), "HTMLﾌｧｲﾙ数： 12     \r\rVoxtrelを開始しますか？   ");
}

TEST_F(RunControlTest, RefusesEmptyShortAndRootFolders) {
  const struct {
    const char* path;
    bool accepted;
  } cases[] = {{"", false},        {"/", false},        {"   /   ", false}, {"/ab", false},
               {"  /ab  ", false}, {"/abc", true},      {"/tmp", true},     {"/アイ", false},
               {"/アイウ", true},  {"/home/site", true}};
  for (const auto& c : cases) EXPECT_EQ(IsCheckableFolder(c.path), c.accepted) << c.path;
}

TEST_F(RunControlTest, ADriveRootShowsM1AfterClearingTheListsAndLabels) {
  for (const char* path : {"/", "", " /ab "}) {
    view.log.clear();
    view.messages.clear();
    ctx.List1 = {"/stale.htm"};
    ctx.SinglePageMode = kModeWebPage;
    main.dir1 = path;
    Command1_Click(ctx, main);
    EXPECT_EQ(view.log, (std::vector<std::string>{
                            "caption Label2=", "caption Label3=", "hide Label4", "hide Label5",
                            "message Voxtrel: ﾌｫﾙﾀﾞを選択してください。   ", "focus Dir1"}))
        << path;
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].icon, MessageIcon::kWarning);
    EXPECT_EQ(view.messages[0].buttons, MessageButtons::kOk);
    EXPECT_TRUE(ctx.List1.empty());
    EXPECT_EQ(ctx.SinglePageMode, kModeNone);
    EXPECT_TRUE(disk.listed.empty());
  }
}

TEST_F(RunControlTest, AFolderWithoutPagesShowsM2AndKeepsThePreviousResults) {
  disk.AddFile("/empty/readme.txt", "");
  LeavePreviousRun();
  main.dir1 = "/empty";
  Command1_Click(ctx, main);
  EXPECT_EQ(view.log, (std::vector<std::string>{
                          "caption Label2=", "caption Label3=", "hide Label4", "hide Label5",
                          "caption Label4=HTML検索中", "show Label4", "repaint Label4",
                          "caption Label8=", "color Label8=buttontext", "cursor busy",
                          "caption Label8=/empty", "yield", "cursor default", "caption Label8=",
                          "color Label8=blue", "caption Label2=ﾌｧｲﾙ数：0", "hide Label4",
                          "message Voxtrel: HTMLﾌｧｲﾙがみつかりません。   ", "focus Dir1"}));
  EXPECT_EQ(view.messages[0].icon, MessageIcon::kWarning);
  EXPECT_EQ(view.messages[0].buttons, MessageButtons::kOk);
  EXPECT_EQ(ctx.results.Count(), 1u);
  EXPECT_TRUE(view.IsVisible(Control::kCommand3));
  EXPECT_EQ(view.Caption(Control::kLabel2), "ﾌｧｲﾙ数：0");
}

TEST_F(RunControlTest, DiscoveryGetsDir1UntrimmedAndCheck1AsItIs) {
  disk.AddFile("/site/a.htm", "");
  disk.AddFile("/site/sub/b.htm", "");
  view.answers = {MessageAnswer::kCancel, MessageAnswer::kCancel, MessageAnswer::kCancel};

  main.dir1 = "/site";
  main.check1 = 1;
  Command1_Click(ctx, main);
  EXPECT_EQ(ctx.List1, (std::vector<std::string>{"/site/a.htm", "/site/sub/b.htm"}));

  main.check1 = 2;
  Command1_Click(ctx, main);
  EXPECT_EQ(ctx.List1, (std::vector<std::string>{"/site/a.htm"}));

  // The trimmed path passes the check; the picker's own text is what gets listed.
  main.dir1 = "/site ";
  main.check1 = 1;
  Command1_Click(ctx, main);
  EXPECT_TRUE(ctx.List1.empty());
  EXPECT_EQ(disk.listed.back(), "/site ");
}

TEST_F(RunControlTest, CancelInM3KeepsThePreviousResultsAndTheNewFileList) {
  disk.AddFile("/site/a.htm", "");
  disk.AddFile("/site/b.htm", "");
  LeavePreviousRun();
  main.dir1 = "/site";
  bool label4_during_question = false;
  view.answers = {MessageAnswer::kCancel};
  Command1_Click(ctx, main);

  ASSERT_EQ(view.messages.size(), 1u);
  const test::ShownMessage& m3 = view.messages[0];
  EXPECT_EQ(m3.title, "Voxtrel");
  EXPECT_EQ(m3.text, "HTMLﾌｧｲﾙ数： 2     \r\rVoxtrelを開始しますか？   ");
  EXPECT_EQ(m3.icon, MessageIcon::kQuestion);
  EXPECT_EQ(m3.buttons, MessageButtons::kOkCancel);
  // Label4 still says "HTML検索中" while M3 is open and is hidden once it closes.
  const auto& log = view.log;
  auto at = std::find(log.begin(), log.end(), "message Voxtrel: " + m3.text);
  ASSERT_NE(at, log.end());
  for (auto it = log.begin(); it != at; ++it)
    if (*it == "show Label4" || *it == "hide Label4") label4_during_question = *it == "show Label4";
  EXPECT_TRUE(label4_during_question);
  EXPECT_EQ(std::vector<std::string>(at + 1, log.end()), (std::vector<std::string>{"hide Label4"}));

  EXPECT_EQ(ctx.List1, (std::vector<std::string>{"/site/a.htm", "/site/b.htm"}));
  EXPECT_EQ(view.Caption(Control::kLabel2), "ﾌｧｲﾙ数：2");
  EXPECT_EQ(ctx.results.Count(), 1u);
  EXPECT_TRUE(view.IsVisible(Control::kCommand3));
  EXPECT_TRUE(view.menu_enabled);
}

TEST_F(RunControlTest, OkInM3ClearsTheOldRowsAndRunsThroughTheStates) {
  disk.AddFile("/site/a.htm", "<A HREF=\"http://h/x.html\">X</A>\r\n");
  http.Answer("http://h/x.html", 404);
  LeavePreviousRun();
  ctx.AbortFlag = 999;
  main.dir1 = "/site";

  struct Seen {
    bool busy, label4, command1, command2, command3, menu;
    std::string label4_text;
  };
  std::vector<Seen> seen;
  view.on_yield = [&](int) {
    seen.push_back({view.busy, view.IsVisible(Control::kLabel4), view.IsVisible(Control::kCommand1),
                    view.IsVisible(Control::kCommand2), view.IsVisible(Control::kCommand3),
                    view.menu_enabled, view.Caption(Control::kLabel4)});
  };
  view.SetVisible(Control::kCommand1, true);
  view.SetVisible(Control::kCommand2, false);
  view.log.clear();
  Command1_Click(ctx, main);

  // Discovering: hourglass, "HTML検索中", start button still in place, menu usable.
  ASSERT_GE(seen.size(), 2u);
  EXPECT_TRUE(seen[0].busy);
  EXPECT_TRUE(seen[0].label4);
  EXPECT_EQ(seen[0].label4_text, "HTML検索中");
  EXPECT_TRUE(seen[0].command1);
  EXPECT_FALSE(seen[0].command2);
  EXPECT_TRUE(seen[0].command3);
  EXPECT_TRUE(seen[0].menu);
  // Running: abort button instead of start, save button hidden, "検索中", menu disabled.
  EXPECT_FALSE(seen[1].command1);
  EXPECT_TRUE(seen[1].command2);
  EXPECT_FALSE(seen[1].command3);
  EXPECT_TRUE(seen[1].label4);
  EXPECT_EQ(seen[1].label4_text, "検索中");
  EXPECT_FALSE(seen[1].menu);

  const auto& log = view.log;
  auto m3 = std::find_if(log.begin(), log.end(),
                         [](const std::string& l) { return l.rfind("message", 0) == 0; });
  ASSERT_NE(m3, log.end());
  EXPECT_EQ(std::vector<std::string>(m3 + 1, m3 + 8),
            (std::vector<std::string>{"hide Label4", "rows cleared", "hide Command3",
                                      "caption Label4=検索中", "show Label4", "repaint Label4",
                                      "menu off"}));
  EXPECT_EQ(log.back(), "menu on");

  // Finished: one new row, the old one gone, start button back, save button shown.
  ASSERT_EQ(ctx.results.Count(), 1u);
  EXPECT_EQ(ctx.results.Row(0)[kColTarget], "http://h/x.html");
  EXPECT_EQ(ctx.results.Row(0)[kColFile], "/site/a.htm");
  EXPECT_EQ(ctx.AbortFlag, 0);
  EXPECT_TRUE(view.IsVisible(Control::kCommand1));
  EXPECT_FALSE(view.IsVisible(Control::kCommand2));
  EXPECT_TRUE(view.IsVisible(Control::kCommand3));
  EXPECT_FALSE(view.IsVisible(Control::kLabel4));
  EXPECT_FALSE(view.IsVisible(Control::kLabel5));
  EXPECT_TRUE(view.menu_enabled);
  EXPECT_FALSE(view.busy);
  EXPECT_EQ(Messages().back(), "Voxtrelが完了しました。    ");
}

TEST_F(RunControlTest, AbortPressedTwiceStaysAt999AndStopsTheRun) {
  Command2_Click(ctx);
  Command2_Click(ctx);
  EXPECT_EQ(ctx.AbortFlag, 999);
  EXPECT_EQ(view.log, (std::vector<std::string>{"caption Label5=中止処理中", "show Label5",
                                                "caption Label5=中止処理中", "show Label5"}));

  view.log.clear();
  for (const char* page : {"/site/a.htm", "/site/b.htm", "/site/c.htm"})
    disk.AddFile(page, "<a href=\"http://h/1.htm\">1</a><a href=\"http://h/2.htm\">2</a>\r\n");
  http.default_answer.status = 200;
  main.dir1 = "/site";
  int16_t flag_after_clicks = 0;
  bool label5_after_clicks = false;
  std::string label5_text;
  view.on_yield = [&](int count) {
    // The first yield is discovery's; the second comes after the first link of the run.
    if (count != 2) return;
    Command2_Click(ctx);
    Command2_Click(ctx);
    flag_after_clicks = ctx.AbortFlag;
    label5_after_clicks = view.IsVisible(Control::kLabel5);
    label5_text = view.Caption(Control::kLabel5);
  };
  Command1_Click(ctx, main);
  EXPECT_EQ(flag_after_clicks, 999);
  EXPECT_TRUE(label5_after_clicks);
  EXPECT_EQ(label5_text, "中止処理中");
  EXPECT_EQ(http.requested.size(), 1u);
  EXPECT_EQ(Messages().back(), "Voxtrelを中止しました。    ");
  EXPECT_TRUE(view.menu_enabled);
  EXPECT_EQ(view.log.back(), "menu on");
  EXPECT_EQ(ctx.AbortFlag, 0);
}

TEST_F(RunControlTest, AFolderRunResetsTheSinglePageMode) {
  disk.AddFile("/site/a.htm", "<A HREF=\"http://h/p.pl\">script</A>\r\n");
  ctx.SinglePageMode = kModeWebPage;
  ctx.SinglePageTarget = "http://elsewhere/page.htm";
  main.dir1 = "/site";
  Command1_Click(ctx, main);
  EXPECT_EQ(ctx.SinglePageMode, kModeNone);
  ASSERT_EQ(ctx.results.Count(), 1u);
  EXPECT_EQ(ctx.results.Row(0)[kColFile], "/site/a.htm");
}

}  // namespace
}  // namespace voxtrel
