// Hostile pages: whatever a page holds, the run ends with the rows of the links that can be read,
// goes on with the next page, and its memory stays within a small multiple of the longest line.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/check_loop.h"
#include "engine/result_list.h"
#include "engine/run_context.h"
#include "platform/cp932.h"
#include "platform/disk.h"
#include "reliability/child_process.h"
#include "reliability/fault_server.h"
#include "reliability/figures.h"
#include "reliability/light_seams.h"
#include "support/files.h"
#include "support/recording_view.h"
#include "support/scripted_http.h"
#include "support/temp_dir.h"

namespace voxtrel {
namespace {

using test::WriteFile;

using test::CountingView;
using test::InstantHttpFactory;
using test::TempDir;

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

/// Target, name and page of every row, one string each, for comparing whole runs.
std::vector<std::string> RowTexts(const ResultList& results) {
  std::vector<std::string> texts;
  for (const ResultRow& row : results.Rows())
    texts.push_back(row[kColMark] + " " + row[kColTarget] + " [" + row[kColName] + "] " +
                    row[kColFile].substr(row[kColFile].rfind('/') + 1));
  return texts;
}

class HostilePagesTest : public ::testing::Test {
 protected:
  /// Runs the check loop over `pages` (names in the temp folder, or full paths) with every link
  /// answering `status`.
  void Run(const std::vector<std::string>& pages, std::optional<int> status = std::nullopt) {
    http_.default_answer = test::ScriptedAnswer{status, "", 0};
    for (const std::string& page : pages)
      ctx_.List1.push_back(page.front() == '/' ? page : temp_ / page);
    CheckLinks(ctx_);
  }

  TempDir temp_;
  test::RecordingView view_;
  PosixDisk disk_;
  test::ScriptedHttpFactory http_;
  RunContext ctx_{view_, disk_, http_, temp_.path()};
};

// A million anchors on one line, each closed on the line: every one is checked, in order.
TEST_F(HostilePagesTest, MillionLinksOnOneLineAreAllCheckedInOrder) {
  constexpr size_t kLinks = test::kSanitized ? 100000 : 1000000;
  std::string line;
  line.reserve(kLinks * 32);
  for (size_t i = 0; i < kLinks; ++i)
    line += "<a href=\"http://h/" + std::to_string(i) + "\">" + std::to_string(i) + "</a> ";
  WriteFile(temp_ / "million.htm", line + "\r\n");

  CountingView view;
  InstantHttpFactory http(200);
  size_t out_of_order = 0;
  http.check = [&](size_t index, const std::string& url) {
    if (url != "http://h/" + std::to_string(index)) ++out_of_order;
  };
  RunContext ctx(view, disk_, http, temp_.path());
  ctx.Check2 = 0;  // answered links get no row: a million rows are not the point here
  ctx.List1 = {temp_ / "million.htm"};
  const auto start = std::chrono::steady_clock::now();
  CheckLinks(ctx);
  const double seconds = SecondsSince(start);

  EXPECT_EQ(http.requests, kLinks);
  EXPECT_EQ(out_of_order, 0u);
  EXPECT_EQ(ctx.results.Count(), 0u);
  EXPECT_EQ(view.label7, "0 件");
  EXPECT_EQ(view.messages, std::vector<std::string>{"Voxtrelが完了しました。    "});
  // The test program's own peak: under CTest this test runs in a process of its own.
  test::Record({"page: " + std::to_string(kLinks) + " closed links on one line (" +
                    std::to_string(line.size() >> 20) + " MiB)",
                std::to_string(http.requests) + " requests, 0 rows", seconds, "",
                test::SelfPeakRssKib()});
}

// Anchors left open on one long line: the text of each runs to the end of the line, and a line
// whose closing tag comes only at its end makes every link look for it. Neither may make the
// line's time or memory grow with the square of its length. Run in a child limited to 4 GiB of
// address space, so a fault ends that child instead of exhausting the machine.
TEST_F(HostilePagesTest, ManyOpenAnchorsOnOneLineCostLinearTimeAndMemory) {
  constexpr size_t kLinks = test::kSanitized ? 3000 : 200000;
  std::string open_line;
  std::string late_close_line;
  for (size_t i = 0; i < kLinks; ++i) {
    open_line += "<a href=\"http://h/" + std::to_string(i) + "\">text " + std::to_string(i) + " ";
    late_close_line +=
        "<a href=\"http://g/" + std::to_string(i) + "\">g " + std::to_string(i) + " ";
  }
  WriteFile(temp_ / "open.htm", open_line + "\r\n" + late_close_line + "</a>\r\n");
  const std::string last_late_name = "g " + std::to_string(kLinks - 1);

  double seconds = 0;
  auto body = [&]() -> int {
    CountingView view;
    InstantHttpFactory http(std::nullopt);
    RunContext ctx(view, disk_, http, temp_.path());
    ctx.Check2 = 0;
    ctx.List1 = {temp_ / "open.htm"};
    const auto start = std::chrono::steady_clock::now();
    CheckLinks(ctx);
    seconds = SecondsSince(start);
    if (ctx.results.Count() != 2 * kLinks) return 2;
    for (size_t i = 0; i < kLinks; ++i) {
      const std::string own = "text " + std::to_string(i);
      if (ctx.results.Row(i)[kColName].compare(0, own.size(), own) != 0) return 3;
      if (ctx.results.Row(kLinks + i)[kColName] != last_late_name) return 4;
    }
    if (ctx.results.Row(kLinks - 1)[kColName] != "text " + std::to_string(kLinks - 1)) return 5;
    std::printf("[figure] open anchors: %zu rows in %.2f s\n", ctx.results.Count(), seconds);
    return 0;
  };
  if (test::kSanitized) {
    // The sanitizers reserve terabytes of address space; the small line is checked in-process.
    EXPECT_EQ(body(), 0);
    return;
  }
  const auto start = std::chrono::steady_clock::now();
  test::ForkOutcome run = test::RunInChild(body, size_t{4} << 30, 50);
  seconds = SecondsSince(start);
  EXPECT_EQ(run.signal, 0) << "the check of the line ran out of memory or time";
  EXPECT_EQ(run.exit_status, 0);
  test::Record({"page: " + std::to_string(kLinks) + " open + " + std::to_string(kLinks) +
                    " late-closed anchors, 1 line each",
                run.exit_status == 0 ? "all rows, names as expected" : "FAILED", seconds, "",
                run.peak_rss_kib});
}

// A million "HREF=" without the double quote: no link, no request, and the run ends.
TEST_F(HostilePagesTest, MillionHrefFragmentsWithoutQuoteGiveNoLinks) {
  constexpr size_t kFragments = 1000000;
  std::string line;
  line.reserve(kFragments * 16);
  for (size_t i = 0; i < kFragments; ++i) line += "HREF=http://h/ ";
  line += "HREF=\"http://h/last\">last</A>";
  WriteFile(temp_ / "fragments.htm", line);

  CountingView view;
  InstantHttpFactory http(std::nullopt);
  RunContext ctx(view, disk_, http, temp_.path());
  ctx.List1 = {temp_ / "fragments.htm"};
  const auto start = std::chrono::steady_clock::now();
  CheckLinks(ctx);
  const double seconds = SecondsSince(start);

  EXPECT_EQ(http.requests, 1u);
  ASSERT_EQ(ctx.results.Count(), 1u);
  EXPECT_EQ(ctx.results.Row(0)[kColTarget], "http://h/last");
  EXPECT_EQ(ctx.results.Row(0)[kColName], "last");
  test::Record(
      {"page: 1,000,000 HREF= without quote", "1 request (the quoted one)", seconds, "", 0});
}

// Binary garbage named .htm: the links standing on lines of their own are found, nothing else.
TEST_F(HostilePagesTest, BinaryGarbageYieldsOnlyTheLinksItReallyHolds) {
  std::mt19937 random(20261206);
  std::string page;
  for (int block = 0; block < 64; ++block) {
    for (int k = 0; k < 16 * 1024; ++k) page += static_cast<char>(random() & 0xFF);
    page +=
        "\r<A HREF=\"http://h/" + std::to_string(block) + "\">b" + std::to_string(block) + "</A>\r";
  }
  WriteFile(temp_ / "garbage.htm", page);
  WriteFile(temp_ / "after.htm", "<A HREF=\"http://h/after\">after</A>\r\n");

  Run({"garbage.htm", "after.htm"});

  std::vector<std::string> expected;
  for (int block = 0; block < 64; ++block)
    expected.push_back("× http://h/" + std::to_string(block) + " [b" + std::to_string(block) +
                       "] garbage.htm");
  expected.push_back("× http://h/after [after] after.htm");
  EXPECT_EQ(RowTexts(ctx_.results), expected);
}

// Bytes that are no Shift_JIS: the broken character becomes U+FFFD, the link around it is kept.
// A lead byte whose pair is a real character takes the letter after it along (no link then).
TEST_F(HostilePagesTest, InvalidShiftJisKeepsTheLinksAroundIt) {
  struct Case {
    const char* name;
    std::string bytes;
    const char* target;  // "" when the line gives no link
    const char* link_name;
  };
  const std::vector<Case> cases = {
      {"unassigned pair before the attribute", "<A \x85HREF=\"http://h/1\">one</A>", "http://h/1",
       "one"},
      {"pair that is a character eats the H", "<A \x83HREF=\"http://h/x\">none</A>", "", ""},
      {"bytes no code holds", "\x80\xA0\xFD\xFE\xFF<A HREF=\"http://h/2\">two</A>", "http://h/2",
       "two"},
      {"broken pair in the link text", "<A HREF=\"http://h/3\">t\x81\x20x</A>", "http://h/3",
       "t\xEF\xBF\xBD x"},
      {"lead byte at the end of the line", "<A HREF=\"http://h/4\">four</A>\x82", "http://h/4",
       "four"},
      {"lead byte before the quote", "<A HREF=\"http://h/5\x81\">five</A>",
       "http://h/5\xEF\xBF\xBD", "five"},
  };
  std::string page;
  std::vector<std::string> expected;
  for (const Case& c : cases) {
    page += c.bytes + "\r\n";
    if (*c.target)
      expected.push_back(std::string("× ") + c.target + " [" + c.link_name + "] sjis.htm");
  }
  WriteFile(temp_ / "sjis.htm", page);

  Run({"sjis.htm"});

  EXPECT_EQ(RowTexts(ctx_.results), expected);
}

// An EUC-JP page that ends inside a two-byte character: converted up to there, the lone byte
// standing as its own character, and the next page is checked as usual.
TEST_F(HostilePagesTest, EucJpPageCutInsideAPairIsConvertedUpToTheCut) {
  // "亜" is B0 A1 in EUC-JP; the page stops after B0.
  WriteFile(temp_ / "euc.htm",
            "<META content=\"text/html; charset=EUC-JP\">\r\n"
            "<A HREF=\"http://h/euc\">\xA4\xA2\r\n"
            "<A HREF=\"http://h/cut\">\xB0");
  WriteFile(temp_ / "next.htm", "<A HREF=\"http://h/next\">next</A>\r\n");

  Run({"euc.htm", "next.htm"});

  EXPECT_EQ(RowTexts(ctx_.results),
            (std::vector<std::string>{"× http://h/euc [あ] euc.htm", "× http://h/cut [ｰ] euc.htm",
                                      "× http://h/next [next] next.htm"}));
}

// NUL bytes are characters like any other: they neither end a line nor hide the links after them.
TEST_F(HostilePagesTest, NulBytesNeitherEndTheLineNorHideLinks) {
  using namespace std::string_literals;
  WriteFile(temp_ / "nul.htm",
            "\0\0<A HREF=\"http://h/a\">a\0b</A>\0<A HREF=\"http://h/b\">b</A>\r\n"
            "\0\0\0\r\n<A HREF=\"http://h/c\">c</A>"s);

  Run({"nul.htm"});

  EXPECT_EQ(RowTexts(ctx_.results),
            (std::vector<std::string>{"× http://h/a [a\0b] nul.htm"s, "× http://h/b [b] nul.htm",
                                      "× http://h/c [c] nul.htm"}));
}

// A NUL or a line feed inside an address makes it an address no server can be asked for: the
// link is dead, never checked as the address before the NUL, never sent as two header lines.
// An address of many megabytes is dead too, not a crash.
TEST_F(HostilePagesTest, AddressesNoServerCanBeAskedForAreDead) {
  using namespace std::string_literals;
  test::FaultServer server;
  ASSERT_FALSE(server.Start().empty());
  const std::string alive = server.Url(test::Fault::kHealthy);
  const std::vector<std::string> targets = {alive + "\0/gone"s, alive + "\nX-Injected: 1"s,
                                            alive + "/" + std::string(9u << 20, 'a')};
  std::string page;
  for (const std::string& target : targets) page += "<A HREF=\"" + target + "\">t</A>\r\n";
  WriteFile(temp_ / "odd.htm", page);
  HttpOptions options;
  options.connect_timeout_ms = 1000;
  options.total_timeout_ms = 2000;
  CurlRequestFactory http(options);
  test::RecordingView view;
  RunContext ctx(view, disk_, http, temp_.path());
  ctx.List1 = {temp_ / "odd.htm"};

  CheckLinks(ctx);

  ASSERT_EQ(ctx.results.Count(), targets.size());
  for (size_t i = 0; i < targets.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(ctx.results.Row(i)[kColTarget], targets[i]);
    EXPECT_EQ(ctx.results.Row(i)[kColMark], kMarkFailed);
  }
}

// A page that turned into a fifo, or went away, after discovery: skipped without waiting, and no
// earlier page is scanned again under its name.
TEST_F(HostilePagesTest, FifoOrVanishedPageIsSkippedAndTheRunGoesOn) {
  WriteFile(temp_ / "a.htm", "<A HREF=\"http://h/a\">a</A>\r\n");
  ASSERT_EQ(mkfifo((temp_ / "fifo.htm").c_str(), 0644), 0);
  WriteFile(temp_ / "c.htm", "<A HREF=\"http://h/c\">c</A>\r\n");

  Run({"a.htm", "fifo.htm", "gone.htm", "c.htm"});

  EXPECT_EQ(RowTexts(ctx_.results),
            (std::vector<std::string>{"× http://h/a [a] a.htm", "× http://h/c [c] c.htm"}));
  EXPECT_EQ(view_.messages.size(), 1u);
}

// A page of 200 MB without a line end, its one link at the very end. The checker lists the link;
// its peak memory is a small multiple of that one line (the figure is printed).
TEST(HugeLineTest, CheckerReadsA200MbLineWithBoundedMemory) {
  if (test::kSanitized) GTEST_SKIP() << "memory figures mean nothing under the sanitizers";
  constexpr size_t kPageBytes = 200u << 20;
  TempDir temp;
  const std::string page = temp / "huge.htm";
  {
    std::ofstream out(page, std::ios::binary);
    const std::string filler(1 << 20, 'x');
    for (size_t written = 0; written < kPageBytes; written += filler.size()) out << filler;
    out << "<A HREF=\"http://127.0.0.1:9/end\">end</A>";
  }

  test::ChildOutcome run =
      test::RunChild(VOXTREL_CHECK_BINARY, {"-q", page}, {"VOXTREL_CHECK_TIMEOUT_MS=2000"}, 60);
  EXPECT_FALSE(run.killed_for_time);
  EXPECT_EQ(run.exit_status, 1) << run.err;
  EXPECT_EQ(Lines(run.out),
            std::vector<std::string>{"000001,×,http://127.0.0.1:9/end,end," + page});
  const double multiple = static_cast<double>(run.peak_rss_kib) * 1024.0 / kPageBytes;
  char outcome[64];
  std::snprintf(outcome, sizeof outcome, "× row; peak %.1f x the line", multiple);
  test::Record(
      {"page: 200 MB, no line end (voxtrel-check)", outcome, run.elapsed_s, "", run.peak_rss_kib});
  EXPECT_LT(multiple, 8.0);
}

}  // namespace
}  // namespace voxtrel
