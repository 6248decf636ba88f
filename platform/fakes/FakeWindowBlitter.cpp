#include "FakeWindowBlitter.h"

#include <QBackingStore>
#include <QPainter>
#include <QWidget>

namespace ow {

namespace {

class FakeTiles final : public WindowBlitter::Tiles {
public:
    FakeTiles(FakeWindowBlitter& owner, WId window, QList<QImage> tiles)
        : m_owner(owner)
        , m_window(window)
        , m_tiles(std::move(tiles))
    {
    }

    void put(int index, QPoint at) override
    {
        QWidget* widget = QWidget::find(m_window);
        if (index < 0 || index >= m_tiles.size() || !widget || !widget->backingStore())
            return;
        ++m_owner.puts;
        QPainter painter(widget->backingStore()->paintDevice());
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(at, m_tiles[index]);
    }

private:
    FakeWindowBlitter& m_owner;
    WId m_window;
    QList<QImage> m_tiles;
};

} // namespace

std::unique_ptr<WindowBlitter::Tiles> FakeWindowBlitter::upload(WId window, const QList<QImage>& tiles)
{
    if (refuses || tiles.isEmpty())
        return nullptr;
    ++uploads;
    return std::make_unique<FakeTiles>(*this, window, tiles);
}

} // namespace ow
