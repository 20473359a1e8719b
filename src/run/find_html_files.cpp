#include "run/find_html_files.h"

#include <memory>
#include <vector>

#include "output/report_writer.h"
#include "platform/text.h"

namespace voxtrel {

namespace {

/// Attribute values a page may carry: none, read-only, hidden or system alone, archive alone.
bool IsPageAttribute(int attributes) {
  switch (attributes) {
    case 0:
    case kAttrReadOnly:
    case kAttrHidden:
    case kAttrSystem:
    case kAttrArchive:
      return true;
    default:
      return false;
  }
}

// A detailed report saved inside the site names its maker near its top: it is no page of the
// site. Only the head is read, so the search stays a walk over names.
bool IsSavedReport(DiskInterface& disk, const std::string& path) {
  std::string err;
  std::unique_ptr<InputFile> file = disk.OpenForReading(path, &err);
  // A page that cannot be read stays in the list, where its check says so.
  if (!file) return false;
  char head[1024];
  size_t got = 0;
  bool failed = false;
  while (got < sizeof head && !failed) {
    const size_t count = file->Read(head + got, sizeof head - got, &failed);
    if (count == 0) break;
    got += count;
  }
  return AsciiUpper(std::string_view(head, got)).find(AsciiUpper(kReportGeneratorMeta)) !=
         std::string::npos;
}

void Emit(const PathSink& sink, const std::string& text) {
  if (sink) sink(text);
}

}  // namespace

void FindHtmlFiles(DiskInterface& disk, const std::string& folder, bool include_subfolders,
                   const PathSink& append_path, const PathSink& set_progress,
                   const AbortSignal* abort) {
  // A stop asked for during a long walk ends it between folders.
  if (abort && abort->Raised()) return;
  Emit(set_progress, folder);
  std::vector<DirEntry> entries;
  std::string err;
  // A folder that cannot be listed loses only its own part of the tree; the caller's walk goes on.
  if (!disk.ListFolder(folder, &entries, &err)) return;

  std::vector<std::string> subfolders;
  for (const DirEntry& entry : entries) {
    // A folder of many pages reads the head of each: a stop is looked for at every entry.
    if (abort && abort->Raised()) return;
    // Whole values, not bits: a read-only archive page (33) or an archive folder (48) is passed
    // over, and a symlinked folder (16 + 1024) is never entered, so the walk cannot loop.
    if (IsPageAttribute(entry.attributes)) {
      if (!IsHtmlFileName(entry.name)) continue;
      const std::string path = JoinPath(folder, entry.name);
      if (IsSavedReport(disk, path)) continue;
      Emit(append_path, path);
      Emit(set_progress, path);
    } else if (entry.attributes == kAttrDirectory) {
      if (!entry.name.empty() && entry.name.front() != '.') subfolders.push_back(entry.name);
    }
  }

  if (!include_subfolders) return;
  // The listing is complete before any subfolder is entered; every subfolder is descended,
  // however many there are.
  for (const std::string& name : subfolders)
    FindHtmlFiles(disk, JoinPath(folder, name), include_subfolders, append_path, set_progress,
                  abort);
}

}  // namespace voxtrel
