#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "fuzz/fuzz_checks.h"
#include "support/files.h"

namespace voxtrel {
namespace {

// Every committed seed and every input that once broke a property goes through its target's
// checks again; a broken property aborts the test binary.
TEST(FuzzReplayTest, CorpusAndCrashInputsKeepTheirProperties) {
  using Check = void (*)(const uint8_t*, size_t);
  const std::pair<const char*, Check> targets[] = {
      {"line_scanner", fuzz::CheckLineScanner},     {"euc_to_sjis", fuzz::CheckEucToSjis},
      {"cp932_round_trip", fuzz::CheckCp932RoundTrip}, {"settings_reader", fuzz::CheckSettingsReader},
      {"report_writer", fuzz::CheckReportWriter},     {"html_links", fuzz::CheckHtmlLinks},
  };
  size_t inputs = 0;
  for (const auto& [name, check] : targets) {
    for (const char* kind : {"corpus", "crashes"}) {
      const std::filesystem::path folder = std::filesystem::path(VOXTREL_FUZZ_DIR) / kind / name;
      if (!std::filesystem::is_directory(folder)) continue;
      for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        SCOPED_TRACE(entry.path().string());
        const std::string bytes = test::ReadFile(entry.path().string());
        check(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        ++inputs;
      }
    }
  }
  EXPECT_GE(inputs, 20u);
}

}  // namespace
}  // namespace voxtrel
