#include "Alert.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QMutex>
#include <QMutexLocker>
#include <QPushButton>

#include <algorithm>

namespace ow {

namespace {

struct Preset {
    QMutex mutex;
    QList<int> answers;
    QList<Alert::Record> records;
};

Preset& preset()
{
    static Preset instance;
    return instance;
}

// Notices an alert being closed without a choice. The message box answers Esc and its close
// button with its last button, which must not count as choosing it.
class CloseWatcher final : public QObject {
public:
    bool closed = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Close
            || (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->matches(QKeySequence::Cancel)))
            closed = true;
        return QObject::eventFilter(watched, event);
    }
};

// Short explanations keep to one line up to this many average characters; the message box
// would otherwise be as narrow as its title and wrap them into a column.
constexpr int kOneLineChars = 60;

} // namespace

int Alert::run(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
               const QStringList& buttons, const QPixmap& iconPixmap)
{
    {
        Preset& p = preset();
        QMutexLocker lock(&p.mutex);
        if (!p.answers.isEmpty()) {
            p.records.append({icon, title, text, buttons});
            return p.answers.takeFirst();
        }
    }
    QMessageBox box(icon, QApplication::applicationDisplayName(), title, QMessageBox::NoButton, parent);
    // Alert texts may carry what a server or a user wrote: never interpret it as markup.
    box.setTextFormat(Qt::PlainText);
    box.setInformativeText(text);
    for (QLabel* label : box.findChildren<QLabel*>())
        label->setTextFormat(Qt::PlainText);
    if (auto* informative = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"))) {
        const QFontMetrics metrics(informative->font());
        int widest = 0;
        for (const QString& line : text.split(QLatin1Char('\n')))
            widest = std::max(widest, metrics.horizontalAdvance(line));
        // Never below its own minimum, which a path kept whole sets.
        informative->setMinimumWidth(std::max(informative->minimumSizeHint().width(),
                                              std::min(widest + 1, metrics.averageCharWidth() * kOneLineChars)));
    }
    if (!iconPixmap.isNull())
        box.setIconPixmap(iconPixmap);
    QList<QAbstractButton*> added;
    for (const QString& label : buttons)
        added.append(box.addButton(label, added.isEmpty() ? QMessageBox::AcceptRole : QMessageBox::RejectRole));
    if (!added.isEmpty())
        box.setDefaultButton(qobject_cast<QPushButton*>(added.first()));
    CloseWatcher watcher;
    box.installEventFilter(&watcher);
    box.exec();
    if (watcher.closed)
        return Closed;
    const int index = int(added.indexOf(box.clickedButton()));
    return FirstButton + (index < 0 ? int(added.size()) - 1 : index);
}

QString Alert::unbroken(const QString& path)
{
    // The word joiner forbids a break on either side of it.
    constexpr QChar kWordJoiner(0x2060);
    constexpr QChar kNoBreakSpace(0x00A0);
    QString whole;
    for (const QChar c : path) {
        whole += c == QLatin1Char(' ') ? kNoBreakSpace : c;
        if (c == QLatin1Char('/') || c == QLatin1Char('-'))
            whole += kWordJoiner;
    }
    return whole;
}

void Alert::setNextAnswer(int answer)
{
    Preset& p = preset();
    QMutexLocker lock(&p.mutex);
    p.answers.append(answer);
}

QList<Alert::Record> Alert::takeRecords()
{
    Preset& p = preset();
    QMutexLocker lock(&p.mutex);
    return std::exchange(p.records, {});
}

void Alert::reset()
{
    Preset& p = preset();
    QMutexLocker lock(&p.mutex);
    p.answers.clear();
    p.records.clear();
}

} // namespace ow
