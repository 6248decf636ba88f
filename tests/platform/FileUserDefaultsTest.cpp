#include "FileUserDefaults.h"

#include <gtest/gtest.h>

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QSize>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

// Readable failure messages for the Qt types the tests compare; found by argument lookup.
template <typename T>
static std::string debugText(const T& value)
{
    QString text;
    QDebug(&text).noquote() << value;
    return text.toStdString();
}
static void PrintTo(const QString& value, std::ostream* out) { *out << debugText(value); }
static void PrintTo(const QByteArray& value, std::ostream* out) { *out << debugText(value); }
static void PrintTo(const QVariant& value, std::ostream* out) { *out << debugText(value); }
static void PrintTo(const QVariantMap& value, std::ostream* out) { *out << debugText(value); }
static void PrintTo(const QDateTime& value, std::ostream* out) { *out << debugText(value); }
static void PrintTo(const QJsonObject& value, std::ostream* out) { *out << debugText(value); }
static void PrintTo(const QJsonValue& value, std::ostream* out) { *out << debugText(value); }

namespace ow {
namespace {

QMutex g_warningsMutex;
QStringList g_warnings;

void captureWarning(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtWarningMsg) {
        QMutexLocker lock(&g_warningsMutex);
        g_warnings << message;
    }
}

class FileUserDefaultsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        g_warnings.clear();
        qInstallMessageHandler(captureWarning);
    }
    void TearDown() override { qInstallMessageHandler(nullptr); }

    QString folder() const { return m_dir.filePath(QStringLiteral("OrbinWash")); }
    QString path() const { return folder() + QStringLiteral("/defaults.json"); }
    std::unique_ptr<FileUserDefaults> open() const { return std::make_unique<FileUserDefaults>(path()); }

    static qsizetype warningCount()
    {
        QMutexLocker lock(&g_warningsMutex);
        return g_warnings.size();
    }

    void writeRaw(const QByteArray& bytes) const
    {
        ASSERT_TRUE(QDir().mkpath(folder()));
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }

    static QByteArray readRaw(const QString& filePath)
    {
        QFile file(filePath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QJsonObject fileObject() const
    {
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(readRaw(path()), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << qPrintable(error.errorString());
        EXPECT_TRUE(document.isObject());
        return document.object();
    }

    QStringList asideFiles() const
    {
        return QDir(folder()).entryList({QStringLiteral("defaults.json.unreadable-*")}, QDir::Files, QDir::Name);
    }

    QTemporaryDir m_dir;
};

QString runTool(const QString& file, const QString& mode)
{
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(QStringLiteral(DEFAULTS_TOOL), {file, mode});
    if (!tool.waitForFinished(30000))
        return QStringLiteral("did not finish: ") + tool.errorString();
    if (tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        return QStringLiteral("exit %1:\n%2").arg(tool.exitCode()).arg(QString::fromUtf8(tool.readAll()));
    return QString();
}

// --- Persistence across restarts ---

TEST_F(FileUserDefaultsTest, EveryTypeSurvivesARestartInANewProcess)
{
    ASSERT_EQ(runTool(path(), QStringLiteral("write")), QString());
    EXPECT_EQ(runTool(path(), QStringLiteral("check")), QString());
}

TEST_F(FileUserDefaultsTest, IntegersOfEveryWidthComeBackAsExactLongLongs)
{
    const std::vector<std::pair<QString, QVariant>> written{
        {QStringLiteral("int"), QVariant(int(-7))},
        {QStringLiteral("uint"), QVariant(uint(4000000000u))},
        {QStringLiteral("longlong"), QVariant(qlonglong(-9007199254740993))},
    };
    {
        auto store = open();
        for (const auto& [key, value] : written) {
            store->setValue(key, value);
            // The in-memory value already has the type a restart would give it.
            EXPECT_EQ(store->value(key).typeId(), QMetaType::LongLong) << qPrintable(key);
        }
    }
    auto reopened = open();
    for (const auto& [key, value] : written) {
        EXPECT_EQ(reopened->value(key).typeId(), QMetaType::LongLong) << qPrintable(key);
        EXPECT_EQ(reopened->integer(key), value.toLongLong()) << qPrintable(key);
    }
}

TEST_F(FileUserDefaultsTest, BoolsAndIntsKeepTheirTypes)
{
    {
        auto store = open();
        store->setValue(QStringLiteral("boolTrue"), true);
        store->setValue(QStringLiteral("boolFalse"), false);
        store->setValue(QStringLiteral("intOne"), 1);
        store->setValue(QStringLiteral("intZero"), 0);
    }
    auto store = open();
    EXPECT_EQ(store->value(QStringLiteral("boolTrue")).typeId(), QMetaType::Bool);
    EXPECT_EQ(store->value(QStringLiteral("boolFalse")).typeId(), QMetaType::Bool);
    EXPECT_EQ(store->value(QStringLiteral("intOne")).typeId(), QMetaType::LongLong);
    EXPECT_EQ(store->value(QStringLiteral("intZero")).typeId(), QMetaType::LongLong);
    EXPECT_TRUE(store->boolean(QStringLiteral("boolTrue")));
    EXPECT_EQ(store->integer(QStringLiteral("boolTrue")), 0);
    EXPECT_FALSE(store->boolean(QStringLiteral("intOne")));
    EXPECT_EQ(store->integer(QStringLiteral("intOne")), 1);
}

TEST_F(FileUserDefaultsTest, DatesComeBackInUtcWithMilliseconds)
{
    const QDateTime berlinSummer(QDate(2026, 7, 1), QTime(12, 34, 56, 789), Qt::OffsetFromUTC, 2 * 3600);
    open()->setValue(QStringLiteral("when"), berlinSummer);

    EXPECT_EQ(fileObject().value(QStringLiteral("when")).toObject(),
              QJsonObject({{QStringLiteral("date"), QStringLiteral("2026-07-01T10:34:56.789Z")}}));
    const QDateTime back = open()->date(QStringLiteral("when"));
    EXPECT_EQ(back, berlinSummer);
    EXPECT_EQ(back.timeSpec(), Qt::UTC);
    EXPECT_EQ(back.time().msec(), 789);
}

TEST_F(FileUserDefaultsTest, RemovalsPersist)
{
    {
        auto store = open();
        store->setValue(QStringLiteral("gone"), true);
        store->setValue(QStringLiteral("clearedByInvalid"), QStringLiteral("x"));
        store->setValue(QStringLiteral("kept"), 5);
        store->remove(QStringLiteral("gone"));
        store->setValue(QStringLiteral("clearedByInvalid"), QVariant());
        EXPECT_FALSE(store->contains(QStringLiteral("gone")));
        EXPECT_FALSE(store->contains(QStringLiteral("clearedByInvalid")));
    }
    auto store = open();
    EXPECT_FALSE(store->contains(QStringLiteral("gone")));
    EXPECT_FALSE(store->contains(QStringLiteral("clearedByInvalid")));
    EXPECT_EQ(store->integer(QStringLiteral("kept")), 5);
    EXPECT_EQ(fileObject().keys(), QStringList{QStringLiteral("kept")});
}

// --- Typed getters ---

TEST_F(FileUserDefaultsTest, AbsentKeysReadAsEmptyValues)
{
    auto store = open();
    const QString key = QStringLiteral("absent");
    EXPECT_FALSE(store->value(key).isValid());
    EXPECT_FALSE(store->contains(key));
    EXPECT_FALSE(store->boolean(key));
    EXPECT_EQ(store->integer(key), 0);
    EXPECT_TRUE(store->string(key).isNull());
    EXPECT_FALSE(store->date(key).isValid());
    EXPECT_TRUE(store->array(key).isEmpty());
    EXPECT_TRUE(store->dictionary(key).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(path())) << "reading must not create the file";
}

TEST_F(FileUserDefaultsTest, ValuesOfAnotherTypeReadAsEmptyThroughTypedGetters)
{
    // Each value looks like the type its getter is asked for, but is not.
    open()->setValue(QStringLiteral("boolean"), true);
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run == 0 ? "in memory" : "after restart");
        auto store = open();
        if (run == 0) {
            store->setValue(QStringLiteral("textTrue"), QStringLiteral("true"));
            store->setValue(QStringLiteral("textNumber"), QStringLiteral("42"));
            store->setValue(QStringLiteral("textDate"), QStringLiteral("2026-01-01T00:00:00.000Z"));
            store->setValue(QStringLiteral("one"), 1);
            store->setValue(QStringLiteral("list"), QVariantList{1});
            store->setValue(QStringLiteral("map"), QVariantMap{{QStringLiteral("k"), 1}});
            store->setValue(QStringLiteral("when"), QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC));
        }
        EXPECT_FALSE(store->boolean(QStringLiteral("textTrue")));
        EXPECT_FALSE(store->boolean(QStringLiteral("one")));
        EXPECT_EQ(store->integer(QStringLiteral("textNumber")), 0);
        EXPECT_EQ(store->integer(QStringLiteral("boolean")), 0);
        EXPECT_FALSE(store->date(QStringLiteral("textDate")).isValid());
        EXPECT_TRUE(store->string(QStringLiteral("when")).isEmpty());
        EXPECT_TRUE(store->string(QStringLiteral("one")).isEmpty());
        EXPECT_TRUE(store->array(QStringLiteral("map")).isEmpty());
        EXPECT_TRUE(store->dictionary(QStringLiteral("list")).isEmpty());
        EXPECT_TRUE(store->dictionary(QStringLiteral("when")).isEmpty());
    }
}

// --- What the file may hold ---

TEST_F(FileUserDefaultsTest, ReadsKnownShapesAndSkipsUnknownOnesWithoutLosingThem)
{
    writeRaw(R"({
        "integralDouble": 2.0,
        "fraction": 1.5,
        "tooBig": 18446744073709551616,
        "null": null,
        "twoTags": {"date": "2026-01-01T00:00:00.000Z", "dict": {}},
        "untagged": {"x": 1},
        "badDate": {"date": "yesterday"},
        "list": [1, 1.5, null, "x", {"what": 1}, {"dict": {"a": true, "b": 0.25}}],
        "date": {"date": "2026-01-01T00:00:00.000Z"},
        "dict": {"dict": {"date": {"date": "2026-01-01T00:00:00.000Z"}}}
    })");
    auto store = open();
    EXPECT_TRUE(asideFiles().isEmpty());

    EXPECT_EQ(store->value(QStringLiteral("integralDouble")), QVariant(qint64(2)));
    for (const char* unknown : {"fraction", "tooBig", "null", "twoTags", "untagged", "badDate"})
        EXPECT_FALSE(store->contains(QString::fromLatin1(unknown))) << unknown;
    EXPECT_EQ(store->array(QStringLiteral("list")),
              (QVariantList{qint64(1), QStringLiteral("x"), QVariantMap{{QStringLiteral("a"), true}}}));
    const QDateTime newYear(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC);
    EXPECT_EQ(store->date(QStringLiteral("date")), newYear);
    // A dictionary may hold a key named like a tag without being mistaken for one.
    EXPECT_EQ(store->dictionary(QStringLiteral("dict")), (QVariantMap{{QStringLiteral("date"), newYear}}));

    // What a newer build wrote is still there after this one saves.
    store->setValue(QStringLiteral("added"), true);
    const QJsonObject saved = fileObject();
    EXPECT_EQ(saved.value(QStringLiteral("untagged")).toObject(), QJsonObject({{QStringLiteral("x"), 1}}));
    EXPECT_EQ(saved.value(QStringLiteral("fraction")).toDouble(), 1.5);
    EXPECT_EQ(saved.value(QStringLiteral("added")), QJsonValue(true));
}

TEST_F(FileUserDefaultsTest, UnsupportedValuesAreRefusedAndLeaveTheStoredValueAlone)
{
    auto store = open();
    store->setValue(QStringLiteral("k"), 1);
    const QByteArray before = readRaw(path());
    const std::vector<QVariant> unsupported{
        QVariant(1.5),
        QVariant(QByteArray("bytes")),
        QVariant(QStringList{QStringLiteral("a")}),
        QVariant(QSize(1, 2)),
        QVariant(QDateTime()),
        QVariant(QDateTime(QDate(12000, 1, 1), QTime(0, 0), Qt::UTC)),
        QVariant(QVariantList{1, 2.5}),
        QVariant(QVariantMap{{QStringLiteral("ok"), 1}, {QStringLiteral("bad"), QVariant(QSize())}}),
    };
    for (const QVariant& value : unsupported) {
        store->setValue(QStringLiteral("k"), value);
        EXPECT_EQ(store->value(QStringLiteral("k")), QVariant(qint64(1))) << qPrintable(value.typeName());
    }
    EXPECT_EQ(warningCount(), qsizetype(unsupported.size()));
    EXPECT_EQ(readRaw(path()), before);
}

// --- Unreadable files ---

struct UnreadableCase {
    const char* name;
    QByteArray bytes;
};

void PrintTo(const UnreadableCase& unreadable, std::ostream* out)
{
    *out << unreadable.name;
}

class UnreadableFileTest : public FileUserDefaultsTest,
                           public ::testing::WithParamInterface<UnreadableCase> {};

TEST_P(UnreadableFileTest, IsMovedAsideIntactAndAFreshFileIsWritten)
{
    const QByteArray bytes = GetParam().bytes;
    writeRaw(bytes);
    auto store = open();
    EXPECT_FALSE(store->contains(QStringLiteral("a")));
    ASSERT_EQ(asideFiles().size(), 1);
    const QString aside = folder() + QLatin1Char('/') + asideFiles().constFirst();
    EXPECT_EQ(readRaw(aside), bytes);
    EXPECT_EQ(warningCount(), 1);

    store->setValue(QStringLiteral("fresh"), true);
    EXPECT_EQ(fileObject(), QJsonObject({{QStringLiteral("fresh"), true}}));
    EXPECT_EQ(readRaw(aside), bytes);
    EXPECT_TRUE(open()->boolean(QStringLiteral("fresh")));
}

INSTANTIATE_TEST_SUITE_P(
    FileUserDefaultsTest, UnreadableFileTest,
    ::testing::Values(
        UnreadableCase{"Garbage", "{not json at all"},
        UnreadableCase{"Truncated", R"({"a": true, "b": {"dict": {"c": [1, 2)"},
        UnreadableCase{"TopLevelArray", R"([{"a": true}])"},
        UnreadableCase{"TopLevelString", R"("a")"},
        UnreadableCase{"InvalidUtf8", "{\"a\": \"\xff\xfe\xc3\"}"},
        UnreadableCase{"NulBytes", QByteArray("{\"a\":\0\0\0 true}", 15)},
        UnreadableCase{"Empty", QByteArray()}),
    [](const ::testing::TestParamInfo<UnreadableCase>& param) { return std::string(param.param.name); });

TEST_F(FileUserDefaultsTest, MovingAsideNeverReplacesAnEarlierUnreadableFile)
{
    // Take the names of this second and the next, as if files had been set aside then.
    const QDateTime now = QDateTime::currentDateTime();
    QStringList taken;
    for (int s = 0; s < 2; ++s)
        taken << path() + QStringLiteral(".unreadable-") + now.addSecs(s).toString(QStringLiteral("yyyyMMddTHHmmss"));
    writeRaw("new garbage");
    for (const QString& name : taken) {
        QFile file(name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(name.toUtf8());
    }

    auto store = open();
    ASSERT_EQ(asideFiles().size(), 3);
    for (const QString& name : taken)
        EXPECT_EQ(readRaw(name), name.toUtf8());
    int holdingNew = 0;
    for (const QString& name : asideFiles())
        holdingNew += readRaw(folder() + QLatin1Char('/') + name) == "new garbage";
    EXPECT_EQ(holdingNew, 1);
}

TEST_F(FileUserDefaultsTest, AnUnreadableFileThatCannotBeMovedAsideIsNeverWritten)
{
    // A name at the file-system limit leaves no room for the aside suffix, so the move
    // fails for every user, root included.
    ASSERT_TRUE(QDir().mkpath(folder()));
    const QString longPath = folder() + QLatin1Char('/') + QString(255, QLatin1Char('d'));
    {
        QFile file(longPath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("{garbage");
    }
    FileUserDefaults store(longPath);

    store.setValue(QStringLiteral("a"), true);
    store.setValue(QStringLiteral("b"), 2);
    store.remove(QStringLiteral("b"));
    EXPECT_TRUE(store.boolean(QStringLiteral("a")));
    EXPECT_EQ(readRaw(longPath), "{garbage");
    EXPECT_EQ(QDir(folder()).entryList(QDir::Files).size(), 1);
    EXPECT_EQ(warningCount(), 1);
}

// --- Writing ---

TEST_F(FileUserDefaultsTest, FileAndFolderArePrivateToTheUser)
{
    const mode_t previousMask = ::umask(022);
    open()->setValue(QStringLiteral("a"), true);
    struct stat info {};
    ASSERT_EQ(::stat(qPrintable(path()), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    ASSERT_EQ(::stat(qPrintable(folder()), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);

    // A file someone made readable to others is tightened again on the next write.
    ASSERT_EQ(::chmod(qPrintable(path()), 0644), 0);
    open()->setValue(QStringLiteral("b"), true);
    ASSERT_EQ(::stat(qPrintable(path()), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    ::umask(previousMask);
}

TEST_F(FileUserDefaultsTest, ConcurrentWritesLeaveEveryKeyInAReadableFile)
{
    constexpr int kThreads = 4;
    constexpr int kWrites = 200;
    std::atomic<int> wrongReads{0};
    std::atomic<int> partialFiles{0};
    {
        auto store = open();
        store->setValue(QStringLiteral("first"), true);
        std::atomic<bool> writing{true};
        // Someone reading the file meanwhile, as a newly started instance would, must
        // always find a whole document.
        std::thread reader([&] {
            while (writing) {
                QJsonParseError error{};
                const QJsonDocument document = QJsonDocument::fromJson(readRaw(path()), &error);
                partialFiles += error.error != QJsonParseError::NoError || !document.isObject();
            }
        });
        std::vector<std::thread> writers;
        for (int t = 0; t < kThreads; ++t) {
            writers.emplace_back([&store, &wrongReads, t] {
                for (int i = 0; i < kWrites; ++i) {
                    const QString key = QStringLiteral("t%1.%2").arg(t).arg(i);
                    store->setValue(key, QVariantList{t, i});
                    wrongReads += store->array(key) != QVariantList{qint64(t), qint64(i)};
                }
            });
        }
        for (std::thread& writer : writers)
            writer.join();
        writing = false;
        reader.join();
    }
    EXPECT_EQ(wrongReads, 0);
    EXPECT_EQ(partialFiles, 0);
    EXPECT_EQ(fileObject().size(), kThreads * kWrites + 1);
    auto store = open();
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kWrites; ++i) {
            const QString key = QStringLiteral("t%1.%2").arg(t).arg(i);
            ASSERT_EQ(store->array(key), (QVariantList{qint64(t), qint64(i)})) << qPrintable(key);
        }
    }
    EXPECT_EQ(QDir(folder()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("defaults.json")})
        << "no temporary files are left behind";
    EXPECT_EQ(warningCount(), 0);
}

TEST_F(FileUserDefaultsTest, AWriterKilledAtAnyMomentLeavesTheOldOrTheNewFileNeverATornOne)
{
    constexpr int kKills = 30;
    int killedWhileWriting = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        SCOPED_TRACE(kill);
        QProcess tool;
        tool.start(QStringLiteral(DEFAULTS_TOOL), {path(), QStringLiteral("hammer")});
        ASSERT_TRUE(tool.waitForStarted(10000)) << qPrintable(tool.errorString());
        // Half the kills count from the start, so some land while the file is loaded or
        // first created; the other half from the first save, so they land among writes.
        if (kill % 2 == 1) {
            ASSERT_TRUE(tool.waitForReadyRead(10000)) << "the tool never saved";
            ++killedWhileWriting;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kill % 21));
        tool.kill();
        ASSERT_TRUE(tool.waitForFinished(10000));
        ASSERT_EQ(tool.exitStatus(), QProcess::CrashExit) << "the tool stopped on its own";

        if (!QFileInfo::exists(path()))
            continue;
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(readRaw(path()), &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << qPrintable(error.errorString());
        const QVariantMap hammer = open()->dictionary(QStringLiteral("hammer"));
        EXPECT_TRUE(asideFiles().isEmpty()) << "the store found the file unreadable";
        const qint64 n = hammer.value(QStringLiteral("n")).toLongLong();
        EXPECT_EQ(hammer.value(QStringLiteral("check")).toString(), QString::number(n).repeated(4096));
    }
    EXPECT_EQ(killedWhileWriting, kKills / 2);
    EXPECT_TRUE(QFileInfo::exists(path()));
    EXPECT_EQ(warningCount(), 0);
}

TEST_F(FileUserDefaultsTest, FailedWritesKeepValuesInMemoryAndAreSavedOnceWritingWorksAgain)
{
    // A file where the folder should be: no user, not even root, can write below it.
    const QString blocker = m_dir.filePath(QStringLiteral("blocker"));
    {
        QFile file(blocker);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    const QString blockedPath = blocker + QStringLiteral("/defaults.json");
    FileUserDefaults store(blockedPath);
    store.setValue(QStringLiteral("a"), 1);
    store.setValue(QStringLiteral("b"), 2);
    EXPECT_EQ(store.integer(QStringLiteral("a")), 1);
    EXPECT_EQ(store.integer(QStringLiteral("b")), 2);
    EXPECT_EQ(warningCount(), 1) << "one warning while the failure lasts";

    ASSERT_TRUE(QFile::remove(blocker));
    store.setValue(QStringLiteral("c"), 3);
    FileUserDefaults reopened(blockedPath);
    EXPECT_EQ(reopened.integer(QStringLiteral("a")), 1);
    EXPECT_EQ(reopened.integer(QStringLiteral("b")), 2);
    EXPECT_EQ(reopened.integer(QStringLiteral("c")), 3);
}

TEST_F(FileUserDefaultsTest, DefaultPathFollowsXdgConfigHome)
{
    const QByteArray previous = qgetenv("XDG_CONFIG_HOME");
    const bool hadPrevious = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", m_dir.path().toLocal8Bit());
    const QString defaultPath = FileUserDefaults::defaultPath();
    if (hadPrevious)
        qputenv("XDG_CONFIG_HOME", previous);
    else
        qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(defaultPath, path());
}

} // namespace
} // namespace ow
