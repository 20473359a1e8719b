#include "reliability/figures.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdio>
#include <mutex>
#include <vector>

namespace voxtrel::test {
namespace {

std::mutex g_mutex;
std::vector<Figure> g_figures;

std::string Line(const Figure& f) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.2f s", f.seconds);
  char rss[32];
  if (f.peak_rss_kib > 0)
    std::snprintf(rss, sizeof rss, "%.1f MiB", static_cast<double>(f.peak_rss_kib) / 1024.0);
  else
    std::snprintf(rss, sizeof rss, "-");
  char line[512];
  std::snprintf(line, sizeof line, "| %-40s | %-34s | %9s | %-22s | %10s |", f.fault.c_str(),
                f.outcome.c_str(), seconds, f.time_bound.c_str(), rss);
  return line;
}

// Prints every figure of the run as one table once all tests are done.
class FigureTable : public ::testing::Environment {
 public:
  void TearDown() override {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_figures.empty()) return;
    std::printf("\n| %-40s | %-34s | %9s | %-14s | %10s |\n", "fault", "outcome", "elapsed",
                "time bound", "peak RSS");
    std::printf("|%s|%s|%s|%s|%s|\n", std::string(42, '-').c_str(), std::string(36, '-').c_str(),
                std::string(11, '-').c_str(), std::string(24, '-').c_str(),
                std::string(12, '-').c_str());
    for (const Figure& f : g_figures) std::printf("%s\n", Line(f).c_str());
    std::fflush(stdout);
  }
};

[[maybe_unused]] const auto* const g_table = ::testing::AddGlobalTestEnvironment(new FigureTable);

}  // namespace

void Record(const Figure& figure) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_figures.push_back(figure);
  std::printf("[figure] %s\n", Line(figure).c_str());
  std::fflush(stdout);
}

long SelfPeakRssKib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace voxtrel::test
