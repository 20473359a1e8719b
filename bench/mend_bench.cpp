// Plans, shows, applies and undoes 10,000 mends in 1,000 Shift_JIS pages of a temporary folder,
// and prints how long each step takes.
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/page_mend.h"
#include "platform/cp932.h"

namespace {

using voxtrel::Mend;
using voxtrel::PageStamp;

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A page of about 8 KB: Japanese text with `links` moved links among it, CR LF line ends.
std::string MakePage(int page, int links, const std::string& path, std::vector<Mend>* mends) {
  const std::string text =
      voxtrel::Utf8ToCp932("<p>このページは移転したサイトへのリンクを含みます。</p>\r\n");
  std::string bytes = "<html><body>\r\n";
  for (int link = 0; link < links; ++link) {
    for (int i = 0; i < 12; ++i) bytes += text;
    const std::string old =
        "http://old.example.jp/" + std::to_string(page) + "/" + std::to_string(link) + ".html";
    bytes += "<a href=\"";
    mends->push_back({path,
                      {0, bytes.size(), static_cast<uint32_t>(old.size())},
                      old,
                      "https://new.example.jp/ページ/" + std::to_string(link) + "?a=1&b=2"});
    bytes += old + "\">リンク</a>\r\n";
  }
  return bytes + "</body></html>\r\n";
}

}  // namespace

int main() {
  std::string root = (std::filesystem::temp_directory_path() / "voxtrel-mend-XXXXXX").string();
  if (!mkdtemp(root.data())) return 1;
  voxtrel::PosixDisk disk;
  std::vector<Mend> mends;
  std::map<std::string, PageStamp> stamps;
  for (int page = 0; page < 1000; ++page) {
    const std::string path =
        root + "/d" + std::to_string(page / 100) + "/p" + std::to_string(page) + ".htm";
    const std::string bytes = MakePage(page, 10, path, &mends);
    disk.MakeFolders(root + "/d" + std::to_string(page / 100), nullptr);
    disk.WriteWholeFile(path, bytes, nullptr);
    voxtrel::FileFacts facts;
    disk.FactsOf(path, &facts, nullptr);
    stamps[path] = voxtrel::StampOf(bytes, facts.modified);
  }
  auto start = std::chrono::steady_clock::now();
  const voxtrel::MendPlan plan = voxtrel::PlanMends(disk, root, mends, stamps);
  const double planned = SecondsSince(start);
  start = std::chrono::steady_clock::now();
  const std::string diff = voxtrel::MendDiff(plan, voxtrel::DiffForm::kPageBytes);
  const double shown = SecondsSince(start);
  start = std::chrono::steady_clock::now();
  const voxtrel::MendResult applied = voxtrel::ApplyMends(disk, plan, "bench");
  const double written = SecondsSince(start);
  start = std::chrono::steady_clock::now();
  const voxtrel::MendResult undone = voxtrel::UndoLastMends(disk, root);
  const double put_back = SecondsSince(start);
  size_t refused = 0;
  for (const auto& page : plan.pages) refused += !page.refused.empty();
  std::printf("%zu mends in %zu pages (%zu refused)\n", mends.size(), plan.pages.size(), refused);
  std::printf(
      "plan  %.3f s\ndiff  %.3f s (%zu bytes)\napply %.3f s (%zu pages)\nundo  %.3f s (%zu "
      "pages)\n",
      planned, shown, diff.size(), written, applied.pages.size(), put_back, undone.pages.size());
  std::filesystem::remove_all(root);
  return 0;
}
