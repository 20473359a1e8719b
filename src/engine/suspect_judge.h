#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "engine/request_queue.h"
#include "engine/run_settings.h"
#include "web/link.h"

namespace voxtrel {

/// The most bytes of an answer's body read to judge it (a title, a comparison, marks).
inline constexpr size_t kJudgedBodyCap = size_t{256} << 10;

/// Judges answered links as a reader would judge the page they lead to: an old address of a
/// closed service, a parked domain, a soft 404 (the folder's made-up address answers alike), a
/// deep link sent to the top page, a bot wall's challenge, an anchor missing on another site.
/// Probes (one per final host and folder) go through the run's queue like every request; a
/// folder whose probe answered 404 or 410 is honest for the rest of the run. Verdicts depend on
/// the answers only, never on their order or timing.
class SuspectJudge {
 public:
  /// `may_probe` says whether an address may be asked (robots.txt in a crawl); `anchors`: look
  /// up links' fragments on other sites (the every-link scan).
  SuspectJudge(const SuspectSettings& settings, RequestQueue& queue, bool anchors,
               std::function<bool(const std::string& url)> may_probe);
  ~SuspectJudge();  // drops its probes still out; verdicts not yet given are never given
  SuspectJudge(const SuspectJudge&) = delete;
  SuspectJudge& operator=(const SuspectJudge&) = delete;

  /// Makes a link's ask bring back what judging needs: the start of its body, its headers.
  void Prepare(const FoundLink& link, QueueAsk* ask) const;

  using Verdict = std::function<void(CheckOutcome)>;
  /// Judges `outcome`, which `answer` to the link's ask came to; `key` is what the run knows
  /// the address by (an answer from the cache is judged as its key's first answer was). `done`
  /// gets the verdict at once, or from inside a later Pump when a probe is out.
  void Judge(const FoundLink& link, const std::string& key, const QueueAnswer& answer,
             CheckOutcome outcome, Verdict done);

  /// Probes asked so far.
  size_t probes() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace voxtrel
