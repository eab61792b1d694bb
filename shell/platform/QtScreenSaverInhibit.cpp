// The inhibit request. Desktops publish the interface at one of two object paths; the first one
// that answers keeps the cookie, and UnInhibit goes to the same path.
#include "shell/platform/QtScreenSaverInhibit.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QFileInfo>
#include <QStringList>
#include <QtGlobal>

namespace {

const char kService[] = "org.freedesktop.ScreenSaver";
const char kInterface[] = "org.freedesktop.ScreenSaver";
const char* const kPaths[] = {"/org/freedesktop/ScreenSaver", "/ScreenSaver"};
constexpr int kCallTimeoutMs = 1000;  // a hung service must not hold up the window

// Whether a session bus may be there at all. Without an address and without the usual socket the
// bus library would try to start a bus of its own, which is not ours to do.
bool SessionBusAdvertised() {
  if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return true;
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

bool ServicePresent(const QDBusConnection& bus) {
  if (!bus.isConnected()) return false;
  const QDBusConnectionInterface* names = bus.interface();
  if (names == nullptr) return false;
  const QDBusReply<bool> reply = names->isServiceRegistered(QString::fromLatin1(kService));
  return reply.isValid() && reply.value();
}

}  // namespace

bool QtScreenSaverInhibit::Hold(const QString& application, const QString& reason) {
  if (held_) return true;
  if (!SessionBusAdvertised()) return false;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!ServicePresent(bus)) return false;
  for (const char* path : kPaths) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(path),
                                       QString::fromLatin1(kInterface), QStringLiteral("Inhibit"));
    call << application << reason;
    const QDBusReply<std::uint32_t> reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (!reply.isValid()) continue;
    cookie_ = reply.value();
    path_ = QString::fromLatin1(path);
    held_ = true;
    return true;
  }
  return false;
}

void QtScreenSaverInhibit::Release() {
  if (!held_) return;
  held_ = false;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  QDBusMessage call =
      QDBusMessage::createMethodCall(QString::fromLatin1(kService), path_,
                                     QString::fromLatin1(kInterface), QStringLiteral("UnInhibit"));
  call << cookie_;
  // No answer is awaited: the window is closing, and a service gone away has nothing to undo.
  bus.send(call);
}
