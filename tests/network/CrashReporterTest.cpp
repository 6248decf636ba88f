#include "ClientInfo.h"
#include "CrashReporter.h"
#include "FakeHttpClient.h"
#include "MemoryUserDefaults.h"
#include "PosixFatalErrorHooks.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <thread>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

using ow::CrashReporter;
using ow::CrashText;

QDateTime utc(int year, int month, int day)
{
    return QDateTime(QDate(year, month, day), QTime(0, 0), Qt::UTC);
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

// A record splits at its first separator; a system report's headline is its first line
// naming an exception or a termination, else one of our own, over its first characters.
TEST(CrashTextTest, RecordsSplitAtTheFirstSeparatorAndReportsUnderTheirHeadline)
{
    const std::tuple<QString, QString, QString> records[] = {
        {u"Signal 11\n---\nframe one\nframe two"_s, u"Signal 11"_s, u"frame one\nframe two"_s},
        {u"Something odd\nover two lines\n--\n"_s, u"Something odd\nover two lines\n--\n"_s, QString()},
        {u"Exception: Ünïcode — déjà vu\n---\nframe €\n---\nextra"_s, u"Exception: Ünïcode — déjà vu"_s, u"frame €"_s},
    };
    for (const auto& [record, message, stack] : records) {
        const CrashText text = CrashText::fromPendingRecord(record);
        EXPECT_EQ(std::tuple(text.message, text.stack), std::tuple(message, stack)) << record.toStdString();
    }

    const QString fallback = CrashText::fromSystemReport(QString()).message;
    const QString longReport = u"Exception Type: EXC_BAD_ACCESS\n"_s + QString(20000, QChar(0x00e9));
    const std::pair<QString, QString> reports[] = {
        {longReport, u"Exception Type: EXC_BAD_ACCESS"_s},
        {u"\n\nProcess: OrbinWash\nan exception\n  Termination Reason: SIGNAL 11\r\nException Type: later\n"_s,
         u"  Termination Reason: SIGNAL 11"_s},
        {u"Process: OrbinWash\nan exception, a termination\nTERMINATION\nEXCEPTION"_s, fallback},
    };
    for (const auto& [report, headline] : reports) {
        const CrashText text = CrashText::fromSystemReport(report);
        EXPECT_EQ(std::tuple(text.message, text.stack), std::tuple(headline, report.left(CrashReporter::SystemReportChars)))
            << report.left(80).toStdString();
    }
    EXPECT_FALSE(fallback.isEmpty());
    EXPECT_LT(CrashReporter::SystemReportChars, longReport.size());
}

const QString kMarkKey = u"OWLastCrashScan"_s;

// The real stack reader, without signal handlers in the test process.
class StackOnlyHooks final : public ow::PosixFatalErrorHooks {
public:
    void install(const QString&) override {}
};

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

    void install()
    {
        CrashReporter::Settings settings(m_defaults, m_http, m_hooks);
        settings.endpoint = QUrl(u"https://crash.test/report"_s);
        settings.pendingPath = m_pendingPath;
        settings.systemCrashFolder = m_crashFolder;
        settings.executablePath = u"/usr/bin/orbinwash"_s;
        CrashReporter::install(settings);
    }

    qsizetype sent() const { return m_http.requests().size(); }
    QJsonObject request(qsizetype i) const { return QJsonDocument::fromJson(m_http.requests().value(i).body).object(); }
    QString field(qsizetype i, const QString& key) const { return request(i).value(key).toString(); }
    QSet<QString> messages() const
    {
        QSet<QString> messages;
        for (qsizetype i = 0; i < sent(); ++i)
            messages.insert(field(i, u"message"_s));
        return messages;
    }
    // A system report in the crash folder, its text its headline.
    void writeReport(const QString& name, const QString& text, const QDateTime& modified)
    {
        writeFile(m_crashFolder + u'/' + name, text.toUtf8(), modified);
    }

    QTemporaryDir m_dir;
    ow::MemoryUserDefaults m_defaults;
    ow::FakeHttpClient m_http;
    StackOnlyHooks m_hooks;
    QString m_pendingPath = m_dir.filePath(u"pending-crash.txt"_s);
    QString m_crashFolder = m_dir.filePath(u"crash"_s);
    QByteArray m_savedDataHome;
};

// Compact JSON of six strings; the device id once assigned. The system is named by name and
// version without the code name: "Debian GNU/Linux 12" of "Debian GNU/Linux 12 (bookworm)".
TEST_F(CrashReporterTest, RequestIsCompactJsonOfExactlySixStrings)
{
    install();
    CrashReporter::send(u"error"_s, u"the message"_s, u"a\nb"_s);
    m_defaults.setValue(u"OWDeviceId"_s, u"dev-4711"_s);
    CrashReporter::send(u"error"_s, u"m"_s, QString());
    ASSERT_EQ(sent(), 2);
    const QJsonObject json = request(0);
    EXPECT_EQ(m_http.requests()[0].body, QJsonDocument(json).toJson(QJsonDocument::Compact));
    EXPECT_EQ(json.keys(), (QStringList{u"d"_s, u"kind"_s, u"message"_s, u"os"_s, u"stack"_s, u"v"_s}));
    for (const QString& key : json.keys())
        EXPECT_TRUE(json.value(key).isString()) << key.toStdString();
    EXPECT_EQ(std::tuple(field(0, u"kind"_s), field(0, u"message"_s), field(0, u"stack"_s), field(0, u"d"_s)),
              std::tuple(u"error"_s, u"the message"_s, u"a\nb"_s, u"?"_s));
    EXPECT_EQ(std::tuple(field(1, u"d"_s), field(1, u"v"_s)), std::tuple(u"dev-4711"_s, ow::appVersion()));
    EXPECT_TRUE(QSysInfo::prettyProductName().startsWith(field(1, u"os"_s))) << ow::osString().toStdString();
    EXPECT_TRUE(QSysInfo::productVersion() == u"unknown"_s || ow::osString().endsWith(u' ' + QSysInfo::productVersion()));
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
    std::thread([] { reportFromDepth(25); }).join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return sent() == 1; }, 5000));
    EXPECT_EQ(std::tuple(field(0, u"kind"_s), field(0, u"message"_s)), std::tuple(u"error"_s, u"worker failed"_s));
    const QStringList lines = field(0, u"stack"_s).split(u'\n');
    EXPECT_EQ(lines.size(), CrashReporter::ErrorStackFrames);
    EXPECT_FALSE(lines.contains(QString()));
}

TEST_F(CrashReporterTest, SystemReportNamesAreApportsOrOurOwn)
{
    const QString uid = QString::number(::getuid());
    const QStringList taken{"_usr_bin_orbinwash." + uid + ".crash", "OrbinWash-2024-03-01-100000.ips",
                            "OrbinWash.crash", "Orbin Wash 2024.crash", "Orbin Wash-1.ips"};
    const QStringList refused{
        "_usr_bin_orbinwash." + QString::number(::getuid() + 1) + ".crash", "_usr_bin_other." + uid + ".crash",
        "_usr_bin_orbinwash." + uid + ".ips", "_usr_bin_orbinwash." + uid + ".crash.upload", "orbinwash-1.ips",
        "ORBINWASH-1.crash", "Orbinwash-1.ips", "OrbinWash-1.IPS", "OrbinWash-1.Crash", "OrbinWash-1.txt",
        "OrbinWash-1.ips.gz", "My OrbinWash.crash", "Other.crash",
    };
    QSet<QString> expected;
    for (const QString& name : taken + refused)
        writeReport(name, "Exception Type: " + name, utc(2024, 3, 1));
    for (const QString& name : taken)
        expected.insert("Exception Type: " + name);
    install();
    EXPECT_EQ(messages(), expected);
    EXPECT_EQ(field(0, u"kind"_s), u"crash"_s);
}

// Only reports newer than the mark go, and the mark moves to the newest; a report dated ahead
// of the clock neither goes nor holds back later ones. With nothing new the same mark is
// written again; a missing folder writes none, an empty one a mark before any date.
TEST_F(CrashReporterTest, OnlyReportsNewerThanTheMarkAreSentAndTheMarkMovesToTheNewest)
{
    install();
    EXPECT_EQ(m_defaults.writes.value(kMarkKey), 1);
    EXPECT_LT(m_defaults.date(kMarkKey), utc(1970, 1, 1));
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QDateTime mark = now.addDays(-2);
    m_defaults.setValue(kMarkKey, mark);
    writeReport(u"OrbinWash-older.ips"_s, u"Exception: older"_s, mark.addDays(-1));
    writeReport(u"OrbinWash-equal.ips"_s, u"Exception: equal"_s, mark);
    writeReport(u"OrbinWash-second.ips"_s, u"Exception: second"_s, mark.addSecs(1));
    writeReport(u"OrbinWash-hours.ips"_s, u"Exception: hours"_s, mark.addSecs(7200));
    writeReport(u"OrbinWash-ahead.ips"_s, u"Exception: ahead"_s, now.addDays(1));
    CrashReporter::sendSystemCrashReports();
    EXPECT_EQ(messages(), (QSet<QString>{u"Exception: second"_s, u"Exception: hours"_s}));
    EXPECT_EQ(m_defaults.date(kMarkKey), mark.addSecs(7200));

    const int writes = m_defaults.writes.value(kMarkKey);
    CrashReporter::sendSystemCrashReports();
    EXPECT_EQ(sent(), 2);
    EXPECT_EQ(m_defaults.writes.value(kMarkKey), writes + 1);
    EXPECT_EQ(m_defaults.date(kMarkKey), mark.addSecs(7200));

    writeReport(u"OrbinWash-later.ips"_s, u"Exception: later"_s, now.addSecs(-3600));
    CrashReporter::sendSystemCrashReports();
    ASSERT_EQ(sent(), 3);
    EXPECT_EQ(field(2, u"message"_s), u"Exception: later"_s);
    EXPECT_LE(m_defaults.date(kMarkKey), QDateTime::currentDateTimeUtc());

    ASSERT_TRUE(QDir(m_crashFolder).removeRecursively());
    CrashReporter::sendSystemCrashReports();
    EXPECT_EQ(m_defaults.writes.value(kMarkKey), writes + 2);
}

// The crash folder is shared by all users: another user's report, a link of theirs named
// like a report that points at one of ours, or a link to their file, is not read. Neither
// is a file that cannot be read, which does not move the mark, nor a FIFO, which would
// block the scan for good (a fault shows as this test's timeout); a huge file is read
// only as far as it is sent.
TEST_F(CrashReporterTest, OnlyTheUsersOwnReadableReportsAreReadAndOnlyTheirStart)
{
    const QString ours = m_dir.filePath(u"ours.txt"_s);
    const QString theirs = m_dir.filePath(u"theirs.txt"_s);
    writeFile(ours, "Exception: the user's private file", utc(2024, 5, 1));
    writeFile(theirs, "Exception: another user's file", utc(2024, 5, 1));
    writeReport(u"OrbinWash-foreign.crash"_s, u"Exception: foreign"_s, utc(2024, 5, 2));
    const QString theirLink = m_crashFolder + u"/OrbinWash-their-link.crash"_s;
    ASSERT_TRUE(QFile::link(ours, theirLink));
    ASSERT_TRUE(QFile::link(theirs, m_crashFolder + u"/OrbinWash-our-link.crash"_s));
    bool foreign = true;
    for (const QString& path : {m_crashFolder + u"/OrbinWash-foreign.crash"_s, theirLink, theirs})
        foreign = foreign && ::lchown(QFile::encodeName(path).constData(), ::getuid() + 4242, ::getgid() + 4242) == 0;
    // Where files cannot be given to another user, only the rest is checked.
    for (const QString& name : {u"foreign"_s, u"their-link"_s, u"our-link"_s}) {
        if (!foreign)
            QFile::remove(m_crashFolder + u"/OrbinWash-%1.crash"_s.arg(name));
    }
    // Opens, but every read fails (EIO), even for root.
    ASSERT_TRUE(QFile::link(u"/proc/self/mem"_s, m_crashFolder + u"/OrbinWash-unreadable.crash"_s));
    ASSERT_EQ(::mkfifo(QFile::encodeName(m_crashFolder + u"/OrbinWash-fifo.crash"_s).constData(), 0600), 0);
    {
        QFile huge(m_crashFolder + u"/OrbinWash-huge.crash"_s);
        ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
        ASSERT_GT(huge.write("Termination Reason: huge\n"), 0);
        // Sparse: 1 GiB of zeros that take no room on disk.
        ASSERT_TRUE(huge.resize(qint64(1) << 30) && huge.flush());
        ASSERT_TRUE(huge.setFileTime(utc(2024, 4, 1), QFileDevice::FileModificationTime));
    }
    QElapsedTimer timer;
    timer.start();
    install();
    EXPECT_LT(timer.elapsed(), 3000);
    EXPECT_EQ(messages(), QSet<QString>{u"Termination Reason: huge"_s});
    EXPECT_EQ(field(0, u"stack"_s).size(), CrashReporter::SystemReportChars);
    EXPECT_EQ(m_defaults.date(kMarkKey), utc(2024, 4, 1));
}

// ---- Real crashes, in a child process ----

// The record's form: headline, separator, 1 to 30 stack lines of the child's, no final line
// feed, mode 0600, nothing else left beside it; sent once by the next start, removed before
// it goes (a crash while sending must not send it twice). A record that cannot be removed
// is never sent: it would go again at every start.
TEST_F(CrashReporterTest, ACrashedChildLeavesItsRecordForTheNextStart)
{
    bool existedAtRequest = false;
    m_http.setHandler([&](const ow::FakeHttpClient::Request&) {
        existedAtRequest = existedAtRequest || QFile::exists(m_pendingPath);
        return ow::FakeHttpClient::Answer{204};
    });
    const struct {
        const char* mode; // for crash_child
        int signal;
        QString headline; // none: no record
        mode_t umask = 022; // 0277 alone would leave the record read-only for its owner
    } rows[] = {
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
    for (const auto& row : rows) {
        SCOPED_TRACE(row.mode);
        const QString folder = m_dir.filePath(QString::fromLatin1(row.mode));
        ASSERT_TRUE(QDir().mkpath(folder));
        m_pendingPath = folder + u"/pending-crash.txt"_s;
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"XDG_DATA_HOME"_s, dataHome());
        child.setProcessEnvironment(environment);
        // The uncaught exception without hooks prints to stderr: keep the test output clean.
        child.setStandardOutputFile(QProcess::nullDevice());
        child.setStandardErrorFile(QProcess::nullDevice());
        child.setChildProcessModifier([mask = row.umask] { ::umask(mask); });
        child.start(QString::fromLocal8Bit(CRASH_CHILD), {QString::fromLatin1(row.mode), m_pendingPath});
        ASSERT_TRUE(child.waitForFinished(20000));
        EXPECT_EQ(std::tuple(child.exitStatus(), child.exitCode()), std::tuple(QProcess::CrashExit, row.signal));
        if (row.headline.isEmpty()) {
            EXPECT_FALSE(QFile::exists(m_pendingPath));
            continue;
        }
        QFile file(m_pendingPath);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        const QStringList pieces = text.split(u"\n---\n"_s);
        ASSERT_EQ(pieces.size(), 2) << text.toStdString();
        EXPECT_EQ(pieces[0], row.headline);
        const QStringList lines = pieces[1].split(u'\n');
        EXPECT_LE(lines.size(), 30);
        EXPECT_TRUE(std::none_of(lines.cbegin(), lines.cend(), [](const QString& l) { return l.trimmed().isEmpty(); }));
        EXPECT_TRUE(pieces[1].contains(u"crash_child"_s)) << text.toStdString();
        struct stat info{};
        EXPECT_TRUE(::stat(QFile::encodeName(m_pendingPath).constData(), &info) == 0 && (info.st_mode & 07777) == 0600);
        EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{u"pending-crash.txt"_s});

        const qsizetype before = sent();
        install();
        CrashReporter::sendPendingCrash();
        ASSERT_EQ(sent(), before + 1);
        EXPECT_EQ(std::tuple(field(before, u"kind"_s), field(before, u"message"_s), field(before, u"stack"_s)),
                  std::tuple(u"crash"_s, pieces[0], pieces[1]));
        EXPECT_FALSE(QFile::exists(m_pendingPath));
    }
    EXPECT_FALSE(existedAtRequest);
    const qsizetype before = sent();
    m_pendingPath = u"/proc/self/environ"_s;
    install();
    EXPECT_EQ(sent(), before);
}

} // namespace
