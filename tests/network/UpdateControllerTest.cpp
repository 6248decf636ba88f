#include "Alert.h"
#include "Appcast.h"
#include "FakeClock.h"
#include "NetworkFakes.h"
#include "RawServer.h"
#include "UpdateController.h"

#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <openssl/evp.h>

#include <optional>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

using ow::Alert;
using ow::Appcast;
using ow::FakeClock;
using ow::UpdateController;
using Outcome = UpdateController::Outcome;

const QString kWebPackage = u"https://updates.orbinlabs.app/p.tar.gz"_s;

QByteArray feedWith(const QString& items)
{
    return (u"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\" "
            "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">\n"
            "<channel><title>OrbinWash</title>\n%1</channel></rss>\n"_s)
        .arg(items)
        .toUtf8();
}

// One release in the element form; extra goes inside the item, a signature on the enclosure.
QString itemWith(const QString& version, const QString& url = kWebPackage, qint64 length = 0,
                 const QString& extra = {}, const QByteArray& signature = {})
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
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> m_key {EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"),
                                                                &EVP_PKEY_free};
};

// Stands in for TLS: the test server speaks plain HTTP, so https addresses on 127.0.0.1
// are fetched over http. Which addresses the controller accepts is settled before this.
class LocalNetwork final : public QNetworkAccessManager {
protected:
    QNetworkReply* createRequest(Operation operation, const QNetworkRequest& request, QIODevice* data) override
    {
        QNetworkRequest plain(request);
        QUrl url = request.url();
        if (url.scheme() == u"https"_s && url.host() == u"127.0.0.1"_s) {
            url.setScheme(u"http"_s);
            plain.setUrl(url);
        }
        return QNetworkAccessManager::createRequest(operation, plain, data);
    }
};

QByteArray package(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 131 + i / 251) & 0xff);
    return bytes;
}

TEST(AppcastTest, ReadsBothFormsAndPicksTheHighestValidVersion)
{
    auto item = Appcast::newestItem(feedWith(
        u"<item><title>OrbinWash 2.3</title><sparkle:version>2.3.0</sparkle:version>"
        "<sparkle:shortVersionString>2.3 Spring</sparkle:shortVersionString>"
        "<sparkle:releaseNotesLink>https://orbinlabs.app/notes/2.3</sparkle:releaseNotesLink>"
        "<enclosure url=\"https://updates.orbinlabs.app/w.tar.gz\" length=\"1234\" type=\"application/gzip\"/></item>"_s));
    ASSERT_TRUE(item);
    EXPECT_EQ(std::tuple(item->version, item->displayVersion, item->title, item->length, item->type),
              std::tuple(QVersionNumber(2, 3, 0), u"2.3 Spring"_s, u"OrbinWash 2.3"_s, 1234, u"application/gzip"_s));
    EXPECT_EQ(item->downloadUrl, QUrl(u"https://updates.orbinlabs.app/w.tar.gz"_s));
    EXPECT_EQ(item->releaseNotesUrl, QUrl(u"https://orbinlabs.app/notes/2.3"_s));

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
    for (const auto& [given, shown] : {std::pair {u"2.0\u202E\n  gpj.exe"_s + QString(200, u'x'), u"2.0 gpj.exe"_s},
                                       std::pair {kept + u" tail"_s, kept}}) {
        item = Appcast::newestItem(feedWith(itemWith(
            u"2"_s, kWebPackage, 0, u"<sparkle:shortVersionString>%1</sparkle:shortVersionString>"_s.arg(given))));
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
    const QByteArray laughs =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE rss [\n <!ENTITY a \"aaaaaaaaaaaaaaaa\">\n"
        " <!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">\n"
        " <!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">\n"
        " <!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">\n]>\n"
        + QByteArray(body).replace("<title>OrbinWash</title>", "<title>&d;</title>");
    QString manyItems;
    for (int i = 0; i <= Appcast::kMaxItems; ++i)
        manyItems += itemWith(u"1.%1"_s.arg(i));
    QByteArray huge = valid;
    huge.insert(huge.indexOf("<channel>"), "<!--" + QByteArray(Appcast::kMaxFeedBytes, ' ') + "-->");
    const auto withNotes = [](const QString& notes) {
        return feedWith(itemWith(u"2.0"_s, kWebPackage, 0,
                                 u"<sparkle:releaseNotesLink>%1</sparkle:releaseNotesLink>"_s.arg(notes)));
    };

    const QList<QPair<const char*, QByteArray>> feeds{
        {"empty", QByteArray()},
        {"not XML", "this is not a feed"},
        {"cut short", valid.left(valid.indexOf("</channel>"))},
        {"garbage after the end", valid + "<rss>"},
        {"another root", QByteArray(valid).replace("<rss ", "<feed ").replace("</rss>", "</feed>")},
        {"no items", feedWith(QString())},
        {"no version", feedWith(u"<item><title>x</title><enclosure url=\"%1\"/></item>"_s.arg(kWebPackage))},
        {"version with a suffix", feedWith(itemWith(u"2.0beta"_s))},
        {"huge version segment", feedWith(itemWith(u"99999999999"_s))},
        {"undeclared namespace", QByteArray(valid).replace(" xmlns:sparkle=", " xmlns:other=")},
        {"harmless DTD", "<!DOCTYPE rss [<!ENTITY v \"2.0\">]>\n" + body},
        {"entity expansion", laughs},
        {"external entity", "<!DOCTYPE rss [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>\n"
                                + QByteArray(body).replace("<title>OrbinWash</title>", "<title>&x;</title>")},
        {"undeclared entity", QByteArray(valid).replace("<title>OrbinWash</title>", "<title>&x;</title>")},
        {"file: download", feedWith(itemWith(u"2.0"_s, u"file:///usr/bin/evil"_s))},
        {"javascript: download", feedWith(itemWith(u"2.0"_s, u"javascript:alert(1)"_s))},
        {"ftp: download", feedWith(itemWith(u"2.0"_s, u"ftp://orbinlabs.app/p.tar.gz"_s))},
        {"http: download", feedWith(itemWith(u"2.0"_s, u"http://updates.orbinlabs.app/p.tar.gz"_s))},
        {"credentials in the address", feedWith(itemWith(u"2.0"_s, u"https://updates.orbinlabs.app@evil.example/p"_s))},
        {"file: release notes", withNotes(u"file:///etc/passwd"_s)},
        {"data: release notes", withNotes(u"data:text/html,hello"_s)},
        {"http: release notes", withNotes(u"http://orbinlabs.app/notes/2.0"_s)},
        {"too many items", feedWith(manyItems)},
        {"too many bytes", huge},
    };
    ASSERT_TRUE(Appcast::newestItem(valid));
    for (const auto& [name, feed] : feeds)
        EXPECT_FALSE(Appcast::newestItem(feed)) << name;
}

TEST(UpdateFileNameTest, StaysInsideTheDownloadsFolderAndInSight)
{
    const QList<QPair<QString, QString>> names {
        {u"dl/OrbinWash-0.2.0.tar.gz"_s, u"OrbinWash-0.2.0.tar.gz"_s}, {u"dl/.bashrc"_s, u"bashrc"_s},
        {u"dl/...hidden"_s, u"hidden"_s}, {u"dl/a%5Cb"_s, u"a_b"_s}, {u"dl/%0Aname"_s, u"_name"_s},
        {QString(), u"OrbinWash-update"_s}, {u"dl/..%2F..%2F.profile"_s, {}}, {u"dl/%2E%2E"_s, {}}, {u"dl/.."_s, {}},
        {u"dl/%2Fetc%2Fpasswd"_s, {}}, {QString(500, QChar(0x00E9)) + u".tar.gz"_s, u".tar.gz"_s},
    };
    for (const auto& [path, expected] : names) {
        const QString safe = UpdateController::safeFileName(QUrl(u"https://h.example/"_s + path));
        EXPECT_TRUE(expected.startsWith(u'.') ? safe.endsWith(expected) : expected.isEmpty() || safe == expected)
            << safe.toStdString();
        EXPECT_FALSE(safe.isEmpty() || safe.contains(u'/') || safe.startsWith(u'.')) << safe.toStdString();
        EXPECT_LE(safe.toUtf8().size(), 200);
    }
}

class UpdateControllerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Alert::reset();
        ASSERT_TRUE(m_dir.isValid());
        m_network.setProxy(QNetworkProxy::NoProxy);
    }
    void TearDown() override { Alert::reset(); }

    QString downloadsPath() const { return m_dir.filePath(u"downloads"_s); }

    std::unique_ptr<UpdateController> controller(ow::Clock& clock, const QString& current = u"0.1.0"_s,
                                                 const QUrl& feed = {})
    {
        UpdateController::Setup setup;
        setup.settingsPath = m_dir.filePath(u"config/updates.ini"_s);
        setup.currentVersion = QVersionNumber::fromString(current);
        setup.feedUrl = feed.isEmpty() ? m_server.url(u"/appcast.xml"_s) : feed;
        setup.network = &m_network;
        setup.downloadsFolder = downloadsPath();
        setup.openUrl = [this](const QUrl& url) {
            m_opened.append(url);
            return true;
        };
        setup.publicKey = m_key.publicKey();
        auto updates = std::make_unique<UpdateController>(clock, std::move(setup));
        updates->setUpdateCheckInterval(3600);
        return updates;
    }

    void serve(const QString& path, const QByteArray& body)
    {
        m_bodies.insert(path, body);
        m_server.answer(path, Answer {200, body});
    }

    // The feed announces version, downloadable from path on the test server over https,
    // signed as what the server holds there now.
    void serveFeed(const QString& version, const QString& path = u"/files/p.tar.gz"_s, qint64 length = 0,
                   const QString& extra = {})
    {
        serve(u"/appcast.xml"_s, feedWith(itemWith(version, m_server.url(path, u"https"_s).toString(), length, extra,
                                                   m_key.sign(m_bodies.value(path)))));
    }

    // A check the user asked for, its alerts answered in turn; nothing if it never ends.
    static std::optional<Outcome> userCheck(UpdateController& updates, const QList<int>& answers)
    {
        for (const int answer : answers)
            Alert::setNextAnswer(answer);
        QSignalSpy finished(&updates, &UpdateController::checkFinished);
        updates.checkForUpdates();
        return finished.isEmpty() && !finished.wait(5000) ? std::nullopt
                                                          : std::optional(finished.at(0).at(0).value<Outcome>());
    }
    static std::optional<Outcome> userCheck(UpdateController& updates, int answer = Alert::SecondButton)
    {
        return userCheck(updates, QList<int> {answer});
    }

    // Waits for the background check the clock just started.
    static std::optional<Outcome> backgroundCheck(UpdateController& updates)
    {
        QSignalSpy finished(&updates, &UpdateController::checkFinished);
        return !updates.isChecking() || !finished.wait(5000) ? std::nullopt
                                                             : std::optional(finished.at(0).at(0).value<Outcome>());
    }

    QStringList downloads() const
    {
        return QDir(downloadsPath()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    QString savedPath() const { return QDir(downloadsPath()).filePath(u"OrbinWash-0.2.0.tar.gz"_s); }
    QByteArray saved() const
    {
        QFile file(savedPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    qsizetype feedHits() const { return m_server.hits(u"/appcast.xml"_s); }

    // A package served over https from a RawServer that never finishes sending it.
    void serveStuckPackage(RawServer& server, qint64 length)
    {
        serve(u"/appcast.xml"_s, feedWith(itemWith(u"0.2.0"_s, server.url(u"/p.tar.gz"_s, u"https"_s).toString(),
                                                   length, {}, QByteArray(64, 's'))));
    }

    // The check that the user asked for and the clock must end.
    void expectEndedByTheClock(UpdateController& updates, QTcpServer& server, Outcome outcome)
    {
        QSignalSpy connected(&server, &QTcpServer::newConnection);
        QSignalSpy finished(&updates, &UpdateController::checkFinished);
        updates.checkForUpdates();
        ASSERT_TRUE(connected.wait(5000));
        m_clock.advance(UpdateController::kTransferTimeout - 1s);
        EXPECT_TRUE(finished.isEmpty());
        m_clock.advance(1s);
        ASSERT_EQ(finished.size(), 1);
        EXPECT_EQ(finished.at(0).at(0).value<Outcome>(), outcome);
        EXPECT_TRUE(downloads().isEmpty());
    }

    FakeClock m_clock;
    QTemporaryDir m_dir;
    TestServer m_server;
    QHash<QString, QByteArray> m_bodies;
    LocalNetwork m_network;
    SigningKey m_key;
    QList<QUrl> m_opened;
};

// Download fetches the package here, checks it, and says where it went: it needs no
// browser, which might not be set up and would not check the signature. Already there,
// the file is not fetched again, unless it changed since.
TEST_F(UpdateControllerTest, DownloadSavesTheNewerVersionAndSaysWhere)
{
    const QByteArray bytes = package(300'000);
    serve(u"/files/OrbinWash-0.2.0.tar.gz"_s, bytes);
    serveFeed(u"0.2.0"_s, u"/files/OrbinWash-0.2.0.tar.gz"_s, bytes.size(),
              u"<sparkle:shortVersionString>0.2 Spring</sparkle:shortVersionString>"
              "<sparkle:releaseNotesLink>https://orbinlabs.app/notes/0.2?a=1&amp;b=2</sparkle:releaseNotesLink>"_s);
    auto updates = controller(m_clock);
    EXPECT_EQ(userCheck(*updates, {Alert::FirstButton, Alert::FirstButton}), Outcome::UpdateAvailable);
    const QList<Alert::Record> records = Alert::takeRecords();
    ASSERT_EQ(records.size(), 2);
    EXPECT_TRUE(records[0].text.contains(u"0.2 Spring"_s)) << records[0].text.toStdString();
    EXPECT_TRUE(records[0].text.contains(u"https://orbinlabs.app/notes/0.2?a=1&b=2"_s));
    EXPECT_EQ(records[0].buttons.size(), 2);

    updates->setAutomaticallyDownloadsUpdates(true);
    for (int round = 0; round < 3; ++round) {
        EXPECT_TRUE(round == 0 || userCheck(*updates) == Outcome::UpdateAvailable);
        EXPECT_EQ(downloads(), QStringList {u"OrbinWash-0.2.0.tar.gz"_s});
        EXPECT_EQ(saved(), bytes);
        EXPECT_EQ(m_server.hits(u"/files/OrbinWash-0.2.0.tar.gz"_s), round < 2 ? 1 : 2);
        const QString said = round == 0 ? records[1].text : Alert::takeRecords().value(0).text;
        EXPECT_TRUE(said.contains(QDir::toNativeSeparators(savedPath()))) << said.toStdString();
        QFile file(savedPath());
        ASSERT_TRUE(round != 1 || (file.open(QIODevice::Append) && file.write("X") == 1));
    }
    EXPECT_EQ(m_opened, QList<QUrl> {QUrl::fromLocalFile(downloadsPath())});
}

// Only a package whose signature verifies against the publisher's key is kept; any other
// is deleted, and the check ends as one that could not be completed.
TEST_F(UpdateControllerTest, OnlyAPackageSignedByThePublisherIsKept)
{
    const QByteArray bytes = package(3000);
    const QString path = u"/files/OrbinWash-0.2.0.tar.gz"_s;
    serve(path, bytes);
    const QString secure = m_server.url(path, u"https"_s).toString();
    const QList<std::tuple<QString, QByteArray, QString>> cases {
        {secure, m_key.sign(bytes), u"saved to"_s},
        {secure, SigningKey().sign(bytes), u"could not be verified"_s},
        {secure, {}, u"could not be verified"_s},
        {secure, m_key.sign(package(3001)), u"could not be verified"_s},
        {m_server.url(path).toString(), m_key.sign(bytes), u"could not be read"_s},
    };
    auto updates = controller(m_clock);
    updates->setAutomaticallyDownloadsUpdates(true);
    for (const auto& [url, signature, said] : cases) {
        QFile::remove(savedPath());
        serve(u"/appcast.xml"_s, feedWith(itemWith(u"0.2.0"_s, url, bytes.size(), {}, signature)));
        const bool kept = said == u"saved to"_s;
        EXPECT_EQ(userCheck(*updates), kept ? Outcome::UpdateAvailable : Outcome::Failed) << said.toStdString();
        EXPECT_TRUE(Alert::takeRecords().value(0).text.contains(said)) << said.toStdString();
        EXPECT_EQ(downloads(), kept ? QStringList {u"OrbinWash-0.2.0.tar.gz"_s} : QStringList());
    }
}

// Download tries again, and then says why it failed and where to get the file.
TEST_F(UpdateControllerTest, FailedDownloadLeavesNoFileAndSaysWhyAndWhereToGetIt)
{
    serve(u"/files/short.tar.gz"_s, package(10));
    const QList<std::tuple<QString, qint64, int, QString>> cases {
        {u"/files/missing.tar.gz"_s, 0, 1, u"not found on the server"_s},
        {u"/files/short.tar.gz"_s, 1000, 1, u"could not be downloaded"_s},
        {u"/files/large.tar.gz"_s, UpdateController::kMaxDownloadBytes + 1, 0, u"could not be downloaded"_s},
    };
    auto updates = controller(m_clock);
    updates->setAutomaticallyDownloadsUpdates(true);
    for (const auto& [path, declared, hits, why] : cases) {
        serveFeed(u"0.2.0"_s, path, declared);
        EXPECT_EQ(userCheck(*updates, {Alert::FirstButton, Alert::FirstButton}), Outcome::UpdateAvailable);
        const QList<Alert::Record> records = Alert::takeRecords();
        ASSERT_EQ(records.size(), 2);
        for (const Alert::Record& record : records) {
            EXPECT_TRUE(record.text.contains(why)) << record.text.toStdString();
            EXPECT_FALSE(record.text.contains(u"internet connection"_s)) << record.text.toStdString();
        }
        EXPECT_TRUE(records[1].text.contains(m_server.url(path, u"https"_s).toString()));
        EXPECT_EQ(m_server.hits(path), 2 * hits);
        EXPECT_TRUE(downloads().isEmpty() && m_opened.isEmpty());
    }

    // Never finishes: only the announced length can end it quickly.
    RawServer server("HTTP/1.1 200 OK\r\nContent-Length: 629145600\r\n\r\nabc", false);
    serveStuckPackage(server, 0);
    EXPECT_EQ(userCheck(*updates), Outcome::UpdateAvailable);
    EXPECT_TRUE(Alert::takeRecords().value(0).text.contains(u"could not be downloaded"_s));
    EXPECT_TRUE(downloads().isEmpty());
}

TEST_F(UpdateControllerTest, StalledDownloadOrFeedIsGivenUpAfterTheTransferTimeout)
{
    RawServer stalled("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n0123456789", false);
    serveStuckPackage(stalled, 1000);
    auto updates = controller(m_clock);
    updates->setAutomaticallyChecksForUpdates(false);
    updates->setAutomaticallyDownloadsUpdates(true);
    Alert::setNextAnswer(Alert::SecondButton);
    expectEndedByTheClock(*updates, stalled.server(), Outcome::UpdateAvailable);
    const QString text = Alert::takeRecords().value(0).text;
    EXPECT_TRUE(text.contains(u"could not be downloaded"_s) && text.contains(u"internet connection"_s))
        << text.toStdString();

    RawServer silent(QByteArray(), false);
    auto feedless = controller(m_clock, u"0.1.0"_s, silent.url(u"/appcast.xml"_s));
    feedless->setAutomaticallyChecksForUpdates(false);
    Alert::setNextAnswer(Alert::FirstButton);
    expectEndedByTheClock(*feedless, silent.server(), Outcome::Failed);
    EXPECT_EQ(Alert::takeRecords().size(), 1);

    // Destroyed mid-download, it leaves no file and says nothing.
    updates = controller(m_clock);
    QSignalSpy connected(&stalled.server(), &QTcpServer::newConnection);
    Alert::setNextAnswer(Alert::SecondButton);
    updates->checkForUpdates();
    ASSERT_TRUE(connected.wait(5000));
    updates.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(Alert::takeRecords().isEmpty());
    EXPECT_TRUE(downloads().isEmpty());
}

// Versions compare as numbers; Later opens nothing.
TEST_F(UpdateControllerTest, OnlyAHigherVersionIsAnUpdate)
{
    const QList<std::tuple<QString, QString, Outcome>> cases {
        {u"0.1.0"_s, u"0.1.0"_s, Outcome::UpToDate}, {u"0.0.9"_s, u"0.1.0"_s, Outcome::UpToDate},
        {u"0.1"_s, u"0.1.0"_s, Outcome::UpToDate},   {u"1.10"_s, u"1.9"_s, Outcome::UpdateAvailable},
        {u"1.10"_s, u"1.11"_s, Outcome::UpToDate},
    };
    for (const auto& [offered, current, outcome] : cases) {
        serveFeed(offered);
        EXPECT_EQ(userCheck(*controller(m_clock, current)), outcome) << offered.toStdString();
        const Alert::Record record = Alert::takeRecords().value(0);
        EXPECT_EQ(record.title.contains(u"up to date"_s), outcome == Outcome::UpToDate);
        EXPECT_TRUE(record.text.contains(current)) << record.text.toStdString();
    }
    EXPECT_TRUE(m_opened.isEmpty());
}

TEST_F(UpdateControllerTest, UnusableFeedsEndInCouldNotCheck)
{
    const QByteArray valid = feedWith(itemWith(u"0.2.0"_s));
    QByteArray huge = valid;
    huge.insert(huge.indexOf("<channel>"), "<!--" + QByteArray(2 * Appcast::kMaxFeedBytes, ' ') + "-->");
    const QString local = m_dir.filePath(u"appcast.xml"_s);
    QFile file(local);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(valid) == valid.size());
    file.close();
    const QList<std::tuple<QUrl, Answer, QString>> feeds {
        {{}, {200, valid.left(valid.size() / 2)}, u"could not be read"_s},
        {{}, {200, "<!DOCTYPE rss>" + valid.mid(valid.indexOf("<rss"))}, u"could not be read"_s},
        {{}, {200, huge}, u"could not be read"_s},
        {{}, {404}, u"could not be read"_s},
        {closedPort(u"/appcast.xml"_s), {}, u"internet connection"_s},
        // Not off the web, nor through a redirection.
        {{}, {302, {}, QUrl::fromLocalFile(local).toEncoded()}, u"could not be read"_s},
    };
    for (const auto& [url, answer, said] : feeds) {
        m_server.answer(u"/appcast.xml"_s, answer);
        EXPECT_EQ(userCheck(*controller(m_clock, u"0.1.0"_s, url), Alert::FirstButton), Outcome::Failed);
        const Alert::Record record = Alert::takeRecords().value(0);
        EXPECT_TRUE(record.title.contains(u"could not check"_s));
        EXPECT_TRUE(record.text.contains(said)) << record.text.toStdString();
    }
    EXPECT_EQ(userCheck(*controller(m_clock, u"0.1.0"_s, QUrl::fromLocalFile(local))), Outcome::Failed);
    EXPECT_EQ(feedHits(), 5);

    // Never finishes: only counting the bytes as they come can end it quickly.
    RawServer endless("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + QByteArray(3 * Appcast::kMaxFeedBytes, ' '),
                      false);
    EXPECT_EQ(userCheck(*controller(m_clock, u"0.1.0"_s, endless.url(u"/appcast.xml"_s))), Outcome::Failed);
}

// Background checks run once per interval, only when switched on (the switch persists), and
// quietly: a failure is as quiet as finding nothing new. The last check persists too: after a
// restart the next one comes when it is due, at the earliest once the start delay has passed.
TEST_F(UpdateControllerTest, BackgroundChecksRunOncePerIntervalAndQuietlyOnlyWhenOn)
{
    for (int i = 0; i < 10; ++i)
        Alert::setNextAnswer(Alert::SecondButton);
    controller(m_clock)->setAutomaticallyChecksForUpdates(false);
    auto updates = controller(m_clock);
    m_clock.advance(3h);
    EXPECT_EQ(m_clock.pendingTimers(), 0);
    EXPECT_EQ(feedHits(), 0);

    updates->setAutomaticallyChecksForUpdates(true);
    updates = controller(m_clock);
    m_clock.advance(UpdateController::kStartDelay - 1s);
    EXPECT_FALSE(updates->isChecking());
    m_clock.advance(1s);
    EXPECT_EQ(backgroundCheck(*updates), Outcome::Failed);
    serveFeed(u"0.1.0"_s);
    m_clock.advance(3599s);
    EXPECT_FALSE(updates->isChecking());
    m_clock.advance(1s);
    EXPECT_EQ(backgroundCheck(*updates), Outcome::UpToDate);
    EXPECT_EQ(feedHits(), 2);
    EXPECT_TRUE(Alert::takeRecords().isEmpty());

    const QDateTime checkedAt = m_clock.wallNow();
    using Delays = std::pair<std::chrono::minutes, std::chrono::minutes>;
    for (const auto& [restart, wait] : {Delays {20min, 40min}, Delays {5h, 0min}}) {
        updates.reset();
        FakeClock later;
        later.setWallNow(checkedAt.addSecs(std::chrono::seconds(restart).count()));
        updates = controller(later);
        const std::chrono::seconds due = std::max<std::chrono::seconds>(wait, UpdateController::kStartDelay);
        later.advance(due - 1s);
        EXPECT_FALSE(updates->isChecking());
        later.advance(1s);
        EXPECT_EQ(backgroundCheck(*updates), Outcome::UpToDate);
    }
}

// Download, asked for after a quiet background check, reports its outcome: here a
// package that changed since it was signed.
TEST_F(UpdateControllerTest, BackgroundCheckAnnouncesANewerVersionAndTellsHowItsDownloadEnded)
{
    serve(u"/files/p.tar.gz"_s, package(100));
    serveFeed(u"0.3.0"_s);
    serve(u"/files/p.tar.gz"_s, package(200));
    auto updates = controller(m_clock);
    Alert::setNextAnswer(Alert::FirstButton);
    Alert::setNextAnswer(Alert::FirstButton);
    m_clock.advance(UpdateController::kStartDelay);
    EXPECT_EQ(backgroundCheck(*updates), Outcome::Failed);
    const QList<Alert::Record> records = Alert::takeRecords();
    ASSERT_EQ(records.size(), 2);
    EXPECT_TRUE(records[0].text.contains(u"0.3.0"_s));
    EXPECT_TRUE(records[1].title.contains(u"could not check"_s));
    EXPECT_TRUE(downloads().isEmpty());
}

} // namespace
