#include "run/outcome_cache.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>

#include "run/run.h"
#include "support/fake_run.h"
#include "support/temp_dir.h"

namespace voxtrel {
namespace {

class OutcomeCacheTest : public test::FakeRunTest {
 protected:
  OutcomeCacheTest() {
    pool_.script = [](const std::string& url, int) {
      return test::FakeAnswer{.status = url.ends_with("/missing") ? 404 : 200};
    };
  }
  CacheOpening Open(const std::string& path, int64_t max_age_s = 3600) {
    OutcomeCacheOptions options;
    options.path = path;
    options.max_age_s = max_age_s;
    options.now = [this] { return now_; };
    return OpenOutcomeCache(options);
  }
  std::string RunMarks() {
    results_.Clear();
    summary_ = RunFolder(seams_, settings_, "/site", false);
    std::string marks;
    for (const ResultRow& row : results_.Rows()) marks += MarkOf(row.outcome);
    return marks;
  }

  test::TempDir temp_;
  int64_t now_ = 1'800'000'000;
  RunSummary summary_;
};

TEST_F(OutcomeCacheTest, OnlyAYoungAnswerIsTakenUnasked) {
  const struct {
    const char* path;
    int64_t later_s;
    int64_t max_age_s;
    int asked;  // in both runs
  } cases[] = {
      {"/ok", 60, 3600, 1},       // kept, then taken without a request
      {"/missing", 60, 3600, 2},  // a × is always asked again
      {"/ok", 3600, 3600, 2},     // as old as the age allowed
      {"/ok", 0, 0, 2},           // age 0 asks every address
  };
  for (const auto& c : cases) {
    const std::string url = std::string("http://a.jp") + c.path;
    SCOPED_TRACE(url + " " + std::to_string(c.later_s));
    disk_.AddFile("/site/a.htm", "<A HREF=\"" + url + "\">1</A>\r\n");
    // A folder of its own for each, made as the file is.
    const std::string file = temp_ / (std::to_string(&c - cases) + "/v/cache.sqlite");
    pool_.asked.clear();
    settings_.cache = Open(file, c.max_age_s).cache;
    ASSERT_TRUE(settings_.cache);
    const std::string first = RunMarks();
    settings_.cache = nullptr;  // closed, so written
    now_ += c.later_s;
    settings_.cache = Open(file, c.max_age_s).cache;
    EXPECT_EQ(RunMarks(), first);
    EXPECT_EQ(pool_.asked[url], c.asked);
    EXPECT_EQ(summary_.from_cache, static_cast<size_t>(2 - c.asked));
  }
}

TEST_F(OutcomeCacheTest, TwoCachesOnOneFileAgree) {
  const std::string file = temp_ / "cache.sqlite";
  const std::shared_ptr<SqliteOutcomeCache> caches[] = {Open(file).cache, Open(file).cache};
  ASSERT_TRUE(caches[0] && caches[1]);
  CheckOutcome ok, dead;
  ok.kind = CheckOutcome::Kind::kAnswered;
  ok.redirected_to = "http://b/";
  dead.reason = FailureReason::kHttpStatus;
  for (int i = 0; i < 12; ++i) {
    SCOPED_TRACE(i);
    SqliteOutcomeCache& writer = *caches[i % 2];
    SqliteOutcomeCache& reader = *caches[1 - i % 2];
    const std::string url = "http://a.jp/" + std::to_string(i % 4);
    // Each address turns from ◎ to × and back: the last word holds for both.
    writer.Keep(url, i % 3 ? ok : dead);
    EXPECT_EQ(writer.Fresh(url).has_value(), i % 3 != 0);
    ASSERT_TRUE(writer.Flush());
    const std::optional<CheckOutcome> seen = reader.Fresh(url);
    ASSERT_EQ(seen.has_value(), i % 3 != 0);
    EXPECT_EQ(seen.value_or(dead).redirected_to, seen ? "http://b/" : "");
  }
  EXPECT_EQ(caches[0]->failure() + caches[1]->failure(), "");
}

TEST_F(OutcomeCacheTest, ADamagedFileIsSetAsideAndTheRunGoesOn) {
  disk_.AddFile("/site/a.htm", "<A HREF=\"http://a.jp/ok\">1</A>\r\n");
  const std::string file = temp_ / "cache.sqlite";
  const struct {
    std::string bytes;
    const char* sql;  // run on the file instead
    const char* damage;
  } cases[] = {
      {std::string(5000, 'x'), nullptr, "file is not a database"},
      {"", "CREATE TABLE outcomes(address TEXT)", "not a cache of outcomes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.damage);
    std::filesystem::remove(file);
    std::ofstream(file) << c.bytes;
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(c.sql ? sqlite3_exec(db, c.sql, nullptr, nullptr, nullptr) : SQLITE_OK, SQLITE_OK);
    sqlite3_close(db);
    const CacheOpening opening = Open(file);
    EXPECT_EQ(opening.damage, c.damage);
    EXPECT_TRUE(opening.set_aside.starts_with(file + ".damaged-")) << opening.set_aside;
    EXPECT_TRUE(std::filesystem::exists(opening.set_aside));
    std::filesystem::remove(opening.set_aside);
    settings_.cache = opening.cache;
    ASSERT_TRUE(settings_.cache);
    EXPECT_EQ(RunMarks(), "◎");
  }
  // No file to be had: the run goes on without one.
  const CacheOpening none = Open(temp_ / "cache.sqlite/under/a/file");
  EXPECT_FALSE(none.cache);
  EXPECT_NE(none.why, "");
}

}  // namespace
}  // namespace voxtrel
