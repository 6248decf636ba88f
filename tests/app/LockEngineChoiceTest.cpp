#include "FakeClock.h"
#include "FakeInputGrab.h"
#include "FakeInputGuard.h"
#include "FakePowerKeyInhibitor.h"
#include "GuardLockEngine.h"
#include "LockEngineChoice.h"
#include "MemoryUserDefaults.h"
#include "TapLockEngine.h"

#include <gtest/gtest.h>

using namespace ow;

namespace {

enum class Engine { Guard, X11Grab, None };

void setOrUnset(const char* name, const char* value)
{
    if (value)
        qputenv(name, value);
    else
        qunsetenv(name);
}

// One engine for every row, as the application keeps one: each lock chooses afresh, since
// the guard may be installed, or the session changed, while the application runs.
TEST(LockEngineChoice, TheGuardWhenItLetsThisSessionLockElseTheX11GrabOutsideWayland)
{
    const struct {
        bool guard;
        bool guardRefuses;
        bool x11;
        const char* sessionType;
        const char* waylandDisplay;
        Engine chosen;
    } rows[] = {
        {true, false, true, "x11", nullptr, Engine::Guard},
        {true, false, false, "wayland", "wayland-0", Engine::Guard},
        {true, false, false, nullptr, nullptr, Engine::Guard},
        {false, false, true, "x11", nullptr, Engine::X11Grab},
        {false, false, true, nullptr, nullptr, Engine::X11Grab},
        {false, false, true, "tty", nullptr, Engine::X11Grab},
        {false, false, true, "wayland", nullptr, Engine::None},
        {false, false, true, nullptr, "wayland-0", Engine::None},
        {false, false, true, "x11", "wayland-1", Engine::None},
        {false, false, false, "x11", nullptr, Engine::None},
        {false, false, false, nullptr, nullptr, Engine::None},
        // A guard that said yes but cannot lock now (another of its locks runs).
        {true, true, true, "x11", nullptr, Engine::X11Grab},
        {true, true, true, "wayland", nullptr, Engine::None},
    };
    FakeClock clock;
    MemoryUserDefaults defaults;
    FakeInputGuard guard;
    auto* grab = new FakeInputGrab;
    bool x11 = false;
    LockEngineChoice choice(std::make_unique<GuardLockEngine>(guard, defaults),
                            std::make_unique<TapLockEngine>(std::unique_ptr<InputGrab>(grab),
                                                            std::make_unique<FakePowerKeyInhibitor>(), clock),
                            [&x11] { return x11; });
    const QByteArray savedType = qgetenv("XDG_SESSION_TYPE");
    const QByteArray savedDisplay = qgetenv("WAYLAND_DISPLAY");
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "guard " << row.guard << row.guardRefuses << ", x11 " << row.x11 << ", "
                                        << (row.sessionType ? row.sessionType : "-") << ", "
                                        << (row.waylandDisplay ? row.waylandDisplay : "-"));
        guard.authorised = row.guard;
        guard.refuse = row.guardRefuses;
        x11 = row.x11;
        setOrUnset("XDG_SESSION_TYPE", row.sessionType);
        setOrUnset("WAYLAND_DISPLAY", row.waylandDisplay);
        EXPECT_EQ(choice.start([](quint64) {}), row.chosen != Engine::None);
        EXPECT_EQ(guard.locked, row.chosen == Engine::Guard);
        EXPECT_EQ(grab->grabbed, row.chosen == Engine::X11Grab);
        choice.stop();
        EXPECT_FALSE(guard.locked || grab->grabbed);
    }
    setOrUnset("XDG_SESSION_TYPE", savedType.isNull() ? nullptr : savedType.constData());
    setOrUnset("WAYLAND_DISPLAY", savedDisplay.isNull() ? nullptr : savedDisplay.constData());
}

} // namespace
