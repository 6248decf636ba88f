#include "FakeClock.h"
#include "FakeInputGrab.h"
#include "FakePowerKeyInhibitor.h"
#include "KioskLockEngine.h"
#include "TapLockEngine.h"

#include <QAction>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

using namespace ow;

namespace {

class TapLockEngineTest : public ::testing::Test {
protected:
    TapLockEngineTest()
    {
        auto fake = std::make_unique<FakeInputGrab>();
        grab = fake.get();
        auto inhibitor = std::make_unique<FakePowerKeyInhibitor>();
        powerKeys = inhibitor.get();
        powerKeys->onAcquire = [this] { grabbedWhenPowerKeysHeld = grab->grabbed; };
        engine = std::make_unique<TapLockEngine>(std::move(fake), std::move(inhibitor), clock);
    }

    FakeClock clock;
    FakeInputGrab* grab = nullptr;
    FakePowerKeyInhibitor* powerKeys = nullptr;
    bool grabbedWhenPowerKeysHeld = false;
    std::unique_ptr<TapLockEngine> engine;
    QList<quint64> reported;
};

TEST_F(TapLockEngineTest, RefusedGrabChangesNothingAndARetryTakesInputThenThePowerKeys)
{
    grab->refuse = true;
    EXPECT_FALSE(engine->start([&](quint64 f) { reported.append(f); }));
    EXPECT_FALSE(engine->isRunning());
    EXPECT_EQ(engine->presentationOptions(), PresentationOptions::None);
    EXPECT_EQ(powerKeys->acquireCalls, 0);
    grab->refuse = false;
    powerKeys->available = false; // the lock goes on without them
    EXPECT_TRUE(engine->start([&](quint64 f) { reported.append(f); }));
    EXPECT_TRUE(grab->grabbed);
    EXPECT_NE(engine->presentationOptions(), PresentationOptions::None);
    EXPECT_EQ(powerKeys->acquireCalls, 1);
    EXPECT_TRUE(grabbedWhenPowerKeysHeld);
}

TEST_F(TapLockEngineTest, FlagsReachTheHandlerInOrderOnTheMainQueueUntilStopReleasesAllOnce)
{
    ASSERT_TRUE(engine->start([&](quint64 f) { reported.append(f); }));
    EXPECT_TRUE(powerKeys->held);
    grab->report(0x100008);
    grab->report(0x100018);
    grab->report(0x100010);
    EXPECT_TRUE(reported.isEmpty()); // never synchronously from the grab's callback
    clock.runPosted();
    EXPECT_EQ(reported, (QList<quint64>{0x100008, 0x100018, 0x100010}));
    grab->report(0x100018); // queued when the engine stops: dropped
    engine->stop();
    engine->stop();
    clock.runPosted();
    EXPECT_EQ(reported.size(), 3);
    EXPECT_FALSE(grab->grabbed);
    EXPECT_FALSE(powerKeys->held);
    EXPECT_EQ(engine->presentationOptions(), PresentationOptions::None);
    EXPECT_EQ(grab->releaseCalls, 1);
    EXPECT_EQ(powerKeys->releaseCalls, 1);
}

// The kiosk engine only sees what is delivered to this application's own windows.
class KioskLockEngineTest : public ::testing::Test {
protected:
    KioskLockEngineTest()
    {
        shortcut->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));
        window.addAction(shortcut);
        window.show();
        window.activateWindow();
        edit->setFocus();
        QApplication::processEvents();
    }

    QWidget window;
    QLineEdit* edit = new QLineEdit(&window);
    QPushButton* button = new QPushButton(QStringLiteral("Press"), &window);
    QAction* shortcut = new QAction(&window);
    KioskLockEngine engine;
    QList<quint64> reported;
};

TEST_F(KioskLockEngineTest, SwallowsInputToOurWindowsWhileRunning)
{
    QSignalSpy clicked(button, &QPushButton::clicked);
    QSignalSpy triggered(shortcut, &QAction::triggered);
    ASSERT_TRUE(engine.start([&](quint64 f) { reported.append(f); }));
    EXPECT_EQ(engine.presentationOptions(), PresentationOptions::Kiosk);

    QTest::keyClicks(edit, QStringLiteral("abc"));
    QTest::mouseClick(button, Qt::LeftButton);
    QTest::keyClick(edit, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(edit->text(), QString());
    EXPECT_EQ(clicked.count(), 0);
    EXPECT_EQ(triggered.count(), 0);
    engine.stop();
    EXPECT_EQ(engine.presentationOptions(), PresentationOptions::None);
    QTest::keyClicks(edit, QStringLiteral("abc"));
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(edit->text(), QStringLiteral("abc"));
    EXPECT_EQ(clicked.count(), 1);
}

TEST_F(KioskLockEngineTest, ReportsModifierChangesAtOnceTellingLeftFromRight)
{
    const auto send = [this](QEvent::Type type, Qt::Key key, quint32 keysym) {
        QKeyEvent event(type, key, Qt::NoModifier, 0, keysym, 0);
        QApplication::sendEvent(edit, &event);
    };
    ASSERT_TRUE(engine.start([&](quint64 f) { reported.append(f); }));
    send(QEvent::KeyPress, Qt::Key_Control, 0xffe3); // Control_L
    send(QEvent::KeyPress, Qt::Key_Control, 0xffe4); // Control_R
    send(QEvent::KeyPress, Qt::Key_A, 0x61);         // not a modifier
    send(QEvent::KeyRelease, Qt::Key_Control, 0xffe3);
    EXPECT_EQ(reported, (QList<quint64>{0x100008, 0x100018, 0x100010}));
    engine.stop();
    send(QEvent::KeyRelease, Qt::Key_Control, 0xffe4);
    EXPECT_EQ(reported.size(), 3);
}

} // namespace
