#include "Endpoints.h"

#include <QCoreApplication>
#include <QFile>
#include <QList>
#include <QUrl>

#include <gtest/gtest.h>

#include <array>
#include <thread>
#include <vector>

namespace {

using ow::decodeEndpoint;

std::vector<unsigned char> encode(const QByteArray& text, const unsigned char key[16])
{
    std::vector<unsigned char> table;
    for (qsizetype i = 0; i < text.size(); ++i)
        table.push_back(static_cast<unsigned char>(text[i]) ^ key[i % 16]);
    return table;
}

constexpr unsigned char kKey[16] = {0x00, 0xff, 0x13, 0x37, 0x80, 0x7f, 0x01, 0xaa,
                                    0x55, 0x10, 0x20, 0x40, 0xfe, 0xc3, 0x99, 0x66};

TEST(EndpointsTest, DecodeRoundTripsThroughTheKeyCycle)
{
    // Longer than two keys, with multi-byte UTF-8.
    const QByteArray text = QStringLiteral("https://example.test/pfad/über/straße?q=1&r=€").toUtf8();
    ASSERT_GT(text.size(), 32);
    const std::vector<unsigned char> table = encode(text, kKey);
    EXPECT_EQ(decodeEndpoint(table.data(), table.size(), kKey), text);
}

TEST(EndpointsTest, DecodeUsesKeyByteIModSixteen)
{
    const std::array<unsigned char, 18> zeros {};
    const QByteArray decoded = decodeEndpoint(zeros.data(), zeros.size(), kKey);
    ASSERT_EQ(decoded.size(), 18);
    for (int i = 0; i < 18; ++i)
        EXPECT_EQ(static_cast<unsigned char>(decoded[i]), kKey[i % 16]) << "byte " << i;
}

TEST(EndpointsTest, DecodeOfEmptyTableIsEmpty)
{
    EXPECT_TRUE(decodeEndpoint(nullptr, 0, kKey).isEmpty());
}

QList<QUrl> realEndpoints()
{
    return {ow::checkInEndpoint(), ow::reportEndpoint(), ow::crashEndpoint()};
}

TEST(EndpointsTest, RealEndpointsAreDistinctHttpsUrls)
{
    const QList<QUrl> urls = realEndpoints();
    for (const QUrl& url : urls) {
        EXPECT_TRUE(url.isValid()) << url.toString().toStdString();
        EXPECT_EQ(url.scheme(), QStringLiteral("https")) << url.toString().toStdString();
        EXPECT_FALSE(url.host().isEmpty()) << url.toString().toStdString();
        EXPECT_FALSE(url.path().isEmpty()) << url.toString().toStdString();
    }
    EXPECT_NE(urls[0], urls[1]);
    EXPECT_NE(urls[0], urls[2]);
    EXPECT_NE(urls[1], urls[2]);
}

TEST(EndpointsTest, DecodingFromManyThreadsAgrees)
{
    const QList<QUrl> expected = realEndpoints();
    std::vector<QList<QUrl>> seen(8);
    std::vector<std::thread> threads;
    for (auto& slot : seen)
        threads.emplace_back([&slot] { slot = realEndpoints(); });
    for (std::thread& thread : threads)
        thread.join();
    for (const QList<QUrl>& urls : seen)
        EXPECT_EQ(urls, expected);
}

// The address as UTF-8 and as UTF-16, the two ways source text ends up in a binary.
QList<QByteArray> addressForms(const QUrl& url)
{
    QList<QByteArray> forms;
    for (const QString& text : {url.toString(QUrl::FullyEncoded), url.toString()}) {
        forms.append(text.toUtf8());
        forms.append(QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2));
    }
    return forms;
}

void expectNoAddressIn(const QString& binaryPath)
{
    QFile binary(binaryPath);
    ASSERT_TRUE(binary.open(QIODevice::ReadOnly)) << binaryPath.toStdString();
    const QByteArray bytes = binary.readAll();
    ASSERT_GT(bytes.size(), 0);
    for (const QUrl& url : realEndpoints()) {
        for (const QByteArray& form : addressForms(url))
            EXPECT_FALSE(bytes.contains(form)) << binaryPath.toStdString() << " holds " << url.toString().toStdString();
    }
}

TEST(EndpointsTest, ApplicationBinaryHoldsNoAddressText)
{
    expectNoAddressIn(QStringLiteral(ORBINWASH_BIN));
}

// This binary certainly links the tables, so the check cannot pass for want of them.
TEST(EndpointsTest, BinaryWithTheTablesHoldsNoAddressText)
{
    expectNoAddressIn(QCoreApplication::applicationFilePath());
}

} // namespace
