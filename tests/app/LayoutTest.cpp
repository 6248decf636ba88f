#include "Localizer.h"
#include "LockWindow.h"
#include "MainWindow.h"
#include "ReportProblemDialog.h"
#include "ShellTest.h"
#include "ShownAlert.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QStyleOptionButton>
#include <QToolButton>

using namespace ow;
using namespace std::chrono_literals;

namespace {

QString textOf(const QWidget* widget)
{
    if (auto* label = qobject_cast<const QLabel*>(widget))
        return label->text().trimmed();
    if (auto* button = qobject_cast<const QAbstractButton*>(widget))
        return button->text();
    auto* popUp = qobject_cast<const QComboBox*>(widget);
    return popUp ? popUp->currentText() : QString();
}

// Why the widget's text or picture does not fit in it; empty when it does.
QString clipping(const QWidget* widget)
{
    const QFontMetrics metrics = widget->fontMetrics();
    if (auto* label = qobject_cast<const QLabel*>(widget); label && label->wordWrap()) {
        for (const QString& word : label->text().split(QRegularExpression(QStringLiteral("\\s+")))) {
            if (metrics.horizontalAdvance(word) > label->contentsRect().width())
                return QStringLiteral("a word runs out");
        }
        return label->heightForWidth(label->width()) > label->height() ? QStringLiteral("lines cut off") : QString();
    }
    QSize room = widget->size();
    QSize need = widget->sizeHint();
    auto* button = qobject_cast<const QAbstractButton*>(widget);
    if (button && !qobject_cast<const QToolButton*>(button)) {
        // The width a style adds to short texts is no clipping: only the text must fit its place.
        QStyleOptionButton option;
        option.initFrom(button);
        const bool box = qobject_cast<const QCheckBox*>(button);
        room = button->style()->subElementRect(box ? QStyle::SE_CheckBoxContents : QStyle::SE_PushButtonContents,
                                               &option, button).size();
        need = metrics.size(Qt::TextShowMnemonic, button->text());
    }
    return need.width() > room.width() || need.height() > room.height() ? QStringLiteral("too small") : QString();
}

// The part of the widget its ancestors leave on show, in window coordinates.
QRect shownRect(const QWidget* widget, const QWidget* window)
{
    QRect shown(widget->mapTo(window, QPoint()), widget->size());
    for (const QWidget* parent = widget->parentWidget(); parent != window; parent = parent->parentWidget())
        shown &= QRect(parent->mapTo(window, QPoint()), parent->size());
    return shown;
}

// Every label, button and pop-up on show has room for its text, lies inside its parent (or
// scrolls up and down in it) and inside any panel under it, and nothing lies over a text.
void expectNothingClippedOrCovered(const QWidget* window)
{
    SCOPED_TRACE(window->metaObject()->className());
    QApplication::processEvents();
    EXPECT_TRUE(window->screen()->geometry().contains(window->geometry())) << "the window runs off its screen";
    QList<const QWidget*> shown;
    for (const QWidget* widget : window->findChildren<QWidget*>()) {
        if (widget->isVisibleTo(window) && (qobject_cast<const QLabel*>(widget) || qobject_cast<const QAbstractButton*>(widget)
                                            || qobject_cast<const QComboBox*>(widget)))
            shown.append(widget);
    }
    for (const QWidget* widget : shown) {
        const std::string name = widget->metaObject()->className() + (" " + textOf(widget).left(30).toStdString());
        EXPECT_EQ(clipping(widget).toStdString(), "") << name;
        const QWidget* parent = widget->parentWidget();
        const QWidget* viewport = parent;
        for (; viewport != window; viewport = viewport->parentWidget()) {
            auto* area = qobject_cast<const QAbstractScrollArea*>(viewport->parentWidget());
            if (area && area->viewport() == viewport)
                break;
        }
        // What scrolls may be taller than its viewport, but only vertical scroll bars show.
        EXPECT_TRUE(parent == viewport || parent->rect().contains(widget->geometry())) << name << " leaves its parent";
        const QRect inViewport(widget->mapTo(viewport, QPoint()), widget->size());
        EXPECT_TRUE(viewport == window || (inViewport.left() >= 0 && inViewport.right() < viewport->width()))
            << name << " runs under the scroll bar";
        for (const QFrame* panel : parent->findChildren<QFrame*>(Qt::FindDirectChildrenOnly)) {
            const bool under = !shown.contains(panel) && panel->isVisibleTo(window)
                && panel->geometry().intersects(widget->geometry());
            EXPECT_TRUE(!under || panel->geometry().contains(widget->geometry())) << name << " leaves its panel";
        }
        for (const QWidget* other : shown) {
            // A picture on a picture is a design, as the badge on the messages button.
            if (other == widget || other->isAncestorOf(widget) || widget->isAncestorOf(other)
                || (textOf(widget).isEmpty() && textOf(other).isEmpty()))
                continue;
            EXPECT_FALSE(shownRect(widget, window).intersects(shownRect(other, window)))
                << name << " lies under or over " << textOf(other).left(30).toStdString();
        }
    }
}

class LayoutInOneLanguage : public test::ConversationTest {};

// In the language OW_TEST_LANGUAGE names, else English: the home view with a banner of an
// endless word, then of a long message, the messages window, the settings page, a report's
// thanks (no narrow column) and the lock overlay on each screen, with its warning of devices
// the input guard could not lock.
TEST_F(LayoutInOneLanguage, NothingIsClippedOrCovered)
{
    // The catalogue in force must be the one asked for, or the test would check English nine times.
    QFile catalogue(QStringLiteral(":/strings/%1.json").arg(qEnvironmentVariable("OW_TEST_LANGUAGE", QStringLiteral("en"))));
    ASSERT_TRUE(catalogue.open(QIODevice::ReadOnly));
    ASSERT_EQ(L("lock.title"), QJsonDocument::fromJson(catalogue.readAll()).object().value("lock.title").toString());

    const QString endlessWord(300, QLatin1Char('W'));
    service.setConversation("open", 1, endlessWord);
    defaults().setValue(QStringLiteral("OWHoldSecondsUser"), qint64(10)); // the widest hint
    launch();
    ASSERT_NE(banner(), nullptr);
    expectNothingClippedOrCovered(window());
    service.setConversation("open", 2, QStringList(40, endlessWord.left(20) + QStringLiteral(" a line")).join(QLatin1Char('\n')));
    checkIn(); // a banner that scrolls
    expectNothingClippedOrCovered(window());
    delegate->showMessages();
    expectNothingClippedOrCovered(messages());
    delegate->showSettings();
    expectNothingClippedOrCovered(window());
    delegate->reportProblemPressed();
    topLevel<ReportProblemDialog>()->textEdit()->setPlainText(QStringLiteral("It froze"));
    topLevel<ReportProblemDialog>()->accept();
    test::checkShownAlert([this] { answer(); }, [](const QLabel& thanks) {
        EXPECT_LT(thanks.height(), 3 * thanks.fontMetrics().lineSpacing());
    });

    QList<QRect> desktop;
    for (const QScreen* screen : QGuiApplication::screens())
        desktop << screen->geometry();
    screens().setScreens(desktop);
    inputGuard().answer = InputGuard::Answer::Yes;
    delegate->lockPressed();
    ASSERT_TRUE(inputGuard().locked);
    inputGuard().refuseDevices({QStringLiteral("Logitech USB Receiver Consumer Control"),
                                QStringLiteral("Wacom Intuos Pro M Pen"), QStringLiteral("keyd virtual keyboard")});
    clock().advance(1s); // the countdown
    qsizetype overlays = 0;
    for (const QWidget* widget : QApplication::topLevelWidgets()) {
        auto* overlay = qobject_cast<const LockWindow*>(widget);
        if (overlay && overlay->isVisible()) {
            ++overlays;
            EXPECT_TRUE(overlay->warningLabel()->isVisible());
            expectNothingClippedOrCovered(overlay);
        }
    }
    EXPECT_EQ(overlays, desktop.size());
}

// Each shipped language in a process of its own, since the texts are chosen once per process.
class LayoutTest : public ::testing::TestWithParam<QString> {};

TEST_P(LayoutTest, NothingIsClippedOrCovered)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("OW_TEST_LANGUAGE"), GetParam().chopped(5)); // less ".json"
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=LayoutInOneLanguage.*")});
    ASSERT_TRUE(child.waitForFinished(60000));
    const QByteArray output = child.readAll();
    EXPECT_TRUE(child.exitCode() == 0 && output.contains("[  PASSED  ] 1 test")) << output.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Catalogues, LayoutTest,
                         ::testing::ValuesIn(QDir(QStringLiteral(":/strings")).entryList({QStringLiteral("*.json")})),
                         [](const auto& file) { return file.param.chopped(5).toStdString(); });

} // namespace
