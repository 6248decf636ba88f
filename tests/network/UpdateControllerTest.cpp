#include "Alert.h"
#include "Appcast.h"
#include "FakeClock.h"
#include "RawServer.h"
#include "UpdateController.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QHostAddress>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <memory>
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

// Signed by no one: stands in where a download never completes.
const QByteArray kSomeSignature(64, 's');

// One release in the element form; extra goes inside the item, a signature on the enclosure.
QString itemWith(const QString& version, const QString& url, qint64 length = 0, const QString& extra = {},
                 const QByteArray& signature = {})
{
    const QString signed_ = signature.isEmpty()
        ? QString()
        : u" sparkle:edSignature=\"%1\""_s.arg(QString::fromLatin1(signature.toBase64()));
    return u"<item><title>OrbinWash %1</title><sparkle:version>%1</sparkle:version>%4"
           "<enclosure url=\"%2\" length=\"%3\" type=\"application/gzip\"%5/></item>\n"_s
        .arg(version, url, QString::number(length), extra, signed_);
}

QString itemWith(const QString& version, const QUrl& url, qint64 length = 0, const QString& extra = {},
                 const QByteArray& signature = {})
{
    return itemWith(version, url.toString(), length, extra, signature);
}

// An Ed25519 key pair made for the test run, as the publisher of updates holds one.
class SigningKey {
public:
    SigningKey()
        : m_key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"), &EVP_PKEY_free)
    {
    }

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
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> m_key;
};

// Stands in for TLS: the test servers speak plain HTTP, so https addresses on 127.0.0.1
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

// An HTTP server on 127.0.0.1 answering the paths it was given and 404 to the others.
class FeedServer {
public:
    FeedServer()
    {
        m_server.setMissingHandler([this](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
            const QString path = request.url().path();
            ++m_hits[path];
            if (m_redirects.contains(path)) {
                responder.write({{"Location", m_redirects.value(path)}},
                                QHttpServerResponder::StatusCode::Found);
                return;
            }
            const auto found = m_bodies.constFind(path);
            if (found == m_bodies.cend()) {
                responder.write(QHttpServerResponder::StatusCode::NotFound);
                return;
            }
            responder.write(found->first, {{"Content-Type", found->second}});
        });
        m_port = m_server.listen(QHostAddress::LocalHost, 0);
    }

    void serve(const QString& path, const QByteArray& body, const QByteArray& type = "application/rss+xml")
    {
        m_bodies.insert(path, {body, type});
    }
    void redirect(const QString& path, const QByteArray& location) { m_redirects.insert(path, location); }
    void forget(const QString& path) { m_bodies.remove(path); }
    QByteArray body(const QString& path) const { return m_bodies.value(path).first; }

    QUrl url(const QString& path, const QString& scheme = u"http"_s) const
    {
        return QUrl(u"%1://127.0.0.1:%2%3"_s.arg(scheme).arg(m_port).arg(path));
    }
    int hits(const QString& path) const { return m_hits.value(path); }
    quint16 port() const { return m_port; }

private:
    QHttpServer m_server;
    quint16 m_port = 0;
    QHash<QString, QPair<QByteArray, QByteArray>> m_bodies;
    QHash<QString, QByteArray> m_redirects;
    QHash<QString, int> m_hits;
};

// ---------------------------------------------------------------------------------------
// Appcast

TEST(AppcastTest, ReadsTheElementForm)
{
    const auto item = Appcast::newestItem(feedWith(
        u"<item><title>OrbinWash 2.3</title>"
        "<sparkle:version>2.3.0</sparkle:version>"
        "<sparkle:shortVersionString>2.3 Spring</sparkle:shortVersionString>"
        "<sparkle:releaseNotesLink>https://orbinlabs.app/notes/2.3</sparkle:releaseNotesLink>"
        "<enclosure url=\"https://updates.orbinlabs.app/OrbinWash-2.3.0.tar.gz\" "
        "length=\"1234\" type=\"application/gzip\"/></item>"_s));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->version, QVersionNumber(2, 3, 0));
    EXPECT_EQ(item->displayVersion, u"2.3 Spring"_s);
    EXPECT_EQ(item->title, u"OrbinWash 2.3"_s);
    EXPECT_EQ(item->downloadUrl, QUrl(u"https://updates.orbinlabs.app/OrbinWash-2.3.0.tar.gz"_s));
    EXPECT_EQ(item->length, 1234);
    EXPECT_EQ(item->type, u"application/gzip"_s);
    EXPECT_EQ(item->releaseNotesUrl, QUrl(u"https://orbinlabs.app/notes/2.3"_s));
    EXPECT_TRUE(item->signature.isEmpty());
}

TEST(AppcastTest, ReadsTheEnclosureAttributes)
{
    const auto item = Appcast::newestItem(feedWith(
        u"<item><title>Build 57</title>"
        "<enclosure url=\"https://updates.orbinlabs.app/b57.tar.gz\" sparkle:version=\"57\" "
        "sparkle:shortVersionString=\"1.5\" length=\"99\" type=\"application/gzip\" "
        "sparkle:edSignature=\" c2lnbmVk \"/></item>"_s));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->version, QVersionNumber(57));
    EXPECT_EQ(item->displayVersion, u"1.5"_s);
    EXPECT_EQ(item->length, 99);
    EXPECT_TRUE(item->releaseNotesUrl.isEmpty());
    EXPECT_EQ(item->signature, QByteArray("signed"));
}

TEST(AppcastTest, PicksTheHighestVersionNumber)
{
    const auto item = Appcast::newestItem(feedWith(itemWith(u"1.9"_s, kWebPackage)
                                                   + itemWith(u"1.10"_s, kWebPackage)
                                                   + itemWith(u"1.2"_s, kWebPackage)));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->version, QVersionNumber(1, 10));
    EXPECT_EQ(item->displayVersion, u"1.10"_s);
}

TEST(AppcastTest, SkipsInvalidItemsBesideValidOnes)
{
    const auto item = Appcast::newestItem(feedWith(itemWith(u"9.0"_s, u"file:///usr/bin/evil"_s)
                                                   + itemWith(u"8.0beta"_s, kWebPackage)
                                                   + itemWith(u"1.0"_s, kWebPackage)));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->version, QVersionNumber(1, 0));
}

TEST(AppcastTest, ShowsTheDisplayVersionAsOneShortLine)
{
    const QString shortVersion = u"2.0\u202E\n  gpj.exe"_s + QString(200, u'x');
    const auto item = Appcast::newestItem(feedWith(itemWith(
        u"2"_s, kWebPackage, 0,
        u"<sparkle:shortVersionString>%1</sparkle:shortVersionString>"_s.arg(shortVersion))));
    ASSERT_TRUE(item);
    EXPECT_FALSE(item->displayVersion.contains(QChar(0x202E)));
    EXPECT_FALSE(item->displayVersion.contains(u'\n'));
    EXPECT_TRUE(item->displayVersion.startsWith(u"2.0 gpj.exe"_s));
    EXPECT_LE(item->displayVersion.size(), 64);
}

TEST(AppcastTest, AShortenedTextNeverEndsInASpace)
{
    // 63 characters, then a space right where the 64-character cut falls.
    const QString kept = u"2.0"_s + QString(60, u'x');
    const auto item = Appcast::newestItem(feedWith(itemWith(
        u"2"_s, kWebPackage, 0,
        u"<sparkle:shortVersionString>%1 tail</sparkle:shortVersionString>"_s.arg(kept))));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->displayVersion, kept);
}

TEST(AppcastTest, RefusesUnusableAndHostileFeeds)
{
    const QByteArray valid = feedWith(itemWith(u"2.0"_s, kWebPackage));
    const QByteArray laughs =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE rss [\n <!ENTITY a \"aaaaaaaaaaaaaaaa\">\n"
        " <!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">\n"
        " <!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">\n"
        " <!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">\n]>\n"
        "<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel>"
        "<item><title>&d;</title><sparkle:version>2.0</sparkle:version>"
        "<enclosure url=\"https://updates.orbinlabs.app/p.tar.gz\"/></item></channel></rss>";
    const QByteArray external =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE rss [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>\n"
        "<rss xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel>"
        "<item><title>&x;</title><sparkle:version>2.0</sparkle:version>"
        "<enclosure url=\"https://updates.orbinlabs.app/p.tar.gz\"/></item></channel></rss>";
    QString manyItems;
    for (int i = 0; i <= Appcast::kMaxItems; ++i)
        manyItems += itemWith(u"1.%1"_s.arg(i), kWebPackage);
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
        {"version with a suffix", feedWith(itemWith(u"2.0beta"_s, kWebPackage))},
        {"huge version segment", feedWith(itemWith(u"99999999999"_s, kWebPackage))},
        {"undeclared namespace", QByteArray(valid).replace(" xmlns:sparkle=", " xmlns:other=")},
        {"entity expansion", laughs},
        {"external entity", external},
        {"undeclared entity", QByteArray(valid).replace("<title>OrbinWash</title>", "<title>&x;</title>")},
        {"file: download", feedWith(itemWith(u"2.0"_s, u"file:///usr/bin/evil"_s))},
        {"javascript: download", feedWith(itemWith(u"2.0"_s, u"javascript:alert(1)"_s))},
        {"ftp: download", feedWith(itemWith(u"2.0"_s, u"ftp://orbinlabs.app/p.tar.gz"_s))},
        {"http: download", feedWith(itemWith(u"2.0"_s, u"http://updates.orbinlabs.app/p.tar.gz"_s))},
        {"credentials in the address",
         feedWith(itemWith(u"2.0"_s, u"https://updates.orbinlabs.app@evil.example/p"_s))},
        {"file: release notes", withNotes(u"file:///etc/passwd"_s)},
        {"data: release notes", withNotes(u"data:text/html,hello"_s)},
        {"http: release notes", withNotes(u"http://orbinlabs.app/notes/2.0"_s)},
        {"too many items", feedWith(manyItems)},
        {"too many bytes", huge},
    };
    ASSERT_TRUE(Appcast::newestItem(valid));
    for (const auto& [name, feed] : feeds) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(Appcast::newestItem(feed));
    }
}

TEST(UpdateFileNameTest, StaysInsideTheDownloadsFolderAndInSight)
{
    const auto name = [](const QString& url) { return UpdateController::safeFileName(QUrl(url)); };
    EXPECT_EQ(name(u"https://h.example/dl/OrbinWash-0.2.0.tar.gz"_s), u"OrbinWash-0.2.0.tar.gz"_s);
    EXPECT_EQ(name(u"https://h.example/dl/.bashrc"_s), u"bashrc"_s);
    EXPECT_EQ(name(u"https://h.example/dl/...hidden"_s), u"hidden"_s);
    EXPECT_EQ(name(u"https://h.example/dl/a%5Cb"_s), u"a_b"_s);
    EXPECT_EQ(name(u"https://h.example/dl/%0Aname"_s), u"_name"_s);
    EXPECT_EQ(name(u"https://h.example/"_s), u"OrbinWash-update"_s);
    for (const QString& url : {u"https://h.example/dl/..%2F..%2F.profile"_s, u"https://h.example/dl/%2E%2E"_s,
                               u"https://h.example/dl/.."_s, u"https://h.example/dl/%2Fetc%2Fpasswd"_s}) {
        SCOPED_TRACE(url.toStdString());
        const QString safe = name(url);
        EXPECT_FALSE(safe.isEmpty());
        EXPECT_FALSE(safe.contains(u'/'));
        EXPECT_FALSE(safe.startsWith(u'.'));
    }
    const QString longName = name(u"https://h.example/"_s + QString(500, QChar(0x00E9)) + u".tar.gz"_s);
    EXPECT_LE(longName.toUtf8().size(), 200);
    EXPECT_TRUE(longName.endsWith(u".tar.gz"_s));
}

// ---------------------------------------------------------------------------------------
// UpdateController

class UpdateControllerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Alert::reset();
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_NE(m_server.port(), 0);
        m_network.setProxy(QNetworkProxy::NoProxy);
    }
    void TearDown() override { Alert::reset(); }

    QString settingsPath() const { return m_dir.filePath(u"config/updates.ini"_s); }
    QString downloadsPath() const { return m_dir.filePath(u"downloads"_s); }

    std::unique_ptr<UpdateController> controller(ow::Clock& clock, const QString& current = u"0.1.0"_s,
                                                 const QUrl& feed = {})
    {
        UpdateController::Setup setup;
        setup.settingsPath = settingsPath();
        setup.currentVersion = QVersionNumber::fromString(current);
        setup.feedUrl = feed.isEmpty() ? m_server.url(u"/appcast.xml"_s) : feed;
        setup.network = &m_network;
        setup.downloadsFolder = downloadsPath();
        setup.openUrl = [this](const QUrl& url) {
            m_opened.append(url);
            return true;
        };
        setup.publicKey = m_key.publicKey();
        return std::make_unique<UpdateController>(clock, std::move(setup));
    }

    // The feed announces version, downloadable from path on the test server over https,
    // signed as what the server holds there now.
    void serveFeed(const QString& version, const QString& path = u"/files/p.tar.gz"_s, qint64 length = 0,
                   const QString& extra = {})
    {
        m_server.serve(u"/appcast.xml"_s, feedWith(itemWith(version, m_server.url(path, u"https"_s), length, extra,
                                                            m_key.sign(m_server.body(path)))));
    }

    // A check the user asked for, its alerts answered in turn; nothing if it never ends.
    static std::optional<Outcome> userCheck(UpdateController& updates, const QList<int>& answers)
    {
        for (const int answer : answers)
            Alert::setNextAnswer(answer);
        QSignalSpy finished(&updates, &UpdateController::checkFinished);
        updates.checkForUpdates();
        if (finished.isEmpty() && !finished.wait(5000))
            return std::nullopt;
        return finished.at(0).at(0).value<Outcome>();
    }
    static std::optional<Outcome> userCheck(UpdateController& updates, int answer = Alert::SecondButton)
    {
        return userCheck(updates, QList<int>{answer});
    }

    // Waits for the background check the clock just started.
    static std::optional<Outcome> backgroundCheck(UpdateController& updates)
    {
        if (!updates.isChecking())
            return std::nullopt;
        QSignalSpy finished(&updates, &UpdateController::checkFinished);
        if (!finished.wait(5000))
            return std::nullopt;
        return finished.at(0).at(0).value<Outcome>();
    }

    // Alerts that should not appear are recorded instead of waiting for a click.
    static void catchStrayAlerts()
    {
        for (int i = 0; i < 10; ++i)
            Alert::setNextAnswer(Alert::SecondButton);
    }

    QStringList downloads() const
    {
        return QDir(downloadsPath()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    int feedHits() const { return m_server.hits(u"/appcast.xml"_s); }

    FakeClock m_clock;
    QTemporaryDir m_dir;
    FeedServer m_server;
    LocalNetwork m_network;
    SigningKey m_key;
    QList<QUrl> m_opened;
};

// Download fetches the package here, checks it, and says where it went: it needs no
// browser, which might not be set up and would not check the signature.
TEST_F(UpdateControllerTest, AnnouncesANewerVersionAndDownloadSavesItAndSaysWhere)
{
    const QByteArray bytes = package(5000);
    m_server.serve(u"/files/OrbinWash-0.2.0.tar.gz"_s, bytes, "application/gzip");
    serveFeed(u"0.2.0"_s, u"/files/OrbinWash-0.2.0.tar.gz"_s, 0,
              u"<sparkle:shortVersionString>0.2 Spring</sparkle:shortVersionString>"
              "<sparkle:releaseNotesLink>https://orbinlabs.app/notes/0.2?a=1&amp;b=2"
              "</sparkle:releaseNotesLink>"_s);
    auto updates = controller(m_clock);

    EXPECT_EQ(userCheck(*updates, {Alert::FirstButton, Alert::FirstButton}), Outcome::UpdateAvailable);

    const QList<Alert::Record> records = Alert::takeRecords();
    ASSERT_EQ(records.size(), 2);
    EXPECT_EQ(records[0].icon, QMessageBox::Information);
    EXPECT_TRUE(records[0].title.contains(u"new version"_s));
    EXPECT_TRUE(records[0].text.contains(u"0.2 Spring"_s)) << records[0].text.toStdString();
    EXPECT_TRUE(records[0].text.contains(u"0.1.0"_s));
    EXPECT_TRUE(records[0].text.contains(u"https://orbinlabs.app/notes/0.2?a=1&b=2"_s));
    EXPECT_EQ(records[0].buttons, QStringList({u"Download"_s, u"Later"_s}));

    const QString saved = QDir(downloadsPath()).filePath(u"OrbinWash-0.2.0.tar.gz"_s);
    EXPECT_EQ(records[1].icon, QMessageBox::Information);
    EXPECT_TRUE(records[1].text.contains(QDir::toNativeSeparators(saved))) << records[1].text.toStdString();
    EXPECT_EQ(records[1].buttons, QStringList({u"Show in Folder"_s, u"OK"_s}));
    QFile file(saved);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), bytes);
    EXPECT_EQ(m_opened, QList<QUrl>{QUrl::fromLocalFile(downloadsPath())});
    EXPECT_EQ(feedHits(), 1);
    EXPECT_EQ(m_server.hits(u"/files/OrbinWash-0.2.0.tar.gz"_s), 1);
}

TEST_F(UpdateControllerTest, LaterOpensNothing)
{
    serveFeed(u"0.2.0"_s);
    auto updates = controller(m_clock);
    EXPECT_EQ(userCheck(*updates, Alert::SecondButton), Outcome::UpdateAvailable);
    EXPECT_TRUE(m_opened.isEmpty());
}

TEST_F(UpdateControllerTest, AutomaticDownloadSavesThePackageAndSaysWhere)
{
    const QByteArray bytes = package(300'000);
    const QString path = u"/files/OrbinWash-0.2.0.tar.gz"_s;
    m_server.serve(path, bytes, "application/gzip");
    serveFeed(u"0.2.0"_s, path, bytes.size());
    auto updates = controller(m_clock);
    updates->setAutomaticallyDownloadsUpdates(true);

    EXPECT_EQ(userCheck(*updates, Alert::FirstButton), Outcome::UpdateAvailable);

    const QString saved = QDir(downloadsPath()).filePath(u"OrbinWash-0.2.0.tar.gz"_s);
    EXPECT_EQ(downloads(), QStringList{u"OrbinWash-0.2.0.tar.gz"_s});
    QFile file(saved);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), bytes);
    QList<Alert::Record> records = Alert::takeRecords();
    ASSERT_EQ(records.size(), 1);
    EXPECT_TRUE(records[0].text.contains(QDir::toNativeSeparators(saved))) << records[0].text.toStdString();
    EXPECT_EQ(records[0].buttons, QStringList({u"Show in Folder"_s, u"Later"_s}));
    EXPECT_EQ(m_opened, QList<QUrl>{QUrl::fromLocalFile(downloadsPath())});

    // Already there: the next check does not fetch it again.
    EXPECT_EQ(userCheck(*updates), Outcome::UpdateAvailable);
    EXPECT_EQ(m_server.hits(path), 1);
    records = Alert::takeRecords();
    ASSERT_EQ(records.size(), 1);
    EXPECT_TRUE(records[0].text.contains(QDir::toNativeSeparators(saved)));

    // Unless it changed since: then it is fetched and checked again.
    file.close();
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_EQ(file.write("X"), 1);
    file.close();
    EXPECT_EQ(userCheck(*updates), Outcome::UpdateAvailable);
    EXPECT_EQ(m_server.hits(path), 2);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), bytes);
    Alert::takeRecords();
}

// Only a package whose signature verifies against the publisher's key is kept; any other
// is deleted, and the check ends as one that could not be completed.
TEST_F(UpdateControllerTest, OnlyAPackageSignedByThePublisherIsKept)
{
    const QByteArray bytes = package(3000);
    const QString path = u"/files/OrbinWash-0.2.0.tar.gz"_s;
    const QString saved = QDir(downloadsPath()).filePath(u"OrbinWash-0.2.0.tar.gz"_s);
    m_server.serve(path, bytes, "application/gzip");
    const QUrl secure = m_server.url(path, u"https"_s);
    const SigningKey stranger;
    struct Case {
        const char* name;
        QUrl url;
        QByteArray signature;
        QString said;
        bool kept;
    };
    const QList<Case> cases{
        {"good signature", secure, m_key.sign(bytes), u"saved to"_s, true},
        {"signed with another key", secure, stranger.sign(bytes), u"could not be verified"_s, false},
        {"no signature", secure, {}, u"could not be verified"_s, false},
        {"signature of another file", secure, m_key.sign(package(3001)), u"could not be verified"_s, false},
        {"http link", m_server.url(path), m_key.sign(bytes), u"could not be read"_s, false},
    };
    auto updates = controller(m_clock);
    updates->setAutomaticallyDownloadsUpdates(true);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(saved);
        m_server.serve(u"/appcast.xml"_s, feedWith(itemWith(u"0.2.0"_s, c.url, bytes.size(), {}, c.signature)));

        EXPECT_EQ(userCheck(*updates), c.kept ? Outcome::UpdateAvailable : Outcome::Failed);

        const QList<Alert::Record> records = Alert::takeRecords();
        ASSERT_EQ(records.size(), 1);
        EXPECT_TRUE(records[0].text.contains(c.said)) << records[0].text.toStdString();
        EXPECT_EQ(records[0].title.contains(u"could not check"_s), !c.kept);
        EXPECT_EQ(downloads(), c.kept ? QStringList{u"OrbinWash-0.2.0.tar.gz"_s} : QStringList());
    }
}

TEST_F(UpdateControllerTest, FailedDownloadLeavesNoFileAndSaysWhyAndWhereToGetIt)
{
    m_server.serve(u"/files/short.tar.gz"_s, package(10), "application/gzip");
    struct Case {
        const char* name;
        QString path;
        qint64 declared;
        int expectedHits;
        QString why;
    };
    const QList<Case> cases{
        {"missing", u"/files/missing.tar.gz"_s, 0, 1, u"not found on the server"_s},
        {"shorter than declared", u"/files/short.tar.gz"_s, 1000, 1, u"could not be downloaded"_s},
        {"declared too large", u"/files/large.tar.gz"_s, UpdateController::kMaxDownloadBytes + 1, 0,
         u"could not be downloaded"_s},
    };
    auto updates = controller(m_clock);
    updates->setAutomaticallyDownloadsUpdates(true);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        serveFeed(u"0.2.0"_s, c.path, c.declared);

        // Download tries again, and then says why it failed and where to get the file.
        EXPECT_EQ(userCheck(*updates, {Alert::FirstButton, Alert::FirstButton}), Outcome::UpdateAvailable);

        const QList<Alert::Record> records = Alert::takeRecords();
        ASSERT_EQ(records.size(), 2);
        EXPECT_TRUE(records[0].text.contains(c.why)) << records[0].text.toStdString();
        EXPECT_EQ(records[0].buttons, QStringList({u"Download"_s, u"Later"_s}));
        EXPECT_TRUE(records[1].text.contains(c.why)) << records[1].text.toStdString();
        EXPECT_TRUE(records[1].text.contains(m_server.url(c.path, u"https"_s).toString()));
        for (const Alert::Record& record : records)
            EXPECT_FALSE(record.text.contains(u"internet connection"_s)) << record.text.toStdString();
        EXPECT_EQ(records[1].buttons, QStringList{u"OK"_s});
        EXPECT_TRUE(m_opened.isEmpty());
        EXPECT_EQ(m_server.hits(c.path), 2 * c.expectedHits);
        EXPECT_TRUE(downloads().isEmpty()) << downloads().join(u' ').toStdString();
    }
}

TEST_F(UpdateControllerTest, DownloadAnnouncedTooLargeIsRefusedAtOnce)
{
    // Never finishes: only the announced length can end it quickly.
    RawServer server("HTTP/1.1 200 OK\r\nContent-Type: application/gzip\r\n"
                     "Content-Length: 629145600\r\n\r\nabc",
                     false);
    m_server.serve(u"/appcast.xml"_s,
                   feedWith(itemWith(u"0.2.0"_s, server.url(u"/big.tar.gz"_s, u"https"_s), 0, {}, kSomeSignature)));
    auto updates = controller(m_clock);
    updates->setAutomaticallyDownloadsUpdates(true);

    EXPECT_EQ(userCheck(*updates), Outcome::UpdateAvailable);
    EXPECT_TRUE(Alert::takeRecords().value(0).text.contains(u"could not be downloaded"_s));
    EXPECT_TRUE(downloads().isEmpty());
}

TEST_F(UpdateControllerTest, StalledDownloadIsGivenUpWithoutAPartialFile)
{
    RawServer server("HTTP/1.1 200 OK\r\nContent-Type: application/gzip\r\n"
                     "Content-Length: 1000\r\n\r\n0123456789",
                     false);
    m_server.serve(u"/appcast.xml"_s,
                   feedWith(itemWith(u"0.2.0"_s, server.url(u"/p.tar.gz"_s, u"https"_s), 1000, {}, kSomeSignature)));
    auto updates = controller(m_clock);
    updates->setAutomaticallyChecksForUpdates(false);
    updates->setAutomaticallyDownloadsUpdates(true);
    QSignalSpy connected(&server.server(), &QTcpServer::newConnection);
    QSignalSpy finished(updates.get(), &UpdateController::checkFinished);
    Alert::setNextAnswer(Alert::SecondButton);

    updates->checkForUpdates();
    ASSERT_TRUE(connected.wait(5000));
    m_clock.advance(UpdateController::kTransferTimeout - 1s);
    EXPECT_TRUE(finished.isEmpty());
    m_clock.advance(1s);

    ASSERT_EQ(finished.size(), 1);
    EXPECT_EQ(finished.at(0).at(0).value<Outcome>(), Outcome::UpdateAvailable);
    const QString text = Alert::takeRecords().value(0).text;
    EXPECT_TRUE(text.contains(u"could not be downloaded"_s)) << text.toStdString();
    EXPECT_TRUE(text.contains(u"internet connection"_s)) << text.toStdString();
    EXPECT_TRUE(downloads().isEmpty()) << downloads().join(u' ').toStdString();
}

TEST_F(UpdateControllerTest, DestroyedMidDownloadLeavesNoFile)
{
    RawServer server("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n0123456789", false);
    m_server.serve(u"/appcast.xml"_s,
                   feedWith(itemWith(u"0.2.0"_s, server.url(u"/p.tar.gz"_s, u"https"_s), 1000, {}, kSomeSignature)));
    auto updates = controller(m_clock);
    updates->setAutomaticallyDownloadsUpdates(true);
    QSignalSpy connected(&server.server(), &QTcpServer::newConnection);
    Alert::setNextAnswer(Alert::SecondButton);

    updates->checkForUpdates();
    ASSERT_TRUE(connected.wait(5000));
    updates.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    EXPECT_TRUE(Alert::takeRecords().isEmpty());
    EXPECT_TRUE(downloads().isEmpty()) << downloads().join(u' ').toStdString();
}

TEST_F(UpdateControllerTest, SameOrOlderVersionIsUpToDate)
{
    auto updates = controller(m_clock);
    for (const QString& version : {u"0.1.0"_s, u"0.0.9"_s, u"0.1"_s}) {
        SCOPED_TRACE(version.toStdString());
        serveFeed(version);

        EXPECT_EQ(userCheck(*updates, Alert::FirstButton), Outcome::UpToDate);

        const QList<Alert::Record> records = Alert::takeRecords();
        ASSERT_EQ(records.size(), 1);
        EXPECT_EQ(records[0].icon, QMessageBox::Information);
        EXPECT_TRUE(records[0].title.contains(u"up to date"_s));
        EXPECT_TRUE(records[0].text.contains(u"0.1.0"_s));
        EXPECT_EQ(records[0].buttons, QStringList{u"OK"_s});
        EXPECT_TRUE(m_opened.isEmpty());
    }
}

TEST_F(UpdateControllerTest, ComparesVersionsAsNumbers)
{
    serveFeed(u"1.10"_s);
    EXPECT_EQ(userCheck(*controller(m_clock, u"1.9"_s)), Outcome::UpdateAvailable);
    EXPECT_EQ(userCheck(*controller(m_clock, u"1.10"_s)), Outcome::UpToDate);
    EXPECT_EQ(userCheck(*controller(m_clock, u"1.11"_s)), Outcome::UpToDate);
}

TEST_F(UpdateControllerTest, UnusableFeedsEndInCouldNotCheck)
{
    const QByteArray valid = feedWith(itemWith(u"0.2.0"_s, m_server.url(u"/files/p.tar.gz"_s)));
    QByteArray huge = valid;
    huge.insert(huge.indexOf("<channel>"), "<!--" + QByteArray(2 * Appcast::kMaxFeedBytes, ' ') + "-->");
    const QByteArray laughs =
        "<?xml version=\"1.0\"?>\n"
        "<!DOCTYPE rss [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;\">]>\n"
        + valid.mid(valid.indexOf("<rss")).replace("<title>OrbinWash</title>", "<title>&b;</title>");

    const QList<QPair<const char*, std::optional<QByteArray>>> feeds{
        {"malformed", valid.left(valid.size() / 2)},
        {"empty", QByteArray()},
        {"no items", feedWith(QString())},
        {"entities", laughs},
        {"file: download", feedWith(itemWith(u"0.2.0"_s, u"file:///etc/passwd"_s))},
        {"huge", huge},
        {"not found", std::nullopt},
    };
    auto updates = controller(m_clock);
    for (const auto& [name, feed] : feeds) {
        SCOPED_TRACE(name);
        if (feed)
            m_server.serve(u"/appcast.xml"_s, *feed);
        else
            m_server.forget(u"/appcast.xml"_s);

        EXPECT_EQ(userCheck(*updates, Alert::FirstButton), Outcome::Failed);

        const QList<Alert::Record> records = Alert::takeRecords();
        ASSERT_EQ(records.size(), 1);
        EXPECT_EQ(records[0].icon, QMessageBox::Warning);
        EXPECT_TRUE(records[0].title.contains(u"could not check"_s));
        // The connection was fine: the server's answer was not.
        EXPECT_TRUE(records[0].text.contains(u"could not be read"_s)) << records[0].text.toStdString();
        EXPECT_FALSE(records[0].text.contains(u"internet connection"_s));
        EXPECT_EQ(records[0].buttons, QStringList{u"OK"_s});
        EXPECT_TRUE(m_opened.isEmpty());
    }
}

TEST_F(UpdateControllerTest, HugeFeedWithoutALengthIsCutOff)
{
    // Never finishes: only counting the bytes as they come can end it quickly.
    RawServer server("HTTP/1.1 200 OK\r\nContent-Type: application/rss+xml\r\nConnection: close\r\n\r\n"
                         + QByteArray(3 * Appcast::kMaxFeedBytes, ' '),
                     false);
    auto updates = controller(m_clock, u"0.1.0"_s, server.url(u"/appcast.xml"_s));
    EXPECT_EQ(userCheck(*updates), Outcome::Failed);
}

TEST_F(UpdateControllerTest, UnreachableServerEndsInCouldNotCheck)
{
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const QUrl feed(u"http://127.0.0.1:%1/appcast.xml"_s.arg(closed.serverPort()));
    closed.close();
    auto updates = controller(m_clock, u"0.1.0"_s, feed);

    EXPECT_EQ(userCheck(*updates), Outcome::Failed);
    const Alert::Record record = Alert::takeRecords().value(0);
    EXPECT_TRUE(record.title.contains(u"could not check"_s));
    EXPECT_TRUE(record.text.contains(u"internet connection"_s)) << record.text.toStdString();
}

TEST_F(UpdateControllerTest, SilentServerIsGivenUpAfterTheTransferTimeout)
{
    RawServer server(QByteArray(), false);
    auto updates = controller(m_clock, u"0.1.0"_s, server.url(u"/appcast.xml"_s));
    updates->setAutomaticallyChecksForUpdates(false);
    QSignalSpy connected(&server.server(), &QTcpServer::newConnection);
    QSignalSpy finished(updates.get(), &UpdateController::checkFinished);
    Alert::setNextAnswer(Alert::FirstButton);

    updates->checkForUpdates();
    ASSERT_TRUE(connected.wait(5000));
    m_clock.advance(UpdateController::kTransferTimeout - 1s);
    EXPECT_TRUE(finished.isEmpty());
    m_clock.advance(1s);

    ASSERT_EQ(finished.size(), 1);
    EXPECT_EQ(finished.at(0).at(0).value<Outcome>(), Outcome::Failed);
    EXPECT_EQ(Alert::takeRecords().size(), 1);
}

TEST_F(UpdateControllerTest, FeedOffTheWebIsNeverRead)
{
    const QString local = m_dir.filePath(u"appcast.xml"_s);
    QFile file(local);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(feedWith(itemWith(u"0.2.0"_s, m_server.url(u"/files/p.tar.gz"_s))));
    file.close();
    m_server.redirect(u"/appcast.xml"_s, QUrl::fromLocalFile(local).toEncoded());

    EXPECT_EQ(userCheck(*controller(m_clock, u"0.1.0"_s, QUrl::fromLocalFile(local))), Outcome::Failed);
    // Nor through a redirection.
    EXPECT_EQ(userCheck(*controller(m_clock)), Outcome::Failed);
    EXPECT_EQ(feedHits(), 1);
}

TEST_F(UpdateControllerTest, NoBackgroundChecksWhileAutomaticChecksAreOff)
{
    serveFeed(u"0.2.0"_s);
    auto updates = controller(m_clock);
    updates->setAutomaticallyChecksForUpdates(false);
    updates->setUpdateCheckInterval(3600);
    catchStrayAlerts();

    m_clock.advance(3h);

    EXPECT_FALSE(updates->isChecking());
    EXPECT_EQ(m_clock.pendingTimers(), 0);
    EXPECT_EQ(feedHits(), 0);
    EXPECT_TRUE(Alert::takeRecords().isEmpty());
}

TEST_F(UpdateControllerTest, BackgroundChecksRunOncePerIntervalAndQuietly)
{
    serveFeed(u"0.1.0"_s);
    auto updates = controller(m_clock);
    updates->updater().setUpdateCheckInterval(3600);
    EXPECT_EQ(updates->updater().updateCheckInterval(), 3600);
    catchStrayAlerts();

    m_clock.advance(UpdateController::kStartDelay - 1s);
    EXPECT_FALSE(updates->isChecking());
    m_clock.advance(1s);
    EXPECT_EQ(backgroundCheck(*updates), Outcome::UpToDate);
    EXPECT_EQ(feedHits(), 1);

    m_clock.advance(3599s);
    EXPECT_FALSE(updates->isChecking());
    m_clock.advance(1s);
    EXPECT_EQ(backgroundCheck(*updates), Outcome::UpToDate);
    EXPECT_EQ(feedHits(), 2);

    // A failure is as quiet as finding nothing new.
    m_server.forget(u"/appcast.xml"_s);
    m_clock.advance(3600s);
    EXPECT_EQ(backgroundCheck(*updates), Outcome::Failed);
    EXPECT_TRUE(Alert::takeRecords().isEmpty());
}

// Download, asked for after a quiet background check, reports its outcome: here a
// package that changed since it was signed.
TEST_F(UpdateControllerTest, BackgroundCheckAnnouncesANewerVersionAndTellsHowItsDownloadEnded)
{
    m_server.serve(u"/files/p.tar.gz"_s, package(100), "application/gzip");
    serveFeed(u"0.3.0"_s);
    m_server.serve(u"/files/p.tar.gz"_s, package(200), "application/gzip");
    auto updates = controller(m_clock);
    updates->setUpdateCheckInterval(3600);
    Alert::setNextAnswer(Alert::FirstButton);
    Alert::setNextAnswer(Alert::FirstButton);

    m_clock.advance(UpdateController::kStartDelay);
    EXPECT_EQ(backgroundCheck(*updates), Outcome::Failed);

    const QList<Alert::Record> records = Alert::takeRecords();
    ASSERT_EQ(records.size(), 2);
    EXPECT_TRUE(records[0].text.contains(u"0.3.0"_s));
    EXPECT_TRUE(records[1].title.contains(u"could not check"_s));
    EXPECT_TRUE(m_opened.isEmpty());
    EXPECT_TRUE(downloads().isEmpty());
}

TEST_F(UpdateControllerTest, RestartWithinTheIntervalDoesNotCheckAgain)
{
    serveFeed(u"0.1.0"_s);
    catchStrayAlerts();
    QDateTime checkedAt;
    {
        FakeClock first;
        auto updates = controller(first);
        updates->setUpdateCheckInterval(3600);
        first.advance(UpdateController::kStartDelay);
        checkedAt = first.wallNow();
        EXPECT_EQ(backgroundCheck(*updates), Outcome::UpToDate);
    }
    FakeClock second;
    second.setWallNow(checkedAt.addSecs(20 * 60));
    auto updates = controller(second);
    updates->setUpdateCheckInterval(3600);

    second.advance(40min - 1s);
    EXPECT_FALSE(updates->isChecking());
    EXPECT_EQ(feedHits(), 1);
    second.advance(1s);
    EXPECT_EQ(backgroundCheck(*updates), Outcome::UpToDate);
    EXPECT_EQ(feedHits(), 2);
}

TEST_F(UpdateControllerTest, OverdueCheckRunsSoonAfterStart)
{
    serveFeed(u"0.1.0"_s);
    QDateTime checkedAt;
    {
        auto updates = controller(m_clock);
        EXPECT_EQ(userCheck(*updates), Outcome::UpToDate);
        checkedAt = m_clock.wallNow();
    }
    FakeClock later;
    later.setWallNow(checkedAt.addSecs(5 * 3600));
    auto updates = controller(later);
    updates->setUpdateCheckInterval(3600);
    catchStrayAlerts();

    later.advance(UpdateController::kStartDelay - 1s);
    EXPECT_FALSE(updates->isChecking());
    later.advance(1s);
    EXPECT_EQ(backgroundCheck(*updates), Outcome::UpToDate);
}

TEST_F(UpdateControllerTest, UserCheckJoinsTheBackgroundCheckUnderWay)
{
    serveFeed(u"0.1.0"_s);
    auto updates = controller(m_clock);
    m_clock.advance(UpdateController::kStartDelay);
    ASSERT_TRUE(updates->isChecking());

    EXPECT_EQ(userCheck(*updates), Outcome::UpToDate);
    EXPECT_EQ(Alert::takeRecords().size(), 1);
    EXPECT_EQ(feedHits(), 1);
}

TEST_F(UpdateControllerTest, SwitchesPersistInTheControllersOwnFile)
{
    {
        auto updates = controller(m_clock);
        EXPECT_TRUE(updates->updater().automaticallyChecksForUpdates());
        EXPECT_FALSE(updates->updater().automaticallyDownloadsUpdates());
        updates->updater().setAutomaticallyChecksForUpdates(false);
        updates->updater().setAutomaticallyDownloadsUpdates(true);
    }
    QFile file(settingsPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    EXPECT_TRUE(written.contains("automaticallyChecks=false")) << written.toStdString();
    EXPECT_TRUE(written.contains("automaticallyDownloads=true")) << written.toStdString();
    {
        auto updates = controller(m_clock);
        EXPECT_FALSE(updates->automaticallyChecksForUpdates());
        EXPECT_TRUE(updates->automaticallyDownloadsUpdates());
        EXPECT_EQ(m_clock.pendingTimers(), 0);
        updates->setAutomaticallyChecksForUpdates(true);
        updates->setAutomaticallyDownloadsUpdates(false);
    }
    auto updates = controller(m_clock);
    EXPECT_TRUE(updates->automaticallyChecksForUpdates());
    EXPECT_FALSE(updates->automaticallyDownloadsUpdates());
}

} // namespace
