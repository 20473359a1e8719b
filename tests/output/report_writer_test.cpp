#include "output/report_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "output/result_sort.h"
#include "platform/cp932.h"
#include "support/files.h"
#include "support/fake_disk.h"
#include "support/recording_view.h"
#include "support/temp_dir.h"

namespace voxtrel {
namespace {

using test::ReadFile;
using test::WriteFile;
using test::FolderNames;

using test::FakeDisk;
using test::RecordingView;
using test::TempDir;

const std::string kHead =
    "<HTML>\r\n"
    "<HEAD>\r\n"
    "<META http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">\r\n"
    "<META http-equiv=\"Content-Style-Type\" content=\"Text/css\" > \r\n"
    "<TITLE>Voxtrel</TITLE>\r\n"
    "</HEAD>\r\n"
    "<BODY>\r\n"
    "<P>Voxtrel<BR>\r\n"
    "<TABLE border=\"1\" cellpadding=\"4\" cellspacing=\"0\">\r\n"
    "<TBODY>\r\n";
const std::string kTail =
    "</TBODY>\r\n"
    "</TABLE>\r\n"
    "</P>\r\n"
    "</BODY>\r\n"
    "</HTML>\r\n";

ResultList SampleRows() {
  ResultList list;
  list.AddRow("000001", kMarkFailed, "http://a.example/x.htm", "Top", "/site/index.htm");
  list.AddRow("000002", kMarkOk, " http://b.example/ ", "  ", "/site/b.htm");
  list.AddRow("000003", kMarkScript, "http://c.example/f.pl", " 検索 ", "/site/c.htm");
  return list;
}

const std::string kSampleHtml =
    kHead +
    "<TR>\r\n"
    "<FONT size=\"-1\"> <TD><FONT size=\"-1\">000001</FONT></TD><TD><FONT size=\"-1\">×</FONT>"
    "</TD><TD><FONT size=\"-1\"><A href=\"http://a.example/x.htm\">http://a.example/x.htm</A>"
    "</FONT></TD><TD><FONT size=\"-1\">Top</FONT></TD><TD><FONT size=\"-1\">/site/index.htm"
    "</FONT></TD></FONT>\r\n"
    "</TR>\r\n"
    "<TR>\r\n"
    "<FONT size=\"-1\"> <TD><FONT size=\"-1\">000002</FONT></TD><TD><FONT size=\"-1\">◎</FONT>"
    "</TD><TD><FONT size=\"-1\"><A href=\"http://b.example/\"> http://b.example/ </A>"
    "</FONT></TD><TD><FONT size=\"-1\">&nbsp;</FONT></TD><TD><FONT size=\"-1\">/site/b.htm"
    "</FONT></TD></FONT>\r\n"
    "</TR>\r\n"
    "<TR>\r\n"
    "<FONT size=\"-1\"> <TD><FONT size=\"-1\">000003</FONT></TD><TD><FONT size=\"-1\">Ｐ</FONT>"
    "</TD><TD><FONT size=\"-1\"><A href=\"http://c.example/f.pl\">http://c.example/f.pl</A>"
    "</FONT></TD><TD><FONT size=\"-1\"> 検索 </FONT></TD><TD><FONT size=\"-1\">/site/c.htm"
    "</FONT></TD></FONT>\r\n"
    "</TR>\r\n" +
    kTail;

const std::string kSampleCsv =
    "000001,×,http://a.example/x.htm,Top,/site/index.htm\r\n"
    "000002,◎, http://b.example/ ,  ,/site/b.htm\r\n"
    "000003,Ｐ,http://c.example/f.pl, 検索 ,/site/c.htm\r\n";

/// A save dialog answering from a script and remembering what it was offered.
class ScriptedSaveDialog : public SaveDialog {
 public:
  std::optional<std::string> ShowSave(const std::string& proposed_name,
                                      const std::string& filter) override {
    proposed.push_back(proposed_name);
    filters.push_back(filter);
    if (answers.empty()) return std::nullopt;
    std::optional<std::string> answer = answers.front();
    answers.pop_front();
    return answer;
  }
  std::deque<std::optional<std::string>> answers;
  std::vector<std::string> proposed;
  std::vector<std::string> filters;
};

/// The fake disk with an in-memory replace; it can refuse to replace (a read-only target) or
/// give out half way through a write (a full disk).
class ReplacingFakeDisk : public FakeDisk {
 public:
  bool WriteWholeFile(const std::string& path, const std::string& bytes,
                      std::string* err) override {
    if (fill_up_on_write) {
      FakeDisk::WriteWholeFile(path, bytes.substr(0, bytes.size() / 2), err);
      if (err) *err = "No space left on device";
      return false;
    }
    return FakeDisk::WriteWholeFile(path, bytes, err);
  }
  bool ReplaceFile(const std::string& from, const std::string& to, std::string* err) override {
    log.push_back("replace " + from + " -> " + to);
    if (read_only.count(to)) {
      if (err) *err = "Permission denied";
      return false;
    }
    std::optional<std::string> bytes = Contents(from);
    if (!bytes) {
      if (err) *err = "No such file or directory";
      return false;
    }
    AddFile(to, *bytes);
    Remove(from);
    return true;
  }
  bool fill_up_on_write = false;
  std::set<std::string> read_only;
};

TEST(ReportWriterTest, ChoosesTheFormByTheLastFourCharacters) {
  const struct {
    const char* path;
    ReportForm form;
  } cases[] = {
      {"report.HTM", ReportForm::kHtml}, {"report.htm", ReportForm::kHtml},
      {"Report.Htm", ReportForm::kHtml}, {"/a/b/.htm", ReportForm::kHtml},
      {"report.html", ReportForm::kCsv}, {"report.csv", ReportForm::kCsv},
      {"report.txt", ReportForm::kCsv},  {"report", ReportForm::kCsv},
      {"htm", ReportForm::kCsv},         {"report.htm ", ReportForm::kCsv},
      {"a.shtm", ReportForm::kCsv},      {"", ReportForm::kCsv},
  };
  for (const auto& c : cases) EXPECT_EQ(ReportFormFor(c.path), c.form) << c.path;
}

TEST(ReportWriterTest, FormatsTheHtmlReportLineForLine) {
  EXPECT_EQ(FormatHtmlReport(SampleRows().Rows()), kSampleHtml);
  EXPECT_EQ(FormatHtmlReport({}), kHead + kTail);
}

TEST(ReportWriterTest, FormatsTheCommaSeparatedReportLineForLine) {
  EXPECT_EQ(FormatCsvReport(SampleRows().Rows()), kSampleCsv);
  EXPECT_EQ(FormatCsvReport({}), "");
}

TEST(ReportWriterTest, EscapesMarkupInEveryHtmlValue) {
  ResultList list;
  list.AddRow("000001", "<b>", " http://x/?a=1&b=\"2\" ", "<script>alert('x')</script>",
              "/p&q/<r>.htm");
  EXPECT_EQ(FormatHtmlReport(list.Rows()),
            kHead +
                "<TR>\r\n"
                "<FONT size=\"-1\"> <TD><FONT size=\"-1\">000001</FONT></TD><TD><FONT size=\"-1\">"
                "&lt;b&gt;</FONT></TD><TD><FONT size=\"-1\"><A href=\"http://x/?a=1&amp;b=&quot;2"
                "&quot;\"> http://x/?a=1&amp;b=&quot;2&quot; </A></FONT></TD><TD><FONT size=\"-1\">"
                "&lt;script&gt;alert('x')&lt;/script&gt;</FONT></TD><TD><FONT size=\"-1\">"
                "/p&amp;q/&lt;r&gt;.htm</FONT></TD></FONT>\r\n"
                "</TR>\r\n" +
                kTail);
  const struct {
    const char* in;
    const char* out;
  } cases[] = {{"", ""},
               {"plain ｶﾅ", "plain ｶﾅ"},
               {"&&", "&amp;&amp;"},
               {"'", "'"},
               {"a<b>c\"d", "a&lt;b&gt;c&quot;d"}};
  for (const auto& c : cases) EXPECT_EQ(EscapeHtml(c.in), c.out) << c.in;
}

TEST(ReportWriterTest, QuotesOnlyFieldsThatWouldBreakTheColumns) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"", ""},
      {"  ", "  "},
      {"plain", "plain"},
      {"a,b", "\"a,b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"line\rbreak", "\"line\rbreak\""},
      {"line\nbreak", "\"line\nbreak\""},
      {"<tag>&'", "<tag>&'"},
  };
  for (const auto& c : cases) EXPECT_EQ(CsvField(c.in), c.out) << c.in;

  ResultList list;
  list.AddRow("000001", kMarkFailed, "http://x/a,b", "He said \"go\"", "/p.htm");
  EXPECT_EQ(FormatCsvReport(list.Rows()),
            "000001,×,\"http://x/a,b\",\"He said \"\"go\"\"\",/p.htm\r\n");
}

TEST(ReportWriterTest, WritesShiftJisBytesToTheFile) {
  TempDir dir;
  PosixDisk disk;
  ResultList list;
  list.AddRow("000007", kMarkFailed, "http://a/", "ﾘﾝｸ", "/p.htm");
  std::string err;
  ASSERT_TRUE(WriteReport(disk, list.Rows(), dir / "r.csv", &err)) << err;
  EXPECT_TRUE(err.empty());
  EXPECT_EQ(ReadFile(dir / "r.csv"), "000007,\x81\x7E,http://a/,\xD8\xDD\xB8,/p.htm\r\n");

  ASSERT_TRUE(WriteReport(disk, SampleRows().Rows(), dir / "r.HTM", &err)) << err;
  EXPECT_EQ(ReadFile(dir / "r.HTM"), Utf8ToCp932(kSampleHtml));
  EXPECT_EQ(FolderNames(dir.path()), (std::vector<std::string>{"r.HTM", "r.csv"}));
}

TEST(ReportWriterTest, FollowsTheSortedOrderOfTheList) {
  ResultList list = SampleRows();
  ResultSorter sorter;
  sorter.ListView1_ColumnClick(list, "No");        // descending
  sorter.ListView1_ColumnClick(list, "リンク名");  // descending by link text
  EXPECT_EQ(FormatCsvReport(list.Rows()),
            "000001,×,http://a.example/x.htm,Top,/site/index.htm\r\n"
            "000003,Ｐ,http://c.example/f.pl, 検索 ,/site/c.htm\r\n"
            "000002,◎, http://b.example/ ,  ,/site/b.htm\r\n");
}

class ReportCommandTest : public ::testing::Test {
 protected:
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& m : view.messages) texts.push_back(m.text);
    return texts;
  }

  TempDir dir;
  PosixDisk disk;
  RecordingView view;
  ScriptedSaveDialog dialog;
  ReportCommand command;
  ResultList rows = SampleRows();
};

TEST_F(ReportCommandTest, AnEmptyListOnlyMovesTheFocus) {
  ResultList empty;
  dialog.answers = {dir / "never.htm"};
  command.Command3_Click(empty, disk, view, dialog);
  EXPECT_EQ(view.log, (std::vector<std::string>{"focus Text1"}));
  EXPECT_TRUE(dialog.proposed.empty());
  EXPECT_TRUE(FolderNames(dir.path()).empty());
}

TEST_F(ReportCommandTest, ProposesVoxtrelHtmFirstThenTheLastChoice) {
  dialog.answers = {dir / "first.htm", dir / "second.csv"};
  command.Command3_Click(rows, disk, view, dialog);
  command.Command3_Click(rows, disk, view, dialog);
  EXPECT_EQ(dialog.proposed, (std::vector<std::string>{"Voxtrel.htm", dir / "first.htm"}));
  const std::string filter =
      "HTMLﾌｧｲﾙ(*.htm)|*.htm|CSVﾌｧｲﾙ(*.csv)|*.csv|ﾃｷｽﾄﾌｧｲﾙ(*.txt)|*.txt|すべてのﾌｧｲﾙ(*.*)|*.*";
  EXPECT_EQ(dialog.filters, (std::vector<std::string>{filter, filter}));
  EXPECT_EQ(command.ReportFileName, dir / "second.csv");
  EXPECT_EQ(ReadFile(dir / "first.htm"), Utf8ToCp932(kSampleHtml));
  EXPECT_EQ(ReadFile(dir / "second.csv"), Utf8ToCp932(kSampleCsv));
  EXPECT_TRUE(view.messages.empty());
  EXPECT_EQ(FolderNames(dir.path()), (std::vector<std::string>{"first.htm", "second.csv"}));
}

TEST_F(ReportCommandTest, RemembersTheChosenNameTrimmed) {
  command.ReportFileName = "   ";
  dialog.answers = {std::nullopt, dir / "x.txt"};
  command.Command3_Click(rows, disk, view, dialog);
  EXPECT_EQ(command.ReportFileName, "   ");
  command.ReportFileName = "  " + (dir / "old.htm") + "  ";
  command.Command3_Click(rows, disk, view, dialog);
  EXPECT_EQ(dialog.proposed, (std::vector<std::string>{"Voxtrel.htm", dir / "old.htm"}));
  EXPECT_EQ(command.ReportFileName, dir / "x.txt");
  EXPECT_EQ(ReadFile(dir / "x.txt"), Utf8ToCp932(kSampleCsv));
}

TEST_F(ReportCommandTest, ACancelledDialogEndsSilently) {
  command.ReportFileName = "kept.csv";
  dialog.answers = {std::nullopt};
  command.Command3_Click(rows, disk, view, dialog);
  EXPECT_EQ(command.ReportFileName, "kept.csv");
  EXPECT_TRUE(view.log.empty());
  EXPECT_TRUE(FolderNames(dir.path()).empty());
}

TEST_F(ReportCommandTest, AnExistingFileIsReplacedOnlyAfterOk) {
  const std::string path = dir / "Report.Htm";
  WriteFile(path, "old contents");
  dialog.answers = {path, path};
  view.answers = {MessageAnswer::kCancel, MessageAnswer::kOk};

  command.Command3_Click(rows, disk, view, dialog);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].title, "ﾘﾝｸ結果の保存");
  EXPECT_EQ(view.messages[0].text,
            "ﾌｧｲﾙ名： " + path + "     \r\rすでに同名ﾌｧｲﾙが存在します、上書きしますか？     ");
  EXPECT_EQ(view.messages[0].icon, MessageIcon::kQuestion);
  EXPECT_EQ(view.messages[0].buttons, MessageButtons::kOkCancel);
  EXPECT_EQ(ReadFile(path), "old contents");
  EXPECT_EQ(command.ReportFileName, path);

  command.Command3_Click(rows, disk, view, dialog);
  EXPECT_EQ(view.messages.size(), 2u);
  EXPECT_EQ(dialog.proposed.back(), path);
  EXPECT_EQ(ReadFile(path), Utf8ToCp932(kSampleHtml));
  EXPECT_EQ(FolderNames(dir.path()), (std::vector<std::string>{"Report.Htm"}));
}

TEST_F(ReportCommandTest, AnUnwritablePathShowsM2AndLeavesNothingBehind) {
  const struct {
    std::string path;
    std::string description;
  } cases[] = {
      {dir / "missing/report.htm", "No such file or directory"},
      {dir / "folder.htm", "Is a directory"},
  };
  std::filesystem::create_directory(dir / "folder.htm");
  for (const auto& c : cases) {
    view.messages.clear();
    dialog.answers = {c.path};
    command.Command3_Click(rows, disk, view, dialog);
    ASSERT_EQ(view.messages.size(), 1u) << c.path;
    EXPECT_EQ(view.messages[0].title, "Voxtrel");
    EXPECT_EQ(view.messages[0].text, "ｴﾗｰ： " + c.description + "     ");
    EXPECT_EQ(view.messages[0].icon, MessageIcon::kWarning);
    EXPECT_EQ(view.messages[0].buttons, MessageButtons::kOk);
    EXPECT_EQ(command.ReportFileName, c.path);
  }
  EXPECT_EQ(FolderNames(dir.path()), (std::vector<std::string>{"folder.htm"}));
  EXPECT_TRUE(FolderNames(dir / "folder.htm").empty());
}

TEST(ReportWriterFailureTest, AReadOnlyTargetIsAskedAboutThenLeftUnchanged) {
  ReplacingFakeDisk disk;
  disk.AddFile("/out/locked.csv", "old", kAttrArchive + kAttrReadOnly);
  disk.read_only.insert("/out/locked.csv");
  RecordingView view;
  ScriptedSaveDialog dialog;
  dialog.answers = {std::string("/out/locked.csv")};
  ReportCommand command;
  command.Command3_Click(SampleRows(), disk, view, dialog);
  ASSERT_EQ(view.messages.size(), 2u);
  EXPECT_EQ(view.messages[0].title, "ﾘﾝｸ結果の保存");
  EXPECT_EQ(view.messages[1].text, "ｴﾗｰ： Permission denied     ");
  EXPECT_EQ(disk.Contents("/out/locked.csv"), std::optional<std::string>("old"));
  EXPECT_EQ(disk.deleted.size(), 1u);
  EXPECT_FALSE(disk.HasFile(disk.deleted[0]));
  EXPECT_EQ(disk.deleted[0].rfind("/out/", 0), 0u);  // the temporary file sat beside it
}

TEST(ReportWriterFailureTest, AWriteThatFailsHalfWayKeepsTheOldFile) {
  ReplacingFakeDisk disk;
  disk.AddFile("/out/r.htm", "old");
  disk.fill_up_on_write = true;
  std::string err;
  EXPECT_FALSE(WriteReport(disk, SampleRows().Rows(), "/out/r.htm", &err));
  EXPECT_EQ(err, "No space left on device");
  EXPECT_EQ(disk.Contents("/out/r.htm"), std::optional<std::string>("old"));
  ASSERT_EQ(disk.written.size(), 1u);
  EXPECT_NE(disk.written[0], "/out/r.htm");
  EXPECT_FALSE(disk.HasFile(disk.written[0]));

  // A new file: nothing at all under its name.
  EXPECT_FALSE(WriteReport(disk, SampleRows().Rows(), "/out/new.csv", &err));
  EXPECT_FALSE(disk.HasFile("/out/new.csv"));
}

}  // namespace
}  // namespace voxtrel
