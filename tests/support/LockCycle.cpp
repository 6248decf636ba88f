#include "LockCycle.h"

#include "X11Connection.h"
#include "XTestInput.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>
#include <QTest>

// Last: Xlib's macros (None, Bool, Status...) would break the Qt headers.
#include <X11/Xlib.h>

namespace ow::test {

bool holdBothCtrlKeysUntilUnlocked(XTestInput& input, int timeoutMs)
{
    const unsigned left = input.keycode("Control_L");
    const unsigned right = input.keycode("Control_R");
    input.key(left, true);
    QTest::qWait(60); // fingers never land together
    input.key(right, true);
    const bool unlocked = QTest::qWaitFor([&] { return !input.keyboardGrabbedByOther(); }, timeoutMs);
    QTest::qWait(120);
    input.key(right, false);
    input.key(left, false);
    return unlocked;
}

QString troubleAfterUnlock(XTestInput& input, int ms)
{
    // The grab goes first and the overlays right after, in the same step: under a slow
    // build an overlay may still be up for a moment when the keyboard is already free.
    QElapsedTimer watched;
    watched.start();
    if (!QTest::qWaitFor([&] { return input.viewableOverrideRedirectWindows().isEmpty(); }, 500))
        return QStringLiteral("an overlay was still up %1 ms after the unlock").arg(watched.elapsed());
    while (watched.elapsed() < ms) {
        if (input.keyboardGrabbedByOther())
            return QStringLiteral("the keyboard was grabbed again %1 ms after the unlock").arg(watched.elapsed());
        if (!input.viewableOverrideRedirectWindows().isEmpty())
            return QStringLiteral("an overlay was mapped again %1 ms after the unlock").arg(watched.elapsed());
        QStringList held;
        for (unsigned keycode : input.keysDown())
            held.append(QStringLiteral("key %1").arg(keycode));
        for (unsigned button : input.buttonsDown())
            held.append(QStringLiteral("button %1").arg(button));
        if (!held.isEmpty())
            return QStringLiteral("the session holds %1 down after the unlock").arg(held.join(QLatin1String(", ")));
        QTest::qWait(100);
    }
    return {};
}

std::unique_ptr<X11Connection> competingGrab()
{
    std::unique_ptr<X11Connection> other = X11Connection::open();
    if (!other)
        return nullptr;
    Display* display = other->display();
    const bool keyboard = XGrabKeyboard(display, other->root(), False, GrabModeAsync, GrabModeAsync, CurrentTime) == GrabSuccess;
    const bool pointer = XGrabPointer(display, other->root(), False, 0, GrabModeAsync, GrabModeAsync, None, None,
                                      CurrentTime) == GrabSuccess;
    return keyboard && pointer ? std::move(other) : nullptr;
}

qint64 watchdogChildOf(qint64 parent)
{
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (comm) state ppid ...": the name may hold spaces, the rest cannot.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> rest = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (line.contains("(orbinwash-watch)") && rest.size() > 1 && rest[1].toLongLong() == parent)
            return pid.toLongLong();
    }
    return -1;
}

} // namespace ow::test
