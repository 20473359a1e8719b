#include "run/find_html_files.h"

#include <vector>

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
    // Whole values, not bits: a read-only archive page (33) or an archive folder (48) is passed
    // over, and a symlinked folder (16 + 1024) is never entered, so the walk cannot loop.
    if (IsPageAttribute(entry.attributes)) {
      if (!IsHtmlFileName(entry.name)) continue;
      const std::string path = JoinPath(folder, entry.name);
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
