#include "run/outcome_cache.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <limits>
#include <string_view>
#include <system_error>

#include "platform/text.h"

namespace voxtrel {
namespace {

namespace fs = std::filesystem;

constexpr int kSchemaVersion = 1;
// Long enough for another checker's batch to go in, short enough that a stuck one does not
// hold a run up for long.
constexpr int kBusyTimeoutMs = 5000;
// Not an SQLite code: the file is a database, but not one of ours.
constexpr int kWrongSchema = -1;

// One row per address and settings: what asking it came to, and when.
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS outcomes(address TEXT NOT NULL, settings TEXT NOT NULL, "
    "kind INTEGER NOT NULL, reason INTEGER NOT NULL, status INTEGER, redirects INTEGER NOT NULL, "
    "elapsed_ms INTEGER NOT NULL, detail TEXT NOT NULL, redirected_to TEXT NOT NULL, "
    "tries INTEGER NOT NULL, suspect INTEGER NOT NULL, asked_at INTEGER NOT NULL, "
    "PRIMARY KEY(address, settings)) WITHOUT ROWID";
constexpr const char* kSelect =
    "SELECT kind, reason, status, redirects, elapsed_ms, detail, redirected_to, tries, suspect, "
    "asked_at FROM outcomes WHERE address = ?1 AND settings = ?2";
constexpr const char* kUpsert =
    "INSERT OR REPLACE INTO outcomes(address, settings, kind, reason, status, redirects, "
    "elapsed_ms, detail, redirected_to, tries, suspect, asked_at) "
    "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)";

int64_t SystemNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// FNV-1a: short, and the same in every build, which std::hash is not.
std::string Fingerprint(const std::string& text) {
  uint64_t hash = 14695981039346656037ull;
  for (const unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return hex;
}

bool IsDamage(int code) {
  const int primary = code & 0xff;
  return code == kWrongSchema || primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

int64_t IntOf(sqlite3* db, const char* sql, int* code) {
  sqlite3_stmt* statement = nullptr;
  int64_t value = 0;
  *code = sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
  if (*code == SQLITE_OK) {
    *code = sqlite3_step(statement);
    if (*code == SQLITE_ROW) value = sqlite3_column_int64(statement, 0);
    *code = *code == SQLITE_ROW || *code == SQLITE_DONE ? SQLITE_OK : *code;
  }
  sqlite3_finalize(statement);
  return value;
}

// Statements that cannot be prepared on our table mean another schema.
int Prepares(sqlite3* db, const char* sql) {
  sqlite3_stmt* statement = nullptr;
  const int code = sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
  sqlite3_finalize(statement);
  return code == SQLITE_OK ? SQLITE_OK : (code & 0xff) == SQLITE_ERROR ? kWrongSchema : code;
}

// Makes the file ours, or finds it is: WAL so readers never wait for a writer, and only our
// table in it (another program's database is not written into).
int SetUp(sqlite3* db) {
  int code = sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  // A cache may lose its last batch in a power cut; it must not cost an fsync per batch.
  if (code == SQLITE_OK)
    code = sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
  const int64_t version = code == SQLITE_OK ? IntOf(db, "PRAGMA user_version", &code) : 0;
  const int64_t others = code == SQLITE_OK
                             ? IntOf(db,
                                     "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
                                     "name <> 'outcomes'",
                                     &code)
                             : 0;
  if (code != SQLITE_OK) return code;
  if ((version != 0 && version != kSchemaVersion) || others > 0) return kWrongSchema;
  if (version == 0) {
    code = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
    if (code == SQLITE_OK)
      code = sqlite3_exec(db, ("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str(),
                          nullptr, nullptr, nullptr);
  }
  if (code == SQLITE_OK) code = Prepares(db, kSelect);
  return code == SQLITE_OK ? Prepares(db, kUpsert) : code;
}

enum class Opened { kOk, kDamaged, kFailed };

Opened TryOpen(const std::string& path, sqlite3** db, std::string* why) {
  int code = sqlite3_open_v2(path.c_str(), db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (code == SQLITE_OK) {
    sqlite3_busy_timeout(*db, kBusyTimeoutMs);
    code = SetUp(*db);
  }
  if (code == SQLITE_OK) return Opened::kOk;
  *why = code == kWrongSchema ? "not a cache of outcomes"
         : *db                ? sqlite3_errmsg(*db)
                              : sqlite3_errstr(code);
  sqlite3_close(*db);
  *db = nullptr;
  return IsDamage(code) ? Opened::kDamaged : Opened::kFailed;
}

// Moves a damaged file out of the way; its new name, or "" with *why.
std::string SetAside(const std::string& path, int64_t now, std::string* why) {
  const std::string aside =
      path + ".damaged-" + LocalTimeText(static_cast<std::time_t>(now), "%Y%m%d-%H%M%S");
  std::error_code ec;
  fs::rename(path, aside, ec);
  if (ec) {
    *why = ec.message();
    return "";
  }
  // Its journal belongs to it and would be read into the fresh file.
  for (const char* suffix : {"-wal", "-shm"}) fs::remove(path + suffix, ec);
  return aside;
}

void BindText(sqlite3_stmt* statement, int n, const std::string& text) {
  sqlite3_bind_text(statement, n, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

std::string TextOf(sqlite3_stmt* statement, int column) {
  const unsigned char* text = sqlite3_column_text(statement, column);
  return text ? std::string(reinterpret_cast<const char*>(text),
                            static_cast<size_t>(sqlite3_column_bytes(statement, column)))
              : std::string();
}

// Kinds, reasons and suspicions as numbers, read back only when they name one.
template <typename Enum>
Enum EnumOf(int64_t value, Enum last) {
  return value >= 0 && value <= static_cast<int64_t>(last) ? static_cast<Enum>(value) : Enum{};
}

}  // namespace

std::string DefaultCachePath(const char* xdg_cache_home, const char* home) {
  if (xdg_cache_home && *xdg_cache_home)
    return std::string(xdg_cache_home) + "/voxtrel/cache.sqlite";
  if (home && *home) return std::string(home) + "/.cache/voxtrel/cache.sqlite";
  return "";
}

bool ParseCacheAge(const std::string& text, int64_t* seconds) {
  size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  if (digits == 0 || digits > 18 || text.size() > digits + 1) return false;
  static constexpr std::string_view kUnits = "smhd";
  static constexpr int64_t kUnitSeconds[] = {1, 60, 60 * 60, 24 * 60 * 60};
  int64_t unit = 1;
  if (digits < text.size()) {
    const size_t which = kUnits.find(text[digits]);
    if (which == std::string_view::npos) return false;
    unit = kUnitSeconds[which];
  }
  const int64_t count = std::stoll(text.substr(0, digits));
  if (count > std::numeric_limits<int64_t>::max() / unit) return false;
  *seconds = count * unit;
  return true;
}

std::string VerdictSettingsOf(const RunSettings& settings) {
  std::string text = "https=" + std::to_string(settings.https) +
                     ";keep_query=" + std::to_string(settings.keep_query) + ";accept=";
  for (const auto& [low, high] : settings.accept)
    text += std::to_string(low) + "-" + std::to_string(high) + ",";
  return text + ";suspect=" + std::to_string(settings.suspect.rules != nullptr);
}

SqliteOutcomeCache::SqliteOutcomeCache(const OutcomeCacheOptions& options, sqlite3* db)
    : options_(options), fingerprint_(Fingerprint(options.settings)), db_(db) {
  if (!options_.now) options_.now = SystemNow;
  if (options_.batch == 0) options_.batch = 1;
  int code = sqlite3_prepare_v2(db_, kSelect, -1, &select_, nullptr);
  if (code == SQLITE_OK) code = sqlite3_prepare_v2(db_, kUpsert, -1, &upsert_, nullptr);
  if (code != SQLITE_OK) Fail(code);
}

SqliteOutcomeCache::~SqliteOutcomeCache() {
  Flush();
  Close();
}

void SqliteOutcomeCache::Close() {
  sqlite3_finalize(select_);
  sqlite3_finalize(upsert_);
  select_ = upsert_ = nullptr;
  sqlite3_close(db_);
  db_ = nullptr;
}

void SqliteOutcomeCache::Fail(int code) {
  failure_ = code == kWrongSchema ? "not a cache of outcomes" : sqlite3_errstr(code);
  Close();
  unwritten_.clear();
  // The next run starts on a fresh file instead of meeting the same damage.
  if (!IsDamage(code)) return;
  std::string why;
  const std::string aside = SetAside(options_.path, options_.now(), &why);
  failure_ += aside.empty() ? "; cannot set it aside: " + why : "; set aside as " + aside;
}

std::optional<CheckOutcome> SqliteOutcomeCache::FreshOf(const Kept& kept) const {
  const int64_t age = options_.now() - kept.asked_at;
  if (kept.outcome.kind != CheckOutcome::Kind::kAnswered || age < 0 || age >= options_.max_age_s)
    return std::nullopt;
  CheckOutcome outcome = kept.outcome;
  // No request was made for it this time.
  outcome.elapsed_ms = 0;
  outcome.tries = 1;
  return outcome;
}

std::optional<CheckOutcome> SqliteOutcomeCache::Fresh(const std::string& address) {
  if (options_.max_age_s <= 0) return std::nullopt;
  if (auto unwritten = unwritten_.find(address); unwritten != unwritten_.end())
    return FreshOf(unwritten->second);
  if (!db_) return std::nullopt;
  sqlite3_reset(select_);
  BindText(select_, 1, address);
  BindText(select_, 2, fingerprint_);
  const int code = sqlite3_step(select_);
  if (code != SQLITE_ROW) {
    if (code != SQLITE_DONE && (code & 0xff) != SQLITE_BUSY) Fail(code);
    return std::nullopt;
  }
  Kept kept;
  CheckOutcome& outcome = kept.outcome;
  outcome.kind = EnumOf(sqlite3_column_int64(select_, 0), CheckOutcome::Kind::kSuspect);
  outcome.reason = EnumOf(sqlite3_column_int64(select_, 1), kLastFailureReason);
  if (sqlite3_column_type(select_, 2) != SQLITE_NULL)
    outcome.status = sqlite3_column_int(select_, 2);
  outcome.redirects = sqlite3_column_int(select_, 3);
  outcome.elapsed_ms = sqlite3_column_int64(select_, 4);
  outcome.detail = TextOf(select_, 5);
  outcome.redirected_to = TextOf(select_, 6);
  outcome.tries = sqlite3_column_int(select_, 7);
  outcome.suspect = EnumOf(sqlite3_column_int64(select_, 8), kLastSuspectKind);
  kept.asked_at = sqlite3_column_int64(select_, 9);
  sqlite3_reset(select_);
  return FreshOf(kept);
}

void SqliteOutcomeCache::Keep(const std::string& address, const CheckOutcome& outcome) {
  if (!db_) return;
  unwritten_[address] = Kept{outcome, options_.now()};
  if (unwritten_.size() >= options_.batch) Flush();
}

int SqliteOutcomeCache::Write(const std::string& address, const Kept& kept) {
  const CheckOutcome& outcome = kept.outcome;
  sqlite3_reset(upsert_);
  BindText(upsert_, 1, address);
  BindText(upsert_, 2, fingerprint_);
  sqlite3_bind_int(upsert_, 3, static_cast<int>(outcome.kind));
  sqlite3_bind_int(upsert_, 4, static_cast<int>(outcome.reason));
  if (outcome.status)
    sqlite3_bind_int(upsert_, 5, *outcome.status);
  else
    sqlite3_bind_null(upsert_, 5);
  sqlite3_bind_int(upsert_, 6, outcome.redirects);
  sqlite3_bind_int64(upsert_, 7, outcome.elapsed_ms);
  BindText(upsert_, 8, outcome.detail);
  BindText(upsert_, 9, outcome.redirected_to);
  sqlite3_bind_int(upsert_, 10, outcome.tries);
  sqlite3_bind_int(upsert_, 11, static_cast<int>(outcome.suspect));
  sqlite3_bind_int64(upsert_, 12, kept.asked_at);
  const int code = sqlite3_step(upsert_);
  sqlite3_reset(upsert_);
  return code == SQLITE_DONE ? SQLITE_OK : code;
}

bool SqliteOutcomeCache::Flush() {
  if (!db_) return false;
  if (unwritten_.empty()) return true;
  // One transaction, one sync, for the whole batch; IMMEDIATE takes the write lock up front so
  // a busy file is waited for here, not found half-way.
  int code = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  // Another checker still writing after the time-out: the batch waits for the next turn.
  if ((code & 0xff) == SQLITE_BUSY) return false;
  for (auto kept = unwritten_.begin(); code == SQLITE_OK && kept != unwritten_.end(); ++kept)
    code = Write(kept->first, kept->second);
  if (code == SQLITE_OK) code = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  if (code != SQLITE_OK) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    Fail(code);
    return false;
  }
  unwritten_.clear();
  return true;
}

CacheOpening OpenOutcomeCache(const OutcomeCacheOptions& options) {
  CacheOpening opening;
  std::error_code ec;
  const fs::path folder = fs::path(options.path).parent_path();
  if (!folder.empty()) fs::create_directories(folder, ec);
  if (ec) {
    opening.why = ec.message();
    return opening;
  }
  sqlite3* db = nullptr;
  Opened opened = TryOpen(options.path, &db, &opening.why);
  if (opened == Opened::kDamaged) {
    opening.damage = opening.why;
    opening.set_aside =
        SetAside(options.path, options.now ? options.now() : SystemNow(), &opening.why);
    if (opening.set_aside.empty()) return opening;
    opened = TryOpen(options.path, &db, &opening.why);
  }
  if (opened != Opened::kOk) return opening;
  opening.why.clear();
  opening.cache = std::make_shared<SqliteOutcomeCache>(options, db);
  return opening;
}

}  // namespace voxtrel
