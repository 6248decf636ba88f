// Rewrites one value of the user defaults forever, for the test that kills a writer at any
// moment; prints a line once the first write is saved.
//   defaults_tool <file>

#include "FileUserDefaults.h"

#include <QVariant>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: defaults_tool <file>\n", stderr);
        return 2;
    }
    ow::FileUserDefaults store(QString::fromLocal8Bit(argv[1]));
    for (qint64 n = 0;; ++n) {
        // A large value, so a kill often lands inside a write; the test recomputes it from n.
        store.setValue(QStringLiteral("hammer"), QVariantMap{{"n", n}, {"check", QString::number(n).repeated(4096)}});
        if (n == 0) {
            std::puts("saved");
            std::fflush(stdout);
        }
    }
}
