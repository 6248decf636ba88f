// Locks input at once with the real engine and services, and keeps the lock until
// killed or until it ends: the process the kill tests kill.
#include "LinuxDisplaySleepAssertion.h"
#include "LockController.h"
#include "MemoryUserDefaults.h"
#include "QtClock.h"
#include "QtScreenList.h"
#include "TapLockEngine.h"
#include "X11CursorVisibility.h"
#include "X11InputGrab.h"
#include "X11WindowStacking.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ow::QtClock clock;
    ow::MemoryUserDefaults defaults;
    ow::X11CursorVisibility cursor;
    ow::LinuxDisplaySleepAssertion sleep;
    ow::QtScreenList screens;
    ow::X11WindowStacking stacking;
    ow::LockController controller(
        std::make_unique<ow::TapLockEngine>(std::make_unique<ow::X11InputGrab>(), clock),
        {clock, defaults, cursor, sleep, screens, stacking});
    controller.setOnUnlock([] { QCoreApplication::quit(); });
    if (!controller.lock())
        return 1;
    return QApplication::exec();
}
