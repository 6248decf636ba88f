#include "ReleaseShortcut.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QWidget>

#include <gtest/gtest.h>

#include <vector>

using ow::ReleaseShortcut;

namespace {

// One key event as the window system delivers it, or a change of the shortcut's state.
struct Stroke {
    QEvent::Type type;
    Qt::Key key = Qt::Key_Return;
    bool autoRepeat = false;
    Qt::KeyboardModifiers modifiers = Qt::NoModifier;
};

struct Typing { const char* name; std::vector<Stroke> strokes; int commands; };

void PrintTo(const Typing& typing, std::ostream* out) { *out << typing.name; }

constexpr QEvent::Type Down = QEvent::KeyPress;
constexpr QEvent::Type Up = QEvent::KeyRelease;
constexpr QEvent::Type Off = QEvent::EnabledChange; // setEnabled(false)
constexpr QEvent::Type On = QEvent::Enter;          // setEnabled(true)
constexpr QEvent::Type Hide = QEvent::Hide;         // the window goes

class ReleaseShortcutTest : public ::testing::TestWithParam<Typing> {};

// The command comes once the key is up again, from a press this window saw while on,
// never from auto-repeat, and never from the release of a key pressed before.
TEST_P(ReleaseShortcutTest, GivesTheCommandOnTheReleaseOfAPressItSaw)
{
    QWidget scope;
    auto* field = new QLineEdit(&scope); // key events go to the focused child
    ReleaseShortcut shortcut(&scope);
    QSignalSpy activated(&shortcut, &ReleaseShortcut::activated);
    scope.show();
    for (const Stroke& stroke : GetParam().strokes) {
        if (stroke.type == Off || stroke.type == On)
            shortcut.setEnabled(stroke.type == On);
        if (stroke.type == Hide)
            scope.hide();
        if (stroke.type != Down && stroke.type != Up)
            continue;
        QKeyEvent event(stroke.type, stroke.key, stroke.modifiers, QString(), stroke.autoRepeat);
        QApplication::sendEvent(field, &event);
    }
    EXPECT_EQ(activated.size(), GetParam().commands);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, ReleaseShortcutTest,
    ::testing::Values(
        Typing{"PressAndRelease", {{Down}, {Up}}, 1},
        Typing{"KeypadEnter", {{Down, Qt::Key_Enter, false, Qt::KeypadModifier}, {Up, Qt::Key_Enter, false, Qt::KeypadModifier}}, 1},
        Typing{"ReleaseOfAnEarlierPress", {{Up}}, 0},
        Typing{"HeldWithRepeats", {{Down}, {Down, Qt::Key_Return, true}, {Down, Qt::Key_Return, true}, {Up}}, 1},
        Typing{"RepeatsOfAKeyHeldBefore", {{Down, Qt::Key_Return, true}, {Down, Qt::Key_Return, true}, {Up}}, 0},
        Typing{"RepeatedReleases", {{Down}, {Up, Qt::Key_Return, true}, {Down, Qt::Key_Return, true}}, 0},
        Typing{"WithCtrl", {{Down, Qt::Key_Return, false, Qt::ControlModifier}, {Up, Qt::Key_Return, false, Qt::ControlModifier}}, 0},
        Typing{"OtherKey", {{Down, Qt::Key_Space}, {Up, Qt::Key_Space}}, 0},
        Typing{"TwiceOver", {{Down}, {Up}, {Down, Qt::Key_Enter}, {Up, Qt::Key_Enter}}, 2},
        Typing{"Hidden", {{Hide}, {Down}, {Up}}, 0},
        Typing{"Disabled", {{Off}, {Down}, {Up}}, 0},
        Typing{"PressedWhileDisabled", {{Off}, {Down}, {On}, {Up}}, 0}),
    [](const ::testing::TestParamInfo<Typing>& row) { return std::string(row.param.name); });

} // namespace
