#include "views/symbols.h"

#include <QFile>
#include <QPainter>
#include <QPixmapCache>
#include <QSvgRenderer>

#include <cmath>

namespace {

QString resourcePath(const QString &name)
{
    return QStringLiteral(":/symbols/") + name + QStringLiteral(".svg");
}

} // namespace

namespace Symbols {

bool exists(const QString &name)
{
    // Names are plain dotted words; a slash would reach outside the set.
    return !name.isEmpty() && !name.contains(u'/') && QFile::exists(resourcePath(name));
}

QPixmap pixmap(const QString &name, const QColor &color, int logicalSize, qreal devicePixelRatio)
{
    if (logicalSize <= 0 || devicePixelRatio <= 0 || !exists(name))
        return {};

    // Panels repaint often (the pulse animates at frame rate); rendering an
    // SVG each time would be wasted work for the same few images.
    const QString key = QStringLiteral("tornel-symbol:%1:%2:%3:%4")
                            .arg(name, color.name(QColor::HexArgb))
                            .arg(logicalSize)
                            .arg(devicePixelRatio);
    QPixmap cached;
    if (QPixmapCache::find(key, &cached))
        return cached;

    QSvgRenderer renderer(resourcePath(name));
    if (!renderer.isValid())
        return {};
    const int side = int(std::ceil(logicalSize * devicePixelRatio));
    QPixmap image(side, side);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, side, side));
        // The drawings are single-colour; keep their coverage, take the tint.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), color);
    }
    image.setDevicePixelRatio(devicePixelRatio);
    QPixmapCache::insert(key, image);
    return image;
}

void paint(QPainter &painter, const QRect &frame, const QString &name, const QColor &color, int logicalSize)
{
    const QPixmap image = pixmap(name, color, logicalSize, painter.device()->devicePixelRatioF());
    if (image.isNull())
        return;
    QRect target(0, 0, logicalSize, logicalSize);
    target.moveCenter(frame.center());
    painter.drawPixmap(target, image);
}

} // namespace Symbols
