#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "engine/run_settings.h"

struct sqlite3;
struct sqlite3_stmt;

namespace voxtrel {

/// How long a kept ◎ is trusted unless asked otherwise: a day.
inline constexpr int64_t kDefaultCacheAgeS = 24 * 60 * 60;

/// Where the cache lives unless the user names a file: $XDG_CACHE_HOME/voxtrel/cache.sqlite,
/// else ~/.cache/voxtrel/cache.sqlite (either may be null or empty); "" when neither is set.
std::string DefaultCachePath(const char* xdg_cache_home, const char* home);

/// A duration as "1d", "12h", "30m", "90s" or plain seconds ("0") into *seconds; false for
/// anything else (a sign, a fraction, an unknown unit, an overflow).
bool ParseCacheAge(const std::string& text, int64_t* seconds);

/// What in a run's settings decides what an outcome means (which links are asked and how, which
/// statuses count, whether answers are judged), as text for OutcomeCacheOptions::settings.
std::string VerdictSettingsOf(const RunSettings& settings);

struct OutcomeCacheOptions {
  std::string path;
  /// A ◎ older than this many seconds is asked again; 0: every address is asked.
  int64_t max_age_s = kDefaultCacheAgeS;
  /// Whatever decides an outcome's meaning: what was kept under other settings is never taken.
  std::string settings;
  /// The time in seconds since the epoch; null: the system's clock.
  std::function<int64_t()> now;
  /// Outcomes kept in memory before they are written in one transaction.
  size_t batch = 256;
};

/// Outcomes kept in an SQLite file that several runs, at once too, share by SQLite's locking.
/// Every outcome is kept (a later × replaces an earlier ◎); only ◎ comes back. A failure while
/// in use turns the cache off for the rest of the run; it never stops the run.
class SqliteOutcomeCache : public OutcomeCache {
 public:
  SqliteOutcomeCache(const OutcomeCacheOptions& options, sqlite3* db);
  ~SqliteOutcomeCache() override;  // writes what is still in memory
  SqliteOutcomeCache(const SqliteOutcomeCache&) = delete;
  SqliteOutcomeCache& operator=(const SqliteOutcomeCache&) = delete;

  std::optional<CheckOutcome> Fresh(const std::string& address) override;
  void Keep(const std::string& address, const CheckOutcome& outcome) override;
  /// Writes the outcomes kept in memory; false when the file refused them.
  bool Flush();
  /// Why the cache stopped working during the run; "" while it works.
  const std::string& failure() const { return failure_; }

 private:
  struct Kept {
    CheckOutcome outcome;
    int64_t asked_at = 0;
  };
  std::optional<CheckOutcome> FreshOf(const Kept& kept) const;
  /// An SQLite code; SQLITE_OK (0) when written.
  int Write(const std::string& address, const Kept& kept);
  /// Stops using the file after `code`; a damaged file is set aside.
  void Fail(int code);
  void Close();

  OutcomeCacheOptions options_;
  std::string fingerprint_;
  sqlite3* db_;
  sqlite3_stmt* select_ = nullptr;
  sqlite3_stmt* upsert_ = nullptr;
  /// Kept and not written yet, by address: a later occurrence in the run finds it here.
  std::map<std::string, Kept> unwritten_;
  std::string failure_;
};

/// What opening a cache came to.
struct CacheOpening {
  /// Null: the run goes on without a cache (`why` says why).
  std::shared_ptr<SqliteOutcomeCache> cache;
  /// Where a damaged file was moved before a fresh one was made; "" when none was.
  std::string set_aside;
  /// What was wrong with the file set aside.
  std::string damage;
  /// Why there is no cache.
  std::string why;
};

/// Opens the cache at options.path, making it and its folders when missing. A file that is not
/// such a cache (garbage, another schema, corrupt) is set aside as "PATH.damaged-YYYYMMDD-HHMMSS"
/// and a fresh one made.
CacheOpening OpenOutcomeCache(const OutcomeCacheOptions& options);

}  // namespace voxtrel
