#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "engine/request_queue.h"
#include "engine/run_settings.h"
#include "platform/disk.h"
#include "web/link.h"

namespace voxtrel {

/// The most bytes of an archive's answer read: its answers are a few hundred bytes.
inline constexpr size_t kArchiveAnswerCap = size_t{64} << 10;

/// Whether a row with `outcome` has its copy looked up: × and ？, not Ｐ.
bool WantsArchivedCopy(const CheckOutcome& outcome);

/// What the availability API is asked: `api`, then "?url=" and `address` percent-encoded as a
/// query value, then "&timestamp=" and `date` (YYYYMMDD) when it is not empty.
std::string ArchiveQueryOf(const std::string& api, std::string_view address,
                           const std::string& date);

/// The archived copy an availability API's answer names (its closest snapshot, when that is
/// available with a 2xx status); "" for no copy, an empty or odd answer.
std::string ArchivedCopyOf(std::string_view answer);

/// A file's modification time (FileFacts::modified) as the archive's date, "YYYYMMDD" in UTC.
std::string ArchiveDateOf(int64_t modified_ns);

/// Looks up the archived copies of dead links through the run's queue, under its limits: one
/// request per distinct address per run, later lookups of it taking the first one's result.
class ArchiveLookup {
 public:
  /// `disk` tells when the local pages were last written.
  ArchiveLookup(const ArchiveSettings& settings, RequestQueue& queue, DiskInterface& disk);
  ~ArchiveLookup();  // drops its requests still out; results not yet given are never given
  ArchiveLookup(const ArchiveLookup&) = delete;
  ArchiveLookup& operator=(const ArchiveLookup&) = delete;

  using Found = std::function<void(const std::string& archived)>;
  /// Looks `address`, found on `page`, up. Its first lookup asks for the copy closest to when
  /// that page was written, for a local page: the link still worked then; the newest for a page
  /// on the web. `done` gets the copy's address ("" for none) at once when it is known, else
  /// from inside a later Pump.
  void LookUp(const std::string& address, const std::string& page, Found done);

  /// Requests asked so far.
  size_t lookups() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace voxtrel
