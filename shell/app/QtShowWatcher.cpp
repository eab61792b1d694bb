// The show-file watcher. Editors often save by writing a new file and renaming it over the old
// one; the watch then ends with the old file, so the path is watched again after every change.
#include "shell/app/QtShowWatcher.h"

#include <QFileInfo>

QtShowWatcher::QtShowWatcher(QObject* parent) : QObject(parent) {
  settle_.setSingleShot(true);
  settle_.setInterval(kSettleMs);
  connect(&watcher_, &QFileSystemWatcher::fileChanged, this, [this] { FileChanged(); });
  connect(&settle_, &QTimer::timeout, this, [this] { Settled(); });
}

void QtShowWatcher::Watch(const QString& path) {
  if (path == path_) return;
  settle_.stop();
  path_ = path;
  Rearm();
}

void QtShowWatcher::Rearm() {
  // A watch that survived a rename may still follow the replaced file: always start afresh.
  const QStringList old = watcher_.files();
  if (!old.isEmpty()) watcher_.removePaths(old);
  if (!path_.isEmpty() && QFileInfo::exists(path_)) watcher_.addPath(path_);
}

void QtShowWatcher::FileChanged() {
  // Between the removal and the rename the file may be missing: Settled watches it again.
  settle_.start();
}

void QtShowWatcher::Settled() {
  Rearm();
  // A file that is gone (and stayed gone) is no edit to show.
  if (path_.isEmpty()) return;
  if (!QFileInfo::exists(path_)) {
    settle_.start();
    return;
  }
  if (OnChanged) OnChanged();
}
