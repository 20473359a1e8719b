#include "engine/archive_lookup.h"

#include <ctime>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

#include "web/json.h"

namespace voxtrel {
namespace {

const std::string* TextField(const JsonValue& value, const char* key) {
  const JsonValue* field = JsonField(value, key);
  return field ? std::get_if<std::string>(&field->value) : nullptr;
}

// What is known of one address: its copy once the answer came, and who waits for it meanwhile.
struct Copy {
  bool known = false;
  std::string archived;
  std::vector<ArchiveLookup::Found> waiting;
};

}  // namespace

bool WantsArchivedCopy(const CheckOutcome& outcome) {
  return outcome.kind == CheckOutcome::Kind::kFailed ||
         outcome.kind == CheckOutcome::Kind::kSuspect;
}

std::string ArchiveQueryOf(const std::string& api, std::string_view address,
                           const std::string& date) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string query = api + "?url=";
  for (char c : address) {
    const auto u = static_cast<unsigned char>(c);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~')
      query += c;
    else
      query += {'%', kHex[u >> 4], kHex[u & 15]};
  }
  if (!date.empty()) query += "&timestamp=" + date;
  return query;
}

std::string ArchivedCopyOf(std::string_view answer) {
  JsonValue value;
  std::string why;
  // An answer that is no JSON, or not of the expected shape, says nothing of a copy.
  if (!ParseJson(answer, &value, &why)) return "";
  const JsonValue* snapshots = JsonField(value, "archived_snapshots");
  const JsonValue* closest = snapshots ? JsonField(*snapshots, "closest") : nullptr;
  if (!closest) return "";
  const JsonValue* available = JsonField(*closest, "available");
  const auto* yes = available ? std::get_if<bool>(&available->value) : nullptr;
  const std::string* status = TextField(*closest, "status");
  const std::string* url = TextField(*closest, "url");
  if (!yes || !*yes || !status || status->size() != 3 || (*status)[0] != '2' || !url ||
      !IsWebAddress(*url))
    return "";
  return *url;
}

std::string ArchiveDateOf(int64_t modified_ns) {
  const std::time_t seconds = static_cast<std::time_t>(modified_ns / 1000000000);
  std::tm utc{};
  char date[16];
  if (!gmtime_r(&seconds, &utc) || std::strftime(date, sizeof date, "%Y%m%d", &utc) != 8) return "";
  return date;
}

struct ArchiveLookup::State {
  State(const ArchiveSettings& settings, RequestQueue& queue, DiskInterface& disk)
      : api(settings.api), queue(queue), disk(disk) {}

  const std::string api;
  RequestQueue& queue;
  DiskInterface& disk;
  size_t lookups = 0;
  std::set<Ticket> out;
  std::unordered_map<std::string, Copy> copies;  // nodes stay put as the map grows
  // The last local page asked about and its date: a page's links come one after another.
  std::string dated_page;
  std::string page_date;

  std::string DateOf(const std::string& page) {
    if (IsWebAddress(page)) return "";
    if (page != dated_page) {
      FileFacts facts;
      std::string why;
      // A page that cannot be looked at any more leaves the newest copy to be asked for.
      page_date = disk.FactsOf(page, &facts, &why) ? ArchiveDateOf(facts.modified) : "";
      dated_page = page;
    }
    return page_date;
  }

  void Ask(const std::string& address, const std::string& page) {
    QueueAsk ask;
    ask.url = ArchiveQueryOf(api, address, DateOf(page));
    ask.keep_body = true;
    ask.body_cap = kArchiveAnswerCap;
    ask.keep_cap = kArchiveAnswerCap;
    ++lookups;
    const Ticket ticket =
        queue.Ask(std::move(ask), [this, address](Ticket ticket, QueueAnswer& answer) {
          out.erase(ticket);
          const HttpAnswer& http = answer.answer;
          const bool read = !answer.no_request && http.failure == HttpFailure::kNone &&
                            http.status && *http.status / 100 == 2 && !http.body_cut;
          Give(copies[address], read ? ArchivedCopyOf(http.body) : "");
        });
    out.insert(ticket);
  }

  static void Give(Copy& copy, std::string archived) {
    copy.known = true;
    copy.archived = std::move(archived);
    std::vector<Found> waiting;
    waiting.swap(copy.waiting);
    for (Found& done : waiting) done(copy.archived);
  }
};

ArchiveLookup::ArchiveLookup(const ArchiveSettings& settings, RequestQueue& queue,
                             DiskInterface& disk)
    : state_(std::make_unique<State>(settings, queue, disk)) {}

ArchiveLookup::~ArchiveLookup() {
  for (Ticket ticket : state_->out) state_->queue.Drop(ticket);
}

void ArchiveLookup::LookUp(const std::string& address, const std::string& page, Found done) {
  Copy& copy = state_->copies[address];
  if (copy.known) return done(copy.archived);
  const bool first = copy.waiting.empty();
  copy.waiting.push_back(std::move(done));
  if (first) state_->Ask(address, page);
}

size_t ArchiveLookup::lookups() const { return state_->lookups; }

}  // namespace voxtrel
