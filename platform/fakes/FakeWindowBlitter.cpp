#include "FakeWindowBlitter.h"

#include <QBackingStore>
#include <QPainter>
#include <QWidget>

namespace ow {

namespace {

class FakeTiles final : public WindowBlitter::Tiles {
public:
    FakeTiles(FakeWindowBlitter& owner, WId window, QImage strip, int count)
        : m_owner(owner)
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

private:
    FakeWindowBlitter& m_owner;
    WId m_window;
    QImage m_strip;
    int m_count;
};

} // namespace

std::unique_ptr<WindowBlitter::Tiles> FakeWindowBlitter::upload(WId window, const QImage& strip, int count)
{
    if (refuses || count <= 0 || strip.width() % count != 0)
        return nullptr;
    return std::make_unique<FakeTiles>(*this, window, strip, count);
}

} // namespace ow
