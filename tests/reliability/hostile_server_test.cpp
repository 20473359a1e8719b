// Hostile servers: every link to a misbehaving server ends with its row, within the time-outs,
// and the checker's memory stays bounded whatever the body size.

#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/result_list.h"
#include "engine/run_context.h"
#include "platform/disk.h"
#include "platform/http.h"
#include "reliability/child_process.h"
#include "reliability/fault_server.h"
#include "reliability/figures.h"
#include "support/recording_view.h"
#include "support/temp_dir.h"
#include "web/web_check.h"

namespace voxtrel {
namespace {

using test::Fault;
using test::FaultServer;

constexpr long kConnectTimeoutMs = 1000;
constexpr long kTotalTimeoutMs = 2000;
constexpr const char* kTimeBound = "connect 1 s, total 2 s";
// Well under 100 MB whatever the body size: the body cap is 8 MiB.
constexpr long kCheckerRssLimitKib = 100 * 1000 * 1000 / 1024;

HttpOptions ShortTimeouts() {
  HttpOptions options;
  options.connect_timeout_ms = kConnectTimeoutMs;
  options.total_timeout_ms = kTotalTimeoutMs;
  return options;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct ServerCase {
  Fault fault;
  const char* mark;  // the row's mark
};

class HostileServerTest : public ::testing::TestWithParam<ServerCase> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(server_.Start().empty());
    if (GetParam().fault == Fault::kGzipBomb) server_.PrepareGzipBomb();
  }

  FaultServer server_;
  test::TempDir temp_;
};

TEST_P(HostileServerTest, CheckWebLinkAddsTheRowWithinTheTimeouts) {
  const ServerCase& c = GetParam();
  test::RecordingView view;
  PosixDisk disk;
  CurlRequestFactory http(ShortTimeouts());
  RunContext ctx(view, disk, http, temp_.path());
  ctx.Check2 = 1;
  ctx.RowNo = 0;
  ctx.LinkUrl = server_.Url(c.fault);
  ctx.LinkName = "link";
  const std::string page = temp_ / "page.htm";

  const auto start = std::chrono::steady_clock::now();
  CheckWebLink(ctx, page);
  const double seconds = SecondsSince(start);

  ASSERT_EQ(ctx.results.Count(), 1u);
  const ResultRow& row = ctx.results.Row(0);
  EXPECT_EQ(row[kColNo], "000001");
  EXPECT_EQ(row[kColMark], c.mark);
  EXPECT_EQ(row[kColTarget], server_.Url(c.fault));
  EXPECT_EQ(row[kColName], "link");
  EXPECT_EQ(row[kColFile], page);
  EXPECT_EQ(row[kColNo2], "000001");
  EXPECT_EQ(ctx.WebErrorFlag, 0);
  EXPECT_EQ(view.Caption(Control::kLabel7), "1 件");
  test::Record({std::string("server ") + FaultName(c.fault) + " (in-process)", row[kColMark],
                seconds, kTimeBound, 0});
}

TEST_P(HostileServerTest, CheckerListsTheLinkWithBoundedMemory) {
  const ServerCase& c = GetParam();
  const std::string page = temp_ / "page.htm";
  const std::string url = server_.Url(c.fault);
  std::ofstream(page, std::ios::binary) << "<A HREF=\"" << url << "\">link</A>\r\n";

  test::ChildOutcome run =
      test::RunChild(VOXTREL_CHECK_BINARY, {"-a", "-q", page},
                     {"VOXTREL_CHECK_TIMEOUT_MS=" + std::to_string(kTotalTimeoutMs)}, 30);

  EXPECT_FALSE(run.killed_for_time);
  const bool dead = std::string(c.mark) == kMarkFailed;
  EXPECT_EQ(run.exit_status, dead ? 1 : 0) << run.err;
  EXPECT_EQ(Lines(run.out), std::vector<std::string>{"000001," + std::string(c.mark) + "," + url +
                                                     ",link," + page});
  test::Record({std::string("server ") + FaultName(c.fault) + " (voxtrel-check)",
                std::string(c.mark) + " exit " + std::to_string(run.exit_status), run.elapsed_s,
                kTimeBound, run.peak_rss_kib});
  if (!test::kSanitized) {
    EXPECT_LT(run.peak_rss_kib, kCheckerRssLimitKib);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, HostileServerTest,
    ::testing::Values(ServerCase{Fault::kHealthy, kMarkOk}, ServerCase{Fault::kSilent, kMarkFailed},
                      ServerCase{Fault::kHeadersThenStall, kMarkFailed},
                      ServerCase{Fault::kTrickle, kMarkFailed},
                      ServerCase{Fault::kResetMidBody, kMarkFailed},
                      ServerCase{Fault::kRedirectLoop, kMarkFailed},
                      ServerCase{Fault::kRedirectToFtp, kMarkFailed},
                      ServerCase{Fault::kRedirectToFile, kMarkFailed},
                      ServerCase{Fault::kShortBodyThenClose, kMarkFailed},
                      ServerCase{Fault::kShortBodyThenStall, kMarkFailed},
                      ServerCase{Fault::kInvalidStatusLine, kMarkFailed},
                      ServerCase{Fault::kHeadCutOff, kMarkFailed},
                      // Answered: the status is 200 and the body is kept up to its cap.
                      ServerCase{Fault::kHugeBody, kMarkOk}, ServerCase{Fault::kGzipBomb, kMarkOk},
                      // The answer never ends, so the request runs into its total time-out.
                      ServerCase{Fault::kHoldOpenAfterBody, kMarkFailed},
                      ServerCase{Fault::kHoldOpenWithLength, kMarkOk},
                      ServerCase{Fault::kEndlessHeaders, kMarkFailed},
                      ServerCase{Fault::kEndlessInterim, kMarkFailed},
                      ServerCase{Fault::kBogusChunkSize, kMarkFailed}),
    [](const ::testing::TestParamInfo<ServerCase>& info) { return FaultName(info.param.fault); });

TEST(GzipOfZerosTest, InflatesToTheWholeSizeWithAValidTrailer) {
  const size_t size = size_t{5} << 20;
  const std::string gzip = test::GzipOfZeros(size);
  ASSERT_GT(gzip.size(), 18u);
  EXPECT_LT(gzip.size(), size / 500);
  z_stream zs{};
  ASSERT_EQ(inflateInit2(&zs, 15 + 16), Z_OK);
  std::vector<unsigned char> out(1 << 16);
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gzip.data()));
  zs.avail_in = static_cast<uInt>(gzip.size());
  size_t inflated = 0;
  bool only_zeros = true;
  int rc = Z_OK;
  while (rc == Z_OK) {
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    rc = inflate(&zs, Z_NO_FLUSH);
    size_t got = out.size() - zs.avail_out;
    for (size_t k = 0; k < got; ++k) only_zeros = only_zeros && out[k] == 0;
    inflated += got;
  }
  inflateEnd(&zs);
  // Z_STREAM_END only comes after the trailer's CRC and length were checked.
  EXPECT_EQ(rc, Z_STREAM_END);
  EXPECT_EQ(inflated, size);
  EXPECT_TRUE(only_zeros);
}

class HugeAnswerTest : public ::testing::TestWithParam<Fault> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(server_.Start().empty());
    if (GetParam() == Fault::kGzipBomb) server_.PrepareGzipBomb();
  }

  FaultServer server_;
  test::TempDir temp_;
};

TEST_P(HugeAnswerTest, BodyIsCutAtTheCapAndTheRestIsNeverRead) {
  CurlRequestFactory http(ShortTimeouts());
  std::unique_ptr<HttpRequest> request = http.Create(kPrimaryProgId);
  ASSERT_TRUE(request);
  ASSERT_TRUE(request->Open("GET", server_.Url(GetParam())));
  EXPECT_TRUE(request->Send(nullptr));
  EXPECT_EQ(request->Status(), 200);
  EXPECT_EQ(request->ResponseBody().size(), kBodyCap);
  request.reset();
  server_.Stop();
  // The client went away after the cap: the server got to send only a little of its gigabyte.
  if (GetParam() == Fault::kHugeBody) {
    EXPECT_LT(server_.huge_bytes_sent(), FaultServer::kHugeBodySize / 8);
  }
}

TEST_P(HugeAnswerTest, CheckerFetchingTheAnswerAsItsPageStaysSmall) {
  const std::string url = server_.Url(GetParam());
  test::ChildOutcome run =
      test::RunChild(VOXTREL_CHECK_BINARY, {"-q", url},
                     {"VOXTREL_CHECK_TIMEOUT_MS=" + std::to_string(kTotalTimeoutMs)}, 30);
  EXPECT_FALSE(run.killed_for_time);
  // The page is the first 8 MiB of the answer, without links: nothing to list.
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.out, "");
  test::Record({std::string("fetched page ") + FaultName(GetParam()) + " (voxtrel-check)",
                "exit " + std::to_string(run.exit_status), run.elapsed_s, kTimeBound,
                run.peak_rss_kib});
  if (!test::kSanitized) {
    EXPECT_LT(run.peak_rss_kib, kCheckerRssLimitKib);
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, HugeAnswerTest,
                         ::testing::Values(Fault::kHugeBody, Fault::kGzipBomb),
                         [](const ::testing::TestParamInfo<Fault>& info) {
                           return FaultName(info.param);
                         });

}  // namespace
}  // namespace voxtrel
