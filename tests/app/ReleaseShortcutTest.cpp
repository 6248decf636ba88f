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

// One key event as the window system delivers it.
struct Stroke {
    QEvent::Type type;
    Qt::Key key;
    bool autoRepeat = false;
    Qt::KeyboardModifiers modifiers = Qt::NoModifier;
};

struct Typing {
    const char* name;
    std::vector<Stroke> strokes;
    int commands;
};

void PrintTo(const Typing& typing, std::ostream* out)
{
    *out << typing.name;
}

constexpr QEvent::Type Down = QEvent::KeyPress;
constexpr QEvent::Type Up = QEvent::KeyRelease;

class ReleaseShortcutTest : public ::testing::TestWithParam<Typing> {};

// The command comes once the key is up again, from a press this window saw, never from
// auto-repeat, and never from the release of a key pressed before the window had it.
TEST_P(ReleaseShortcutTest, GivesTheCommandOnTheReleaseOfAPressItSaw)
{
    QWidget scope;
    auto* field = new QLineEdit(&scope); // key events go to the focused child
    ReleaseShortcut shortcut(&scope);
    QSignalSpy activated(&shortcut, &ReleaseShortcut::activated);
    scope.show();
    for (const Stroke& stroke : GetParam().strokes) {
        QKeyEvent event(stroke.type, stroke.key, stroke.modifiers, QString(), stroke.autoRepeat);
        QApplication::sendEvent(field, &event);
    }
    EXPECT_EQ(activated.size(), GetParam().commands);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, ReleaseShortcutTest,
    ::testing::Values(
        Typing{"PressAndRelease", {{Down, Qt::Key_Return}, {Up, Qt::Key_Return}}, 1},
        Typing{"KeypadEnter", {{Down, Qt::Key_Enter, false, Qt::KeypadModifier}, {Up, Qt::Key_Enter, false, Qt::KeypadModifier}}, 1},
        Typing{"StillDown", {{Down, Qt::Key_Return}}, 0},
        Typing{"ReleaseOfAnEarlierPress", {{Up, Qt::Key_Return}}, 0},
        Typing{"HeldWithRepeats",
               {{Down, Qt::Key_Return}, {Down, Qt::Key_Return, true}, {Down, Qt::Key_Return, true}, {Up, Qt::Key_Return}},
               1},
        Typing{"RepeatsOfAKeyHeldBefore", {{Down, Qt::Key_Return, true}, {Down, Qt::Key_Return, true}, {Up, Qt::Key_Return}}, 0},
        Typing{"RepeatedReleases", {{Down, Qt::Key_Return}, {Up, Qt::Key_Return, true}, {Down, Qt::Key_Return, true}}, 0},
        Typing{"WithCtrl", {{Down, Qt::Key_Return, false, Qt::ControlModifier}, {Up, Qt::Key_Return, false, Qt::ControlModifier}}, 0},
        Typing{"OtherKey", {{Down, Qt::Key_Space}, {Up, Qt::Key_Space}}, 0},
        Typing{"TwiceOver", {{Down, Qt::Key_Return}, {Up, Qt::Key_Return}, {Down, Qt::Key_Enter}, {Up, Qt::Key_Enter}}, 2}),
    [](const ::testing::TestParamInfo<Typing>& row) { return std::string(row.param.name); });

TEST(ReleaseShortcut, GivesNoCommandWhileDisabledOrHidden)
{
    QWidget scope;
    ReleaseShortcut shortcut(&scope);
    QSignalSpy activated(&shortcut, &ReleaseShortcut::activated);
    const auto returnKey = [&scope] {
        for (QEvent::Type type : {Down, Up}) {
            QKeyEvent event(type, Qt::Key_Return, Qt::NoModifier);
            QApplication::sendEvent(&scope, &event);
        }
    };
    returnKey(); // hidden
    scope.show();
    shortcut.setEnabled(false);
    returnKey();
    // A press made while it was off arms nothing for later.
    QKeyEvent press(Down, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(&scope, &press);
    shortcut.setEnabled(true);
    QKeyEvent release(Up, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(&scope, &release);
    EXPECT_EQ(activated.size(), 0);
}

} // namespace
