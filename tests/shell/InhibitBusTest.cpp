// The desktop screen-saver inhibit end to end: a private session bus, a stand-in
// org.freedesktop.ScreenSaver service in this test process, and window mode asking it to hold
// the desktop's saver off while a show plays and letting go with the same cookie at the end.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/DisplayGeometry.h"
#include "app/MediaDevice.h"
#include "shell/app/TSaverWin.h"
#include "tests/shell/ShellTestApp.h"
#include "tests/shell/TestProgram.h"

namespace {

const char kService[] = "org.freedesktop.ScreenSaver";

// A session bus of the test's own: no activation of real services, anyone may own any name.
class PrivateBus {
 public:
  PrivateBus() {
    const std::string config =
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig>\n  <type>session</type>\n  <listen>unix:dir=" +
        dir_.path() +
        "</listen>\n  <auth>EXTERNAL</auth>\n"
        "  <policy context=\"default\">\n    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
        "    <allow eavesdrop=\"true\"/>\n    <allow own=\"*\"/>\n  </policy>\n</busconfig>\n";
    if (dir_.Write("bus.conf", config).empty()) return;
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--config-file=") + QString::fromStdString(dir_.File("bus.conf")),
                   QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    if (!daemon_.waitForStarted(3000) || !daemon_.waitForReadyRead(5000)) return;
    address_ = QString::fromUtf8(daemon_.readLine().trimmed());
  }
  ~PrivateBus() {
    daemon_.terminate();
    if (!daemon_.waitForFinished(3000)) daemon_.kill();
  }
  const QString& Address() const { return address_; }

 private:
  TempFolder dir_;
  QProcess daemon_;
  QString address_;
};

// The stand-in service. Calls may come on another thread than the test's, so all it records is
// behind a lock.
class StandInScreenSaver : public QDBusVirtualObject {
 public:
  struct Calls {
    std::vector<std::pair<QString, QString>> inhibits;  // application, reason
    std::vector<uint> cookies;                          // given out, in order
    std::vector<uint> released;                         // UnInhibit arguments, in order
  };
  Calls Seen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }

  QString introspect(const QString&) const override {
    return QStringLiteral(
        "<interface name=\"org.freedesktop.ScreenSaver\">"
        "<method name=\"Inhibit\"><arg type=\"s\" direction=\"in\"/>"
        "<arg type=\"s\" direction=\"in\"/><arg type=\"u\" direction=\"out\"/></method>"
        "<method name=\"UnInhibit\"><arg type=\"u\" direction=\"in\"/></method>"
        "</interface>");
  }
  bool handleMessage(const QDBusMessage& m, const QDBusConnection& bus) override {
    if (m.interface() != QLatin1String(kService)) return false;
    const QList<QVariant> args = m.arguments();
    std::lock_guard<std::mutex> lock(mutex_);
    if (m.member() == QLatin1String("Inhibit") && args.size() == 2) {
      const uint cookie = 7000 + static_cast<uint>(calls_.cookies.size());
      calls_.inhibits.emplace_back(args[0].toString(), args[1].toString());
      calls_.cookies.push_back(cookie);
      return bus.send(m.createReply(QVariant::fromValue(cookie)));
    }
    if (m.member() == QLatin1String("UnInhibit") && args.size() == 1 &&
        args[0].metaType() == QMetaType::fromType<uint>()) {
      calls_.released.push_back(args[0].toUInt());
      return bus.send(m.createReply());
    }
    return false;
  }

 private:
  mutable std::mutex mutex_;
  Calls calls_;
};

class InhibitBus : public ::testing::Test {
 protected:
  void SetUp() override {
    shelltest::App();
    if (std::system("command -v dbus-daemon >/dev/null 2>&1") != 0)
      GTEST_SKIP() << "dbus-daemon is not installed";
    bus_ = std::make_unique<PrivateBus>();
    ASSERT_FALSE(bus_->Address().isEmpty()) << "the private bus did not start";
  }
  void TearDown() override {
    if (service_) {
      QDBusConnection c = QDBusConnection(QStringLiteral("ox-standin"));
      c.unregisterService(QString::fromLatin1(kService));
      QDBusConnection::disconnectFromBus(QStringLiteral("ox-standin"));
    }
    if (thread_) {
      thread_->quit();
      thread_->wait();
    }
    service_.reset();
    thread_.reset();
  }

  // Offers the stand-in at object path `path`. It answers on a thread of its own, so a caller in
  // this process that blocks for the answer does not wait on itself.
  void Offer(const char* path) {
    QDBusConnection c =
        QDBusConnection::connectToBus(bus_->Address(), QStringLiteral("ox-standin"));
    ASSERT_TRUE(c.isConnected());
    thread_ = std::make_unique<QThread>();
    service_ = std::make_unique<StandInScreenSaver>();
    service_->moveToThread(thread_.get());
    thread_->start();
    ASSERT_TRUE(c.registerVirtualObject(QString::fromLatin1(path), service_.get()));
    ASSERT_TRUE(c.registerService(QString::fromLatin1(kService)));
  }
  StandInScreenSaver::Calls Seen() const { return service_->Seen(); }

  // Window mode of the real program, on the offscreen platform, with the private bus as the
  // session's.
  bool StartProgram(const std::string& errFile = {}) {
    data.Write("script_one.txt", shelltest::DemoScript(60));
    return program.Start(
        {"/s", "--mode", "4", "--data", data.path()},
        {"DBUS_SESSION_BUS_ADDRESS=" + bus_->Address().toStdString(), "QT_QPA_PLATFORM=offscreen",
         "XDG_CONFIG_HOME=" + home.path(), "XDG_RUNTIME_DIR=" + home.path(), "HOME=" + home.path()},
        {}, errFile);
  }

  std::unique_ptr<PrivateBus> bus_;
  std::unique_ptr<QThread> thread_;
  std::unique_ptr<StandInScreenSaver> service_;
  TempFolder home, data;
  shelltest::TestProgram program;
};

TEST_F(InhibitBus, WindowModeHoldsTheDesktopSaverOffAndLetsGoWhenItEnds) {
  Offer("/org/freedesktop/ScreenSaver");
  ASSERT_TRUE(StartProgram());
  // A sanitizer build on a loaded machine takes a few seconds to show its window.
  ASSERT_TRUE(shelltest::SpinUntil([&] { return !Seen().inhibits.empty(); }, 15000))
      << "Inhibit was never called";
  shelltest::Spin(300);
  StandInScreenSaver::Calls seen = Seen();
  ASSERT_EQ(seen.inhibits.size(), 1u);
  EXPECT_EQ(seen.inhibits[0].first, QStringLiteral("Ondrelix"));
  EXPECT_FALSE(seen.inhibits[0].second.isEmpty());
  EXPECT_TRUE(seen.released.empty()) << "let go while the show still plays";
  EXPECT_TRUE(program.Running());

  int status = 0;
  ASSERT_GE(program.Stop(&status), 0);
  EXPECT_EQ(shelltest::Ended(status), "exit code 0");
  ASSERT_TRUE(shelltest::SpinUntil([&] { return !Seen().released.empty(); }, 3000))
      << "UnInhibit never came";
  seen = Seen();
  EXPECT_EQ(seen.released, std::vector<uint>{seen.cookies[0]});
}

TEST_F(InhibitBus, WithoutTheServiceTheProgramIsSilentAndPlaysOn) {
  const std::string err = home.File("stderr.txt");
  ASSERT_TRUE(StartProgram(err));
  shelltest::Spin(2500);
  EXPECT_TRUE(program.Running());
  int status = 0;
  ASSERT_GE(program.Stop(&status), 0);
  EXPECT_EQ(shelltest::Ended(status), "exit code 0");
  QFile f(QString::fromStdString(err));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(f.readAll());
  EXPECT_FALSE(text.contains(QStringLiteral("dbus"), Qt::CaseInsensitive)) << text.toStdString();
  EXPECT_FALSE(text.contains(QStringLiteral("ScreenSaver"), Qt::CaseInsensitive))
      << text.toStdString();
}

// In this process: closing the window (not ending the program) lets go, at the object path that
// gave the cookie, for either of the two paths desktops publish the service at.
TEST_F(InhibitBus, ClosingTheWindowLetsGoWhereTheCookieCameFrom) {
  const QByteArray before = qgetenv("DBUS_SESSION_BUS_ADDRESS");
  qputenv("DBUS_SESSION_BUS_ADDRESS", bus_->Address().toUtf8());
  QDBusConnection session = QDBusConnection::sessionBus();
  QDBusConnection probe =
      QDBusConnection::connectToBus(bus_->Address(), QStringLiteral("ox-probe"));
  const bool ours =
      session.isConnected() && probe.interface()->isServiceRegistered(session.baseService());
  QDBusConnection::disconnectFromBus(QStringLiteral("ox-probe"));
  struct Restore {
    QByteArray value;
    ~Restore() { qputenv("DBUS_SESSION_BUS_ADDRESS", value); }
  } restore{before};
  if (!ours) GTEST_SKIP() << "this process opened its session bus before (run the case alone)";

  Offer("/ScreenSaver");
  TempFolder store;
  data.Write("script_one.txt", shelltest::DemoScript(60));
  SilentMediaDevice device;
  SaverWinOptions o;
  o.loadSettings = shelltest::Settings(store, kDisplayWindow, data.path());
  o.device = &device;
  auto w = std::make_unique<TSaverWin>(o);
  w->ShowError = [](const QString&) {};
  w->show();
  ASSERT_TRUE(shelltest::SpinUntil([&] { return !Seen().inhibits.empty(); }, 3000));
  w->close();
  ASSERT_TRUE(shelltest::SpinUntil([&] { return !Seen().released.empty(); }, 3000));
  const StandInScreenSaver::Calls seen = Seen();
  EXPECT_EQ(seen.released, std::vector<uint>{seen.cookies[0]});
  EXPECT_EQ(seen.inhibits.size(), 1u);
}

}  // namespace
