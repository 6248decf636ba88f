#include "Endpoints.h"

#include <QCoreApplication>
#include <QFile>
#include <QList>
#include <QUrl>

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr unsigned char kKey[16] = {0x00, 0xff, 0x13, 0x37, 0x80, 0x7f, 0x01, 0xaa,
                                    0x55, 0x10, 0x20, 0x40, 0xfe, 0xc3, 0x99, 0x66};

// Longer than two keys, with multi-byte UTF-8: byte i is masked by key byte i mod 16.
TEST(EndpointsTest, DecodeRoundTripsThroughTheKeyCycle)
{
    const QByteArray text = QStringLiteral("https://example.test/pfad/über/straße?q=1&r=€").toUtf8();
    ASSERT_GT(text.size(), 32);
    std::vector<unsigned char> table;
    for (qsizetype i = 0; i < text.size(); ++i)
        table.push_back(static_cast<unsigned char>(text[i]) ^ kKey[i % 16]);
    EXPECT_EQ(ow::decodeEndpoint(table.data(), table.size(), kKey), text);
    EXPECT_TRUE(ow::decodeEndpoint(nullptr, 0, kKey).isEmpty());
}

QList<QUrl> realEndpoints()
{
    return {ow::checkInEndpoint(), ow::reportEndpoint(), ow::crashEndpoint()};
}

TEST(EndpointsTest, RealEndpointsAreDistinctHttpsUrls)
{
    const QList<QUrl> urls = realEndpoints();
    for (const QUrl& url : urls) {
        EXPECT_EQ(url.scheme(), QStringLiteral("https")) << url.toString().toStdString();
        EXPECT_FALSE(url.host().isEmpty() || url.path().isEmpty()) << url.toString().toStdString();
        EXPECT_EQ(urls.count(url), 1);
    }
}

// Neither the application nor this binary, which certainly links the tables, holds an
// address as UTF-8 or UTF-16 text, the two ways source text ends up in a binary.
TEST(EndpointsTest, BinariesHoldNoAddressText)
{
    for (const QString& path : {QStringLiteral(ORBINWASH_BIN), QCoreApplication::applicationFilePath()}) {
        QFile binary(path);
        ASSERT_TRUE(binary.open(QIODevice::ReadOnly)) << path.toStdString();
        const QByteArray bytes = binary.readAll();
        ASSERT_GT(bytes.size(), 0);
        for (const QUrl& url : realEndpoints()) {
            for (const QString& text : {url.toString(QUrl::FullyEncoded), url.toString()}) {
                EXPECT_FALSE(bytes.contains(text.toUtf8())) << path.toStdString();
                EXPECT_FALSE(bytes.contains(QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2)))
                    << path.toStdString();
            }
        }
    }
}

} // namespace
