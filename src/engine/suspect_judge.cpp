#include "engine/suspect_judge.h"

#include <algorithm>
#include <random>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/text.h"
#include "web/answer_facts.h"
#include "web/page.h"
#include "web/suspect_rules.h"

namespace voxtrel {
namespace {

// What a key's answer came to, kept so that a later answer taken from the cache (without its
// body) comes to the same.
struct KeyVerdict {
  bool given = false;
  bool judging = false;  // an answer of the key waits for its folder's probe
  CheckOutcome outcome;
  bool page = false;                           // a 2xx HTML page whose body was read
  bool anchors_known = false;                  // its anchors were read, the whole page
  std::vector<std::string> anchors;            // sorted
  std::vector<std::function<void()>> waiting;  // cached answers of the key before the verdict
};

// What a folder's probe said.
struct Folder {
  enum class State { kNew, kAsked, kHonest, kAnswered, kUnknown };
  State state = State::kNew;
  AnswerFacts probe;  // with kAnswered: the made-up address's page
  std::vector<std::function<void()>> waiting;
};

bool IsBotWallStatus(int status) {
  return status == 403 || status == 429 || status == 503 || status == 999;
}

bool Answered(const CheckOutcome& outcome) {
  return outcome.kind == CheckOutcome::Kind::kAnswered ||
         outcome.kind == CheckOutcome::Kind::kRefresh;
}

CheckOutcome Suspect(CheckOutcome outcome, SuspectKind kind) {
  outcome.kind = CheckOutcome::Kind::kSuspect;
  outcome.suspect = kind;
  return outcome;
}

uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

}  // namespace

struct SuspectJudge::State {
  State(const SuspectSettings& settings, RequestQueue& queue, bool anchors,
        std::function<bool(const std::string&)> may_probe)
      : rules(*settings.rules),
        today(settings.today),
        queue(queue),
        anchors(anchors),
        may_probe(std::move(may_probe)),
        seed(std::random_device{}()) {}

  const SuspectRules& rules;
  const std::string today;
  RequestQueue& queue;
  const bool anchors;
  const std::function<bool(const std::string&)> may_probe;
  uint64_t seed;
  size_t probes = 0;
  std::set<Ticket> probes_out;
  std::unordered_map<std::string, KeyVerdict> keys;  // nodes stay put as the map grows
  std::unordered_map<std::string, Folder> folders;

  bool WantsAnchors(const FoundLink& link) const { return anchors && !link.anchor.empty(); }

  // A name no page has: random letters and digits, so no server can know it beforehand.
  std::string RandomName() {
    uint64_t bits = Mix(seed += 0x9E3779B97F4A7C15ULL);
    std::string name;
    for (int i = 0; i < 12; ++i, bits /= 36)
      name += "abcdefghijklmnopqrstuvwxyz0123456789"[bits % 36];
    return name;
  }

  // The verdict for a link's outcome once its key's verdict is known: the anchor test is the
  // link's own.
  CheckOutcome ForLink(const FoundLink& link, const KeyVerdict& key, CheckOutcome outcome) const {
    outcome.kind = key.outcome.kind;
    outcome.suspect = key.outcome.suspect;
    outcome.detail = key.outcome.detail;
    outcome.redirected_to = key.outcome.redirected_to;
    // A page read only in part cannot tell, nor one whose anchors were not read; "top" is
    // always there, as a browser goes to the top for it.
    if (outcome.kind != CheckOutcome::Kind::kAnswered || !WantsAnchors(link) || !key.page ||
        !key.anchors_known || AsciiUpper(link.anchor) == "TOP" ||
        std::binary_search(key.anchors.begin(), key.anchors.end(), link.anchor))
      return outcome;
    return Suspect(std::move(outcome), SuspectKind::kMissingAnchor);
  }

  // Settles the key's verdict: the link at hand, then every cached answer waiting for it.
  void Give(KeyVerdict& verdict, CheckOutcome judged, std::function<void()> give) {
    verdict.given = true;
    verdict.judging = false;
    verdict.outcome = std::move(judged);
    give();
    std::vector<std::function<void()>> waiting;
    waiting.swap(verdict.waiting);
    for (auto& go : waiting) go();
  }

  // The verdicts that need no probe; nothing when the soft 404 test is to come.
  std::optional<CheckOutcome> Plain(const std::string& asked, const HttpAnswer& http,
                                    const AnswerFacts& facts, CheckOutcome outcome) const;
  void Judge(const FoundLink& link, const std::string& key, const std::string& asked,
             const QueueAnswer& answer, CheckOutcome outcome, Verdict done);
  void SoftTest(KeyVerdict& verdict, AnswerFacts facts, CheckOutcome outcome,
                std::function<void()> give);
  void AskProbe(const std::string& folder_key, const std::string& url);
  void ProbeAnswered(const std::string& folder_key, const std::string& url, Ticket ticket,
                     const QueueAnswer& answer);
  CheckOutcome Conclude(const Folder& folder, const AnswerFacts& facts, CheckOutcome outcome) const;
};

std::optional<CheckOutcome> SuspectJudge::State::Plain(const std::string& asked,
                                                       const HttpAnswer& http,
                                                       const AnswerFacts& facts,
                                                       CheckOutcome outcome) const {
  if (const ClosedService* service = rules.ClosedServiceOf(asked, today)) {
    outcome.detail = service->name + " (" + service->closed + ")";
    if (!Answered(outcome)) {
      outcome.suspect = SuspectKind::kClosedService;
      return outcome;
    }
    if (service->fate == ServiceFate::kForwards &&
        !rules.OnServiceHost(*service, facts.final_url)) {
      // Alive at its new home: shown as a moved link, whatever the first redirect's status.
      outcome.detail.clear();
      outcome.redirected_to = facts.final_url;
      return outcome;
    }
    return Suspect(std::move(outcome), SuspectKind::kClosedService);
  }
  if (outcome.kind == CheckOutcome::Kind::kFailed && outcome.status &&
      IsBotWallStatus(*outcome.status)) {
    if (!rules.BotWallOf(*outcome.status, http.headers, facts.title, http.body).empty())
      return Suspect(std::move(outcome), SuspectKind::kBotWall);
    return outcome;
  }
  if (outcome.kind != CheckOutcome::Kind::kAnswered) return outcome;
  if (!rules.ParkingServiceOfHost(facts.final_url).empty() ||
      !rules.ParkingServiceMarkedIn(http.body).empty())
    return Suspect(std::move(outcome), SuspectKind::kParkedDomain);
  if (http.redirects > 0 && !IsTopPage(asked) && IsTopPage(facts.final_url))
    return Suspect(std::move(outcome), SuspectKind::kTopPageRedirect);
  // A page whose body was not read (an answer from the cache) leaves nothing to compare.
  if (!facts.html || http.body.empty() || IsTopPage(facts.final_url)) return outcome;
  return std::nullopt;
}

void SuspectJudge::State::Judge(const FoundLink& link, const std::string& key,
                                const std::string& asked, const QueueAnswer& answer,
                                CheckOutcome outcome, Verdict done) {
  KeyVerdict& verdict = keys[key];
  auto give = [this, &verdict, link, outcome, done = std::move(done)]() {
    done(ForLink(link, verdict, outcome));
  };
  if (answer.cached && (verdict.given || verdict.judging)) {
    // Judged as its key's first answer was, once that is judged.
    if (verdict.given) return give();
    verdict.waiting.push_back(std::move(give));
    return;
  }
  AnswerFacts facts = FactsOf(asked, answer.answer, WantsAnchors(link));
  verdict.judging = true;
  verdict.page =
      facts.html && !answer.answer.body.empty() && outcome.status && *outcome.status / 100 == 2;
  verdict.anchors_known = WantsAnchors(link) && !facts.cut;
  verdict.anchors = std::move(facts.anchors);
  std::sort(verdict.anchors.begin(), verdict.anchors.end());
  facts.anchors.clear();
  if (std::optional<CheckOutcome> plain = Plain(asked, answer.answer, facts, outcome))
    return Give(verdict, std::move(*plain), std::move(give));
  SoftTest(verdict, std::move(facts), std::move(outcome), std::move(give));
}

void SuspectJudge::State::SoftTest(KeyVerdict& verdict, AnswerFacts facts, CheckOutcome outcome,
                                   std::function<void()> give) {
  // A folder of a static server answers every made-up name alike, whatever page extension it
  // has; a script's extension may be handled apart, so it has its own probe.
  const std::string folder_key =
      FolderKeyOf(facts.final_url) + ' ' + ProbeExtensionOf(facts.final_url);
  Folder& folder = folders[folder_key];
  if (folder.state == Folder::State::kNew) {
    const std::string probe = ProbeAddressOf(facts.final_url, RandomName());
    if (may_probe(probe)) {
      folder.state = Folder::State::kAsked;
      AskProbe(folder_key, probe);
    } else {
      folder.state = Folder::State::kUnknown;
    }
  }
  auto conclude = [this, &folder, &verdict, facts = std::move(facts), outcome = std::move(outcome),
                   give = std::move(give)]() mutable {
    Give(verdict, Conclude(folder, facts, std::move(outcome)), std::move(give));
  };
  if (folder.state == Folder::State::kAsked) return folder.waiting.push_back(std::move(conclude));
  conclude();
}

void SuspectJudge::State::AskProbe(const std::string& folder_key, const std::string& url) {
  QueueAsk ask;
  ask.url = url;
  // Never from the cache: the made-up name is asked for itself.
  ask.keep_body = true;
  ask.keep_cap = kJudgedBodyCap;
  ++probes;
  const Ticket ticket =
      queue.Ask(std::move(ask), [this, folder_key, url](Ticket ticket, QueueAnswer& answer) {
        ProbeAnswered(folder_key, url, ticket, answer);
      });
  probes_out.insert(ticket);
}

void SuspectJudge::State::ProbeAnswered(const std::string& folder_key, const std::string& url,
                                        Ticket ticket, const QueueAnswer& answer) {
  probes_out.erase(ticket);
  Folder& folder = folders[folder_key];
  const int status = answer.no_request ? 0 : answer.answer.status.value_or(0);
  if (status == 404 || status == 410) {
    folder.state = Folder::State::kHonest;
  } else if (status / 100 == 2) {
    folder.state = Folder::State::kAnswered;
    folder.probe = FactsOf(url, answer.answer, false);
  } else {
    // A redirect elsewhere, a refusal, a failure: the folder's honesty is not known.
    folder.state = Folder::State::kUnknown;
  }
  std::vector<std::function<void()>> waiting;
  waiting.swap(folder.waiting);
  for (auto& go : waiting) go();
}

CheckOutcome SuspectJudge::State::Conclude(const Folder& folder, const AnswerFacts& facts,
                                           CheckOutcome outcome) const {
  // An honest folder answers what is missing with 404: a page there is there, whatever its
  // title says (a page about 404 errors, say).
  if (folder.state == Folder::State::kHonest) return outcome;
  if (folder.state == Folder::State::kAnswered &&
      (folder.probe.final_url == facts.final_url ||
       // A script's shell answers every address alike: the browser builds the page from it.
       (!facts.app_shell && NearlySame(facts, folder.probe))))
    return Suspect(std::move(outcome), SuspectKind::kSoft404);
  if (rules.TitleSaysNotFound(facts.title))
    return Suspect(std::move(outcome), SuspectKind::kSoft404);
  return outcome;
}

SuspectJudge::SuspectJudge(const SuspectSettings& settings, RequestQueue& queue, bool anchors,
                           std::function<bool(const std::string& url)> may_probe)
    : state_(std::make_unique<State>(settings, queue, anchors, std::move(may_probe))) {}

SuspectJudge::~SuspectJudge() {
  for (Ticket ticket : state_->probes_out) state_->queue.Drop(ticket);
}

void SuspectJudge::Prepare(const FoundLink& link, QueueAsk* ask) const {
  ask->keep_body = true;
  ask->keep_cap = kJudgedBodyCap;
  ask->body_optional = true;
  if (!state_->WantsAnchors(link)) return;
  // The anchor may be anywhere in the page: read it as far as a page is read for its links.
  ask->keep_cap = kPageCap;
  ask->body_cap = std::max(ask->body_cap, kPageCap);
  const auto known = state_->keys.find(ask->key.empty() ? ask->url : ask->key);
  ask->body_optional = known != state_->keys.end() && known->second.anchors_known;
}

void SuspectJudge::Judge(const FoundLink& link, const std::string& key, const QueueAnswer& answer,
                         CheckOutcome outcome, Verdict done) {
  const std::string& asked = key.empty() ? AddressOf(link) : key;
  state_->Judge(link, key.empty() ? asked : key, asked, answer, std::move(outcome),
                std::move(done));
}

size_t SuspectJudge::probes() const { return state_->probes; }

}  // namespace voxtrel
