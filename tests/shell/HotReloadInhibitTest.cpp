// The desktop screen-saver inhibit where there is nothing to ask: no session bus at all, and a
// session bus without the screen-saver service. Both must be silent no-ops.
#include <gtest/gtest.h>

#include <QProcess>
#include <QtGlobal>

#include "shell/platform/QtScreenSaverInhibit.h"
#include "tests/shell/ShellTestApp.h"

namespace {

TEST(ScreenSaverInhibit, WithoutASessionBusNothingIsHeld) {
  shelltest::App();
  const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
  const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
  qunsetenv("DBUS_SESSION_BUS_ADDRESS");
  qputenv("XDG_RUNTIME_DIR", "/nonexistent-ondrelix-runtime");
  {
    QtScreenSaverInhibit inhibit;
    EXPECT_FALSE(inhibit.Hold(QStringLiteral("Ondrelix"), QStringLiteral("playing a show")));
    EXPECT_FALSE(inhibit.Held());
    inhibit.Release();
  }
  qputenv("DBUS_SESSION_BUS_ADDRESS", address);
  qputenv("XDG_RUNTIME_DIR", runtime);
}

TEST(ScreenSaverInhibit, ABusWithoutTheServiceHoldsNothing) {
  shelltest::App();
  QProcess daemon;
  daemon.start(QStringLiteral("dbus-daemon"),
               {QStringLiteral("--session"), QStringLiteral("--nofork"),
                QStringLiteral("--print-address=1")});
  if (!daemon.waitForStarted(3000)) GTEST_SKIP() << "no dbus-daemon";
  ASSERT_TRUE(daemon.waitForReadyRead(3000));
  const QByteArray address = daemon.readLine().trimmed();
  ASSERT_FALSE(address.isEmpty());
  const QByteArray old = qgetenv("DBUS_SESSION_BUS_ADDRESS");
  qputenv("DBUS_SESSION_BUS_ADDRESS", address);
  {
    QtScreenSaverInhibit inhibit;
    EXPECT_FALSE(inhibit.Hold(QStringLiteral("Ondrelix"), QStringLiteral("playing a show")));
    EXPECT_FALSE(inhibit.Held());
  }
  qputenv("DBUS_SESSION_BUS_ADDRESS", old);
  daemon.terminate();
  daemon.waitForFinished(3000);
}

}  // namespace
