// Reads or rewrites the user defaults from a process of its own, for the tests.
//   defaults_tool <file> show <key>...  prints each value as QDebug shows it, type included
//   defaults_tool <file> hammer         rewrites one value forever, for the kill test; prints
//                                       a line once the first write is saved

#include "FileUserDefaults.h"

#include <QDebug>
#include <QVariant>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc < 3 || (std::strcmp(argv[2], "show") != 0 && std::strcmp(argv[2], "hammer") != 0)) {
        std::fputs("usage: defaults_tool <file> show <key>... | hammer\n", stderr);
        return 2;
    }
    ow::FileUserDefaults store(QString::fromLocal8Bit(argv[1]));
    for (qint64 n = 0; std::strcmp(argv[2], "hammer") == 0; ++n) {
        // A large value, so a kill often lands inside a write; the test recomputes it from n.
        store.setValue(QStringLiteral("hammer"), QVariantMap{{"n", n}, {"check", QString::number(n).repeated(4096)}});
        if (n == 0) {
            std::puts("saved");
            std::fflush(stdout);
        }
    }
    for (int i = 3; i < argc; ++i) {
        QString text;
        QDebug(&text) << store.value(QString::fromLocal8Bit(argv[i]));
        std::puts(qUtf8Printable(text));
    }
    return 0;
}
