// What rows cost: a generated folder of pages holding a million links, every one a row, checked
// by voxtrel-check with a JSON report, and that report asked again with --recheck; each child's
// peak memory is printed (getrusage ru_maxrss). Then the result list alone, in this process: the
// heap it takes per row (mallinfo2) beyond the bytes of its strings.
//
//   voxtrel_memory_bench [LINKS [VOXTREL_CHECK]]

#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "engine/result_list.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kLinksPerPage = 5000;

// The target of a page's `k`th link: most lead to a page of the folder (addresses repeat, as
// menus and next/previous links do), one in four to a missing image of its own.
std::string Target(int page, int k, int pages) {
  if (k % 4 == 0) return "img/missing-" + std::to_string(page) + "-" + std::to_string(k) + ".png";
  return "p" + std::to_string((page * 7 + k * 13) % pages) + ".html";
}

std::string Name(int k) { return "リンク " + std::to_string(k % 1000); }

// Writes the pages one by one, so that this process stays small: a child's peak memory starts
// from its parent's.
void MakeSite(const fs::path& folder, int pages) {
  fs::create_directories(folder);
  for (int p = 0; p < pages; ++p) {
    std::ofstream out(folder / ("p" + std::to_string(p) + ".html"), std::ios::binary);
    out << "<!DOCTYPE html><html lang=ja><head><meta charset=utf-8><title>ページ " << p
        << "</title></head><body>\n";
    for (int k = 0; k < kLinksPerPage; ++k)
      out << "<a href=\"" << Target(p, k, pages) << "\">" << Name(k) << "</a>\n";
    out << "</body></html>\n";
  }
}

// Runs the checker with `args`, its output thrown away; prints its time and peak memory.
void Measure(const char* what, const std::string& check, std::vector<std::string> args) {
  const auto start = Clock::now();
  std::fflush(stdout);  // or the child's copy of the buffer is written again
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv{const_cast<char*>(check.c_str())};
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (!freopen("/dev/null", "w", stdout)) _exit(127);
    execv(check.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("%-28s exit %d, %.1f s, peak %.0f MB\n", what, WEXITSTATUS(status), seconds,
              static_cast<double>(usage.ru_maxrss) / 1024);
}

size_t HeapInUse() { return mallinfo2().uordblks + mallinfo2().hblkhd; }

// The heap a result list of `rows` rows of the generated site takes, per row, beyond the bytes of
// its strings: each row's own (as separate strings hold them) and the distinct ones (as interned
// strings hold them).
void RowCost(int rows, int pages) {
  std::set<std::string> distinct;
  size_t own = 0;
  const size_t before = HeapInUse();
  {
    voxtrel::ResultList list;
    voxtrel::CheckOutcome outcome;
    outcome.kind = voxtrel::CheckOutcome::Kind::kAnswered;
    for (int i = 0; i < rows; ++i) {
      const int page = i / kLinksPerPage, k = i % kLinksPerPage;
      voxtrel::FoundLink link(Target(page, k, pages), Name(k),
                              "/site/p" + std::to_string(page) + ".html");
      link.resolved = "/site/" + link.target;
      link.internal = link.local = true;
      list.Add(link, outcome);
      for (const std::string* text : {&link.target, &link.name, &link.page, &link.resolved}) {
        own += text->size();
        if (distinct.size() < 4000000) distinct.insert(*text);
      }
    }
    size_t distinct_bytes = 0;
    for (const std::string& text : distinct) distinct_bytes += text.size();
    distinct.clear();
    const double heap = static_cast<double>(HeapInUse() - before);
    std::printf(
        "result list: %d rows, %.0f MB heap, %.0f bytes a row; beyond its strings' "
        "own bytes %.0f, beyond the distinct strings' bytes %.0f\n",
        rows, heap / 1e6, heap / rows, (heap - static_cast<double>(own)) / rows,
        (heap - static_cast<double>(distinct_bytes)) / rows);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int links = argc > 1 ? std::atoi(argv[1]) : 1000000;
  const std::string check = argc > 2 ? argv[2] : VOXTREL_CHECK_PATH;
  const int pages = std::max(1, links / kLinksPerPage);
  const fs::path folder =
      fs::temp_directory_path() / ("voxtrel-memory-" + std::to_string(getpid()));
  MakeSite(folder / "site", pages);
  std::printf("%d pages of %d links each, every link a row\n", pages, kLinksPerPage);
  const std::string report = folder / "report.json";
  Measure("folder run, -o report.json", check,
          {"-a", "--links", "all", "-o", report, folder / "site"});
  std::printf("%-28s %.0f MB\n", "report", static_cast<double>(fs::file_size(report)) / 1e6);
  Measure("--recheck report.json", check,
          {"-a", "--recheck", report, "-o", folder / "report2.json"});
  fs::remove_all(folder);
  RowCost(pages * kLinksPerPage, pages);
  return 0;
}
