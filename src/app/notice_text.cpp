#include "app/notice_text.h"

namespace voxtrel {
namespace {

// The trailing blanks belong to the texts.
constexpr const char* kRunAbortedText = "Voxtrelを中止しました。    ";
constexpr const char* kRunCompleteText = "Voxtrelが完了しました。    ";
constexpr const char* kNoRequestObjectText = "XMLHTTPｵﾌﾞｼﾞｪｸﾄを作成できませんでした。     ";
constexpr const char* kSelectFolderText = "ﾌｫﾙﾀﾞを選択してください。   ";
constexpr const char* kNoHtmlFilesText = "HTMLﾌｧｲﾙがみつかりません。   ";
constexpr const char* kFetchFailedText = "WEBｻｰﾊﾞｰからHTMLを取得できません。     ";
constexpr const char* kStartQuestionClose = "     \r\rVoxtrelを開始しますか？   ";
constexpr const char* kSaveReportTitle = "ﾘﾝｸ結果の保存";
// After the counts, on a line of its own: links the user's list set aside.
constexpr const char* kIgnoredCountPrefix = "\r無視したﾘﾝｸ ";
constexpr const char* kRulesProblemsText =
    "判定ﾙｰﾙのﾌｧｲﾙに読めない行があります。その行は使わずに検査します。    ";

WindowMessage Warning(std::string text) { return {kMessageTitle, std::move(text), {}}; }

WindowMessage Question(std::string text, std::string title = kMessageTitle) {
  return {std::move(title), std::move(text), {}, MessageIcon::kQuestion, MessageButtons::kOkCancel};
}

// "× 12 件 / ◎ 340 件 / △ 8 件 / Ｐ 8 件", in the order of the marks; "/ ？ 3 件" after them
// when answers were judged.
std::string MarkCounts(const std::array<size_t, kMarkCount>& rows_by_mark, bool suspect) {
  std::string counts;
  for (size_t i = 0; i < (suspect ? kMarkCount : kClassicMarkCount); ++i) {
    if (i > 0) counts += " / ";
    counts += std::string(kMarks[i]) + " " + std::to_string(rows_by_mark[i]) + " 件";
  }
  return counts;
}

WindowMessage Word(const notice::RunEnded& ended) {
  std::string text = ended.aborted ? kRunAbortedText : kRunCompleteText;
  // The https count goes first, as a message's detail line does.
  if (ended.https_skipped > 0)
    text = "https:// のﾘﾝｸ " + std::to_string(ended.https_skipped) +
           " 件は検査していません     \r\r" + text;
  text += "\r\r" + MarkCounts(ended.rows_by_mark, ended.suspect);
  if (ended.crawled)
    text += "\rﾍﾟｰｼﾞ " + std::to_string(ended.pages) + " 件 / 上限で省いたﾍﾟｰｼﾞ " +
            std::to_string(ended.pages_left_out) + " 件 / robots.txt で除外 " +
            std::to_string(ended.pages_disallowed) + " 件";
  if (ended.crawled && ended.pages_failed > 0)
    text += " / 取得できないﾍﾟｰｼﾞ " + std::to_string(ended.pages_failed) + " 件";
  if (ended.ignored > 0) text += kIgnoredCountPrefix + std::to_string(ended.ignored) + " 件";
  WindowMessage message = Warning(std::move(text));
  if (ended.rows_by_mark[0] == 0) message.icon = MessageIcon::kInformation;
  return message;
}

WindowMessage Word(const notice::RunAborted&) { return Warning(kRunAbortedText); }

WindowMessage Word(const notice::PageCut& cut) {
  return Warning("ﾍﾟｰｼﾞが大きすぎるため、先頭の " + std::to_string(cut.checked_mib) +
                 " MiB だけを検査しました： " + cut.page + "     ");
}

WindowMessage Word(const notice::NoRequestObject&) { return Warning(kNoRequestObjectText); }
WindowMessage Word(const notice::FolderRefused&) { return Warning(kSelectFolderText); }
WindowMessage Word(const notice::NoPages&) { return Warning(kNoHtmlFilesText); }

WindowMessage Word(const notice::TargetUnreadable& unreadable) {
  WindowMessage message = Warning(kFetchFailedText);
  message.detail = ReasonText(unreadable.reason, Language::kJapanese);
  return message;
}

WindowMessage Word(const notice::StartQuestion& start) {
  return Question("HTMLﾌｧｲﾙ数： " + std::to_string(start.pages) + kStartQuestionClose);
}

WindowMessage Word(const notice::CrawlQuestion& crawl) {
  return Question("開始ｱﾄﾞﾚｽ： " + crawl.start + kStartQuestionClose);
}

WindowMessage Word(const notice::OverwriteQuestion& overwrite) {
  return Question(
      "ﾌｧｲﾙ名： " + overwrite.path + "     \r\rすでに同名ﾌｧｲﾙが存在します、上書きしますか？     ",
      kSaveReportTitle);
}

WindowMessage Word(const notice::SaveFailed& failed) {
  return Warning("ｴﾗｰ： " + failed.error + "     ");
}

}  // namespace

WindowMessage WindowMessageFor(const Notice& notice) {
  return std::visit([](const auto& told) { return Word(told); }, notice);
}

WindowMessage RulesProblemsMessage(const std::vector<RulesProblem>& problems) {
  WindowMessage message = Warning(kRulesProblemsText);
  for (const RulesProblem& problem : problems) {
    if (!message.detail.empty()) message.detail += "\n";
    message.detail += problem.file + (problem.line ? ":" + std::to_string(problem.line) : "") +
                      ": " + problem.why;
  }
  return message;
}

}  // namespace voxtrel
