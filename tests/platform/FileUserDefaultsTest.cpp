#include "FileUserDefaults.h"

#include <gtest/gtest.h>

#include <QDebug>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSize>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace ow {
namespace {

// A value as QDebug shows it, type included: comparing these compares types too.
std::string show(const QVariant& value)
{
    QString text;
    QDebug(&text) << value;
    return text.toStdString();
}

// Which typed getters answer for a key: boolean, integer, string, date, array, dictionary.
std::string answering(const UserDefaults& s, const QString& k)
{
    return std::string(s.boolean(k) ? "b" : "") + (s.integer(k) ? "i" : "") + (s.string(k).isEmpty() ? "" : "s")
        + (s.date(k).isValid() ? "d" : "") + (s.array(k).isEmpty() ? "" : "a") + (s.dictionary(k).isEmpty() ? "" : "m");
}

QByteArray readRaw(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeRaw(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).absolutePath()) && file.open(QIODevice::WriteOnly)
        && file.write(bytes) == bytes.size();
}

std::atomic<int> g_warnings{0};

class FileUserDefaultsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        g_warnings = 0;
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString&) {
            g_warnings += type == QtWarningMsg;
        });
    }
    void TearDown() override { qInstallMessageHandler(nullptr); }

    QString folder() const { return m_dir.filePath(u"OrbinWash"_s); }
    QString path() const { return folder() + u"/defaults.json"_s; }
    std::unique_ptr<FileUserDefaults> open() const { return std::make_unique<FileUserDefaults>(path()); }
    QJsonObject fileObject() const { return QJsonDocument::fromJson(readRaw(path())).object(); }
    QStringList asideFiles() const { return QDir(folder()).entryList({u"defaults.json.unreadable-*"_s}, QDir::Files); }

    QTemporaryDir m_dir;
};

// Each key holds "overwritten" before its row's value is set, which a refused value leaves.
TEST_F(FileUserDefaultsTest, ValuesKeepTheirTypesWhenReadAfreshAnswerOnlyTheirOwnGetterOrAreRefused)
{
    EXPECT_FALSE(open()->contains(u"0"_s));
    EXPECT_FALSE(QFileInfo::exists(path())) << "reading must not create the file";
    const QDateTime summer(QDate(2026, 7, 1), QTime(12, 34, 56, 789), Qt::OffsetFromUTC, 2 * 3600);
    const QVariantMap message{{"id", qint64(9007199254740993)}, {"body", u"line one\nline \"two\""_s},
                              {"date", summer.toUTC()}, {"mine", true}};
    const QVariant kept = u"overwritten"_s;
    struct Row {
        QVariant written;
        const char* getters; // some strings look like other types
        QVariant read = {}; // when it differs from what was written
    };
    const std::vector<Row> rows{
        {QVariant(), ""}, // an invalid value removes the key
        {true, "b"}, {false, ""}, {int(-7), "i", qint64(-7)}, {uint(4000000000u), "i", qint64(4000000000)},
        {std::numeric_limits<qint64>::max(), "i"}, {std::numeric_limits<qint64>::min(), "i"},
        {u"Grüße, \"Reinigung\" — 清洁 🧽 \\ tab\there"_s, "s"}, {QString(), ""},
        {u"true"_s, "s"}, {u"42"_s, "s"}, {u"2026-01-01T00:00:00.000Z"_s, "s"},
        {summer, "d", summer.toUTC()}, {QVariantList{1}, "a", QVariantList{qint64(1)}},
        {QVariantMap{{"k", 1}}, "m", QVariantMap{{"k", qint64(1)}}},
        {QVariantList{message, QVariantList(), QVariantMap()}, "a"},
        // Refused, each with one warning.
        {1.5, "s", kept}, {QByteArray("bytes"), "s", kept}, {QStringList{u"a"_s}, "s", kept}, {QSize(1, 2), "s", kept},
        {QDateTime(), "s", kept}, {QDateTime(QDate(12000, 1, 1), QTime(0, 0), Qt::UTC), "s", kept},
        {QVariantList{1, 2.5}, "s", kept}, {QVariantMap{{"ok", 1}, {"bad", QSize()}}, "s", kept},
    };
    auto store = open();
    store->setValue(u"removed"_s, true);
    store->remove(u"removed"_s);
    QStringList keys{u"removed"_s};
    for (size_t i = 0; i < rows.size(); ++i) {
        keys << QString::number(i);
        store->setValue(keys.last(), kept);
        store->setValue(keys.last(), rows[i].written);
    }
    EXPECT_EQ(g_warnings, 8);
    const auto reopened = open(); // reads the file afresh, as the next run will
    EXPECT_FALSE(reopened->contains(keys[0]));
    for (size_t i = 0; i < rows.size(); ++i) {
        const std::string read = show(rows[i].read.isValid() ? rows[i].read : rows[i].written);
        EXPECT_EQ(show(store->value(keys[i + 1])), read);
        EXPECT_EQ(show(reopened->value(keys[i + 1])), read) << "read afresh";
        EXPECT_EQ(answering(*store, keys[i + 1]), rows[i].getters) << read;
    }
}

TEST_F(FileUserDefaultsTest, ReadsKnownShapesAndSkipsUnknownOnesWithoutLosingThem)
{
    ASSERT_TRUE(writeRaw(path(), R"({
        "integralDouble": 2.0, "fraction": 1.5, "tooBig": 18446744073709551616, "null": null,
        "twoTags": {"date": "2026-01-01T00:00:00.000Z", "dict": {}}, "untagged": {"x": 1},
        "badDate": {"date": "yesterday"},
        "list": [1, 1.5, null, "x", {"what": 1}, {"dict": {"a": true, "b": 0.25}}],
        "dict": {"dict": {"date": {"date": "2026-01-01T00:00:00.000Z"}}}
    })"));
    auto store = open();
    EXPECT_TRUE(asideFiles().isEmpty());
    EXPECT_EQ(show(store->value(u"integralDouble"_s)), show(qint64(2)));
    for (const char* unknown : {"fraction", "tooBig", "null", "twoTags", "untagged", "badDate"})
        EXPECT_FALSE(store->contains(QString::fromLatin1(unknown))) << unknown;
    EXPECT_EQ(show(store->value(u"list"_s)), show(QVariantList{qint64(1), u"x"_s, QVariantMap{{"a", true}}}));
    // A dictionary may hold a key named like a tag without being mistaken for one.
    const QDateTime newYear(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC);
    EXPECT_EQ(show(store->value(u"dict"_s)), show(QVariantMap{{"date", newYear}}));

    // What a newer build wrote is still there after this one saves.
    store->setValue(u"added"_s, true);
    const QJsonObject saved = fileObject();
    EXPECT_EQ(saved.value(u"untagged"_s).toObject(), QJsonObject({{"x", 1}}));
    EXPECT_EQ(saved.value(u"fraction"_s).toDouble(), 1.5);
    EXPECT_EQ(saved.value(u"added"_s), QJsonValue(true));
}

// Files set aside earlier under the names of this second and the next are never replaced.
TEST_F(FileUserDefaultsTest, AnUnreadableFileIsMovedAsideIntactBesideEarlierOnesAndAFreshFileIsWritten)
{
    const QByteArray rows[] = {"{not json at all", QByteArray(), R"({"a": true, "b": {"dict": {"c": [1, 2)",
                               R"([{"a": true}])", R"("a")", "{\"a\": \"\xff\xfe\xc3\"}",
                               QByteArray("{\"a\":\0\0\0 true}", 15)};
    for (const QByteArray& bytes : rows) {
        SCOPED_TRACE(bytes.toStdString());
        ASSERT_TRUE(QDir(folder()).removeRecursively() && writeRaw(path(), bytes));
        g_warnings = 0;
        QStringList earlier;
        for (int s = 0; s < 2; ++s) {
            earlier << path() + u".unreadable-"_s + QDateTime::currentDateTime().addSecs(s).toString(u"yyyyMMddTHHmmss"_s);
            ASSERT_TRUE(writeRaw(earlier.last(), earlier.last().toUtf8()));
        }
        auto store = open();
        EXPECT_FALSE(store->contains(u"a"_s));
        EXPECT_EQ(g_warnings, 1);
        store->setValue(u"fresh"_s, true);
        EXPECT_EQ(fileObject(), QJsonObject({{"fresh", true}}));
        EXPECT_TRUE(open()->boolean(u"fresh"_s));

        ASSERT_EQ(asideFiles().size(), 3);
        int holdingBytes = 0;
        for (const QString& name : asideFiles()) {
            const QString aside = folder() + u'/' + name;
            if (readRaw(aside) == bytes)
                ++holdingBytes;
            else
                EXPECT_TRUE(earlier.contains(aside) && readRaw(aside) == aside.toUtf8()) << name.toStdString();
        }
        EXPECT_EQ(holdingBytes, 1);
    }
}

TEST_F(FileUserDefaultsTest, AnUnreadableFileThatCannotBeMovedAsideIsNeverWritten)
{
    // A name at the file-system limit leaves no room for the aside suffix, so the move
    // fails for every user, root included.
    const QString longPath = folder() + u'/' + QString(255, u'd');
    ASSERT_TRUE(writeRaw(longPath, "{garbage"));
    FileUserDefaults store(longPath);
    store.setValue(u"a"_s, true);
    store.remove(u"b"_s);
    EXPECT_TRUE(store.boolean(u"a"_s));
    EXPECT_EQ(readRaw(longPath), "{garbage");
    EXPECT_EQ(QDir(folder()).entryList(QDir::Files).size(), 1);
    EXPECT_EQ(g_warnings, 1);
}

TEST_F(FileUserDefaultsTest, FileAndFolderArePrivateToTheUser)
{
    const mode_t previousMask = ::umask(022);
    struct stat info {};
    // The second write finds the file made readable to others and tightens it again.
    for (const char* key : {"a", "b"}) {
        open()->setValue(QString::fromLatin1(key), true);
        ASSERT_EQ(::stat(qPrintable(path()), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0600u) << key;
        ASSERT_EQ(::chmod(qPrintable(path()), 0644), 0);
    }
    ASSERT_EQ(::stat(qPrintable(folder()), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
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
        store->setValue(u"first"_s, true);
        // A newly started instance reading meanwhile must always find a whole document.
        std::jthread reader([&](const std::stop_token& stop) {
            while (!stop.stop_requested())
                partialFiles += !QJsonDocument::fromJson(readRaw(path())).isObject();
        });
        std::vector<std::jthread> writers;
        for (int t = 0; t < kThreads; ++t) {
            writers.emplace_back([&store, &wrongReads, t] {
                for (int i = 0; i < kWrites; ++i) {
                    const QString key = u"t%1.%2"_s.arg(t).arg(i);
                    store->setValue(key, QVariantList{t, i});
                    wrongReads += store->array(key) != QVariantList{qint64(t), qint64(i)};
                }
            });
        }
        writers.clear(); // joins them, before the reader stops and the store goes
    }
    EXPECT_EQ(wrongReads, 0);
    EXPECT_EQ(partialFiles, 0);
    EXPECT_EQ(fileObject().size(), kThreads * kWrites + 1);
    EXPECT_EQ(QDir(folder()).entryList(QDir::Files | QDir::Hidden), QStringList{u"defaults.json"_s})
        << "no temporary files are left behind";
    EXPECT_EQ(g_warnings, 0);
}

TEST_F(FileUserDefaultsTest, AWriterKilledAtAnyMomentLeavesTheOldOrTheNewFileNeverATornOne)
{
    for (int kill = 0; kill < 30; ++kill) {
        SCOPED_TRACE(kill);
        QProcess tool;
        tool.start(QStringLiteral(DEFAULTS_TOOL), {path()});
        ASSERT_TRUE(tool.waitForStarted(10000)) << tool.errorString().toStdString();
        // Half the kills count from the start, so some land while the file is loaded or
        // first created; the other half from the first save, so they land among writes.
        if (kill % 2 == 1) {
            ASSERT_TRUE(tool.waitForReadyRead(10000)) << "the tool never saved";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kill % 21));
        tool.kill();
        ASSERT_TRUE(tool.waitForFinished(10000));
        ASSERT_EQ(tool.exitStatus(), QProcess::CrashExit) << "the tool stopped on its own";
        const QVariantMap hammer = open()->dictionary(u"hammer"_s);
        ASSERT_TRUE(asideFiles().isEmpty()) << "the store found the file unreadable";
        const qint64 n = hammer.value(u"n"_s).toLongLong();
        EXPECT_EQ(hammer.value(u"check"_s).toString(),
                  hammer.isEmpty() ? QString() : QString::number(n).repeated(4096));
    }
    EXPECT_TRUE(QFileInfo::exists(path()));
    EXPECT_EQ(g_warnings, 0);
}

TEST_F(FileUserDefaultsTest, FailedWritesKeepValuesInMemoryAndAreSavedOnceWritingWorksAgain)
{
    // A file where the folder should be: no user, not even root, can write below it.
    const QString blocker = m_dir.filePath(u"blocker"_s);
    ASSERT_TRUE(writeRaw(blocker, {}));
    FileUserDefaults store(blocker + u"/defaults.json"_s);
    store.setValue(u"a"_s, 1);
    store.setValue(u"b"_s, 2);
    EXPECT_EQ(store.integer(u"a"_s), 1);
    EXPECT_EQ(g_warnings, 1) << "one warning while the failure lasts";

    ASSERT_TRUE(QFile::remove(blocker));
    store.setValue(u"c"_s, 3);
    FileUserDefaults reopened(blocker + u"/defaults.json"_s);
    for (const char* key : {"a", "b", "c"})
        EXPECT_EQ(reopened.integer(QString::fromLatin1(key)), key[0] - 'a' + 1) << key;
}

} // namespace
} // namespace ow
