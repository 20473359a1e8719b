// Every fuzz seed and every input a fuzzer ever broke a property with, run through the same
// property checks as the fuzz targets. A broken property aborts this test program, after
// printing the input's path.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/fuzz_checks.h"

namespace voxtrel {
namespace {

namespace fs = std::filesystem;

struct FuzzTarget {
  const char* name;
  void (*check)(const uint8_t*, size_t);
};

std::vector<std::string> InputsOf(const std::string& target) {
  std::vector<std::string> paths;
  for (const char* kind : {"corpus", "crashes"}) {
    const fs::path folder = fs::path(VOXTREL_FUZZ_DIR) / kind / target;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
      if (entry.is_regular_file()) paths.push_back(entry.path().string());
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

class FuzzRegressionTest : public ::testing::TestWithParam<FuzzTarget> {};

TEST_P(FuzzRegressionTest, SeedsAndOnceBrokenInputsKeepEveryProperty) {
  const std::vector<std::string> inputs = InputsOf(GetParam().name);
  EXPECT_FALSE(inputs.empty()) << "no seeds for " << GetParam().name;
  for (const std::string& path : inputs) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    const std::string data = bytes.str();
    std::printf("input %s\n", path.c_str());
    std::fflush(stdout);
    GetParam().check(reinterpret_cast<const uint8_t*>(data.data()), data.size());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Targets, FuzzRegressionTest,
    ::testing::Values(FuzzTarget{"line_scanner", &fuzz::CheckLineScanner},
                      FuzzTarget{"euc_to_sjis", &fuzz::CheckEucToSjis},
                      FuzzTarget{"cp932_round_trip", &fuzz::CheckCp932RoundTrip},
                      FuzzTarget{"settings_reader", &fuzz::CheckSettingsReader},
                      FuzzTarget{"report_writer", &fuzz::CheckReportWriter}),
    [](const ::testing::TestParamInfo<FuzzTarget>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace voxtrel
