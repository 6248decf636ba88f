#include "AppHome.h"
#include "X11Probe.h"
#include "XTestInput.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

using ow::test::X11Probe;
using ow::test::XTestInput;

namespace {

bool eventually(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(20);
    }
    return true;
}

// Whether a process named orbinwash-watchdog runs as a child of parent.
bool hasWatchdogChild(qint64 parent)
{
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (comm) state ppid ...": the name is in parentheses, the parent two fields on.
        const QByteArray line = stat.readAll();
        const qsizetype open = line.indexOf('(');
        const qsizetype close = line.lastIndexOf(')');
        if (open < 0 || close < open)
            continue;
        const QList<QByteArray> rest = line.mid(close + 2).split(' ');
        if (line.mid(open + 1, close - open - 1) == "orbinwash-watch" // comm is cut at 15 characters
            && rest.size() > 1 && rest[1].toLongLong() == parent)
            return true;
    }
    return false;
}

// OrbinWash as a user starts it: the real executable with a fresh home.
class AppEndToEndTest : public ::testing::Test {
protected:
    AppEndToEndTest()
        : input(qEnvironmentVariable("DISPLAY"))
    {
    }

    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        ASSERT_TRUE(input.isOpen());
    }

    void TearDown() override
    {
        for (QProcess* process : {&app, &second}) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
    }

    void start(QProcess& process)
    {
        process.setProcessEnvironment(home.environment());
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // ORBINWASH_UNDER_TEST names another OrbinWash to start, such as the installed one.
        process.start(qEnvironmentVariable("ORBINWASH_UNDER_TEST", QStringLiteral(ORBINWASH_BIN)), {});
    }

    unsigned long mainWindow() { return input.findViewableWindow(QStringLiteral("OrbinWash")); }

    // The first launch's question was answered: OrbinWash lives in the taskbar.
    ow::test::AppHome home{QJsonObject{{QStringLiteral("OWOnboarded"), true}}};
    XTestInput input;
    QProcess app;
    QProcess second;
};

TEST_F(AppEndToEndTest, ReturnLocksHoldingBothCtrlKeysUnlocksAndTheWindowComesBack)
{
    start(app);
    ASSERT_TRUE(app.waitForStarted(5000));
    ASSERT_TRUE(eventually([&] { return mainWindow() != 0; }, 10000)) << "the main window never appeared";
    input.focus(mainWindow());

    input.tap(input.keycode("Return"));
    ASSERT_TRUE(eventually([&] { return input.keyboardGrabbedByOther(); }, 5000)) << "Return did not lock";
    EXPECT_TRUE(eventually([&] { return hasWatchdogChild(app.processId()); }, 2000))
        << "no watchdog guards the lock";
    EXPECT_EQ(mainWindow(), 0u) << "the main window stays hidden during the lock";

    // Another program, focused, hears nothing of what is typed.
    X11Probe probe(QStringLiteral(X11_PROBE));
    ASSERT_TRUE(probe.start());
    ASSERT_TRUE(probe.nextLine().startsWith(QLatin1String("ready")));
    for (const char* key : {"a", "Return", "space"})
        input.tap(input.keycode(key));
    input.click(1);
    EXPECT_EQ(probe.received(), QStringList());

    // Both Ctrl keys for the default 3 seconds.
    const unsigned left = input.keycode("Control_L");
    const unsigned right = input.keycode("Control_R");
    input.key(left, true);
    input.key(right, true);
    const bool unlocked = eventually([&] { return !input.keyboardGrabbedByOther(); }, 6000);
    input.key(right, false);
    input.key(left, false);
    ASSERT_TRUE(unlocked);
    EXPECT_TRUE(eventually([&] { return mainWindow() != 0; }, 5000)) << "the main window did not come back";
}

TEST_F(AppEndToEndTest, ASecondLaunchExitsAndBringsTheFirstWindowForward)
{
    start(app);
    ASSERT_TRUE(app.waitForStarted(5000));
    ASSERT_TRUE(eventually([&] { return mainWindow() != 0; }, 10000));

    // Ctrl+W closes the window; the application keeps running.
    input.focus(mainWindow());
    const unsigned control = input.keycode("Control_L");
    input.key(control, true);
    input.tap(input.keycode("w"));
    input.key(control, false);
    ASSERT_TRUE(eventually([&] { return mainWindow() == 0; }, 5000)) << "Ctrl+W did not close the window";
    EXPECT_EQ(app.state(), QProcess::Running);

    start(second);
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(eventually([&] { return mainWindow() != 0; }, 5000)) << "the first instance did not come forward";
    EXPECT_EQ(app.state(), QProcess::Running);
}

} // namespace
