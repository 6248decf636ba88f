// crash_child <mode> <record-file>: installs the crash reporter recording to <record-file>,
// then dies as <mode> says (see main); "none" installs nothing and throws as "exception" does.
#include "CrashReporter.h"
#include "FileUserDefaults.h"
#include "PosixFatalErrorHooks.h"
#include "ProcessHttpClient.h"

#include <QCoreApplication>
#include <QUrl>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <stdexcept>

namespace {

// The compiler cannot prove the address null, so it cannot replace the write by a trap.
volatile std::uintptr_t g_nullAddress = 0;

// The fault itself is the test: UBSan must not stop the child before the signal does.
__attribute__((no_sanitize("undefined"))) void writeThroughNull()
{
    *reinterpret_cast<volatile int*>(g_nullAddress) = 1;
}

class FaultingException final : public std::exception {
public:
    const char* what() const noexcept override
    {
        writeThroughNull();
        return "unreachable";
    }
};

[[gnu::noinline]] void throwBoom()
{
    throw std::runtime_error("boom");
}

[[gnu::noinline]] void callThrowBoom()
{
    throwBoom();
}

[[gnu::noinline]] int recurse(int depth)
{
    volatile char frame[1024];
    frame[0] = char(depth);
    if (depth < 0)
        return 0;
    // Not a tail call: the frame is used after the call returns.
    return recurse(depth + 1) + frame[0];
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 3)
        return 2;
    QCoreApplication app(argc, argv);
    const char* mode = argv[1];
    const QString recordPath = QString::fromLocal8Bit(argv[2]);

    // Never written: the system crash folder does not exist.
    ow::FileUserDefaults defaults(recordPath + QLatin1String(".defaults.json"));
    ow::ProcessHttpClient http({}, {});
    ow::PosixFatalErrorHooks hooks;
    if (std::strcmp(mode, "none") != 0) {
        ow::CrashReporter::Settings settings(defaults, http, hooks);
        // Nothing to send: the test starts every child without a record.
        settings.endpoint = QUrl();
        settings.pendingPath = recordPath;
        settings.systemCrashFolder = recordPath + QLatin1String(".no-such-folder");
        ow::CrashReporter::install(settings);
    }

    if (std::strcmp(mode, "exception") == 0 || std::strcmp(mode, "none") == 0)
        callThrowBoom();
    else if (std::strcmp(mode, "exception-other") == 0)
        throw 42;
    else if (std::strcmp(mode, "exception-lines") == 0)
        throw std::runtime_error("first\n---\nsecond\r\nthird");
    else if (std::strcmp(mode, "terminate") == 0)
        std::terminate();
    else if (std::strcmp(mode, "segv") == 0)
        writeThroughNull();
    else if (std::strcmp(mode, "abort") == 0)
        std::abort();
    else if (std::strcmp(mode, "overflow") == 0) // the handler must run on its own stack
        return recurse(0);
    else if (std::strcmp(mode, "exception-then-segv") == 0) // what() faults while it is recorded
        throw FaultingException();
    return 3;
}
