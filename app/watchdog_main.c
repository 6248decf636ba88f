// orbinwash-watchdog <deadline ms> <record path>, started by OrbinWash at each lock with
// its heartbeat socket as stdin. If it sees no heartbeat for 5 s or the lock outlives its
// deadline by 2 s, it leaves a crash record and kills OrbinWash, whose X connection then
// closes and frees input. It exits as soon as the socket closes.
// Plain C and POSIX calls only: linked statically (against musl where the build has it),
// it holds a few pages beside every lock.
// POLLRDHUP: woken when the app's end closes, not by each beat.
#define _GNU_SOURCE

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <stdbool.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

// The app beats at least every 2 s: a main loop held up for a few seconds is not yet hung.
static const long long kHeartbeatTimeoutMs = 5000;
static const long long kDeadlineGraceMs = 2000;
// Beats are not waited for one by one but counted every so often: a lock that idles for
// minutes then wakes neither this helper nor, through it, the app's CPU once a second.
// A hung app is killed 5 to 10 s after its last beat.
static const long long kCheckPeriodMs = 5000;

static long long nowMs(void)
{
    struct timespec ts = {0};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

static bool writeAll(int fd, const char* text)
{
    const size_t size = strlen(text);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, text + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += (size_t)n;
    }
    return true;
}

// The same shape as the fatal error hooks' record, so the next launch sends it as a crash.
static void writeRecord(const char* path, const char* headline)
{
    static const char kSuffix[] = ".watchdog.tmp";
    char temp[PATH_MAX];
    const size_t length = strlen(path);
    if (length + sizeof kSuffix > sizeof temp)
        return;
    memcpy(temp, path, length);
    memcpy(temp + length, kSuffix, sizeof kSuffix);
    unlink(temp);
    const int fd = open(temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0)
        return;
    bool ok = fchmod(fd, S_IRUSR | S_IWUSR) == 0;
    ok = ok && writeAll(fd, headline) && writeAll(fd, "\n---\nwatchdog");
    ok = close(fd) == 0 && ok;
    if (!ok || rename(temp, path) != 0)
        unlink(temp);
}

int main(int argc, char* argv[])
{
    if (argc != 3)
        return 2;
    const pid_t app = getppid();
    const long long start = nowMs();
    const long long deadline = start + atoll(argv[1]) + kDeadlineGraceMs;
    long long lastBeat = start;
    for (;;) {
        // Every beat since the last look; the newest counts as now, which errs towards
        // patience.
        for (;;) {
            char buffer[64];
            const ssize_t n = recv(STDIN_FILENO, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0) {
                lastBeat = nowMs();
                continue;
            }
            if (n == 0)
                return 0; // the lock is over, or the app is gone
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                break;
            if (errno != EINTR)
                return 1;
        }
        const long long now = nowMs();
        const long long silence = lastBeat + kHeartbeatTimeoutMs;
        const long long due = deadline < silence ? deadline : silence;
        if (now >= due)
            break;
        // Woken by the app's end of the socket closing, not by a beat arriving.
        struct pollfd fd = {.fd = STDIN_FILENO, .events = POLLRDHUP};
        const long long wait = due - now < kCheckPeriodMs ? due - now : kCheckPeriodMs;
        if (poll(&fd, 1, (int)wait) < 0 && errno != EINTR)
            return 1;
    }
    // An app that died meanwhile left us to another parent; its pid may be someone else's.
    if (getppid() != app)
        return 0;
    writeRecord(argv[2], nowMs() >= deadline ? "Watchdog: lock outlived its safety deadline"
                                             : "Watchdog: main loop unresponsive for 5 s");
    kill(app, SIGKILL);
    return 0;
}
