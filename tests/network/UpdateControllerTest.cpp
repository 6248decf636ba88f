#include "Alert.h"
#include "Appcast.h"
#include "FakeClock.h"
#include "FakeHttpClient.h"
#include "ShownAlert.h"
#include "UpdateController.h"
#include "UpdateSignature.h"

#include <QDir>
#include <QFile>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <optional>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

using ow::Alert;
using ow::Appcast;
using ow::FakeClock;
using ow::FakeHttpClient;
using ow::UpdateController;
using Outcome = UpdateController::Outcome;
using Answer = FakeHttpClient::Answer;

const QUrl kFeed(u"https://updates.test/appcast.xml"_s);
const QString kPackage = u"https://updates.test/files/OrbinWash-0.2.0.tar.gz"_s;

QByteArray feedWith(const QString& items)
{
    return (u"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\" "
            "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">\n"
            "<channel><title>OrbinWash</title>\n%1</channel></rss>\n"_s)
        .arg(items)
        .toUtf8();
}

// One release in the element form; extra goes inside the item, a signature on the enclosure.
QString itemWith(const QString& version, const QString& url = kPackage, qint64 length = 0, const QString& extra = {},
                 const QByteArray& signature = {})
{
    const QString signed_ = signature.isEmpty()
        ? QString()
        : u" sparkle:edSignature=\"%1\""_s.arg(QString::fromLatin1(signature.toBase64()));
    return u"<item><title>OrbinWash %1</title><sparkle:version>%1</sparkle:version>%4"
           "<enclosure url=\"%2\" length=\"%3\" type=\"application/gzip\"%5/></item>\n"_s
        .arg(version, url, QString::number(length), extra, signed_);
}

// An Ed25519 key pair made for the test run, as the publisher of updates holds one.
class SigningKey {
public:
    QByteArray publicKey() const
    {
        QByteArray raw(32, '\0');
        std::size_t size = std::size_t(raw.size());
        EVP_PKEY_get_raw_public_key(m_key.get(), reinterpret_cast<unsigned char*>(raw.data()), &size);
        return raw;
    }

    QByteArray sign(const QByteArray& message) const
    {
        const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
        QByteArray signature(64, '\0');
        std::size_t size = std::size_t(signature.size());
        EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, m_key.get());
        EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &size,
                       reinterpret_cast<const unsigned char*>(message.constData()), std::size_t(message.size()));
        return signature;
    }

private:
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> m_key{EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"),
                                                               &EVP_PKEY_free};
};

TEST(AppcastTest, ReadsBothFormsAndPicksTheHighestValidVersion)
{
    auto item = Appcast::newestItem(feedWith(
        u"<item><title>OrbinWash 2.3</title><sparkle:version>2.3.0</sparkle:version>"
        "<sparkle:shortVersionString>2.3 Spring</sparkle:shortVersionString>"
        "<sparkle:releaseNotesLink>https://orbinlabs.app/notes/2.3</sparkle:releaseNotesLink>"
        "<enclosure url=\"https://updates.orbinlabs.app/w.tar.gz\" length=\"1234\" type=\"application/gzip\"/></item>"_s));
    ASSERT_TRUE(item);
    EXPECT_EQ(std::tuple(item->version, item->displayVersion, item->length, item->downloadUrl, item->releaseNotesUrl),
              std::tuple(QVersionNumber(2, 3, 0), u"2.3 Spring"_s, 1234, QUrl(u"https://updates.orbinlabs.app/w.tar.gz"_s),
                         QUrl(u"https://orbinlabs.app/notes/2.3"_s)));

    item = Appcast::newestItem(feedWith(
        u"<item><enclosure url=\"https://updates.orbinlabs.app/b57.tar.gz\" sparkle:version=\"57\" "
        "sparkle:shortVersionString=\"1.5\" sparkle:edSignature=\" c2lnbmVk \"/></item>"_s));
    ASSERT_TRUE(item);
    EXPECT_EQ(std::tuple(item->version, item->displayVersion, item->signature),
              std::tuple(QVersionNumber(57), u"1.5"_s, QByteArray("signed")));

    // Numbers, not text, and invalid items beside valid ones are skipped.
    item = Appcast::newestItem(feedWith(itemWith(u"9.0"_s, u"file:///usr/bin/evil"_s) + itemWith(u"8.0beta"_s)
                                        + itemWith(u"1.9"_s) + itemWith(u"1.10"_s) + itemWith(u"1.2"_s)));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->displayVersion, u"1.10"_s);

    // One short line, never ending in a space where it was cut.
    const QString kept = u"2.0"_s + QString(60, u'x');
    for (const auto& [given, shown] : {std::pair{u"2.0\u202E\n  gpj.exe"_s + QString(200, u'x'), u"2.0 gpj.exe"_s},
                                       std::pair{kept + u" tail"_s, kept}}) {
        item = Appcast::newestItem(feedWith(
            itemWith(u"2"_s, kPackage, 0, u"<sparkle:shortVersionString>%1</sparkle:shortVersionString>"_s.arg(given))));
        ASSERT_TRUE(item);
        EXPECT_TRUE(item->displayVersion.startsWith(shown)) << item->displayVersion.toStdString();
        EXPECT_LE(item->displayVersion.size(), 64);
        EXPECT_FALSE(item->displayVersion.endsWith(u' '));
    }
}

TEST(AppcastTest, RefusesUnusableAndHostileFeeds)
{
    const QByteArray valid = feedWith(itemWith(u"2.0"_s));
    const QByteArray body = valid.mid(valid.indexOf("<rss"));
    const QByteArray laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE rss [\n <!ENTITY a \"aaaaaaaaaaaaaaaa\">\n"
                              " <!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">\n"
                              " <!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">\n]>\n"
        + QByteArray(body).replace("<title>OrbinWash</title>", "<title>&c;</title>");
    QString manyItems;
    for (int i = 0; i <= Appcast::kMaxItems; ++i)
        manyItems += itemWith(u"1.%1"_s.arg(i));
    QByteArray huge = valid;
    huge.insert(huge.indexOf("<channel>"), "<!--" + QByteArray(Appcast::kMaxFeedBytes, ' ') + "-->");
    const QString httpNotes = u"<sparkle:releaseNotesLink>http://orbinlabs.app/n</sparkle:releaseNotesLink>"_s;
    const std::pair<const char*, QByteArray> feeds[] = {
        {"not XML", "this is not a feed"},
        {"cut short", valid.left(valid.indexOf("</channel>"))},
        {"garbage after the end", valid + "<rss>"},
        {"another root", QByteArray(valid).replace("<rss ", "<feed ").replace("</rss>", "</feed>")},
        {"no items", feedWith(QString())},
        {"no version", feedWith(u"<item><title>x</title><enclosure url=\"%1\"/></item>"_s.arg(kPackage))},
        {"version with a suffix", feedWith(itemWith(u"2.0beta"_s))},
        {"huge version segment", feedWith(itemWith(u"99999999999"_s))},
        {"undeclared namespace", QByteArray(valid).replace(" xmlns:sparkle=", " xmlns:other=")},
        {"bare DTD", "<!DOCTYPE rss>" + body},
        {"entity expansion", laughs},
        {"external entity", "<!DOCTYPE rss [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>\n"
                                + QByteArray(body).replace("<title>OrbinWash</title>", "<title>&x;</title>")},
        {"undeclared entity", QByteArray(valid).replace("<title>OrbinWash</title>", "<title>&x;</title>")},
        {"file: download", feedWith(itemWith(u"2.0"_s, u"file:///usr/bin/evil"_s))},
        {"http: download", feedWith(itemWith(u"2.0"_s, u"http://updates.orbinlabs.app/p.tar.gz"_s))},
        {"credentials in the address", feedWith(itemWith(u"2.0"_s, u"https://updates.orbinlabs.app@evil.example/p"_s))},
        {"http: release notes", feedWith(itemWith(u"2.0"_s, kPackage, 0, httpNotes))},
        {"too many items", feedWith(manyItems)},
        {"too many bytes", huge},
    };
    ASSERT_TRUE(Appcast::newestItem(valid));
    for (const auto& [name, feed] : feeds)
        EXPECT_FALSE(Appcast::newestItem(feed)) << name;
}

// The last segment of the path, unable to leave the downloads folder or to hide itself;
// the end, where the extension is, kept when it must be cut.
TEST(UpdateFileNameTest, StaysInsideTheDownloadsFolderAndInSight)
{
    const std::pair<QString, QString> names[] = {
        {u"dl/OrbinWash-0.2.0.tar.gz"_s, u"OrbinWash-0.2.0.tar.gz"_s}, {u"dl/.."_s, {}}, {u"dl/%2Fetc%2Fpasswd"_s, {}},
        {QString(500, QChar(0x00E9)) + u".tar.gz"_s, u".tar.gz"_s}, {u"dl/...hidden"_s, u"hidden"_s},
        {u"dl/ . .x"_s, u"x"_s}, {u"dl/a%5Cb"_s, u"a_b"_s}, {u"dl/%0Aname"_s, u"_name"_s}, {u"dl/%2E%2E"_s, {}},
        {u"dl/a%E2%80%AEb"_s, u"a_b"_s}, {QString(), u"OrbinWash-update"_s}, {u"dl/..%2F..%2F.profile"_s, {}},
    };
    for (const auto& [path, expected] : names) {
        const QString safe = UpdateController::safeFileName(QUrl(u"https://h.example/"_s + path));
        EXPECT_TRUE(expected.startsWith(u'.') ? safe.endsWith(expected) : expected.isEmpty() || safe == expected)
            << safe.toStdString();
        EXPECT_FALSE(safe.isEmpty() || safe.contains(u'/') || safe.startsWith(u'.')) << safe.toStdString();
        EXPECT_LE(safe.toUtf8().size(), 200);
    }
    // A second copy is numbered as browsers number it, before the extension.
    for (const auto& [name, second] : {std::pair{u"orbinwash_0.2.1_amd64.deb"_s, u"orbinwash_0.2.1_amd64 (2).deb"_s},
                                       std::pair{u"OrbinWash-0.2.0.tar.gz"_s, u"OrbinWash-0.2.0 (2).tar.gz"_s},
                                       std::pair{u"OrbinWash-update"_s, u"OrbinWash-update (2)"_s}})
        EXPECT_EQ(UpdateController::numberedName(name, 2), second);
}

class UpdateControllerTest : public ::testing::Test {
protected:
    void SetUp() override { Alert::reset(); }
    void TearDown() override { Alert::reset(); }

    QString downloadsPath() const { return m_dir.filePath(u"downloads"_s); }

    std::unique_ptr<UpdateController> controller(ow::Clock& clock, const QString& current = u"0.1.0"_s,
                                                 const QUrl& feed = kFeed)
    {
        auto updates = std::make_unique<UpdateController>(
            clock, m_http,
            UpdateController::Setup{.settingsPath = m_dir.filePath(u"config/updates.ini"_s),
                                    .currentVersion = QVersionNumber::fromString(current),
                                    .feedUrl = feed,
                                    .downloadsFolder = downloadsPath(),
                                    .openUrl = [this](const QUrl& url) { return m_opened.append(url), true; },
                                    .publicKey = m_key.publicKey()});
        updates->setUpdateCheckInterval(3600);
        return updates;
    }

    // The feed announces version at url with the length given, signed as bytes.
    void serveFeed(const QString& version, const QByteArray& bytes = {}, const QString& url = kPackage,
                   qint64 length = 0, const QString& extra = {})
    {
        m_http.answer(kFeed, Answer{200, feedWith(itemWith(version, url, length, extra, m_key.sign(bytes)))});
    }

    // A check the user asked for, its alerts answered in turn; nothing if it has not ended.
    static std::optional<Outcome> userCheck(UpdateController& updates, const QList<int>& answers = {Alert::SecondButton})
    {
        for (const int answer : answers)
            Alert::setNextAnswer(answer);
        QSignalSpy finished(&updates, &UpdateController::checkFinished);
        updates.checkForUpdates();
        return finished.isEmpty() ? std::nullopt : std::optional(finished.at(0).at(0).value<Outcome>());
    }

    // Everything in the downloads folder, hidden files and folders too.
    QStringList downloads() const
    {
        return QDir(downloadsPath()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    // A file of the user's own where a download would go; then that it alone is there, unchanged.
    void putUsersFile(const QString& name)
    {
        QFile file(QDir(downloadsPath()).filePath(name));
        ASSERT_TRUE(QDir().mkpath(downloadsPath()) && file.open(QIODevice::WriteOnly) && file.write("mine") == 4);
    }
    void expectOnlyUsersFile(const QString& name)
    {
        QFile file(QDir(downloadsPath()).filePath(name));
        EXPECT_TRUE(downloads() == QStringList{name} && file.open(QIODevice::ReadOnly) && file.readAll() == "mine");
    }
    QString savedPath() const { return QDir(downloadsPath()).filePath(u"OrbinWash-0.2.0.tar.gz"_s); }
    qsizetype hits(const QUrl& url) const { return m_http.requestsTo(url).size(); }

    FakeClock m_clock;
    QTemporaryDir m_dir;
    FakeHttpClient m_http{m_clock};
    SigningKey m_key;
    QList<QUrl> m_opened;
};

// Download fetches the package here, checks it, and says where it went, the path whole on a
// line of its own: it needs no browser, which might not be set up and would not check the
// signature. Already there, the file is not fetched again; one that changed since may be
// the user's own, and a fresh copy goes beside it.
TEST_F(UpdateControllerTest, DownloadSavesTheNewerVersionAndSaysWhere)
{
    const QByteArray bytes(300'000, 'p');
    m_http.answer(QUrl(kPackage), Answer{200, bytes});
    serveFeed(u"0.2.0"_s, bytes, kPackage, bytes.size(),
              u"<sparkle:shortVersionString>0.2 Spring</sparkle:shortVersionString>"
              "<sparkle:releaseNotesLink>https://orbinlabs.app/notes/0.2?a=1&amp;b=2</sparkle:releaseNotesLink>"_s);
    auto updates = controller(m_clock);
    Alert::setNextAnswer(Alert::FirstButton);
    QString said;
    ow::test::checkShownAlert([&] { updates->checkForUpdates(); }, [&said](const QLabel& label) {
        said = label.text(); // the path's line fits whole
        EXPECT_LE(label.fontMetrics().horizontalAdvance(said.split(u'\n').last()), label.contentsRect().width());
    });
    const QList<Alert::Record> records = Alert::takeRecords();
    ASSERT_EQ(records.size(), 1);
    EXPECT_TRUE(records[0].text.contains(u"0.2 Spring"_s)) << records[0].text.toStdString();
    EXPECT_TRUE(records[0].text.contains(u"https://orbinlabs.app/notes/0.2?a=1&b=2"_s));
    EXPECT_EQ(records[0].buttons.size(), 2);

    updates->setAutomaticallyDownloadsUpdates(true);
    const QString names[] = {u"OrbinWash-0.2.0.tar.gz"_s, u"OrbinWash-0.2.0 (1).tar.gz"_s};
    for (int round = 0; round < 3; ++round) {
        EXPECT_TRUE(round == 0 || userCheck(*updates) == Outcome::UpdateAvailable);
        const QString path = QDir(downloadsPath()).filePath(names[round / 2]);
        EXPECT_EQ(downloads().size(), round / 2 + 1);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadWrite) && file.readAll() == bytes);
        EXPECT_EQ(hits(QUrl(kPackage)), round < 2 ? 1 : 2);
        said = round ? Alert::takeRecords().value(0).text : said;
        const QStringList lines = QString(said).remove(QChar(0x2060)).replace(QChar(0x00A0), u' ').split(u'\n');
        EXPECT_TRUE(lines.contains(QDir::toNativeSeparators(path))) << said.toStdString();
        ASSERT_TRUE(round != 1 || file.write("X") == 1);
    }
    QFile changed(QDir(downloadsPath()).filePath(names[0]));
    EXPECT_TRUE(changed.open(QIODevice::ReadOnly) && changed.readAll() == bytes + "X");
    EXPECT_EQ(m_opened, QList<QUrl>{QUrl::fromLocalFile(downloadsPath())});
    for (const FakeHttpClient::Request& request : m_http.requestsTo(QUrl(kPackage)))
        EXPECT_EQ(request.maxBytes, bytes.size()) << "never more than announced";
}

// A package not signed by the publisher's key is never kept, and a file of the user's with
// its name stays as it was, with nothing beside it; one the feed gives no signature for is
// not even fetched. DownloadSavesTheNewerVersionAndSaysWhere keeps a well signed one.
TEST_F(UpdateControllerTest, OnlyAPackageSignedByThePublisherIsKept)
{
    const QByteArray bytes(3000, 'p');
    m_http.answer(QUrl(kPackage), Answer{200, bytes});
    putUsersFile(u"OrbinWash-0.2.0.tar.gz"_s);
    auto updates = controller(m_clock);
    updates->setAutomaticallyDownloadsUpdates(true);
    const std::pair<QByteArray, QString> rows[] = {
        {SigningKey().sign(bytes), u"not kept"_s}, {m_key.sign(bytes + 'p'), u"not kept"_s}, {{}, u"not downloaded"_s}};
    for (const auto& [signature, said] : rows) {
        const qsizetype fetched = hits(QUrl(kPackage));
        m_http.answer(kFeed, Answer{200, feedWith(itemWith(u"0.2.0"_s, kPackage, bytes.size(), {}, signature))});
        EXPECT_EQ(userCheck(*updates), Outcome::Failed);
        const Alert::Record record = Alert::takeRecords().value(0);
        EXPECT_TRUE(record.title.contains(u"could not be verified"_s));
        EXPECT_TRUE(record.text.contains(said)) << record.text.toStdString();
        EXPECT_EQ(hits(QUrl(kPackage)), fetched + (signature.isEmpty() ? 0 : 1));
        expectOnlyUsersFile(u"OrbinWash-0.2.0.tar.gz"_s);
    }
}

// OpenSSL is loaded for the check; without it, or without a function the check needs,
// nothing verifies.
TEST(UpdateSignatureTest, VerifiesOnlyWithOpenSslLoaded)
{
    QTemporaryFile empty;
    ASSERT_TRUE(empty.open());
    const SigningKey key;
    const struct { const char* library; bool verifies; } rows[] = {
        {ow::UpdateSignature::kCryptoLibrary, true}, {"libow-absent.so.1", false}, {"libz.so.1", false}};
    for (const auto& row : rows)
        EXPECT_EQ(ow::UpdateSignature::verifies(key.publicKey(), key.sign({}), empty.fileName(), row.library),
                  row.verifies) << row.library;
}

// Download tries again, and then says why it failed and, unless it was missing or sent on
// somewhere it may not go, where to get the file; a package announced beyond the limit is
// not even asked for. A file of the user's with its name stays as it was.
TEST_F(UpdateControllerTest, FailedDownloadLeavesNoFileAndSaysWhyAndWhereToGetIt)
{
    const struct {
        const char* name;
        qint64 announced;
        Answer answer;
        int requests;
        QString why;
        bool offered = true;
    } rows[] = {
        {"not found", 0, {404}, 1, u"not found on the server"_s, false},
        {"redirected", 0, {302}, 1, u"not secure"_s, false},
        {"shorter than announced", 1000, {200, QByteArray(10, 'p')}, 1, u"could not be downloaded"_s},
        {"longer than announced", 10, {200, QByteArray(1000, 'p')}, 1, u"could not be downloaded"_s},
        {"announced beyond the limit", UpdateController::kMaxDownloadBytes + 1, {200}, 0, u"could not be downloaded"_s},
        {"broken", 0, {500}, 1, u"could not be downloaded"_s},
        {"no connection", 0, {0}, 1, u"internet connection"_s},
    };
    auto updates = controller(m_clock);
    updates->setAutomaticallyDownloadsUpdates(true);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const QString url = kPackage + QString::fromLatin1(row.name).remove(u' ');
        QDir(downloadsPath()).removeRecursively();
        putUsersFile(UpdateController::safeFileName(QUrl(url)));
        m_http.answer(QUrl(url), row.answer);
        serveFeed(u"0.2.0"_s, row.answer.body, url, row.announced);
        EXPECT_EQ(userCheck(*updates, {Alert::FirstButton, Alert::FirstButton}), Outcome::UpdateAvailable);
        const QList<Alert::Record> records = Alert::takeRecords();
        ASSERT_EQ(records.size(), 2);
        for (const Alert::Record& record : records)
            EXPECT_TRUE(record.text.contains(row.why)) << record.text.toStdString();
        EXPECT_EQ(records[0].text.contains(u"internet connection"_s), row.answer.status == 0);
        EXPECT_EQ(records[1].text.contains(url), row.offered);
        EXPECT_EQ(hits(QUrl(url)), 2 * row.requests);
        expectOnlyUsersFile(UpdateController::safeFileName(QUrl(url)));
        EXPECT_TRUE(m_opened.isEmpty());
        for (const FakeHttpClient::Request& request : m_http.requestsTo(QUrl(url)))
            EXPECT_TRUE(request.maxBytes > 0 && request.maxBytes <= UpdateController::kMaxDownloadBytes);
    }

    // Gone while the package comes: no file, and nothing said.
    QDir(downloadsPath()).removeRecursively();
    const QString held = kPackage + u"held"_s;
    serveFeed(u"0.2.0"_s, QByteArray(10, 'p'), held);
    Alert::setNextAnswer(Alert::SecondButton);
    updates->checkForUpdates();
    ASSERT_EQ(m_http.heldCount(), 1);
    updates.reset();
    m_http.answerHeld(0, Answer{200, QByteArray(10, 'p')});
    EXPECT_TRUE(Alert::takeRecords().isEmpty());
    EXPECT_TRUE(downloads().isEmpty());
}

// Versions compare as numbers; Later opens nothing.
TEST_F(UpdateControllerTest, OnlyAHigherVersionIsAnUpdate)
{
    const std::tuple<QString, QString, Outcome> rows[] = {
        {u"0.1.0"_s, u"0.1.0"_s, Outcome::UpToDate}, {u"0.0.9"_s, u"0.1.0"_s, Outcome::UpToDate},
        {u"0.1"_s, u"0.1.0"_s, Outcome::UpToDate},   {u"1.10"_s, u"1.9"_s, Outcome::UpdateAvailable},
    };
    for (const auto& [offered, current, outcome] : rows) {
        serveFeed(offered);
        EXPECT_EQ(userCheck(*controller(m_clock, current)), outcome) << offered.toStdString();
        const Alert::Record record = Alert::takeRecords().value(0);
        EXPECT_EQ(record.title.contains(u"up to date"_s), outcome == Outcome::UpToDate);
        EXPECT_TRUE(record.text.contains(current)) << record.text.toStdString();
    }
    EXPECT_TRUE(m_opened.isEmpty());
}

// Only a feed that never came is a matter of the user's connection; a feed off the web is
// not even asked for. ACheckShowsThatItRunsAndEndsAtItsDeadline lets one never come.
TEST_F(UpdateControllerTest, UnusableFeedsEndInCouldNotCheck)
{
    const QByteArray valid = feedWith(itemWith(u"0.2.0"_s));
    const struct {
        const char* name;
        QUrl url;
        Answer answer;
        QString said;
    } rows[] = {
        {"cut short", kFeed, {200, valid.left(valid.size() / 2)}, u"could not be read"_s},
        {"not found", kFeed, {404}, u"could not be read"_s},
        {"broken", kFeed, {500, valid}, u"could not be read"_s},
        {"no connection", kFeed, {0}, u"internet connection"_s},
        {"off the web", QUrl(u"file:///tmp/appcast.xml"_s), {200, valid}, u"could not be read"_s},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        m_http.answer(row.url, row.answer);
        EXPECT_EQ(userCheck(*controller(m_clock, u"0.1.0"_s, row.url), {Alert::FirstButton}), Outcome::Failed);
        const Alert::Record record = Alert::takeRecords().value(0);
        EXPECT_TRUE(record.title.contains(u"could not check"_s));
        EXPECT_TRUE(record.text.contains(row.said)) << record.text.toStdString();
    }
    EXPECT_EQ(hits(QUrl(u"file:///tmp/appcast.xml"_s)), 0);
    for (const FakeHttpClient::Request& request : m_http.requests())
        EXPECT_TRUE(request.maxBytes > 0 && request.maxBytes <= Appcast::kMaxFeedBytes);
}

// A check the user asked for shows that it runs, and stops at Cancel; asked for again
// meanwhile, nothing new starts. A feed that never comes ends when the transfer has been
// silent too long, one that trickles at the check's deadline, each with its own message.
TEST_F(UpdateControllerTest, ACheckShowsThatItRunsAndEndsAtItsDeadline)
{
    const struct {
        bool trickles;
        std::chrono::milliseconds endsAt; // 0: cancelled
        QString said;
    } rows[] = {{false, UpdateController::kTransferTimeout, u"internet connection"_s},
                {true, UpdateController::kFeedDeadline, u"too slowly"_s}, {true, 0ms, {}}};
    auto updates = controller(m_clock);
    QSignalSpy finished(updates.get(), &UpdateController::checkFinished);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.said.toStdString());
        Alert::setNextAnswer(Alert::FirstButton);
        updates->checkForUpdates();
        updates->checkForUpdates();
        EXPECT_EQ(hits(kFeed), &row - rows + 1);
        if (row.trickles)
            m_http.trickle(m_http.heldCount() - 1);
        QPointer<QProgressDialog> progress;
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window->isVisible() && qobject_cast<QProgressDialog*>(window))
                progress = qobject_cast<QProgressDialog*>(window);
        }
        ASSERT_TRUE(progress && progress->isVisible());
        if (row.endsAt == 0ms) {
            QTest::mouseClick(progress->findChild<QPushButton*>(), Qt::LeftButton);
        } else {
            m_clock.advance(row.endsAt - 1ms);
            EXPECT_TRUE(finished.isEmpty());
            m_clock.advance(1ms);
        }
        ASSERT_EQ(finished.size(), 1);
        EXPECT_EQ(finished.takeFirst().at(0).value<Outcome>(), row.said.isEmpty() ? Outcome::Cancelled : Outcome::Failed);
        const QList<Alert::Record> said = Alert::takeRecords();
        EXPECT_TRUE(row.said.isEmpty() ? said.isEmpty() : said.value(0).text.contains(row.said));
        EXPECT_FALSE(progress && progress->isVisible());
    }
}

// Background checks run once per interval, only when switched on (the switch persists), and
// quietly: a failure is as quiet as finding nothing new. The last check persists too: after a
// restart the next one comes when it is due, at the earliest once the start delay has passed.
TEST_F(UpdateControllerTest, BackgroundChecksRunOncePerIntervalAndQuietlyOnlyWhenOn)
{
    for (int i = 0; i < 5; ++i) // an alert would be recorded, not shown
        Alert::setNextAnswer(Alert::SecondButton);
    QList<Outcome> outcomes;
    const auto watch = [&outcomes](UpdateController& updates) {
        QObject::connect(&updates, &UpdateController::checkFinished, [&outcomes](Outcome o) { outcomes.append(o); });
    };
    controller(m_clock)->setAutomaticallyChecksForUpdates(false);
    auto updates = controller(m_clock);
    m_clock.advance(3h);
    EXPECT_EQ(m_clock.pendingTimers(), 0);
    EXPECT_EQ(hits(kFeed), 0);

    updates->setAutomaticallyChecksForUpdates(true);
    updates = controller(m_clock);
    watch(*updates);
    m_http.answer(kFeed, Answer{0});
    m_clock.advance(UpdateController::kStartDelay - 1s);
    EXPECT_EQ(hits(kFeed), 0);
    m_clock.advance(1s);
    serveFeed(u"0.1.0"_s);
    m_clock.advance(3599s);
    EXPECT_EQ(hits(kFeed), 1);
    m_clock.advance(1s);
    EXPECT_EQ(outcomes, (QList<Outcome>{Outcome::Failed, Outcome::UpToDate}));
    EXPECT_TRUE(Alert::takeRecords().isEmpty());

    const QDateTime checkedAt = m_clock.wallNow();
    using Delays = std::pair<std::chrono::minutes, std::chrono::minutes>;
    for (const auto& [restart, wait] : {Delays{20min, 40min}, Delays{5h, 0min}}) {
        updates.reset();
        FakeClock later;
        later.setWallNow(checkedAt.addSecs(std::chrono::seconds(restart).count()));
        updates = controller(later);
        const qsizetype before = hits(kFeed);
        later.advance(std::max<std::chrono::seconds>(wait, UpdateController::kStartDelay) - 1s);
        EXPECT_EQ(hits(kFeed), before);
        later.advance(1s);
        EXPECT_EQ(hits(kFeed), before + 1);
    }
}

// Download, asked for after a quiet background check, reports its outcome: here a package
// that changed since it was signed.
TEST_F(UpdateControllerTest, BackgroundCheckAnnouncesANewerVersionAndTellsHowItsDownloadEnded)
{
    serveFeed(u"0.3.0"_s, QByteArray(100, 'p'));
    m_http.answer(QUrl(kPackage), Answer{200, QByteArray(200, 'p')});
    auto updates = controller(m_clock);
    QSignalSpy finished(updates.get(), &UpdateController::checkFinished);
    Alert::setNextAnswer(Alert::FirstButton);
    Alert::setNextAnswer(Alert::FirstButton);
    m_clock.advance(UpdateController::kStartDelay);
    ASSERT_EQ(finished.size(), 1);
    EXPECT_EQ(finished.at(0).at(0).value<Outcome>(), Outcome::Failed);
    const QList<Alert::Record> records = Alert::takeRecords();
    ASSERT_EQ(records.size(), 2);
    EXPECT_TRUE(records[0].text.contains(u"0.3.0"_s));
    EXPECT_TRUE(records[1].title.contains(u"could not be verified"_s));
    EXPECT_TRUE(downloads().isEmpty());
}

} // namespace
