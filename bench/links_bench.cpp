// Every link of a page: how fast the HTML5 parser reads pages, and what checking every link of a
// generated 2,000-page local site costs, against the old rule on the same site.

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/checker.h"
#include "platform/disk.h"
#include "platform/http_pool.h"
#include "web/classic_links.h"
#include "web/html_links.h"
#include "web/page.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// A page as Japanese sites write them: text, tables, images and links of every kind.
std::string SamplePage(int number, int pages) {
  std::ostringstream page;
  page << "<!DOCTYPE html><html lang=ja><head><meta charset=utf-8><title>ページ " << number
       << "</title><link rel=stylesheet href=\"../css/site.css\"></head><body>\n";
  for (int k = 0; k < 10; ++k) {
    page << "<p>日本語の説明文です。リンク先を確認してください &amp; 画像も。</p>\n"
         << "<a href=\"p" << (number * 7 + k) % pages << ".html#s" << k << "\">次へ</a> "
         << "<a href=\"missing" << k << ".html\">なし</a> "
         << "<img src=\"img/i" << k % 3 << ".png\" alt=\"図" << k << "\"> "
         << "<a href=\"http://127.0.0.1:9/x" << k << "\">外部</a>\n"
         << "<h2 id=\"s" << k << "\">見出し</h2>\n";
  }
  return page.str() + "</body></html>\n";
}

void ParserThroughput() {
  std::string text;
  for (int i = 0; text.size() < (size_t{32} << 20); ++i) text += SamplePage(i, 1000);
  auto start = Clock::now();
  const voxtrel::HtmlLinks found = voxtrel::FindHtmlLinks(text);
  const double html_s = Seconds(start);
  start = Clock::now();
  size_t classic = 0;
  voxtrel::PageLines lines(text);
  std::vector<voxtrel::ClassicLink> links;
  for (std::string_view line; lines.Next(&line);) {
    voxtrel::ScanClassicLine(line, voxtrel::TextForm::kUtf8, {}, &links);
    classic += links.size();
  }
  const double classic_s = Seconds(start);
  const double mb = static_cast<double>(text.size()) / (1 << 20);
  std::printf("parser: %.0f MiB, %zu links in %.2f s: %.1f MiB/s (old rule: %.1f MiB/s)\n", mb,
              found.links.size(), html_s, mb / html_s, mb / classic_s);
}

void SiteRun(const char* rule) {
  const fs::path site = fs::temp_directory_path() / "voxtrel-links-bench";
  fs::remove_all(site);
  fs::create_directories(site / "site/img");
  constexpr int kPages = 2000;
  for (int i = 0; i < kPages; ++i) std::ofstream(site / ("site/p" + std::to_string(i) + ".html")) << SamplePage(i, kPages);
  for (int k = 0; k < 2; ++k) std::ofstream(site / ("site/img/i" + std::to_string(k) + ".png")) << "png";
  std::ostringstream out, err;
  std::vector<std::string> args = {"-q", "--links", rule, (site / "site").string()};
  voxtrel::CheckerEnvironment env;
  env.http.connect_timeout_ms = 1000;
  voxtrel::PosixDisk disk;
  env.disk = &disk;
  env.make_pool = [](const voxtrel::HttpOptions& options) {
    return std::make_unique<voxtrel::CurlPool>(options);
  };
  const auto start = Clock::now();
  const int status = voxtrel::RunChecker(args, out, err, env);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  size_t rows = 0;
  for (char c : out.str()) rows += c == '\n';
  std::printf("site of %d pages, --links %s: %.2f s, %zu rows, exit %d, peak %.0f MiB\n", kPages,
              rule, Seconds(start), rows, status, usage.ru_maxrss / 1024.0);
  fs::remove_all(site);
}

}  // namespace

int main() {
  // The parser last: its large page would otherwise be the peak the site runs report.
  SiteRun("classic");
  SiteRun("all");
  ParserThroughput();
  return 0;
}
