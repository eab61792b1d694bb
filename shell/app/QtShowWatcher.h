// Watches the file of the show that is playing and reports, once things have settled, that it
// changed on disk, so an author sees an edit as soon as it is saved.
#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

class QtShowWatcher : public QObject {
  Q_OBJECT

 public:
  // Changes closer together than this are reported once (an editor writes in several steps).
  static constexpr int kSettleMs = 200;

  explicit QtShowWatcher(QObject* parent = nullptr);

  // Watches `path` instead of the file watched so far; an empty path stops watching.
  void Watch(const QString& path);
  const QString& Path() const { return path_; }

  // Called once per settled change of the watched file.
  std::function<void()> OnChanged;

 private:
  void FileChanged();
  void Settled();
  void Rearm();

  QFileSystemWatcher watcher_;
  QTimer settle_;
  QString path_;
};
