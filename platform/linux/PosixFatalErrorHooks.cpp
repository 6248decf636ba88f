#include "PosixFatalErrorHooks.h"

#include <QFile>
#include <QStringList>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <typeinfo>
#include <vector>

#include <cxxabi.h>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ow {

namespace {

constexpr int kFatalSignals[] = {SIGABRT, SIGSEGV, SIGILL, SIGBUS, SIGFPE, SIGTRAP};
// backtrace_symbols_fd and the unwinder need far more than MINSIGSTKSZ.
constexpr std::size_t kAltStackSize = 256 * 1024;
constexpr char kSeparator[] = "\n---\n";
constexpr char kTempSuffix[] = ".tmp";

// Prepared at install: a signal handler may not allocate.
char g_recordPath[PATH_MAX];
char g_tempPath[PATH_MAX];
char g_headline[2048];
bool g_altStackReady = false;
// Set by whichever handler runs first; a fault while it is set must not start over.
std::atomic_flag g_handling;

bool writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= std::size_t(written);
    }
    return true;
}

// backtrace_symbols_fd ends every frame with a line feed; the record ends without one.
bool trimFinalLineFeed(int fd)
{
    const off_t end = ::lseek(fd, 0, SEEK_END);
    if (end <= 0 || ::lseek(fd, end - 1, SEEK_SET) != end - 1)
        return false;
    char last = 0;
    if (::read(fd, &last, 1) != 1)
        return false;
    return last != '\n' || ::ftruncate(fd, end - 1) == 0;
}

// Async-signal-safe: only open, fchmod, write, lseek, read, ftruncate, close, rename,
// unlink and the backtrace functions preloaded at install.
void writeRecord(const char* headline, std::size_t length)
{
    ::unlink(g_tempPath);
    const int fd = ::open(g_tempPath, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0)
        return;
    // The umask may have taken bits from the mode asked for at open.
    bool ok = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0;
    ok = ok && writeAll(fd, headline, length) && writeAll(fd, kSeparator, sizeof kSeparator - 1);
    if (ok) {
        void* frames[PosixFatalErrorHooks::MaxFrames];
        const int count = ::backtrace(frames, PosixFatalErrorHooks::MaxFrames);
        ::backtrace_symbols_fd(frames, count, fd);
        ok = count == 0 || trimFinalLineFeed(fd);
    }
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(g_tempPath, g_recordPath) != 0)
        ::unlink(g_tempPath);
}

void restoreDefault(int signal)
{
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
}

// The signal stays blocked until the handler returns, and is then delivered with the
// default action.
void dieBy(int signal)
{
    restoreDefault(signal);
    ::raise(signal);
}

// snprintf is not async-signal-safe.
std::size_t formatDecimal(unsigned value, char* out)
{
    char digits[16];
    std::size_t count = 0;
    do {
        digits[count++] = char('0' + value % 10);
        value /= 10;
    } while (value > 0);
    std::size_t length = 0;
    while (count > 0)
        out[length++] = digits[--count];
    return length;
}

void onFatalSignal(int signal)
{
    if (g_handling.test_and_set()) {
        dieBy(signal);
        return;
    }
    constexpr char prefix[] = "Signal ";
    std::memcpy(g_headline, prefix, sizeof prefix - 1);
    const std::size_t length = sizeof prefix - 1 + formatDecimal(unsigned(signal), g_headline + sizeof prefix - 1);
    writeRecord(g_headline, length);
    dieBy(signal);
}

// Appends as much of text as fits, keeping the headline on one line.
void appendToHeadline(std::size_t& length, const char* text)
{
    for (; *text != '\0' && length < sizeof g_headline; ++text)
        g_headline[length++] = *text == '\n' || *text == '\r' ? ' ' : *text;
}

std::size_t composeExceptionHeadline()
{
    std::size_t length = 0;
    appendToHeadline(length, "Exception: ");
    const std::type_info* type = abi::__cxa_current_exception_type();
    if (type == nullptr) {
        // std::terminate called directly, with no exception in flight.
        appendToHeadline(length, "none — ");
        return length;
    }
    int status = 0;
    const std::unique_ptr<char, decltype(&std::free)> demangled(
        abi::__cxa_demangle(type->name(), nullptr, nullptr, &status), &std::free);
    appendToHeadline(length, demangled ? demangled.get() : type->name());
    appendToHeadline(length, " — ");
    try {
        std::rethrow_exception(std::current_exception());
    } catch (const std::exception& exception) {
        appendToHeadline(length, exception.what());
    } catch (...) {
        // Not a std::exception: no reason to give.
    }
    return length;
}

[[noreturn]] void onTerminate()
{
    if (!g_handling.test_and_set())
        writeRecord(g_headline, composeExceptionHeadline());
    // The abort must not replace the exception's record with one of its own.
    restoreDefault(SIGABRT);
    std::abort();
}

bool prepareAltStack()
{
    void* stack = ::mmap(nullptr, kAltStackSize, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (stack == MAP_FAILED)
        return false;
    // Kept for the life of the process: a handler may run until the very end.
    stack_t altStack {};
    altStack.ss_sp = stack;
    altStack.ss_size = kAltStackSize;
    if (::sigaltstack(&altStack, nullptr) != 0) {
        ::munmap(stack, kAltStackSize);
        return false;
    }
    return true;
}

} // namespace

void PosixFatalErrorHooks::install(const QString& recordPath)
{
    const QByteArray path = QFile::encodeName(recordPath);
    if (path.isEmpty() || std::size_t(path.size()) + sizeof kTempSuffix > sizeof g_recordPath)
        return;
    // The terminator written apart: GCC's -fsanitize=address build cannot see that an
    // empty path, backed by a one-byte object, never reaches here.
    std::memcpy(g_recordPath, path.constData(), std::size_t(path.size()));
    g_recordPath[path.size()] = '\0';
    std::memcpy(g_tempPath, path.constData(), std::size_t(path.size()));
    std::memcpy(g_tempPath + path.size(), kTempSuffix, sizeof kTempSuffix);

    // The first backtrace loads libgcc_s, which a signal handler could not do safely.
    void* frame[1];
    ::backtrace(frame, 1);

    if (!g_altStackReady)
        g_altStackReady = prepareAltStack();

    std::set_terminate(onTerminate);
    struct sigaction action {};
    action.sa_handler = onFatalSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_ONSTACK | SA_RESETHAND;
    for (const int signal : kFatalSignals)
        ::sigaction(signal, &action, nullptr);
}

QString PosixFatalErrorHooks::currentStack(int maxFrames)
{
    if (maxFrames <= 0)
        return {};
    // One more frame than asked for: this function's own, left out.
    std::vector<void*> frames(std::size_t(maxFrames) + 1);
    const int count = ::backtrace(frames.data(), maxFrames + 1);
    if (count <= 1)
        return {};
    const std::unique_ptr<char*, decltype(&std::free)> symbols(
        ::backtrace_symbols(frames.data() + 1, count - 1), &std::free);
    if (!symbols)
        return {};
    QStringList lines;
    for (int i = 0; i < count - 1; ++i)
        lines.append(QString::fromUtf8(symbols.get()[i]));
    return lines.join(QLatin1Char('\n'));
}

} // namespace ow
