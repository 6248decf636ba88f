#include "AppHome.h"
#include "LockCycle.h"
#include "X11Probe.h"
#include "XTestInput.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QRect>
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

// Where the lock button is on screen: the lowest run of strongly coloured pixels in the
// middle column of the window (the brand mark above it is the only other colour).
QPoint lockButtonCentre(XTestInput& input, unsigned long window)
{
    const QRect frame = input.rootGeometry(window);
    const QList<unsigned> column = input.column(window, frame.width() / 2);
    int bottom = -1;
    int top = -1;
    for (int y = int(column.size()) - 1; y >= 0; --y) {
        const int r = int(column[y] >> 16 & 0xFF), g = int(column[y] >> 8 & 0xFF), b = int(column[y] & 0xFF);
        const bool coloured = std::max({r, g, b}) - std::min({r, g, b}) > 60;
        if (coloured && bottom < 0)
            bottom = y;
        if (!coloured && bottom >= 0) {
            top = y + 1;
            break;
        }
    }
    if (bottom < 0 || top < 0)
        return {};
    return {frame.x() + frame.width() / 2, frame.y() + (top + bottom) / 2};
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

    // The first launch's question was answered: OrbinWash lives in the taskbar. A
    // one-second hold keeps the unlocks short.
    ow::test::AppHome home{QJsonObject{{QStringLiteral("OWOnboarded"), true}, {QStringLiteral("OWHoldSecondsUser"), 1}}};
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

    // Both Ctrl keys for the hold time.
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

namespace {

// How a person gives the lock command, and what a cloth on the keyboard does meanwhile.
enum class Command { Return, Click };
enum class Cloth {
    None,
    FromBeforeTheCommand, // a key held since before the command, let go well into the lock
    ThroughTheUnlock,     // a key pressed during the lock, let go after the unlock
};
struct LockWay {
    const char* name;
    Command command;
    int pressMs;
    Cloth cloth;
};

void PrintTo(const LockWay& way, std::ostream* out)
{
    *out << way.name;
}

class LockCommandCycles : public AppEndToEndTest, public ::testing::WithParamInterface<LockWay> {
protected:
    void giveCommand(const LockWay& way)
    {
        if (way.command == Command::Return) {
            input.focus(mainWindow());
            input.key(input.keycode("Return"), true);
            QTest::qWait(way.pressMs);
            input.key(input.keycode("Return"), false);
            return;
        }
        const QPoint button = lockButtonCentre(input, mainWindow());
        ASSERT_FALSE(button.isNull()) << "no lock button found in the window";
        input.motion(button.x(), button.y());
        input.button(1, true);
        QTest::qWait(way.pressMs);
        input.button(1, false);
    }
};

// Whatever gave the command, the lock ends by the hold and stays ended: nothing the
// command or the cloth pressed is left held down to come back as a new lock.
TEST_P(LockCommandCycles, UnlockingLeavesTheSessionFree)
{
    const LockWay way = GetParam();
    const unsigned clothKey = input.keycode("x");
    start(app);
    ASSERT_TRUE(app.waitForStarted(5000));
    for (int cycle = 1; cycle <= 3; ++cycle) {
        SCOPED_TRACE(cycle);
        ASSERT_TRUE(eventually([&] { return mainWindow() != 0; }, 10000)) << "the main window is not there";
        QTest::qWait(300); // as long as a person takes to reach for the key
        if (way.cloth == Cloth::FromBeforeTheCommand)
            input.key(clothKey, true);
        giveCommand(way);
        ASSERT_TRUE(eventually([&] { return input.keyboardGrabbedByOther(); }, 5000)) << "the command did not lock";
        if (way.cloth == Cloth::FromBeforeTheCommand) {
            QTest::qWait(1500);
            input.key(clothKey, false);
        }
        if (way.cloth == Cloth::ThroughTheUnlock)
            input.key(clothKey, true);
        ASSERT_TRUE(ow::test::holdBothCtrlKeysUntilUnlocked(input, 5000));
        if (way.cloth == Cloth::ThroughTheUnlock) {
            QTest::qWait(300);
            input.key(clothKey, false);
        }
        const QString trouble = ow::test::troubleAfterUnlock(input, 3000);
        ASSERT_TRUE(trouble.isEmpty()) << qPrintable(trouble);
    }
}

INSTANTIATE_TEST_SUITE_P(
    AsAPersonDoes, LockCommandCycles,
    ::testing::Values(LockWay{"Return50ms", Command::Return, 50, Cloth::None},
                      LockWay{"Return150ms", Command::Return, 150, Cloth::None},
                      LockWay{"Return400ms", Command::Return, 400, Cloth::None},
                      LockWay{"Click200ms", Command::Click, 200, Cloth::None},
                      LockWay{"KeyHeldFromBeforeTheCommand", Command::Return, 150, Cloth::FromBeforeTheCommand},
                      LockWay{"KeyHeldThroughTheUnlock", Command::Return, 150, Cloth::ThroughTheUnlock}),
    [](const ::testing::TestParamInfo<LockWay>& row) { return std::string(row.param.name); });

} // namespace
