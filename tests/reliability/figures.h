#pragma once

#include <string>

namespace voxtrel::test {

/// One measured line of the reliability table: what was thrown at the checker, what came of it,
/// how long it took and the peak memory of the process that handled it (0 when not measured).
struct Figure {
  std::string fault;
  std::string outcome;
  double seconds = 0;
  /// The limit the time was held to, as text ("total 2 s"); empty when none applies.
  std::string time_bound;
  long peak_rss_kib = 0;
};

/// Prints the line at once and keeps it for the table printed when the test program ends.
void Record(const Figure& figure);

/// Peak resident set size of this process so far, in KiB.
long SelfPeakRssKib();

/// Whether the build runs under AddressSanitizer / UndefinedBehaviorSanitizer.
constexpr bool kSanitized =
#ifdef VOXTREL_SANITIZED
    true;
#else
    false;
#endif

}  // namespace voxtrel::test
