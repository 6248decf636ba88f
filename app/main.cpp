#include "FileUserDefaults.h"
#include "LinuxDisplaySleepAssertion.h"
#include "LockController.h"
#include "QtClock.h"
#include "QtScreenList.h"
#include "TapLockEngine.h"
#include "X11CursorVisibility.h"
#include "X11InputGrab.h"
#include "X11WindowStacking.h"

#include <QApplication>

#include <cstdio>

// Until the application shell exists, starting OrbinWash locks at once and quits when
// the lock ends.
int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("OrbinWash"));
    QApplication::setQuitOnLastWindowClosed(false);

    ow::QtClock clock;
    ow::FileUserDefaults defaults(ow::FileUserDefaults::defaultPath());
    ow::X11CursorVisibility cursor;
    ow::LinuxDisplaySleepAssertion sleep;
    ow::QtScreenList screens;
    ow::X11WindowStacking stacking;
    ow::LockController controller(
        std::make_unique<ow::TapLockEngine>(std::make_unique<ow::X11InputGrab>(), clock),
        {clock, defaults, cursor, sleep, screens, stacking});
    controller.setOnUnlock([] { QCoreApplication::quit(); });

    if (!controller.lock()) {
        std::fputs("OrbinWash could not lock input: it needs an X11 session, and no other "
                   "program may hold the keyboard or the pointer.\n", stderr);
        return 1;
    }
    return QApplication::exec();
}
