#include "ClientInfo.h"
#include "CrashReporter.h"
#include "NetworkFakes.h"
#include "RawServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

using ow::CrashReporter;

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
        m_server.route(u"/crash"_s, [this](const QHttpServerRequest& request) {
            if (m_onRequest)
                m_onRequest();
            m_received.append({request.value("Content-Type"), request.body(),
                               QJsonDocument::fromJson(request.body()).object()});
            return QHttpServerResponse(QHttpServerResponder::StatusCode::NoContent);
        });
        m_port = m_server.listen(QHostAddress::LocalHost, 0);
    }

    QUrl url() const { return QUrl(u"http://127.0.0.1:%1/crash"_s.arg(m_port)); }
    const QList<Received>& received() const { return m_received; }
    void setOnRequest(std::function<void()> fn) { m_onRequest = std::move(fn); }

    // Exactly count requests arrive, and no more while the event loop runs a little longer.
    bool receives(qsizetype count)
    {
        (void)QTest::qWaitFor([&] { return m_received.size() >= count; }, 5000);
        return !QTest::qWaitFor([&] { return m_received.size() > count; }, 300) && m_received.size() == count;
    }
    QJsonObject first() const { return m_received.value(0).json; }
    QSet<QString> messages() const
    {
        QSet<QString> messages;
        for (const Received& received : m_received)
            messages.insert(received.json.value(u"message"_s).toString());
        return messages;
    }

private:
    QHttpServer m_server;
    quint16 m_port = 0;
    QList<Received> m_received;
    std::function<void()> m_onRequest;
};

QDateTime utc(int year, int month, int day, int hour = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, 0), Qt::UTC);
}

void writeFile(const QString& path, const QByteArray& bytes, const QDateTime& modified = {})
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
    // Flushed first: a later write would move the date again.
    ASSERT_TRUE(file.flush());
    ASSERT_TRUE(!modified.isValid() || file.setFileTime(modified, QFileDevice::FileModificationTime));
}

const QString kMarkKey = u"OWLastCrashScan"_s;

class CrashReporterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        // Keeps the default record folder out of the user's own data folder.
        m_savedDataHome = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome()));
        ASSERT_TRUE(QDir().mkpath(m_crashFolder));
    }

    void TearDown() override
    {
        if (m_savedDataHome.isNull())
            qunsetenv("XDG_DATA_HOME");
        else
            qputenv("XDG_DATA_HOME", m_savedDataHome);
    }

    QString dataHome() const { return m_dir.filePath(u"data"_s); }

    CrashReporter::Settings settings()
    {
        CrashReporter::Settings settings(m_defaults, m_http);
        settings.endpoint = m_server.url();
        settings.pendingPath = m_pendingPath;
        settings.systemCrashFolder = m_crashFolder;
        settings.executablePath = u"/usr/bin/orbinwash"_s;
        settings.installHooks = false;
        return settings;
    }

    void install() { CrashReporter::install(settings()); }
    QString crashFile(const QString& name) const { return m_crashFolder + u'/' + name; }
    int markWrites() const { return m_defaults.writes.value(kMarkKey); }

    QTemporaryDir m_dir;
    CaptureServer m_server;
    CountingDefaults m_defaults;
    RecordingHttp m_http;
    QString m_pendingPath = m_dir.filePath(u"pending-crash.txt"_s);
    QString m_crashFolder = m_dir.filePath(u"crash"_s);
    QByteArray m_savedDataHome;
};

// ---- The pending record ----

// The record is removed before it goes: a crash while sending must not send it twice.
TEST_F(CrashReporterTest, PendingRecordIsRemovedThenSentOnceSplitAtItsFirstSeparator)
{
    const QList<std::tuple<QString, QString, QString>> records {
        {u"Signal 11\n---\nframe one\nframe two"_s, u"Signal 11"_s, u"frame one\nframe two"_s},
        {u"Something odd\nover two lines\n--\n"_s, u"Something odd\nover two lines\n--\n"_s, QString()},
        {u"Exception: Ünïcode — déjà vu\n---\nframe €\n---\nextra"_s, u"Exception: Ünïcode — déjà vu"_s, u"frame €"_s},
    };
    bool existedAtRequest = false;
    m_server.setOnRequest([&] { existedAtRequest = existedAtRequest || QFile::exists(m_pendingPath); });
    for (qsizetype i = 0; i < records.size(); ++i) {
        const auto& [text, message, stack] = records[i];
        writeFile(m_pendingPath, text.toUtf8());
        i == 0 ? install() : CrashReporter::sendPendingCrash();
        ASSERT_TRUE(m_server.receives(i + 1));
        const QJsonObject json = m_server.received().at(i).json;
        EXPECT_EQ(json.value(u"kind"_s).toString(), u"crash"_s);
        EXPECT_EQ(json.value(u"message"_s).toString(), message);
        EXPECT_EQ(json.value(u"stack"_s).toString(), stack);
        EXPECT_FALSE(QFile::exists(m_pendingPath));
        CrashReporter::sendPendingCrash();
    }
    EXPECT_FALSE(existedAtRequest);

    // A record that cannot be removed is never sent: it would go again at every start.
    m_pendingPath = u"/proc/self/environ"_s;
    install();
    EXPECT_TRUE(m_server.receives(records.size()));
}

TEST_F(CrashReporterTest, DefaultRecordPathIsInTheDataFolderWhichIsCreatedEveryTime)
{
    const QString folder = dataHome() + u"/OrbinWash"_s;
    ASSERT_EQ(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation), dataHome());
    EXPECT_EQ(CrashReporter::defaultPendingPath(), folder + u"/pending-crash.txt"_s);
    ASSERT_TRUE(QDir(folder).removeRecursively());
    CrashReporter::defaultPendingPath();
    EXPECT_TRUE(QFileInfo(folder).isDir());
}

// ---- The request ----

TEST_F(CrashReporterTest, RequestIsCompactJsonOfExactlySixStrings)
{
    install();
    CrashReporter::send(u"error"_s, u"the message"_s, u"a\nb"_s);
    ASSERT_TRUE(m_server.receives(1));
    m_defaults.setValue(u"OWDeviceId"_s, u"dev-4711"_s);
    CrashReporter::send(u"error"_s, u"m"_s, QString());
    ASSERT_TRUE(m_server.receives(2));
    const Received received = m_server.received().at(0);
    EXPECT_EQ(received.contentType, QByteArray("application/x-www-form-urlencoded"));
    EXPECT_EQ(received.body, QJsonDocument(received.json).toJson(QJsonDocument::Compact));
    EXPECT_EQ(received.json.keys(), (QStringList {"d", "kind", "message", "os", "stack", "v"}));
    for (const QString& key : received.json.keys())
        EXPECT_TRUE(received.json.value(key).isString()) << key.toStdString();
    EXPECT_EQ(received.json.value(u"kind"_s).toString(), u"error"_s);
    EXPECT_EQ(received.json.value(u"message"_s).toString(), u"the message"_s);
    EXPECT_EQ(received.json.value(u"stack"_s).toString(), u"a\nb"_s);
    EXPECT_EQ(received.json.value(u"v"_s).toString(), ow::appVersion());
    EXPECT_EQ(received.json.value(u"os"_s).toString(), ow::osString());
    // The device id once assigned.
    EXPECT_EQ(received.json.value(u"d"_s).toString(), u"?"_s);
    EXPECT_EQ(m_server.received().at(1).json.value(u"d"_s).toString(), u"dev-4711"_s);
    // Name and version without the code name: "Debian GNU/Linux 12" of "Debian GNU/Linux 12 (bookworm)".
    EXPECT_TRUE(QSysInfo::prettyProductName().startsWith(ow::osString())) << ow::osString().toStdString();
    EXPECT_TRUE(QSysInfo::productVersion() == u"unknown"_s || ow::osString().endsWith(u' ' + QSysInfo::productVersion()));
}

TEST_F(CrashReporterTest, UnansweringServerBlocksNothingAndIsLeftAtTheDeadline)
{
    RawServer silent({}, false);
    CrashReporter::Settings unanswered = settings();
    unanswered.endpoint = silent.url(u"/crash"_s);
    CrashReporter::install(unanswered);
    m_http.speedUp = 40; // 8 s become 200 ms
    QElapsedTimer timer;
    timer.start();
    CrashReporter::send(u"error"_s, u"m"_s, QString());
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_EQ(m_http.timeouts, QList<std::chrono::milliseconds> {CrashReporter::RequestTimeout});
    // The request is out and unanswered, and the event loop goes on meanwhile, until
    // the request is given up and its connection closed.
    EXPECT_TRUE(QTest::qWaitFor([&] { return silent.accepted() == 1; }, 5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return silent.openConnections() == 0; }, 5000));
    EXPECT_LT(timer.elapsed(), 5000);
}

volatile int g_depthSink = 0;

[[gnu::noinline]] void reportFromDepth(int depth)
{
    if (depth == 0) {
        CrashReporter::reportError(u"worker failed"_s);
        return;
    }
    reportFromDepth(depth - 1);
    // Not a tail call, so every level keeps its frame.
    g_depthSink = g_depthSink + 1;
}

TEST_F(CrashReporterTest, ErrorFromWorkerThreadIsSentWithItsFramesCut)
{
    install();
    std::thread worker([] { reportFromDepth(25); });
    worker.join();
    ASSERT_TRUE(m_server.receives(1));
    EXPECT_EQ(m_server.first().value(u"kind"_s).toString(), u"error"_s);
    EXPECT_EQ(m_server.first().value(u"message"_s).toString(), u"worker failed"_s);
    const QStringList lines = m_server.first().value(u"stack"_s).toString().split(u'\n');
    // Twenty-five levels deep: more than enough frames to be cut.
    EXPECT_EQ(lines.size(), 15);
    EXPECT_FALSE(lines.contains(QString()));
}

// ---- System crash reports ----

TEST_F(CrashReporterTest, SystemReportNamesAreApportsOrOurOwn)
{
    const QString uid = QString::number(::getuid());
    const QStringList taken {"_usr_bin_orbinwash." + uid + ".crash", "OrbinWash-2024-03-01-100000.ips",
                             "OrbinWash.crash", "Orbin Wash 2024.crash", "Orbin Wash-1.ips"};
    const QStringList refused {
        "_usr_bin_orbinwash." + QString::number(::getuid() + 1) + ".crash", "_usr_bin_other." + uid + ".crash",
        "_usr_bin_orbinwash." + uid + ".ips", "_usr_bin_orbinwash." + uid + ".crash.upload", "orbinwash-1.ips",
        "ORBINWASH-1.crash", "Orbinwash-1.ips", "OrbinWash-1.IPS", "OrbinWash-1.Crash", "OrbinWash-1.txt",
        "OrbinWash-1.ips.gz", "My OrbinWash.crash", "Other.crash",
    };
    QSet<QString> expected;
    for (const QString& name : taken + refused) {
        writeFile(crashFile(name), ("Exception Type: " + name).toUtf8(), utc(2024, 3, 1));
        if (taken.contains(name))
            expected.insert("Exception Type: " + name);
    }
    install();
    ASSERT_TRUE(m_server.receives(taken.size()));
    EXPECT_EQ(m_server.messages(), expected);
    EXPECT_EQ(m_server.first().value(u"kind"_s).toString(), u"crash"_s);
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
    ASSERT_TRUE(m_server.receives(2));
    EXPECT_EQ(m_server.messages(), (QSet<QString> {"Exception: second", "Exception: hours"}));
    EXPECT_EQ(m_defaults.date(kMarkKey), mark.addSecs(7200));

    // Nothing new: nothing sent, and the same mark written again.
    const int writes = markWrites();
    CrashReporter::sendSystemCrashReports();
    EXPECT_TRUE(m_server.receives(2));
    EXPECT_EQ(markWrites(), writes + 1);
    EXPECT_EQ(m_defaults.date(kMarkKey), mark.addSecs(7200));
}

TEST_F(CrashReporterTest, ReportDatedAheadOfTheClockNeitherGoesNorHoldsBackLaterOnes)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    writeFile(crashFile("OrbinWash-ahead.ips"), "Exception: ahead", now.addDays(1));
    writeFile(crashFile("OrbinWash-earlier.ips"), "Exception: earlier", now.addSecs(-7200));
    install();
    ASSERT_TRUE(m_server.receives(1));
    EXPECT_EQ(m_server.messages(), QSet<QString> {"Exception: earlier"});
    EXPECT_LE(m_defaults.date(kMarkKey), QDateTime::currentDateTimeUtc());

    // A report written after that scan is still sent.
    writeFile(crashFile("OrbinWash-later.ips"), "Exception: later", now.addSecs(-3600));
    CrashReporter::sendSystemCrashReports();
    ASSERT_TRUE(m_server.receives(2));
    EXPECT_EQ(m_server.received().at(1).json.value(u"message"_s).toString(), u"Exception: later"_s);
}

// The crash folder is shared by all users: another user's report, a link of theirs named
// like a report that points at one of ours, or a link to their file, is not read.
TEST_F(CrashReporterTest, ReportsAndLinksOfOtherUsersAreLeftUnread)
{
    const QString ours = m_dir.filePath(u"ours.txt"_s);
    const QString theirs = m_dir.filePath(u"theirs.txt"_s);
    writeFile(ours, "Exception: the user's private file", utc(2024, 5, 1));
    writeFile(theirs, "Exception: another user's file", utc(2024, 5, 1));
    writeFile(crashFile("OrbinWash-foreign.crash"), "Exception: foreign", utc(2024, 5, 2));
    ASSERT_TRUE(QFile::link(ours, crashFile("OrbinWash-their-link.crash")));
    ASSERT_TRUE(QFile::link(theirs, crashFile("OrbinWash-our-link.crash")));
    const uid_t other = ::getuid() + 4242;
    for (const QString& path : {crashFile("OrbinWash-foreign.crash"), crashFile("OrbinWash-their-link.crash"), theirs}) {
        if (::lchown(QFile::encodeName(path).constData(), other, other) != 0)
            GTEST_SKIP() << "cannot give a file to another user here";
    }
    writeFile(crashFile("OrbinWash-own.crash"), "Exception: own", utc(2024, 4, 1));
    install();
    ASSERT_TRUE(m_server.receives(1));
    EXPECT_EQ(m_server.messages(), QSet<QString> {"Exception: own"});
    EXPECT_EQ(m_defaults.date(kMarkKey), utc(2024, 4, 1));
}

// A scan of an empty folder writes a mark before any date; a missing folder writes none.
TEST_F(CrashReporterTest, OnlyAScannedFolderMovesTheMark)
{
    install();
    EXPECT_EQ(markWrites(), 1);
    EXPECT_LT(m_defaults.date(kMarkKey), utc(1970, 1, 1));
    EXPECT_TRUE(m_server.receives(0));

    ASSERT_TRUE(QDir(m_crashFolder).removeRecursively());
    const QDateTime mark = utc(2023, 5, 6, 7);
    m_defaults.setValue(kMarkKey, mark);
    CrashReporter::sendSystemCrashReports();
    EXPECT_EQ(markWrites(), 2);
    EXPECT_EQ(m_defaults.date(kMarkKey), mark);
}

// Characters, not bytes, and only the start of a huge file is read.
TEST_F(CrashReporterTest, ReportIsCutAtItsCharacterLimit)
{
    const QString text = u"Exception Type: EXC_BAD_ACCESS\n"_s + QString(20000, QChar(0x00e9)) + QString(100, QChar(0x20ac));
    writeFile(crashFile("OrbinWash-long.ips"), text.toUtf8(), utc(2024, 2, 2));
    {
        QFile huge(crashFile("OrbinWash-huge.crash"));
        ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
        ASSERT_GT(huge.write("Termination Reason: huge\n"), 0);
        // Sparse: 1 GiB of zeros that take no room on disk.
        ASSERT_TRUE(huge.resize(qint64(1) << 30) && huge.flush());
        ASSERT_TRUE(huge.setFileTime(utc(2024, 6, 1), QFileDevice::FileModificationTime));
    }
    QElapsedTimer timer;
    timer.start();
    install();
    EXPECT_LT(timer.elapsed(), 3000);
    ASSERT_TRUE(m_server.receives(2));
    QHash<QString, QString> stacks;
    for (const Received& received : m_server.received())
        stacks.insert(received.json.value(u"message"_s).toString(), received.json.value(u"stack"_s).toString());
    EXPECT_EQ(stacks.value(u"Exception Type: EXC_BAD_ACCESS"_s), text.left(CrashReporter::SystemReportChars));
    EXPECT_EQ(stacks.value(u"Termination Reason: huge"_s).size(), CrashReporter::SystemReportChars);
}

TEST_F(CrashReporterTest, HeadlineIsTheFirstLineNamingExceptionOrTermination)
{
    const QStringList reports {
        "\n\nProcess: OrbinWash\nan exception, in lower case\n  Termination Reason: SIGNAL 11\r\nException Type: later\n",
        "Process: OrbinWash\nan exception, lower case only\nTERMINATION\n", ""};
    for (int i = 0; i < reports.size(); ++i)
        writeFile(crashFile(u"OrbinWash-%1.ips"_s.arg(i)), reports[i].toUtf8(), utc(2024, 4, i + 1));
    install();
    ASSERT_TRUE(m_server.receives(3));
    QHash<QString, QString> headlineByReport;
    for (const Received& received : m_server.received())
        headlineByReport.insert(received.json.value(u"stack"_s).toString(), received.json.value(u"message"_s).toString());
    EXPECT_EQ(headlineByReport.value(reports[0]), u"  Termination Reason: SIGNAL 11"_s);
    EXPECT_EQ(headlineByReport.value(reports[1]), u"Rapport système macOS"_s);
    EXPECT_EQ(headlineByReport.value(reports[2]), u"Rapport système macOS"_s);
}

// A file that cannot be read does not move the mark; reading a FIFO would block the scan
// for good (a fault shows as this test's timeout).
TEST_F(CrashReporterTest, UnreadableReportOrFifoIsSkipped)
{
    // Opens, but every read fails (EIO), even for root.
    ASSERT_TRUE(QFile::link(u"/proc/self/mem"_s, crashFile("OrbinWash-unreadable.crash")));
    ASSERT_GT(QFileInfo(crashFile("OrbinWash-unreadable.crash")).lastModified(), utc(2020, 1, 1));
    ASSERT_EQ(::mkfifo(QFile::encodeName(crashFile("OrbinWash-fifo.crash")).constData(), 0600), 0);
    writeFile(crashFile("OrbinWash-readable.crash"), "Exception: readable", utc(2020, 1, 1));
    install();
    ASSERT_TRUE(m_server.receives(1));
    EXPECT_EQ(m_server.messages(), QSet<QString> {"Exception: readable"});
    EXPECT_EQ(m_defaults.date(kMarkKey), utc(2020, 1, 1));
}

// ---- Real crashes, in a child process ----

// A crash_child mode, the signal that ends it, and the record's headline (none when empty).
struct ChildCase {
    const char* mode;
    int signal;
    QString headline;
    // This umask alone would leave the record read-only for its owner.
    mode_t umask = 022;
};

void PrintTo(const ChildCase& child, std::ostream* out)
{
    *out << child.mode;
}

const std::vector<ChildCase> kChildren {
    {"exception", SIGABRT, u"Exception: std::runtime_error — boom"_s},
    {"exception-other", SIGABRT, u"Exception: int — "_s},
    // The headline stays one line, so the record still splits where it should.
    {"exception-lines", SIGABRT, u"Exception: std::runtime_error — first --- second  third"_s},
    {"terminate", SIGABRT, u"Exception: none — "_s},
    {"segv", SIGSEGV, u"Signal 11"_s, 0277},
    {"abort", SIGABRT, u"Signal 6"_s},
    {"overflow", SIGSEGV, u"Signal 11"_s},
    {"exception-then-segv", SIGSEGV, {}},
    // Without the hooks the same crash leaves nothing: the records above are theirs.
    {"none", SIGABRT, {}},
};

class CrashChildTest : public CrashReporterTest, public ::testing::WithParamInterface<ChildCase> {};

// The record's form: headline, separator, 1 to 30 stack lines of the child's, no final
// line feed, mode 0600, nothing else left beside it; sent once by the next start.
TEST_P(CrashChildTest, DiesAsToldLeavingItsRecordForTheNextStart)
{
    const QString folder = m_dir.filePath(u"child"_s);
    ASSERT_TRUE(QDir().mkpath(folder));
    m_pendingPath = folder + u"/pending-crash.txt"_s;
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"XDG_DATA_HOME"_s, dataHome());
    child.setProcessEnvironment(environment);
    // The uncaught exception without hooks prints to stderr: keep the test output clean.
    child.setStandardOutputFile(QProcess::nullDevice());
    child.setStandardErrorFile(QProcess::nullDevice());
    const mode_t mask = GetParam().umask;
    child.setChildProcessModifier([mask] { ::umask(mask); });
    child.start(QString::fromLocal8Bit(CRASH_CHILD), {QString::fromLatin1(GetParam().mode), m_pendingPath});
    ASSERT_TRUE(child.waitForFinished(20000));
    EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(child.exitCode(), GetParam().signal);
    if (GetParam().headline.isEmpty()) {
        EXPECT_FALSE(QFile::exists(m_pendingPath));
        return;
    }

    QFile file(m_pendingPath);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    const QStringList pieces = text.split(u"\n---\n"_s);
    ASSERT_EQ(pieces.size(), 2) << text.toStdString();
    EXPECT_EQ(pieces[0], GetParam().headline);
    const QStringList lines = pieces[1].split(u'\n');
    EXPECT_LE(lines.size(), 30);
    for (const QString& line : lines)
        EXPECT_FALSE(line.trimmed().isEmpty()) << text.toStdString();
    EXPECT_TRUE(pieces[1].contains(u"crash_child"_s)) << text.toStdString();
    struct stat info {};
    EXPECT_EQ(::stat(QFile::encodeName(m_pendingPath).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList {u"pending-crash.txt"_s});

    install();
    ASSERT_TRUE(m_server.receives(1));
    EXPECT_EQ(m_server.first().value(u"message"_s).toString(), pieces[0]);
    EXPECT_EQ(m_server.first().value(u"stack"_s).toString(), pieces[1]);
    EXPECT_FALSE(QFile::exists(m_pendingPath));
}

INSTANTIATE_TEST_SUITE_P(CrashChild, CrashChildTest, ::testing::ValuesIn(kChildren),
                         [](const ::testing::TestParamInfo<ChildCase>& param) {
                             return QString::fromLatin1(param.param.mode).remove(u'-').toStdString();
                         });

} // namespace
