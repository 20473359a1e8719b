#include "app/notice_text.h"

#include <gtest/gtest.h>

namespace voxtrel {
namespace {

TEST(NoticeTextTest, EachNoticeIsWordedAsTheWindowAlwaysSaidIt) {
  CheckOutcome timed_out;
  timed_out.reason = FailureReason::kTimeout;
  const MessageIcon warn = MessageIcon::kWarning;
  const MessageIcon ask = MessageIcon::kQuestion;
  const struct {
    Notice notice;
    std::string text;
    MessageIcon icon;
    std::string detail = "";
    std::string title = "Voxtrel";
  } cases[] = {
      // Crawls of 3 pages, 1 left out, 2 disallowed, 0 or 4 not fetched.
      {notice::RunEnded{false, {0, 3, 1, 2}, 0, true, 3, 1, 2, 0},
       "Voxtrelが完了しました。    \r\r× 0 件 / ◎ 3 件 / △ 1 件 / Ｐ 2 件\rﾍﾟｰｼﾞ 3 件 / "
       "上限で省いたﾍﾟｰｼﾞ 1 件 / robots.txt で除外 2 件",
       MessageIcon::kInformation},
      {notice::RunEnded{true, {1, 0, 0, 0}, 4, true, 3, 1, 2, 4},
       "https:// のﾘﾝｸ 4 件は検査していません     \r\rVoxtrelを中止しました。    \r\r× 1 件 / "
       "◎ 0 件 / △ 0 件 / Ｐ 0 件\rﾍﾟｰｼﾞ 3 件 / 上限で省いたﾍﾟｰｼﾞ 1 件 / robots.txt で除外 2 件 "
       "/ 取得できないﾍﾟｰｼﾞ 4 件",
       warn},
      {notice::RunAborted{}, "Voxtrelを中止しました。    ", warn},
      {notice::PageCut{"http://a.jp/big.htm", 64},
       "ﾍﾟｰｼﾞが大きすぎるため、先頭の 64 MiB だけを検査しました： http://a.jp/big.htm     ", warn},
      {notice::NoRequestObject{}, "XMLHTTPｵﾌﾞｼﾞｪｸﾄを作成できませんでした。     ", warn},
      {notice::FolderRefused{}, "ﾌｫﾙﾀﾞを選択してください。   ", warn},
      {notice::NoPages{}, "HTMLﾌｧｲﾙがみつかりません。   ", warn},
      {notice::TargetUnreadable{"http://a.jp/", timed_out},
       "WEBｻｰﾊﾞｰからHTMLを取得できません。     ", warn, "ﾀｲﾑｱｳﾄ"},
      {notice::StartQuestion{12}, "HTMLﾌｧｲﾙ数： 12     \r\rVoxtrelを開始しますか？   ", ask},
      {notice::CrawlQuestion{"http://a.jp/"},
       "開始ｱﾄﾞﾚｽ： http://a.jp/     \r\rVoxtrelを開始しますか？   ", ask},
      {notice::OverwriteQuestion{"/r.csv"},
       "ﾌｧｲﾙ名： /r.csv     \r\rすでに同名ﾌｧｲﾙが存在します、上書きしますか？     ", ask, "",
       "ﾘﾝｸ結果の保存"},
      {notice::SaveFailed{"/r.csv", "Permission denied"}, "ｴﾗｰ： Permission denied     ", warn},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const WindowMessage message = WindowMessageFor(c.notice);
    EXPECT_EQ(message.text, c.text);
    EXPECT_EQ(message.icon, c.icon);
    EXPECT_EQ(message.buttons, c.icon == ask ? MessageButtons::kOkCancel : MessageButtons::kOk);
    EXPECT_EQ(message.detail, c.detail);
    EXPECT_EQ(message.title, c.title);
  }
}

}  // namespace
}  // namespace voxtrel
