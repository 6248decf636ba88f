#include "ClientInfo.h"
#include "CrashReporter.h"
#include "MemoryUserDefaults.h"
#include "RawServer.h"
#include "NetworkFakes.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QHttpServerResponse>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using ow::CrashReporter;

const QString kSeparator = QStringLiteral("\n---\n");

struct Received {
    QByteArray contentType;
    QByteArray body;
    QJsonObject json;
};

// Captures what reaches /crash.
class CaptureServer {
public:
    CaptureServer()
    {
        m_server.route(QStringLiteral("/crash"), [this](const QHttpServerRequest& request) {
            if (m_onRequest)
                m_onRequest();
            Received received;
            for (const auto& [name, value] : request.headers()) {
                if (name.compare("Content-Type", Qt::CaseInsensitive) == 0)
                    received.contentType = value;
            }
            received.body = request.body();
            received.json = QJsonDocument::fromJson(received.body).object();
            m_received.append(received);
            return QHttpServerResponse(QHttpServerResponder::StatusCode::NoContent);
        });
        m_port = m_server.listen(QHostAddress::LocalHost, 0);
    }

    quint16 port() const { return m_port; }
    QUrl url(const QString& path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path));
    }
    const QList<Received>& received() const { return m_received; }
    void setOnRequest(std::function<void()> fn) { m_onRequest = std::move(fn); }

    bool waitForRequests(qsizetype count)
    {
        return QTest::qWaitFor([&] { return m_received.size() >= count; }, 5000);
    }
    // No request beyond `count` arrives while the event loop runs a little longer.
    bool staysAt(qsizetype count)
    {
        const bool more = QTest::qWaitFor([&] { return m_received.size() > count; }, 300);
        return !more && m_received.size() == count;
    }

private:
    QHttpServer m_server;
    quint16 m_port = 0;
    QList<Received> m_received;
    std::function<void()> m_onRequest;
};

// Counts writes, to tell a mark rewritten unchanged from one left alone.
class CountingDefaults final : public ow::UserDefaults {
public:
    QVariant value(const QString& key) const override { return m_store.value(key); }
    void setValue(const QString& key, const QVariant& value) override
    {
        ++m_writes[key];
        m_store.setValue(key, value);
    }
    void remove(const QString& key) override { m_store.remove(key); }
    int writes(const QString& key) const { return m_writes.value(key); }

private:
    ow::MemoryUserDefaults m_store;
    QHash<QString, int> m_writes;
};

QDateTime utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second), Qt::UTC);
}

void writeFile(const QString& path, const QByteArray& bytes, const QDateTime& modified)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
    // Flushed first: a later write would move the date again.
    ASSERT_TRUE(file.flush());
    ASSERT_TRUE(file.setFileTime(modified, QFileDevice::FileModificationTime));
}

void writeRecord(const QString& path, const QString& text)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_GT(file.write(text.toUtf8()), 0);
}

const QString kMarkKey = QStringLiteral("OWLastCrashScan");

class CrashReporterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_NE(m_server.port(), 0);
        // Keeps the default record folder out of the user's own data folder.
        m_savedDataHome = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome()));
        m_pendingPath = m_dir.filePath(QStringLiteral("pending-crash.txt"));
        m_crashFolder = m_dir.filePath(QStringLiteral("crash"));
        ASSERT_TRUE(QDir().mkpath(m_crashFolder));
    }

    void TearDown() override
    {
        if (m_savedDataHome.isNull())
            qunsetenv("XDG_DATA_HOME");
        else
            qputenv("XDG_DATA_HOME", m_savedDataHome);
    }

    QString dataHome() const { return m_dir.filePath(QStringLiteral("data")); }

    CrashReporter::Settings settings()
    {
        CrashReporter::Settings settings(m_defaults, m_http);
        settings.endpoint = m_server.url(QStringLiteral("/crash"));
        settings.pendingPath = m_pendingPath;
        settings.systemCrashFolder = m_crashFolder;
        settings.executablePath = QStringLiteral("/usr/bin/orbinwash");
        settings.installHooks = false;
        return settings;
    }

    void install() { CrashReporter::install(settings()); }

    QString crashFile(const QString& name) const { return m_crashFolder + QLatin1Char('/') + name; }

    QSet<QString> receivedMessages() const
    {
        QSet<QString> messages;
        for (const Received& received : m_server.received())
            messages.insert(received.json.value(QStringLiteral("message")).toString());
        return messages;
    }

    QTemporaryDir m_dir;
    CaptureServer m_server;
    CountingDefaults m_defaults;
    RecordingHttp m_http;
    QString m_pendingPath;
    QString m_crashFolder;
    QByteArray m_savedDataHome;
};

// ---- The pending record ----

TEST_F(CrashReporterTest, PendingRecordIsRemovedThenSentOnce)
{
    writeRecord(m_pendingPath, QStringLiteral("Signal 11\n---\nframe one\nframe two"));
    bool existedAtRequest = true;
    m_server.setOnRequest([&] { existedAtRequest = QFile::exists(m_pendingPath); });

    install();
    ASSERT_TRUE(m_server.waitForRequests(1));
    const QJsonObject json = m_server.received().at(0).json;
    EXPECT_EQ(json.value(QStringLiteral("kind")).toString(), QStringLiteral("crash"));
    EXPECT_EQ(json.value(QStringLiteral("message")).toString(), QStringLiteral("Signal 11"));
    EXPECT_EQ(json.value(QStringLiteral("stack")).toString(), QStringLiteral("frame one\nframe two"));
    EXPECT_FALSE(existedAtRequest);
    EXPECT_FALSE(QFile::exists(m_pendingPath));

    CrashReporter::sendPendingCrash();
    EXPECT_TRUE(m_server.staysAt(1));
}

TEST_F(CrashReporterTest, RecordWithoutSeparatorIsSentWholeAsTheMessage)
{
    writeRecord(m_pendingPath, QStringLiteral("Something odd\nover two lines\n--\n"));
    install();
    ASSERT_TRUE(m_server.waitForRequests(1));
    const QJsonObject json = m_server.received().at(0).json;
    EXPECT_EQ(json.value(QStringLiteral("message")).toString(), QStringLiteral("Something odd\nover two lines\n--\n"));
    EXPECT_EQ(json.value(QStringLiteral("stack")).toString(), QString());
}

TEST_F(CrashReporterTest, RecordPiecesAfterTheStackAreDroppedAndUtf8IsKept)
{
    writeRecord(m_pendingPath, QStringLiteral("Exception: Ünïcode — déjà vu\n---\nframe €\n---\nextra"));
    install();
    ASSERT_TRUE(m_server.waitForRequests(1));
    const QJsonObject json = m_server.received().at(0).json;
    EXPECT_EQ(json.value(QStringLiteral("message")).toString(), QStringLiteral("Exception: Ünïcode — déjà vu"));
    EXPECT_EQ(json.value(QStringLiteral("stack")).toString(), QStringLiteral("frame €"));
}

TEST_F(CrashReporterTest, NoRecordAndNoReportSendsNothing)
{
    install();
    EXPECT_TRUE(m_server.staysAt(0));
}

TEST_F(CrashReporterTest, DefaultRecordPathIsInTheDataFolderWhichIsCreatedEveryTime)
{
    const QString folder = dataHome() + QLatin1String("/OrbinWash");
    ASSERT_EQ(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation), dataHome());
    EXPECT_EQ(CrashReporter::defaultPendingPath(), folder + QLatin1String("/pending-crash.txt"));
    EXPECT_TRUE(QFileInfo(folder).isDir());
    ASSERT_TRUE(QDir(folder).removeRecursively());
    CrashReporter::defaultPendingPath();
    EXPECT_TRUE(QFileInfo(folder).isDir());
}

// ---- The request ----

TEST_F(CrashReporterTest, RequestIsCompactJsonOfExactlySixStrings)
{
    install();
    CrashReporter::send(QStringLiteral("error"), QStringLiteral("the message"), QStringLiteral("a\nb"));
    ASSERT_TRUE(m_server.waitForRequests(1));
    const Received received = m_server.received().at(0);
    EXPECT_EQ(received.contentType, QByteArray("application/x-www-form-urlencoded"));
    EXPECT_EQ(received.body, QJsonDocument(received.json).toJson(QJsonDocument::Compact));

    const QStringList keys = received.json.keys();
    EXPECT_EQ(keys, (QStringList {"d", "kind", "message", "os", "stack", "v"}));
    for (const QString& key : keys)
        EXPECT_TRUE(received.json.value(key).isString()) << key.toStdString();
    EXPECT_EQ(received.json.value(QStringLiteral("d")).toString(), QStringLiteral("?"));
    EXPECT_EQ(received.json.value(QStringLiteral("kind")).toString(), QStringLiteral("error"));
    EXPECT_EQ(received.json.value(QStringLiteral("message")).toString(), QStringLiteral("the message"));
    EXPECT_EQ(received.json.value(QStringLiteral("stack")).toString(), QStringLiteral("a\nb"));
    EXPECT_FALSE(ow::appVersion().isEmpty());
    EXPECT_EQ(received.json.value(QStringLiteral("v")).toString(), ow::appVersion());
    EXPECT_EQ(received.json.value(QStringLiteral("os")).toString(), ow::osString());
}

TEST_F(CrashReporterTest, DeviceIdIsSentOnceAssigned)
{
    m_defaults.setValue(QStringLiteral("OWDeviceId"), QStringLiteral("dev-4711"));
    install();
    CrashReporter::send(QStringLiteral("error"), QStringLiteral("m"), QString());
    ASSERT_TRUE(m_server.waitForRequests(1));
    EXPECT_EQ(m_server.received().at(0).json.value(QStringLiteral("d")).toString(), QStringLiteral("dev-4711"));
}

TEST_F(CrashReporterTest, OsIsTheSystemsNameAndVersion)
{
    // Name and version without the code name: "Debian GNU/Linux 12" of "Debian GNU/Linux 12 (bookworm)".
    const QString os = ow::osString();
    EXPECT_FALSE(os.isEmpty());
    EXPECT_TRUE(QSysInfo::prettyProductName().startsWith(os)) << os.toStdString();
    if (QSysInfo::productVersion() != QLatin1String("unknown")) {
        EXPECT_TRUE(os.endsWith(QLatin1Char(' ') + QSysInfo::productVersion())) << os.toStdString();
    }
}

TEST_F(CrashReporterTest, UnansweringServerBlocksNothingAndIsLeftAtTheDeadline)
{
    RawServer silent({}, false);
    CrashReporter::Settings unanswered = settings();
    unanswered.endpoint = silent.url(QStringLiteral("/crash"));
    CrashReporter::install(unanswered);
    m_http.speedUp = 40; // 8 s become 200 ms
    QElapsedTimer timer;
    timer.start();
    CrashReporter::send(QStringLiteral("error"), QStringLiteral("m"), QString());
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_EQ(m_http.timeouts, (QList<std::chrono::milliseconds> {std::chrono::seconds(8)}));
    // The request is out and unanswered, and the event loop goes on meanwhile, until
    // the request is given up and its connection closed.
    EXPECT_TRUE(QTest::qWaitFor([&] { return silent.accepted() == 1; }, 5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return silent.openConnections() == 0; }, 5000));
    EXPECT_LT(timer.elapsed(), 5000);
}

// ---- Errors reported from any thread ----

volatile int g_depthSink = 0;

[[gnu::noinline]] void reportFromDepth(int depth)
{
    if (depth == 0) {
        CrashReporter::reportError(QStringLiteral("worker failed"));
        return;
    }
    reportFromDepth(depth - 1);
    // Not a tail call, so every level keeps its frame.
    g_depthSink = g_depthSink + 1;
}

TEST_F(CrashReporterTest, ErrorFromWorkerThreadIsSentWithAtMostFifteenFrames)
{
    install();
    std::thread worker([] { reportFromDepth(25); });
    worker.join();
    ASSERT_TRUE(m_server.waitForRequests(1));
    const QJsonObject json = m_server.received().at(0).json;
    EXPECT_EQ(json.value(QStringLiteral("kind")).toString(), QStringLiteral("error"));
    EXPECT_EQ(json.value(QStringLiteral("message")).toString(), QStringLiteral("worker failed"));
    const QStringList lines = json.value(QStringLiteral("stack")).toString().split(QLatin1Char('\n'));
    // Twenty-five levels deep: more than enough frames to be cut.
    EXPECT_EQ(lines.size(), 15);
    for (const QString& line : lines)
        EXPECT_FALSE(line.isEmpty());
}

// ---- System crash reports ----

TEST_F(CrashReporterTest, SystemReportNamesAreApportsOrOurOwn)
{
    const QString uid = QString::number(::getuid());
    const QStringList taken {
        "_usr_bin_orbinwash." + uid + ".crash",
        "OrbinWash-2024-03-01-100000.ips",
        "OrbinWash.crash",
        "Orbin Wash 2024.crash",
        "Orbin Wash-1.ips",
    };
    const QStringList refused {
        "_usr_bin_orbinwash." + QString::number(::getuid() + 1) + ".crash",
        "_usr_bin_other." + uid + ".crash",
        "_usr_bin_orbinwash." + uid + ".ips",
        "_usr_bin_orbinwash." + uid + ".crash.upload",
        "orbinwash-1.ips",
        "ORBINWASH-1.crash",
        "Orbinwash-1.ips",
        "OrbinWash-1.IPS",
        "OrbinWash-1.Crash",
        "OrbinWash-1.txt",
        "OrbinWash-1.ips.gz",
        "My OrbinWash.crash",
        "Other.crash",
    };
    for (const QString& name : taken + refused)
        writeFile(crashFile(name), ("Exception Type: " + name).toUtf8(), utc(2024, 3, 1));

    install();
    ASSERT_TRUE(m_server.waitForRequests(taken.size()));
    ASSERT_TRUE(m_server.staysAt(taken.size()));
    QSet<QString> expected;
    for (const QString& name : taken)
        expected.insert("Exception Type: " + name);
    EXPECT_EQ(receivedMessages(), expected);
    for (const Received& received : m_server.received())
        EXPECT_EQ(received.json.value(QStringLiteral("kind")).toString(), QStringLiteral("crash"));
}

TEST_F(CrashReporterTest, OnlyReportsNewerThanTheMarkAreSentAndTheMarkMovesToTheNewest)
{
    const QDateTime mark = utc(2024, 1, 1, 10);
    m_defaults.setValue(kMarkKey, mark);
    writeFile(crashFile("OrbinWash-older.ips"), "Exception: older", mark.addDays(-1));
    writeFile(crashFile("OrbinWash-equal.ips"), "Exception: equal", mark);
    writeFile(crashFile("OrbinWash-second.ips"), "Exception: second", mark.addSecs(1));
    writeFile(crashFile("OrbinWash-hours.ips"), "Exception: hours", mark.addSecs(7200));

    install();
    ASSERT_TRUE(m_server.waitForRequests(2));
    ASSERT_TRUE(m_server.staysAt(2));
    EXPECT_EQ(receivedMessages(), (QSet<QString> {"Exception: second", "Exception: hours"}));
    EXPECT_EQ(m_defaults.date(kMarkKey), mark.addSecs(7200));

    // Nothing new: nothing sent, and the same mark written again.
    const int writes = m_defaults.writes(kMarkKey);
    CrashReporter::sendSystemCrashReports();
    EXPECT_TRUE(m_server.staysAt(2));
    EXPECT_EQ(m_defaults.writes(kMarkKey), writes + 1);
    EXPECT_EQ(m_defaults.date(kMarkKey), mark.addSecs(7200));
}

TEST_F(CrashReporterTest, ReportDatedAheadOfTheClockNeitherGoesNorHoldsBackLaterOnes)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    writeFile(crashFile("OrbinWash-ahead.ips"), "Exception: ahead", now.addDays(1));
    writeFile(crashFile("OrbinWash-earlier.ips"), "Exception: earlier", now.addSecs(-7200));
    install();
    ASSERT_TRUE(m_server.waitForRequests(1));
    ASSERT_TRUE(m_server.staysAt(1));
    EXPECT_EQ(receivedMessages(), QSet<QString> {"Exception: earlier"});
    EXPECT_LE(m_defaults.date(kMarkKey), QDateTime::currentDateTimeUtc());

    // A report written after that scan is still sent.
    writeFile(crashFile("OrbinWash-later.ips"), "Exception: later", now.addSecs(-3600));
    CrashReporter::sendSystemCrashReports();
    ASSERT_TRUE(m_server.waitForRequests(2));
    EXPECT_EQ(m_server.received().at(1).json.value(QStringLiteral("message")).toString(),
              QStringLiteral("Exception: later"));
}

// The crash folder is shared by all users: another user's report, a link of theirs named
// like a report that points at one of ours, or a link to their file, is not read.
TEST_F(CrashReporterTest, ReportsAndLinksOfOtherUsersAreLeftUnread)
{
    const QString ours = m_dir.filePath(QStringLiteral("ours.txt"));
    const QString theirs = m_dir.filePath(QStringLiteral("theirs.txt"));
    writeFile(ours, "Exception: the user's private file", utc(2024, 5, 1));
    writeFile(theirs, "Exception: another user's file", utc(2024, 5, 1));
    writeFile(crashFile("OrbinWash-foreign.crash"), "Exception: foreign", utc(2024, 5, 2));
    ASSERT_TRUE(QFile::link(ours, crashFile("OrbinWash-their-link.crash")));
    ASSERT_TRUE(QFile::link(theirs, crashFile("OrbinWash-our-link.crash")));
    const uid_t other = ::getuid() + 4242;
    const QStringList givenAway {crashFile("OrbinWash-foreign.crash"), crashFile("OrbinWash-their-link.crash"),
                                 theirs};
    for (const QString& path : givenAway) {
        if (::lchown(QFile::encodeName(path).constData(), other, other) != 0)
            GTEST_SKIP() << "cannot give a file to another user here";
    }
    writeFile(crashFile("OrbinWash-own.crash"), "Exception: own", utc(2024, 4, 1));

    install();
    ASSERT_TRUE(m_server.waitForRequests(1));
    ASSERT_TRUE(m_server.staysAt(1));
    EXPECT_EQ(receivedMessages(), QSet<QString> {"Exception: own"});
    EXPECT_EQ(m_defaults.date(kMarkKey), utc(2024, 4, 1));
}

TEST_F(CrashReporterTest, ScanOfAnEmptyFolderStillWritesAMark)
{
    install();
    EXPECT_EQ(m_defaults.writes(kMarkKey), 1);
    const QDateTime mark = m_defaults.date(kMarkKey);
    ASSERT_TRUE(mark.isValid());
    EXPECT_LT(mark, utc(1970, 1, 1));
    EXPECT_TRUE(m_server.staysAt(0));
}

TEST_F(CrashReporterTest, MissingFolderLeavesTheMarkAlone)
{
    ASSERT_TRUE(QDir(m_crashFolder).removeRecursively());
    install();
    EXPECT_FALSE(m_defaults.contains(kMarkKey));

    const QDateTime mark = utc(2023, 5, 6, 7, 8, 9);
    m_defaults.setValue(kMarkKey, mark);
    const int writes = m_defaults.writes(kMarkKey);
    CrashReporter::sendSystemCrashReports();
    EXPECT_EQ(m_defaults.writes(kMarkKey), writes);
    EXPECT_EQ(m_defaults.date(kMarkKey), mark);
}

TEST_F(CrashReporterTest, ReportIsCutAtEighteenThousandCharactersNotBytes)
{
    // Two- and three-byte characters: 18,000 characters are far more than 18,000 bytes.
    const QString text = QStringLiteral("Exception Type: EXC_BAD_ACCESS\n") + QString(20000, QChar(0x00e9))
        + QString(100, QChar(0x20ac));
    writeFile(crashFile("OrbinWash-long.ips"), text.toUtf8(), utc(2024, 2, 2));
    install();
    ASSERT_TRUE(m_server.waitForRequests(1));
    const QJsonObject json = m_server.received().at(0).json;
    EXPECT_EQ(json.value(QStringLiteral("message")).toString(), QStringLiteral("Exception Type: EXC_BAD_ACCESS"));
    const QString stack = json.value(QStringLiteral("stack")).toString();
    EXPECT_EQ(stack.size(), 18000);
    EXPECT_EQ(stack, text.left(18000));
}

TEST_F(CrashReporterTest, HeadlineIsTheFirstLineNamingExceptionOrTermination)
{
    writeFile(crashFile("OrbinWash-1.ips"),
              "\n\nProcess: OrbinWash\nan exception, in lower case\n  Termination Reason: SIGNAL 11\r\n"
              "Exception Type: later\n",
              utc(2024, 4, 1));
    writeFile(crashFile("OrbinWash-2.ips"), "Process: OrbinWash\nan exception, lower case only\nTERMINATION\n",
              utc(2024, 4, 2));
    writeFile(crashFile("OrbinWash-3.ips"), "", utc(2024, 4, 3));
    install();
    ASSERT_TRUE(m_server.waitForRequests(3));
    QHash<QString, QString> headlineByReport;
    for (const Received& received : m_server.received())
        headlineByReport.insert(received.json.value(QStringLiteral("stack")).toString(),
                                received.json.value(QStringLiteral("message")).toString());
    EXPECT_EQ(headlineByReport.value("\n\nProcess: OrbinWash\nan exception, in lower case\n  Termination Reason: "
                                     "SIGNAL 11\r\nException Type: later\n"),
              QStringLiteral("  Termination Reason: SIGNAL 11"));
    EXPECT_EQ(headlineByReport.value("Process: OrbinWash\nan exception, lower case only\nTERMINATION\n"),
              QStringLiteral("Rapport système macOS"));
    EXPECT_EQ(headlineByReport.value(QString()), QStringLiteral("Rapport système macOS"));
}

TEST_F(CrashReporterTest, UnreadableReportIsSkippedAndDoesNotMoveTheMark)
{
    // Opens, but every read fails (EIO), even for root.
    ASSERT_TRUE(QFile::link(QStringLiteral("/proc/self/mem"), crashFile("OrbinWash-unreadable.crash")));
    ASSERT_GT(QFileInfo(crashFile("OrbinWash-unreadable.crash")).lastModified(), utc(2020, 1, 1));
    writeFile(crashFile("OrbinWash-readable.crash"), "Exception: readable", utc(2020, 1, 1));

    install();
    ASSERT_TRUE(m_server.waitForRequests(1));
    ASSERT_TRUE(m_server.staysAt(1));
    EXPECT_EQ(receivedMessages(), QSet<QString> {"Exception: readable"});
    EXPECT_EQ(m_defaults.date(kMarkKey), utc(2020, 1, 1));
}

// Reading a FIFO would block the scan for good: a fault shows as this test's timeout.
TEST_F(CrashReporterTest, FifoWithAReportNameIsLeftAlone)
{
    ASSERT_EQ(::mkfifo(QFile::encodeName(crashFile("OrbinWash-fifo.crash")).constData(), 0600), 0);
    writeFile(crashFile("OrbinWash-file.crash"), "Exception: file", utc(2021, 1, 1));
    install();
    ASSERT_TRUE(m_server.waitForRequests(1));
    EXPECT_EQ(receivedMessages(), QSet<QString> {"Exception: file"});
}

TEST_F(CrashReporterTest, HugeReportIsReadOnlyInPart)
{
    const QString path = crashFile("OrbinWash-huge.crash");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_GT(file.write("Termination Reason: huge\n"), 0);
        // Sparse: 1 GiB of zeros that take no room on disk.
        ASSERT_TRUE(file.resize(qint64(1) << 30));
        ASSERT_TRUE(file.flush());
        ASSERT_TRUE(file.setFileTime(utc(2024, 6, 1), QFileDevice::FileModificationTime));
    }
    QElapsedTimer timer;
    timer.start();
    install();
    EXPECT_LT(timer.elapsed(), 3000);
    ASSERT_TRUE(m_server.waitForRequests(1));
    const QJsonObject json = m_server.received().at(0).json;
    EXPECT_EQ(json.value(QStringLiteral("message")).toString(), QStringLiteral("Termination Reason: huge"));
    EXPECT_EQ(json.value(QStringLiteral("stack")).toString().size(), 18000);
}

// ---- Real crashes, in a child process ----

constexpr int kTimedOut = -1;
constexpr int kExited = -2;

// Runs crash_child and gives the signal that ended it, or kExited, or kTimedOut.
int runCrashChild(const char* mode, const QString& recordPath, const QString& dataHome, mode_t childUmask = 022)
{
    QByteArray program(CRASH_CHILD);
    QByteArray modeArg(mode);
    QByteArray pathArg = QFile::encodeName(recordPath);
    char* const argv[] = {program.data(), modeArg.data(), pathArg.data(), nullptr};

    // The child's default paths point into the test's folder, not the user's.
    std::vector<QByteArray> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (!QByteArray(*entry).startsWith("XDG_DATA_HOME="))
            environment.emplace_back(*entry);
    }
    environment.push_back("XDG_DATA_HOME=" + QFile::encodeName(dataHome));
    std::vector<char*> envp;
    for (QByteArray& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    // The uncaught exception without hooks prints to stderr: keep the test output clean.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const mode_t previousUmask = ::umask(childUmask);
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, program.constData(), &actions, nullptr, argv, envp.data());
    ::umask(previousUmask);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << CRASH_CHILD;
        return kExited;
    }

    // Through syscall(): glibc 2.36's <sys/pidfd.h> lacks C linkage for C++.
    const int pidfd = int(::syscall(SYS_pidfd_open, pid, 0));
    pollfd ready {pidfd, POLLIN, 0};
    const bool ended = pidfd >= 0 && ::poll(&ready, 1, 20000) == 1;
    if (pidfd >= 0)
        ::close(pidfd);
    if (!ended)
        ::kill(pid, SIGKILL);
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid)
        return kTimedOut;
    if (!ended)
        return kTimedOut;
    return WIFSIGNALED(status) ? WTERMSIG(status) : kExited;
}

struct Record {
    QString headline;
    QString stack;
};

// The record the child left, checked for its form: headline, separator, 1 to 30 stack
// lines of the child's, no final line feed, mode 0600, nothing else left beside it.
Record expectRecord(const QString& path, const QString& headline)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "no record at " << path.toStdString();
        return {};
    }
    const QString text = QString::fromUtf8(file.readAll());
    const QStringList pieces = text.split(kSeparator);
    EXPECT_EQ(pieces.size(), 2) << text.toStdString();
    const Record record {pieces.value(0), pieces.value(1)};
    EXPECT_EQ(record.headline, headline);
    EXPECT_FALSE(text.endsWith(QLatin1Char('\n')));
    const QStringList lines = record.stack.split(QLatin1Char('\n'));
    EXPECT_GE(lines.size(), 1);
    EXPECT_LE(lines.size(), 30);
    for (const QString& line : lines)
        EXPECT_FALSE(line.trimmed().isEmpty()) << text.toStdString();
    EXPECT_TRUE(record.stack.contains(QLatin1String("crash_child"))) << text.toStdString();

    struct stat info {};
    EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files | QDir::Hidden),
              QStringList {QFileInfo(path).fileName()});
    return record;
}

class CrashChildTest : public CrashReporterTest {
protected:
    // The reporter in this process sends the child's record, once, and removes it.
    void expectSentOnce(const Record& record)
    {
        install();
        ASSERT_TRUE(m_server.waitForRequests(1));
        ASSERT_TRUE(m_server.staysAt(1));
        const QJsonObject json = m_server.received().at(0).json;
        EXPECT_EQ(json.value(QStringLiteral("kind")).toString(), QStringLiteral("crash"));
        EXPECT_EQ(json.value(QStringLiteral("message")).toString(), record.headline);
        EXPECT_EQ(json.value(QStringLiteral("stack")).toString(), record.stack);
        EXPECT_FALSE(QFile::exists(m_pendingPath));
    }

    QString childFolder() const { return m_dir.filePath(QStringLiteral("child")); }
    QString childRecordPath() const { return childFolder() + QLatin1String("/pending-crash.txt"); }

    void SetUp() override
    {
        CrashReporterTest::SetUp();
        ASSERT_TRUE(QDir().mkpath(childFolder()));
        m_pendingPath = childRecordPath();
    }
};

TEST_F(CrashChildTest, UncaughtExceptionIsRecordedAndTheChildDiesByAbort)
{
    EXPECT_EQ(runCrashChild("exception", childRecordPath(), dataHome()), SIGABRT);
    const Record record = expectRecord(childRecordPath(), QStringLiteral("Exception: std::runtime_error — boom"));
    expectSentOnce(record);
}

TEST_F(CrashChildTest, ExceptionNotDerivedFromStdExceptionHasNoReason)
{
    EXPECT_EQ(runCrashChild("exception-other", childRecordPath(), dataHome()), SIGABRT);
    expectRecord(childRecordPath(), QStringLiteral("Exception: int — "));
}

// The headline stays one line, so the record still splits where it should.
TEST_F(CrashChildTest, ReasonOverSeveralLinesIsKeptOnTheHeadline)
{
    EXPECT_EQ(runCrashChild("exception-lines", childRecordPath(), dataHome()), SIGABRT);
    expectRecord(childRecordPath(), QStringLiteral("Exception: std::runtime_error — first --- second  third"));
}

TEST_F(CrashChildTest, TerminateWithoutExceptionIsRecorded)
{
    EXPECT_EQ(runCrashChild("terminate", childRecordPath(), dataHome()), SIGABRT);
    expectRecord(childRecordPath(), QStringLiteral("Exception: none — "));
}

TEST_F(CrashChildTest, SegmentationFaultIsRecordedAndTheChildDiesBySigsegv)
{
    EXPECT_EQ(runCrashChild("segv", childRecordPath(), dataHome()), SIGSEGV);
    const Record record = expectRecord(childRecordPath(), QStringLiteral("Signal 11"));
    expectSentOnce(record);
}

TEST_F(CrashChildTest, RecordIsOwnerOnlyWhateverTheUmask)
{
    // This umask alone would leave the record read-only for its owner.
    EXPECT_EQ(runCrashChild("segv", childRecordPath(), dataHome(), 0277), SIGSEGV);
    expectRecord(childRecordPath(), QStringLiteral("Signal 11"));
}

TEST_F(CrashChildTest, AbortIsRecordedAsSignalSix)
{
    EXPECT_EQ(runCrashChild("abort", childRecordPath(), dataHome()), SIGABRT);
    expectRecord(childRecordPath(), QStringLiteral("Signal 6"));
}

TEST_F(CrashChildTest, StackOverflowIsRecordedFromTheAlternateStack)
{
    EXPECT_EQ(runCrashChild("overflow", childRecordPath(), dataHome()), SIGSEGV);
    expectRecord(childRecordPath(), QStringLiteral("Signal 11"));
}

TEST_F(CrashChildTest, FaultWhileRecordingEndsTheChildWithoutLooping)
{
    EXPECT_EQ(runCrashChild("exception-then-segv", childRecordPath(), dataHome()), SIGSEGV);
    EXPECT_FALSE(QFile::exists(childRecordPath()));
}

// Without the hooks the same crash leaves nothing: the records above are theirs.
TEST_F(CrashChildTest, WithoutHooksNothingIsRecorded)
{
    EXPECT_EQ(runCrashChild("none", childRecordPath(), dataHome()), SIGABRT);
    EXPECT_FALSE(QFile::exists(childRecordPath()));
}

} // namespace
