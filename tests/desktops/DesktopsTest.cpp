#include "WaylandSession.h"

#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusUnixFileDescriptor>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>

#include <QDeadlineTimer>

#include <fcntl.h>
#include <poll.h>

using namespace ow::test;

namespace {

// A window of the desktop, from the compositor's own list, bottom to top.
struct Window {
    qint64 pid;
    QRect frame;
    bool fullScreen;
    bool focused;
};

// GNOME Shell or KWin, headless with two outputs, on a session bus of the test's own that
// the test may call, with the app of the fixture's home on Qt's wayland platform.
class DesktopTest : public WaylandSession {
protected:
    void TearDown() override
    {
        QDBusConnection::disconnectFromBus(u"desktop"_s);
        appOutput.clear();
        for (QProcess* process : {&other, &sessionBus}) {
            process->kill();
            process->waitForFinished(3000);
        }
        WaylandSession::TearDown();
    }

    void startSessionBus()
    {
        ASSERT_NO_FATAL_FAILURE(launch(sessionBus, u"dbus-daemon"_s,
                                       {u"--config-file=" SESSION_BUS_CONFIG ""_s, u"--nofork"_s, u"--print-address=1"_s}));
        ASSERT_TRUE(sessionBus.waitForReadyRead(5000));
        const QString address = QString::fromUtf8(sessionBus.readLine()).trimmed();
        env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, address);
        desktop = QDBusConnection::connectToBus(address, u"desktop"_s);
        ASSERT_TRUE(desktop.isConnected());
    }
    QDBusMessage call(const QString& service, const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments = {})
    {
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(arguments);
        return desktop.call(message, QDBus::Block, 20000);
    }

    virtual QList<Window> windows() = 0;
    virtual QList<QRect> outputs() = 0;
    // The desktop's pixels of area, as the user sees them.
    virtual QImage shot(const QRect& area) = 0;
    // Return pressed for holdMs, and let go.
    virtual void pressReturn(int holdMs) = 0;
    // Nothing of the desktop's own over the windows: no modal dialog.
    virtual bool noDialog() { return true; }

    qint64 appPid() const { return app.processId(); }
    QList<Window> appWindows()
    {
        QList<Window> found;
        for (const Window& window : windows()) {
            if (window.pid == appPid())
                found.append(window);
        }
        return found;
    }
    // The main window alone is on screen, and has the focus: the user can reach it.
    bool onlyTheMainWindow()
    {
        const QList<Window> shown = appWindows();
        return shown.size() == 1 && !shown[0].fullScreen && shown[0].focused;
    }
    // Each output's topmost window is a full-screen overlay of the app, the output is black
    // around its few lines, and the desktop shows no dialog of its own.
    bool overlaysOnTopOfEveryOutput()
    {
        const QList<Window> stack = windows();
        for (const QRect& output : outputs()) {
            const Window* top = nullptr;
            for (const Window& window : stack) {
                if (window.frame.intersects(output))
                    top = &window;
            }
            if (!top || top->pid != appPid() || !top->fullScreen || top->frame != output || blackShare(shot(output)) < 0.9)
                return false;
        }
        return noDialog();
    }
    // A program of another user home opens its window during the lock.
    void openAnotherWindow()
    {
        otherHome.emplace(QJsonObject{{u"OWOnboarded"_s, true}, {u"OWMenuBarMode"_s, false}});
        ASSERT_TRUE(otherHome->isValid());
        QProcessEnvironment otherEnv = otherHome->environment();
        for (const QString& name : {u"WAYLAND_DISPLAY"_s, u"QT_QPA_PLATFORM"_s, u"DBUS_SESSION_BUS_ADDRESS"_s})
            otherEnv.insert(name, env.value(name));
        otherEnv.insert(u"WAYLAND_DISPLAY"_s, home->filePath(u"run/"_s + env.value(u"WAYLAND_DISPLAY"_s)));
        if (::geteuid() == 0) {
            ASSERT_EQ(QProcess::execute(u"chown"_s, {u"-R"_s, u"65534:65534"_s, otherHome->filePath(u"."_s)}), 0);
        }
        const QStringList command = asDesktopUser(home->filePath(u"bin/orbinwash"_s), {});
        other.setProcessEnvironment(otherEnv);
        other.start(command.first(), command.mid(1));
        ASSERT_TRUE(other.waitForStarted(5000));
    }
    bool otherWindowShown()
    {
        for (const Window& window : windows()) {
            if (window.pid == other.processId())
                return true;
        }
        return false;
    }
    // What the app printed: Qt's warnings among it.
    QByteArray appLog()
    {
        appOutput += app.readAllStandardError();
        return appOutput;
    }

    // Window and lock as a user meets them: the window maps; Return locks with the guard; the
    // overlays alone cover every output, also after another program opens a window; the
    // guard's release brings the window back.
    void lockAndUnlock()
    {
        ASSERT_TRUE(QTest::qWaitFor([&] { return onlyTheMainWindow(); }, 15000)) << "the main window never showed";
        pressReturn(150);
        ASSERT_TRUE(QTest::qWaitFor([&] { return leaseHeld(); }, 5000)) << "Return did not lock with the guard: " << appLog().toStdString();
        EXPECT_TRUE(QTest::qWaitFor([&] { return overlaysOnTopOfEveryOutput(); }, 8000)) << "the overlays are not on top";

        ASSERT_NO_FATAL_FAILURE(openAnotherWindow());
        EXPECT_TRUE(QTest::qWaitFor([&] { return otherWindowShown(); }, 10000));
        EXPECT_TRUE(QTest::qWaitFor([&] { return overlaysOnTopOfEveryOutput(); }, 8000))
            << "a window that opened during the lock stayed above the overlays";

        guardEmits(u"Released"_s, u"s"_s, u"chord"_s);
        EXPECT_TRUE(QTest::qWaitFor([&] { return appWindows().size() == 1 && !appWindows()[0].fullScreen; }, 8000))
            << "the window did not come back";
        EXPECT_FALSE(leaseHeld());
        EXPECT_FALSE(appLog().contains("No such signal"));
    }

    QProcess sessionBus, other;
    QDBusConnection desktop{QString()};
    std::optional<AppHome> otherHome;
    QByteArray appOutput;
};

// GNOME Shell as a Wayland display server, with the test's extension, which opens the shell's
// Eval and Screenshot methods, and, where the row wants a tray host, the AppIndicator one.
class GnomeShellTest : public DesktopTest {
protected:
    void startShell(bool tray, bool trayHost)
    {
        ASSERT_NO_FATAL_FAILURE(makeHome(tray));
        const QString extensions = home->filePath(u"data/gnome-shell/extensions/orbinwash-tests@orbinlabs.com"_s);
        ASSERT_TRUE(QDir().mkpath(extensions) && QDir().mkpath(home->filePath(u"config/glib-2.0/settings"_s)));
        for (const char* file : {"metadata.json", "extension.js"})
            ASSERT_TRUE(QFile::copy(u"" GNOME_EXTENSION "/"_s + QLatin1String(file), extensions + u'/' + QLatin1String(file)));
        QFile settings(home->filePath(u"config/glib-2.0/settings/keyfile"_s));
        ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
        settings.write("[org/gnome/shell]\nenabled-extensions=['orbinwash-tests@orbinlabs.com'");
        settings.write(trayHost ? ", 'ubuntu-appindicators@ubuntu.com']\n" : "]\n");
        settings.close();
        ASSERT_NO_FATAL_FAILURE(handOverHome());
        env.insert(u"GSETTINGS_BACKEND"_s, u"keyfile"_s);
        ASSERT_NO_FATAL_FAILURE(startGuardBus());
        ASSERT_NO_FATAL_FAILURE(startSessionBus());
        ASSERT_NO_FATAL_FAILURE(launch(compositor, u"gnome-shell"_s,
                                       {u"--headless"_s, u"--wayland"_s, u"--no-x11"_s, u"--wayland-display=wayland-ow"_s,
                                        u"--virtual-monitor"_s, u"1280x800"_s, u"--virtual-monitor"_s, u"1280x800"_s}));
        env.insert(u"WAYLAND_DISPLAY"_s, u"wayland-ow"_s);
        ASSERT_TRUE(QTest::qWaitFor([&] { return eval(u"Main.layoutManager._startingUp"_s) == u"false"_s; }, 60000))
            << "GNOME Shell did not start: see " << home->filePath(u"compositor.log"_s).toStdString();
        // The shell starts in its overview, and says it is in unsafe mode: neither is for a user.
        EXPECT_TRUE(QTest::qWaitFor([&] {
            eval(u"Main.overview.hide(); Main.messageTray.getSources().forEach(s => s.destroy())"_s);
            return eval(u"Main.modalCount + ' ' + Main.overview.visible"_s) == u"\"0 false\""_s;
        }, 10000));
        ASSERT_NO_FATAL_FAILURE(launch(app, home->filePath(u"bin/orbinwash"_s)));
    }

    // What a line of the shell's JavaScript gives, as JSON; empty if the shell did not answer.
    QString eval(const QString& script)
    {
        const QDBusMessage reply = call(u"org.gnome.Shell"_s, u"/org/gnome/Shell"_s, u"org.gnome.Shell"_s, u"Eval"_s, {script});
        return reply.arguments().value(0).toBool() ? reply.arguments().value(1).toString() : QString();
    }
    QJsonValue evalJson(const QString& script)
    {
        // The shell gives the value as JSON already.
        return QJsonDocument::fromJson(("[" + eval(script) + "]").toUtf8())[0];
    }

    QList<Window> windows() override
    {
        QList<Window> found;
        const QJsonArray list = evalJson(uR"(global.get_window_actors().map(a => a.meta_window).map(w => {
            const r = w.get_frame_rect();
            return [w.get_pid(), r.x, r.y, r.width, r.height, w.is_fullscreen(), w.has_focus()];
        }))"_s).toArray();
        for (const QJsonValue item : list) {
            const QJsonArray w = item.toArray();
            found.append({w[0].toInteger(), QRect(w[1].toInt(), w[2].toInt(), w[3].toInt(), w[4].toInt()), w[5].toBool(),
                          w[6].toBool()});
        }
        return found;
    }
    QList<QRect> outputs() override
    {
        QList<QRect> found;
        for (const QJsonValue item : evalJson(u"Main.layoutManager.monitors.map(m => [m.x, m.y, m.width, m.height])"_s).toArray()) {
            const QJsonArray m = item.toArray();
            found.append(QRect(m[0].toInt(), m[1].toInt(), m[2].toInt(), m[3].toInt()));
        }
        return found;
    }
    QImage shot(const QRect& area) override
    {
        const QString file = home->filePath(u"run/shot.png"_s);
        QFile::remove(file);
        call(u"org.gnome.Shell.Screenshot"_s, u"/org/gnome/Shell/Screenshot"_s, u"org.gnome.Shell.Screenshot"_s,
             u"ScreenshotArea"_s, {area.x(), area.y(), area.width(), area.height(), false, file});
        // The shell's screenshots have an alpha channel: seen over white, what is not drawn
        // can never pass for black.
        QImage seen(QImage(file).size(), QImage::Format_RGB32);
        seen.fill(Qt::white);
        QPainter(&seen).drawImage(0, 0, QImage(file));
        return seen;
    }
    // Through mutter's remote desktop, which types as a keyboard of the seat would.
    void pressReturn(int holdMs) override
    {
        const QString session = call(u"org.gnome.Mutter.RemoteDesktop"_s, u"/org/gnome/Mutter/RemoteDesktop"_s,
                                     u"org.gnome.Mutter.RemoteDesktop"_s, u"CreateSession"_s)
                                    .arguments().value(0).value<QDBusObjectPath>().path();
        ASSERT_FALSE(session.isEmpty());
        const auto ask = [&](const QString& method, const QVariantList& arguments = {}) {
            const QDBusMessage reply = call(u"org.gnome.Mutter.RemoteDesktop"_s, session,
                                            u"org.gnome.Mutter.RemoteDesktop.Session"_s, method, arguments);
            EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << method.toStdString() << ": "
                                                               << reply.errorMessage().toStdString();
        };
        ask(u"Start"_s);
        // Mutter adds the session's keyboard to the seat at its first key, which the app
        // cannot have yet: a Shift goes first.
        constexpr uint kShift = 0xffe1, kReturn = 0xff0d;
        ask(u"NotifyKeyboardKeysym"_s, {kShift, true});
        ask(u"NotifyKeyboardKeysym"_s, {kShift, false});
        QTest::qWait(500);
        ask(u"NotifyKeyboardKeysym"_s, {kReturn, true});
        QTest::qWait(holdMs);
        ask(u"NotifyKeyboardKeysym"_s, {kReturn, false});
        ask(u"Stop"_s);
    }
    // GNOME's permission dialogs, "Allow inhibiting shortcuts" among them, are modal.
    bool noDialog() override { return eval(u"Main.modalCount"_s) == u"0"_s; }

    // The tray icon's place on the panel, if the AppIndicator extension shows one.
    QRect trayIconArea()
    {
        const QJsonArray boxes = evalJson(uR"(Object.entries(Main.panel.statusArea)
            .filter(([key, actor]) => key.startsWith('appindicator') && actor.visible)
            .map(([key, actor]) => [...actor.get_transformed_position(), ...actor.get_transformed_size()]))"_s).toArray();
        if (boxes.size() != 1)
            return {};
        const QJsonArray b = boxes[0].toArray();
        return QRectF(b[0].toDouble(), b[1].toDouble(), b[2].toDouble(), b[3].toDouble()).toAlignedRect();
    }
};

TEST_F(GnomeShellTest, TheLockHasNoDialogOverItKeepsTheTopAndEndsWithTheGuard)
{
    ASSERT_NO_FATAL_FAILURE(startShell(false, false));
    lockAndUnlock();
}

// Without a tray host the window stays, in the taskbar; with one the icon stands out on the
// panel, and the window waits for it.
TEST_F(GnomeShellTest, TheTrayShowsAnIconThatStandsOutOrElseTheWindow)
{
    for (const bool trayHost : {false, true}) {
        SCOPED_TRACE(trayHost ? "with the AppIndicator extension" : "without a tray host");
        TearDown();
        ASSERT_NO_FATAL_FAILURE(startShell(true, trayHost));
        if (!trayHost) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return onlyTheMainWindow(); }, 15000)) << "no window to reach";
            continue;
        }
        QRect icon;
        ASSERT_TRUE(QTest::qWaitFor([&] { return !(icon = trayIconArea()).isEmpty(); }, 15000)) << "no tray icon";
        // The rows where the icon stands out from the panel (the colour beside it): the
        // extension's placeholder while it loads is a row of three dots; the glyph is tall.
        const auto rowsStandingOut = [&] {
            const QImage pixels = shot(icon);
            const QRgb panel = shot(QRect(icon.right() + 1, icon.top(), 1, 1)).pixel(0, 0);
            int rows = 0;
            for (int y = 0; y < pixels.height(); ++y) {
                int lit = 0;
                for (int x = 0; x < pixels.width(); ++x)
                    lit += std::abs(qGray(pixels.pixel(x, y)) - qGray(panel)) > 85;
                rows += lit >= 2;
            }
            return rows;
        };
        EXPECT_TRUE(QTest::qWaitFor([&] { return rowsStandingOut() >= 10; }, 10000))
            << "the icon is lost on the panel";
        EXPECT_TRUE(appWindows().isEmpty());
        EXPECT_FALSE(appLog().contains("No such signal"));
    }
}

// KWin, from a copy without the file capability that Debian gives it (a container without
// cap_sys_resource cannot run the original), under its own name; input through its
// fake-input protocol, its windows from a KWin script.
class KWinTest : public DesktopTest {
protected:
    void startKWin(bool tray)
    {
        ASSERT_NO_FATAL_FAILURE(makeHome(tray, {u"/usr/bin/kwin_wayland"_s}));
        ASSERT_NO_FATAL_FAILURE(handOverHome());
        for (const auto& [name, value] : {std::pair{u"KWIN_WAYLAND_NO_PERMISSION_CHECKS"_s, u"1"_s},
                                          {u"KWIN_SCREENSHOT_NO_PERMISSION_CHECKS"_s, u"1"_s},
                                          {u"QT_LOGGING_RULES"_s, u"kwin_scripting=true"_s}})
            env.insert(name, value);
        ASSERT_NO_FATAL_FAILURE(startGuardBus());
        ASSERT_NO_FATAL_FAILURE(startSessionBus());
        ASSERT_NO_FATAL_FAILURE(launch(compositor, home->filePath(u"bin/kwin_wayland"_s),
                                       {u"--virtual"_s, u"--width"_s, u"1280"_s, u"--height"_s, u"800"_s,
                                        u"--output-count"_s, u"2"_s, u"--socket"_s, u"wayland-ow"_s}));
        env.insert(u"WAYLAND_DISPLAY"_s, u"wayland-ow"_s);
        ASSERT_TRUE(QTest::qWaitFor([&] { return outputs().size() == 2; }, 30000))
            << "KWin did not start: see " << home->filePath(u"compositor.log"_s).toStdString();
        env.remove(u"QT_LOGGING_RULES"_s);
        ASSERT_NO_FATAL_FAILURE(launch(app, home->filePath(u"bin/orbinwash"_s)));
    }

    // What the script prints, by a tag of its own in KWin's log.
    QJsonObject state()
    {
        const QString tag = u"orbinwash-state-%1"_s.arg(++m_scripts);
        QFile source(u"" KWIN_SCRIPT ""_s);
        if (!source.open(QIODevice::ReadOnly))
            return {};
        const QString path = home->filePath(u"run/"_s + tag + u".js"_s);
        QFile script(path);
        if (!script.open(QIODevice::WriteOnly))
            return {};
        script.write(source.readAll().replace("TAG", tag.toUtf8()));
        script.close();
        QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadOther);
        call(u"org.kde.KWin"_s, u"/Scripting"_s, u"org.kde.kwin.Scripting"_s, u"loadScript"_s, {path, tag});
        call(u"org.kde.KWin"_s, u"/Scripting"_s, u"org.kde.kwin.Scripting"_s, u"start"_s);
        QByteArray line;
        (void)QTest::qWaitFor([&] {
            QFile log(home->filePath(u"compositor.log"_s));
            if (!log.open(QIODevice::ReadOnly))
                return false;
            const QByteArray text = log.readAll();
            const qsizetype at = text.indexOf(tag.toUtf8() + ' ');
            if (at < 0)
                return false;
            line = text.mid(at + tag.size() + 1, text.indexOf('\n', at) - at - tag.size() - 1);
            return true;
        }, 5000);
        call(u"org.kde.KWin"_s, u"/Scripting"_s, u"org.kde.kwin.Scripting"_s, u"unloadScript"_s, {tag});
        return QJsonDocument::fromJson(line).object();
    }
    QList<Window> windows() override
    {
        QList<Window> found;
        for (const QJsonValue item : state()[u"windows"_s].toArray()) {
            const QJsonObject w = item.toObject();
            found.append({w[u"pid"_s].toInteger(),
                          QRect(w[u"x"_s].toInt(), w[u"y"_s].toInt(), w[u"width"_s].toInt(), w[u"height"_s].toInt()),
                          w[u"fullScreen"_s].toBool(), w[u"active"_s].toBool()});
        }
        return found;
    }
    QList<QRect> outputs() override
    {
        QList<QRect> found;
        for (const QJsonValue item : state()[u"screens"_s].toArray()) {
            const QJsonObject s = item.toObject();
            found.append(QRect(s[u"x"_s].toInt(), s[u"y"_s].toInt(), s[u"width"_s].toInt(), s[u"height"_s].toInt()));
        }
        return found;
    }
    // KWin's ScreenShot2 writes the raw image into a pipe while the call is on its way.
    QImage shot(const QRect& area) override
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return {};
        QDBusPendingCall pending = [&] {
            // The message holds a copy of the pipe's end: gone once sent, so that the pipe
            // ends when KWin is done with it.
            QDBusMessage message = QDBusMessage::createMethodCall(
                u"org.kde.KWin"_s, u"/org/kde/KWin/ScreenShot2"_s, u"org.kde.KWin.ScreenShot2"_s, u"CaptureArea"_s);
            message << area.x() << area.y() << uint(area.width()) << uint(area.height()) << QVariantMap()
                    << QVariant::fromValue(QDBusUnixFileDescriptor(fds[1]));
            return desktop.asyncCall(message, 20000);
        }();
        ::close(fds[1]);
        // Read while the reply comes, up to the size it gives.
        QByteArray data;
        pollfd readable{fds[0], POLLIN, 0};
        char buffer[65536];
        QVariantMap meta;
        for (QDeadlineTimer deadline(10000); !deadline.hasExpired();) {
            if (::poll(&readable, 1, 20) > 0) {
                const ssize_t got = ::read(fds[0], buffer, sizeof buffer);
                if (got <= 0)
                    break;
                data.append(buffer, got);
            }
            QCoreApplication::processEvents();
            if (pending.isFinished()) {
                meta = qdbus_cast<QVariantMap>(pending.reply().arguments().value(0));
                if (data.size() >= meta.value(u"stride"_s).toLongLong() * meta.value(u"height"_s).toLongLong())
                    break;
            }
        }
        ::close(fds[0]);
        const int width = meta.value(u"width"_s).toInt(), height = meta.value(u"height"_s).toInt();
        const int stride = meta.value(u"stride"_s).toInt();
        if (height == 0 || data.size() < qsizetype(stride) * height)
            return {};
        return QImage(reinterpret_cast<const uchar*>(data.constData()), width, height, stride,
                      QImage::Format(meta.value(u"format"_s).toInt()))
            .convertToFormat(QImage::Format_RGB32);
    }
    void pressReturn(int holdMs) override
    {
        constexpr int kReturn = 28; // KEY_ENTER
        run(QStringLiteral(DBUSMOCK_PYTHON), {u"" FAKE_INPUT ""_s, QString::number(holdMs), QString::number(kReturn)});
    }

private:
    int m_scripts = 0;
};

TEST_F(KWinTest, TheLockKeepsTheTopAndEndsWithTheGuard)
{
    ASSERT_NO_FATAL_FAILURE(startKWin(false));
    lockAndUnlock();
}

// KWin alone has no tray host (Plasma's panel is one): the window stays.
TEST_F(KWinTest, TheTrayWithoutAHostLeavesTheWindow)
{
    ASSERT_NO_FATAL_FAILURE(startKWin(true));
    EXPECT_TRUE(QTest::qWaitFor([&] { return onlyTheMainWindow(); }, 15000)) << "no window to reach";
    EXPECT_FALSE(appLog().contains("No such signal"));
}

} // namespace
