// Throughput of the page scanner and of the EUC-JP conversion, in MB/s of page bytes.
// Not a test: it prints figures only.

#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/check_loop.h"
#include "platform/cp932.h"
#include "web/web_check.h"

namespace voxtrel {
namespace {

// A window that is not there: the benchmark measures the scan, not the painting.
class SilentView : public RunView {
 public:
  void SetCaption(Control, const std::string&) override {}
  void Yield() override {}
  MessageAnswer ShowMessage(const std::string&, const std::string&, MessageIcon,
                            MessageButtons) override {
    return MessageAnswer::kOk;
  }
};

class InstantRequest : public HttpRequest {
 public:
  bool Open(const std::string&, const std::string&) override { return true; }
  bool Send(const KeepAliveHook&) override { return true; }
  const std::string& ResponseBody() const override { return body_; }
  std::optional<int> Status() const override { return 200; }

 private:
  std::string body_;
};

// Every link answers 200 at once with an empty page.
class InstantFactory : public HttpRequestFactory {
 public:
  std::unique_ptr<HttpRequest> Create(const std::string&) override {
    ++created;
    return std::make_unique<InstantRequest>();
  }
  long created = 0;
};

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// A Shift_JIS page of about `size` bytes: Japanese paragraphs, markup, now and then a link.
// `dense` pages are link lists: three lines in eight hold "http://"; the others hold a link line
// about once in twenty lines, as a diary or an article does.
std::string MakeShiftJisPage(size_t size, unsigned seed, bool dense) {
  const std::vector<std::string> lines = {
      Utf8ToCp932(
          "<p>日本語のホームページです。リンク集と日記を置いています。ｶﾀｶﾅもあります。</p>"),
      Utf8ToCp932(
          "<td class=\"menu\"><img src=\"img/icon.gif\" width=\"16\" height=\"16\" alt=\"\"></td>"),
      Utf8ToCp932(
          "<li><a "
          "href=\"http://www.example.jp/~user/index.html\">友達のページ</a>（毎日更新）</li>"),
      Utf8ToCp932("　今日は雨でした。明日は晴れるといいのですが、天気予報によると曇りのようです。"),
      Utf8ToCp932(
          "<a href=\"diary/2003/05.html\">五月の日記</a> | <a href=\"bbs.html\">掲示板</a>"),
      Utf8ToCp932("<A HREF=\"http://cgi.example.ne.jp/bbs/read.pl?no=12\">掲示板</A> <A "
                  "HREF=\"http://example.com/#top\"><IMG SRC=\"b.gif\"></A>"),
      Utf8ToCp932("<font color=\"#FF0000\" size=\"2\">更新履歴：ﾘﾝｸを追加しました。</font><br>"),
      Utf8ToCp932("Copyright (C) 2003 Example. All rights reserved. http://www.example.jp/"),
  };
  std::string page;
  page.reserve(size + 256);
  unsigned state = seed;
  while (page.size() < size) {
    state = state * 1103515245u + 12345u;
    unsigned pick = (state >> 16) % (dense ? 8 : 60);
    if (pick >= 8) pick = (pick % 2) ? 0 : (pick % 4 ? 3 : (pick % 3 ? 1 : 6));
    page += lines[pick];
    page += "\r\n";
  }
  return page;
}

// EUC-JP text of about `size` bytes: markup, kanji and kana, and some half-width katakana.
std::string MakeEucJpText(size_t size) {
  std::string unit = "<p>";
  for (int k = 0; k < 24; ++k) {
    unit += static_cast<char>(0xB0 + k % 40);
    unit += static_cast<char>(0xA1 + (k * 7) % 94);
  }
  unit += "\xA4\xA2\xA4\xA4\x8E\xB1\x8E\xB2</p>\r\n<a href=\"http://example.jp/\">link</a>\r\n";
  std::string text;
  text.reserve(size + unit.size());
  while (text.size() < size) text += unit;
  return text;
}

void BenchScan(const std::filesystem::path& folder, size_t total_bytes, size_t page_bytes,
               bool dense) {
  std::vector<std::string> pages;
  size_t written = 0;
  for (unsigned k = 0; written < total_bytes; ++k) {
    std::string bytes = MakeShiftJisPage(page_bytes, k + 1, dense);
    std::string path = (folder / ("page" + std::to_string(k) + ".htm")).string();
    std::ofstream(path, std::ios::binary) << bytes;
    pages.push_back(path);
    written += bytes.size();
  }
  SilentView view;
  PosixDisk disk;
  InstantFactory http;
  RunContext ctx(view, disk, http, folder.string());
  ctx.Check2 = 0;  // answered links give no rows; script links still do
  ctx.List1 = pages;
  auto start = std::chrono::steady_clock::now();
  std::string err;
  for (const std::string& page : pages) disk.CopyFile(page, ctx.ScanWorkFilePath(), &err);
  std::printf("  copying the pages alone: %.1f MB/s\n", written / 1e6 / Seconds(start));
  start = std::chrono::steady_clock::now();
  for (const std::string& page : pages) PrepareLocalPage(ctx, page);
  double prepare = Seconds(start);
  std::printf("  preparing the pages alone (read, declaration test, copy): %.1f MB/s\n",
              written / 1e6 / prepare);
  start = std::chrono::steady_clock::now();
  CheckLinks(ctx);
  double seconds = Seconds(start);
  std::printf(
      "scan of %s pages: %zu pages, %.1f MB in %.3f s = %.1f MB/s (%ld web checks, %zu rows)\n",
      dense ? "link-list" : "typical", pages.size(), written / 1e6, seconds,
      written / 1e6 / seconds, http.created, ctx.results.Count());
}

void BenchEuc(size_t total_bytes) {
  std::string euc = MakeEucJpText(total_bytes);
  EucToSjis("warm up the tables \xB0\xA1");
  auto start = std::chrono::steady_clock::now();
  std::string text = EucToSjis(euc);
  double seconds = Seconds(start);
  std::printf("EucToSjis: %.1f MB in %.3f s = %.1f MB/s (%zu bytes of UTF-8)\n", euc.size() / 1e6,
              seconds, euc.size() / 1e6 / seconds, text.size());
  start = std::chrono::steady_clock::now();
  std::string sjis = Utf8ToCp932(text);
  seconds = Seconds(start);
  std::printf("  then Utf8ToCp932: %.1f MB/s\n", euc.size() / 1e6 / seconds);
}

}  // namespace
}  // namespace voxtrel

int main(int argc, char** argv) {
  size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
  std::string pattern = (std::filesystem::temp_directory_path() / "voxtrel-bench-XXXXXX").string();
  if (!mkdtemp(pattern.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  std::filesystem::path folder = pattern;
  std::string only = argc > 2 ? argv[2] : "";
  if (only != "euc") {
    voxtrel::BenchScan(folder, megabytes << 20, 256 << 10, false);
    voxtrel::BenchScan(folder, megabytes << 20, 256 << 10, true);
  }
  if (only != "scan") voxtrel::BenchEuc(megabytes << 20);
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  return 0;
}
