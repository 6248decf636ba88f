#include "FakeWindowBlitter.h"

#include "Clock.h"

#include <QBackingStore>
#include <QPainter>
#include <QWidget>

#include <map>

namespace ow {

namespace {

class FakeTiles final : public WindowBlitter::Tiles {
public:
    FakeTiles(FakeWindowBlitter& owner, Clock& clock, WId window, QImage strip, int count)
        : m_owner(owner)
        , m_clock(clock)
        , m_window(window)
        , m_strip(std::move(strip))
        , m_count(count)
    {
    }

    void put(int index, QPoint at) override
    {
        QWidget* widget = QWidget::find(m_window);
        if (index < 0 || index >= m_count || !widget || !widget->backingStore())
            return;
        ++m_owner.puts;
        const int width = m_strip.width() / m_count;
        QPainter painter(widget->backingStore()->paintDevice());
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(at, m_strip, QRect(index * width, 0, width, m_strip.height()));
    }

    bool putAfter(int index, QPoint at, std::chrono::nanoseconds delay) override
    {
        if (!m_owner.putsLater)
            return false;
        const quint64 id = m_nextId++;
        m_later[id] = m_clock.schedule(delay, false, [this, id, index, at] {
            put(index, at);
            m_later.erase(id);
        });
        return true;
    }

private:
    FakeWindowBlitter& m_owner;
    Clock& m_clock;
    quint64 m_nextId = 0;
    std::map<quint64, std::unique_ptr<Timer>> m_later;
    WId m_window;
    QImage m_strip;
    int m_count;
};

} // namespace

FakeWindowBlitter::FakeWindowBlitter(Clock& clock)
    : m_clock(clock)
{
}

std::unique_ptr<WindowBlitter::Tiles> FakeWindowBlitter::upload(WId window, const QImage& strip, int count)
{
    if (refuses || count <= 0 || strip.width() % count != 0)
        return nullptr;
    return std::make_unique<FakeTiles>(*this, m_clock, window, strip, count);
}

} // namespace ow
