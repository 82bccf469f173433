#include "views/symbols.h"

#include <QFile>
#include <QHash>
#include <QPainter>
#include <QSvgRenderer>

#include <cmath>

namespace {

QString resourcePath(const QString &name)
{
    return QStringLiteral(":/symbols/") + name + QStringLiteral(".svg");
}

struct DrawingKey {
    QString name;
    QRgb color;
    int logicalSize;
    qreal devicePixelRatio;

    bool operator==(const DrawingKey &) const = default;
};

size_t qHash(const DrawingKey &key, size_t seed = 0)
{
    return qHashMulti(seed, key.name, key.color, key.logicalSize, key.devicePixelRatio);
}

// Each symbol is drawn once per colour, size and pixel ratio and kept for
// good: the tray and the panel use a few dozen of them. Not QPixmapCache,
// whose timer wakes the program every 30 s for as long as it holds anything.
QHash<DrawingKey, QPixmap> &drawings()
{
    static QHash<DrawingKey, QPixmap> kept;
    return kept;
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
    if (logicalSize <= 0 || devicePixelRatio <= 0)
        return {};
    // Panels repaint often (the pulse animates at frame rate); parsing and
    // rendering an SVG each time would be wasted work for the same images.
    const DrawingKey key{name, color.rgba(), logicalSize, devicePixelRatio};
    if (const auto kept = drawings().constFind(key); kept != drawings().constEnd())
        return *kept;
    if (!exists(name))
        return {};

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
    drawings().insert(key, image);
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
