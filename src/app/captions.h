#pragma once

// The main window's own texts, byte for byte as the user sees them.

namespace voxtrel {

inline constexpr const char* kDesignTitle = "Voxtrel";
inline constexpr const char* kTitlePrefix = "Voxtrel    Ver";
/// Seventeen blanks stand between the version and this notice in the title.
inline constexpr const char* kTitleNotice = "(C) 2026 Voxtrel";

inline constexpr const char* kCommand1Caption = "ﾁｪｯｸ開始";
inline constexpr const char* kCommand2Caption = "検索中止";
inline constexpr const char* kCommand3Caption = "結果保存";
inline constexpr const char* kCheck1Caption = "ｻﾌﾞﾃﾞｨﾚｸﾄﾘを含む";
inline constexpr const char* kCheck2Caption = "ﾘﾝｸ結果すべて表示";
inline constexpr const char* kLabel4Caption = "検索中";
inline constexpr const char* kLabel5Caption = "検索中止";
inline constexpr const char* kLabel6_0Caption = "ﾌｫﾙﾀﾞ名：";
inline constexpr const char* kLabel6_1Caption = "検索名 ：";
inline constexpr const char* kLabel6_2Caption = "ﾌｫﾙﾀﾞ名：";
inline constexpr const char* kLabel6_3Caption = "ﾄﾞﾗｲﾌﾞ名：";
inline constexpr const char* kText1Text = "Text1";

inline constexpr const char* kMenuF000Caption = "ﾌｧｲﾙ(&F)";
inline constexpr const char* kMenuKkkSearchCaption = "個別ﾌｧｲﾙ検索(&K)";
inline constexpr const char* kMenuProExitCaption = "ﾌﾟﾛｸﾞﾗﾑを終了(&C)";
inline constexpr const char* kMenuOptionsCaption = "ｵﾌﾟｼｮﾝ(&O)";
inline constexpr const char* kMenuOnceCaption = "同じURLは1度だけ検査する";
inline constexpr const char* kMenuHttpsCaption = "https:// のﾘﾝｸも検査する";
inline constexpr const char* kMenuKeepQueryCaption = "URLの ? 以降も含めて検査する";
inline constexpr const char* kMenuAllLinksCaption = "すべてのﾘﾝｸを検査する（相対ﾘﾝｸ・画像を含む）";
inline constexpr const char* kMenuSuspectCaption = "応答があっても切れているﾘﾝｸを見分ける";
inline constexpr const char* kMenuTimeoutCaption = "ﾀｲﾑｱｳﾄ…";
inline constexpr const char* kTimeoutPrompt = "1つのﾘﾝｸの応答を待つ秒数（5～300）：";
inline constexpr const char* kMenuRetriesCaption = "再試行の回数…";
inline constexpr const char* kRetriesPrompt = "失敗したﾘｸｴｽﾄを再試行する回数（0～10）：";
inline constexpr const char* kMenuRateCaption = "1ﾎｽﾄへの毎秒のﾘｸｴｽﾄ数…";
inline constexpr const char* kRatePrompt = "1つのﾎｽﾄへ1秒に送るﾘｸｴｽﾄの数（0～100、0は制限なし）：";
inline constexpr const char* kMenuArchiveCaption = "切れたﾘﾝｸのｱｰｶｲﾌﾞを探す";
inline constexpr const char* kMenuMendMovedCaption = "移転したﾘﾝｸをすべて書き換える…";
inline constexpr const char* kMenuMendArchivedCaption = "ｱｰｶｲﾌﾞのﾘﾝｸに書き換える…";
inline constexpr const char* kMenuUndoMendsCaption = "元に戻す";

// Rewriting pages, undoing it and setting links aside.
inline constexpr const char* kMendTitle = "ﾘﾝｸの書き換え";
inline constexpr const char* kMendApplyCaption = "書き換える";
inline constexpr const char* kMendCancelCaption = "ｷｬﾝｾﾙ";
/// The dialog's heading: pages, then links, to rewrite.
inline constexpr const char* kMendHeading = "次のとおり %1 ﾍﾟｰｼﾞの %2 か所を書き換えます。";
inline constexpr const char* kMendLeftAloneHeading = "書き換えないﾍﾟｰｼﾞ：";
inline constexpr const char* kMendNothingText = "書き換えるﾘﾝｸがありません。    ";
inline constexpr const char* kMendNonePossibleText = "書き換えられるﾍﾟｰｼﾞがありません。    ";
inline constexpr const char* kMendDoneText = " ﾍﾟｰｼﾞを書き換えました。    ";
inline constexpr const char* kMendBackupPrefix = "元のﾍﾟｰｼﾞの保存先：";
inline constexpr const char* kMendNotWrittenPrefix = "書き換えなかったﾍﾟｰｼﾞ：";
inline constexpr const char* kUndoQuestion = "最後に書き換えたﾍﾟｰｼﾞを元に戻しますか？    ";
inline constexpr const char* kUndoNothingText = "元に戻す書き換えがありません。    ";
inline constexpr const char* kUndoDoneText = " ﾍﾟｰｼﾞを元に戻しました。    ";
inline constexpr const char* kUndoPutBackPrefix = "元に戻したﾍﾟｰｼﾞ：";
inline constexpr const char* kUndoLeftPrefix = "そのままのﾍﾟｰｼﾞ：";
inline constexpr const char* kIgnoreWrittenText = "無視するﾘﾝｸを書き込みました：";
inline constexpr const char* kIgnoreFailedText = "無視するﾘﾝｸを書き込めません：";
inline constexpr const char* kIgnoreUnreadText =
    "無視するﾘﾝｸのﾌｧｲﾙを読めません。無視せずに検査します：";
inline constexpr const char* kFailedOnlyCaption = "×のみ表示";
/// When no browser or other program takes an address a row opens; the address follows.
inline constexpr const char* kOpenFailedMessage = "このｱﾄﾞﾚｽを開くﾌﾟﾛｸﾞﾗﾑが見つかりません。";

inline constexpr const char* kSearchingHtmlCaption = "HTML検索中";
inline constexpr const char* kAbortingCaption = "中止処理中";
inline constexpr const char* kFileCountPrefix = "ﾌｧｲﾙ数：";
/// Label8 while a link is checked: this, then the address.
inline constexpr const char* kConnectingPrefix = "接続中 ： ";
/// Label8 once the next row has waited a second: the address, then " （12秒）".
inline constexpr const char* kWaitedOpen = " （";
inline constexpr const char* kWaitedClose = "秒）";
/// The progress bar's text: pages done of found, links answered of found.
inline constexpr const char* kProgressFormat = "ﾍﾟｰｼﾞ %1 / %2    ﾘﾝｸ %3 / %4";
/// Follows the row count in Label7.
inline constexpr const char* kItemsSuffix = " 件";

/// ListView1's columns: caption, width in twips, centred.
struct ColumnDesign {
  const char* caption;
  int width_twips;
  bool centred;
};
/// The six columns of the list, then why a link failed.
inline constexpr ColumnDesign kResultColumns[7] = {
    {"No", 800, false},         {"結果", 600, true},         {"リンク先 URL", 5500, false},
    {"リンク名", 3000, false}, {"ファイル名", 7000, false}, {"No2", 5, false},
    {"理由", 2000, false},
};
inline constexpr int kReasonColumn = 6;
/// The text colour of ？ rows (#RRGGBB): a dark amber, readable on white, unlike × and ◎ rows.
inline constexpr const char* kSuspectRowColor = "#b35c00";

}  // namespace voxtrel
