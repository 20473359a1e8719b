#pragma once

#include <QList>
#include <QString>

namespace voxtrel {

/// One entry of Drive1: a mounted volume's root folder and the text the picker shows for it.
struct Drive {
  QString root;
  QString text;  // the root, plus " [name]" when the volume has a name
};

/// The mounted volumes whose root is a folder, "/" first and always present, the rest by root.
QList<Drive> MountedDrives();

/// The text Drive1 shows for `root` with the volume name `name`.
QString DriveText(const QString& root, const QString& name);

/// The root a drive text names: the text before a trailing " [name]", else the whole text.
QString DriveRootOfText(const QString& text);

/// The entry of `drives` whose root holds `path` (the longest such root); -1 when none does.
int DriveIndexOfPath(const QList<Drive>& drives, const QString& path);

}  // namespace voxtrel
