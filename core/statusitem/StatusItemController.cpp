#include "StatusItemController.h"

#include "Localizer.h"

#include <QCursor>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QtMath>

#include <initializer_list>
#include <utility>

namespace ow {

namespace {

// Device-independent pixels, top-down.
constexpr QSizeF kGlyphSize(20, 17);
constexpr QSizeF kBadgedSize(23, 17);
constexpr QRectF kKeyboardRect(0, 1, 17, 12);
constexpr QRectF kNotchRect(10.5, 7, 11, 11.5);
constexpr QRectF kPadlockRect(12.5, 8.5, 7, 8.5);
constexpr QRectF kDotRect(17, 1, 5.5, 5.5);
constexpr QRgb kDotRed = 0xFFE01B24;
// The glyph's fill, as GNOME's panel draws its own icons, and its rim for light panels.
constexpr QRgb kGlyphColour = 0xFFF2F2F2;
constexpr QRgb kRimColour = 0xD0202020;
// Crisp on ordinary and on HiDPI panels.
constexpr qreal kScales[] = {1, 2};

QImage blankImage(QSizeF size, qreal scale)
{
    QImage image((size * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);
    return image;
}

void drawKeyboard(QPainter& painter)
{
    QPainterPath body;
    body.addRoundedRect(kKeyboardRect, 2, 2);
    QPainterPath keys;
    for (const qreal y : {3, 6}) {
        for (const qreal x : {3, 6, 9, 12})
            keys.addRect(x, y, 2, 2);
    }
    keys.addRect(6, 9, 5, 2);
    painter.fillPath(body.subtracted(keys), Qt::black);
}

void drawPadlock(QPainter& painter)
{
    QPainterPath shackle;
    shackle.moveTo(14.25, 12.5);
    shackle.arcTo(QRectF(14.25, 9.25, 3.5, 3.5), 180, -180);
    shackle.lineTo(17.75, 12.5);
    QPen pen(Qt::black, 1.5);
    pen.setCapStyle(Qt::FlatCap);
    painter.strokePath(shackle, pen);

    QPainterPath body;
    body.addRoundedRect(QRectF(12.5, 12.5, 7, 4.5), 1, 1);
    painter.fillPath(body, Qt::black);
}

// The first of names the icon theme has, as a square of side device pixels; null if none.
QImage themedGlyph(std::initializer_list<const char*> names, int side)
{
    for (const char* name : names) {
        const QString themeName = QString::fromLatin1(name);
        if (!QIcon::hasThemeIcon(themeName))
            continue;
        const QImage image = QIcon::fromTheme(themeName).pixmap(QSize(side, side)).toImage();
        if (!image.isNull())
            return image;
    }
    return {};
}

// One glyph, black on transparent, inside rect. The icon theme's symbolic glyph when it
// has one, so the tray matches the rest of the panel; our own drawing otherwise.
QImage glyphLayer(qreal scale, const QRectF& rect, std::initializer_list<const char*> themeNames,
                  void (*drawOwn)(QPainter&))
{
    // Symbolic icons centre their glyph in a square: fit the square to the longer side
    // and keep only what falls inside the glyph's place.
    const qreal side = qMax(rect.width(), rect.height());
    const QRectF square(rect.center() - QPointF(side / 2, side / 2), QSizeF(side, side));
    const QImage themed = themedGlyph(themeNames, qCeil(side * scale));

    QImage layer = blankImage(kGlyphSize, scale);
    QPainter painter(&layer);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    if (themed.isNull()) {
        drawOwn(painter);
    } else {
        painter.setClipRect(rect);
        painter.drawImage(square, themed);
        // Themes tint their symbolic icons; a mask only keeps the shape.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(rect, Qt::black);
    }
    painter.end();
    return layer;
}

QImage keyboardLockImage(qreal scale)
{
    QImage image = glyphLayer(scale, kKeyboardRect, {"input-keyboard-symbolic"}, drawKeyboard);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // A clear margin keeps the padlock readable against the keyboard at tray sizes.
    painter.setCompositionMode(QPainter::CompositionMode_Clear);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    painter.drawEllipse(kNotchRect);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.drawImage(QPointF(0, 0),
                      glyphLayer(scale, kPadlockRect,
                                 {"system-lock-screen-symbolic", "changes-prevent-symbolic"},
                                 drawPadlock));
    painter.end();
    return image;
}

// Trays over D-Bus get pixels only, and panels are dark (GNOME) or light (many others):
// the glyph is drawn light inside a dark rim, which reads on both.
QImage outlinedImage(qreal scale)
{
    const QImage shape = keyboardLockImage(scale);
    QImage image = blankImage(kGlyphSize, scale);
    QPainter painter(&image);
    // The rim: the shape shifted a device pixel each way, in the rim's colour.
    QImage rim = shape;
    {
        QPainter tint(&rim);
        tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
        tint.fillRect(rim.rect(), QColor::fromRgba(kRimColour));
    }
    const qreal step = 1 / scale;
    for (const qreal dx : {-step, 0.0, step}) {
        for (const qreal dy : {-step, 0.0, step})
            painter.drawImage(QPointF(dx, dy), rim);
    }
    QImage fill = shape;
    {
        QPainter tint(&fill);
        tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
        tint.fillRect(fill.rect(), QColor::fromRgba(kGlyphColour));
    }
    painter.drawImage(QPointF(0, 0), fill);
    painter.end();
    return image;
}

QImage badgedImage(qreal scale)
{
    QImage image = blankImage(kBadgedSize, scale);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.drawImage(QPointF(0, 0), outlinedImage(scale));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgb(kDotRed));
    painter.drawEllipse(kDotRect);
    painter.end();
    return image;
}

QIcon iconAtScales(QImage (*draw)(qreal))
{
    QIcon icon;
    for (const qreal scale : kScales)
        icon.addPixmap(QPixmap::fromImage(draw(scale)));
    return icon;
}

} // namespace

StatusItemController::StatusItemController(Clock& clock, QObject* parent,
                                           std::function<bool()> trayAvailable)
    : QObject(parent)
    , m_clock(clock)
    , m_trayAvailable(std::move(trayAvailable))
{
}

void StatusItemController::enable(QMenu* menu)
{
    m_menu = menu;
    if (m_tray) {
        m_tray->setContextMenu(menu);
        return;
    }
    if (m_enabled)
        return;
    m_enabled = true;
    if (m_trayAvailable())
        showTray();
    else
        awaitTrayHost();
}

void StatusItemController::disable()
{
    m_enabled = false;
    m_hostRetry.reset();
    if (!m_tray)
        return;
    m_tray->hide();
    // Not at once: the call may come from the tray's own menu, still being handled.
    m_tray->deleteLater();
    m_tray = nullptr;
}

// Qt chooses how to reach the tray when the icon is made, so it is made only once a host
// runs: made before, it would never reach a host that comes later.
void StatusItemController::showTray()
{
    m_tray = new QSystemTrayIcon(icon(m_hasBadge), this);
    m_tray->setToolTip(L("accessibility.status_icon"));
    m_tray->setContextMenu(m_menu);
    // Hosts open the menu on a right click only; users of a menu-only tray app expect a
    // left click to open it too.
    QSystemTrayIcon* tray = m_tray;
    connect(tray, &QSystemTrayIcon::activated, tray, [tray](QSystemTrayIcon::ActivationReason reason) {
        if (reason != QSystemTrayIcon::Trigger)
            return;
        if (QMenu* shown = tray->contextMenu())
            shown->popup(QCursor::pos());
    });
    m_tray->show();
}

void StatusItemController::setBadge(bool on)
{
    if (on == m_hasBadge)
        return;
    m_hasBadge = on;
    if (m_tray)
        m_tray->setIcon(icon(on));
}

QIcon StatusItemController::keyboardLockIcon()
{
    QIcon icon = iconAtScales(outlinedImage);
    // Only a few platforms recolour a mask; Linux trays show its pixels as they are.
    icon.setIsMask(true);
    return icon;
}

QIcon StatusItemController::icon(bool badge)
{
    return badge ? iconAtScales(badgedImage) : keyboardLockIcon();
}

// When we start at login the panel may not be up yet, so look for it again for a while.
void StatusItemController::awaitTrayHost()
{
    m_retriesLeft = int(kHostRetryPeriod / kHostRetryInterval);
    m_hostRetry = m_clock.schedule(kHostRetryInterval, true, [this] { retryShow(); });
}

void StatusItemController::retryShow()
{
    if (m_trayAvailable()) {
        m_hostRetry.reset();
        showTray();
        return;
    }
    if (--m_retriesLeft == 0)
        m_hostRetry.reset();
}

} // namespace ow
