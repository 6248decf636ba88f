#include "LockCycle.h"
#include "XTestInput.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>

#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>

using ow::test::XTestInput;

namespace {

constexpr char kUnresponsive[] = "Watchdog: main loop unresponsive for 5 s\n---\nwatchdog";
constexpr char kPastDeadline[] = "Watchdog: lock outlived its safety deadline\n---\nwatchdog";

// lock_child watched by the real helper, with the lock under way.
class LockWatchdogTest : public ::testing::Test {
protected:
    void startLocked(const QStringList& extraArgs)
    {
        app.start(QStringLiteral(LOCK_CHILD),
                  QStringList{QStringLiteral("--watchdog"), QStringLiteral(WATCHDOG_BIN), recordPath()}
                      + extraArgs);
        ASSERT_TRUE(app.waitForStarted(5000));
        while (!app.canReadLine())
            ASSERT_TRUE(app.waitForReadyRead(10000));
        ASSERT_EQ(app.readLine().trimmed(), QByteArray("locked"));
    }

    QString recordPath() const { return folder.filePath(QStringLiteral("pending-crash.txt")); }

    XTestInput input{qEnvironmentVariable("DISPLAY")};
    QTemporaryDir folder;
    QProcess app;
};

// A lock whose app no longer runs its main loop is ended from outside, input comes back,
// and the record left for the next launch says why.
TEST_F(LockWatchdogTest, AHungAppIsKilledInputFreedAndTheCauseRecorded)
{
    const struct {
        const char* name;
        QStringList args;
        bool stop; // SIGSTOP right after the lock began
        int timeoutMs;
        int earliestMs;
        const char* record;
    } rows[] = {
        // Five seconds after the watchdog last saw a heartbeat: it looks every 5 s, and
        // the once-a-second tick may have sent the last one up to a second before the stop.
        {"stopped", {}, true, 11000, 4000, kUnresponsive},
        // Blocked before its first tick: five seconds after the watchdog started.
        {"main loop blocked", {QStringLiteral("--block-after-ms"), QStringLiteral("200")}, false, 6200, 4400,
         kUnresponsive},
        // Stopped at once, the app cannot end the lock at 1 s itself; the deadline rule
        // (1 s + 2 s) comes before the heartbeat rule (5 s).
        {"past its deadline", {QStringLiteral("--safety-ms"), QStringLiteral("1000")}, true, 4000, 2500, kPastDeadline},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        QFile::remove(recordPath());
        ASSERT_NO_FATAL_FAILURE(startLocked(row.args));
        ASSERT_TRUE(input.keyboardGrabbedByOther());
        QElapsedTimer elapsed;
        elapsed.start();
        if (row.stop)
            ::kill(pid_t(app.processId()), SIGSTOP);
        ASSERT_TRUE(app.waitForFinished(row.timeoutMs));
        ASSERT_EQ(app.exitStatus(), QProcess::CrashExit);
        EXPECT_GE(elapsed.elapsed(), row.earliestMs);
        EXPECT_FALSE(input.keyboardGrabbedByOther());
        QFile record(recordPath());
        ASSERT_TRUE(record.open(QIODevice::ReadOnly));
        EXPECT_EQ(record.readAll(), QByteArray(row.record));
        struct stat info {};
        ASSERT_EQ(::stat(QFile::encodeName(recordPath()).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
    }
}

// The app's own safety deadline, later than the heartbeat timeout, ends the lock: only
// heartbeats that reach the watchdog keep the app alive. A cloth on a key since before the
// lock, lifted during it, is not held down after (it would auto-repeat into every program).
TEST_F(LockWatchdogTest, AHealthyLockOutlastsTheHeartbeatTimeoutAndItsSafetyUnlockLeavesTheSessionFree)
{
    const unsigned cloth = input.keycode("x");
    input.key(cloth, true);
    startLocked({QStringLiteral("--safety-ms"), QStringLiteral("5600")});
    input.key(cloth, false);
    ASSERT_FALSE(HasFatalFailure());
    const auto watchdog = pid_t(ow::test::watchdogChildOf(app.processId()));
    ASSERT_GT(watchdog, 0);
    ASSERT_TRUE(app.waitForFinished(9000));
    EXPECT_EQ(std::tuple(app.exitStatus(), app.exitCode()), std::tuple(QProcess::NormalExit, 0));
    // Reaped by the app before it quit: no such process any more, not even a zombie.
    EXPECT_EQ(::kill(watchdog, 0), -1);
    EXPECT_EQ(errno, ESRCH);
    EXPECT_FALSE(QFile::exists(recordPath()));
    const QString trouble = ow::test::troubleAfterUnlock(input, 1000);
    EXPECT_TRUE(trouble.isEmpty()) << qPrintable(trouble);
}

TEST_F(LockWatchdogTest, AKilledAppTakesTheWatchdogWithIt)
{
    // The orphaned watchdog becomes our child, so its end can be waited for exactly.
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    ASSERT_NO_FATAL_FAILURE(startLocked({}));
    const auto watchdog = pid_t(ow::test::watchdogChildOf(app.processId()));
    ASSERT_GT(watchdog, 0);
    app.kill();
    ASSERT_TRUE(app.waitForFinished(5000));
    EXPECT_FALSE(input.keyboardGrabbedByOther());
    QElapsedTimer elapsed;
    elapsed.start();
    int status = 0;
    pid_t reaped = 0;
    while ((reaped = ::waitpid(watchdog, &status, WNOHANG)) == 0 && elapsed.elapsed() < 2000)
        QTest::qWait(5);
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
    ASSERT_EQ(reaped, watchdog);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_LT(elapsed.elapsed(), 1000);
    EXPECT_FALSE(QFile::exists(recordPath()));
}

} // namespace
