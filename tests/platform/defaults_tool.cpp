// Stores a fixed set of user defaults, or checks them from a fresh process, so the tests
// can prove that values and their types survive a restart.
//   defaults_tool <file> write
//   defaults_tool <file> check    exit 0 only if every value and type reads back exactly
//   defaults_tool <file> hammer   rewrites one value forever, for the kill test; prints a
//                                 line once the first write is saved

#include "FileUserDefaults.h"

#include <QDateTime>
#include <QDebug>
#include <QStringList>
#include <QVariant>

#include <cstdio>
#include <limits>

namespace {

QDateTime utc(int year, int month, int day, int hour, int minute, int second, int ms)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second, ms), Qt::UTC);
}

QVariantMap message(qint64 id, const QString& body, const QDateTime& date, bool mine)
{
    return {{"id", id}, {"body", body}, {"date", date}, {"mine", mine}};
}

QVariantMap fixture()
{
    const QVariantList history{
        message(1, QStringLiteral("Hallo 👋"), utc(2026, 3, 14, 15, 9, 26, 535), true),
        message(2, QStringLiteral("line one\nline \"two\""), utc(2026, 3, 14, 15, 10, 0, 1), false),
        message(9007199254740993, QString(), utc(1999, 12, 31, 23, 59, 59, 999), true),
    };
    const QVariantMap nested{
        {"window", QVariantMap{{"x", qint64(-1280)}, {"title", QStringLiteral("Ölwechsel")}}},
        {"tags", QVariantList{QStringLiteral("a"), QStringLiteral("b")}},
        {"empty", QVariantMap()},
        {"none", QVariantList()},
    };
    return {
        {"flagOn", true},
        {"flagOff", false},
        {"big", qint64(9007199254740993)},
        {"max", std::numeric_limits<qint64>::max()},
        {"min", std::numeric_limits<qint64>::min()},
        {"negative", qint64(-42)},
        {"zero", qint64(0)},
        {"text", QStringLiteral("Grüße, \"Reinigung\" — 清洁 🧽 \\ tab\there")},
        {"emptyText", QString()},
        {"when", utc(2026, 3, 14, 15, 9, 26, 535)},
        {"numbers", QVariantList{qint64(1), qint64(-2), qint64(3000000000)}},
        {"history", history},
        {"nested", nested},
    };
}

QString typeName(const QVariant& v)
{
    return v.isValid() ? QString::fromLatin1(v.metaType().name()) : QStringLiteral("absent");
}

QString show(const QVariant& v)
{
    QString text;
    QDebug(&text) << v;
    return text;
}

void compare(const QString& where, const QVariant& expected, const QVariant& actual,
             QStringList& differences)
{
    if (actual.typeId() != expected.typeId()) {
        differences << QStringLiteral("%1: type %2, expected %3").arg(where, typeName(actual), typeName(expected));
        return;
    }
    switch (expected.typeId()) {
    case QMetaType::QVariantList: {
        const QVariantList want = expected.toList();
        const QVariantList got = actual.toList();
        if (got.size() != want.size()) {
            differences << QStringLiteral("%1: %2 elements, expected %3")
                               .arg(where).arg(got.size()).arg(want.size());
            return;
        }
        for (qsizetype i = 0; i < want.size(); ++i)
            compare(QStringLiteral("%1[%2]").arg(where).arg(i), want[i], got[i], differences);
        return;
    }
    case QMetaType::QVariantMap: {
        const QVariantMap want = expected.toMap();
        const QVariantMap got = actual.toMap();
        if (got.keys() != want.keys()) {
            differences << QStringLiteral("%1: keys %2, expected %3")
                               .arg(where, got.keys().join(','), want.keys().join(','));
            return;
        }
        for (auto it = want.cbegin(); it != want.cend(); ++it)
            compare(where + QLatin1Char('.') + it.key(), it.value(), got.value(it.key()), differences);
        return;
    }
    case QMetaType::QDateTime:
        // Equal instants are not enough: the date must come back in UTC too.
        if (actual.toDateTime().timeSpec() != Qt::UTC)
            differences << QStringLiteral("%1: %2 is not in UTC").arg(where, show(actual));
        break;
    default:
        break;
    }
    if (actual != expected)
        differences << QStringLiteral("%1: %2, expected %3").arg(where, show(actual), show(expected));
}

} // namespace

int main(int argc, char** argv)
{
    const QString mode = argc == 3 ? QString::fromLocal8Bit(argv[2]) : QString();
    if (mode != QLatin1String("write") && mode != QLatin1String("check") && mode != QLatin1String("hammer")) {
        std::fputs("usage: defaults_tool <file> write|check|hammer\n", stderr);
        return 2;
    }
    ow::FileUserDefaults store(QString::fromLocal8Bit(argv[1]));
    const QVariantMap values = fixture();

    if (mode == QLatin1String("write")) {
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            store.setValue(it.key(), it.value());
        return 0;
    }

    if (mode == QLatin1String("hammer")) {
        // A large value, so a kill often lands inside a write; the test recomputes it from n.
        for (qint64 n = 0;; ++n) {
            store.setValue(QStringLiteral("hammer"),
                           QVariantMap{{QStringLiteral("n"), n},
                                       {QStringLiteral("check"), QString::number(n).repeated(4096)}});
            if (n == 0) {
                std::puts("saved");
                std::fflush(stdout);
            }
        }
    }

    QStringList differences;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        compare(it.key(), it.value(), store.value(it.key()), differences);
    for (const QString& difference : differences)
        std::fprintf(stderr, "%s\n", qUtf8Printable(difference));
    return differences.isEmpty() ? 0 : 1;
}
