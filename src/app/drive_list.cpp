#include "app/drive_list.h"

#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>

namespace voxtrel {

QString DriveText(const QString& root, const QString& name) {
  return name.isEmpty() ? root : root + QStringLiteral(" [") + name + QStringLiteral("]");
}

QString DriveRootOfText(const QString& text) {
  if (text.endsWith(QLatin1Char(']'))) {
    const qsizetype open = text.lastIndexOf(QStringLiteral(" ["));
    if (open >= 0) return text.left(open);
  }
  return text;
}

QList<Drive> MountedDrives() {
  QList<Drive> drives;
  drives.append(Drive{QStringLiteral("/"), DriveText(QStringLiteral("/"), QStorageInfo::root().name())});
  QList<Drive> others;
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
    const QString root = volume.rootPath();
    // Bind mounts of single files (common in containers) are no drives to pick a folder on.
    if (!volume.isValid() || root.isEmpty() || root == QLatin1String("/") ||
        !QFileInfo(root).isDir())
      continue;
    const bool seen = std::any_of(others.begin(), others.end(),
                                  [&](const Drive& d) { return d.root == root; });
    if (!seen) others.append(Drive{root, DriveText(root, volume.name())});
  }
  std::sort(others.begin(), others.end(),
            [](const Drive& a, const Drive& b) { return a.root < b.root; });
  drives.append(others);
  return drives;
}

int DriveIndexOfPath(const QList<Drive>& drives, const QString& path) {
  int best = -1;
  qsizetype best_length = -1;
  for (int i = 0; i < drives.size(); ++i) {
    const QString& root = drives[i].root;
    const bool holds = root == QLatin1String("/") || path == root ||
                       path.startsWith(root + QLatin1Char('/'));
    if (holds && root.size() > best_length) {
      best = i;
      best_length = root.size();
    }
  }
  return best;
}

}  // namespace voxtrel
