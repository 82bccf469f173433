// The symbol set: every name the tray and the panel use has a drawing, drawn
// in exactly the colour asked for, at the pixel ratio asked for.
#include "views/symbols.h"

#include <QCryptographicHash>
#include <QImage>
#include <QTest>

namespace {

const QStringList symbolNames = {
    QStringLiteral("arrow.triangle.2.circlepath"), QStringLiteral("checkmark.circle.fill"),
    QStringLiteral("pause.circle.fill"),           QStringLiteral("exclamationmark.triangle.fill"),
    QStringLiteral("person.crop.circle"),          QStringLiteral("cloud.fill"),
    QStringLiteral("arrow.up.circle"),             QStringLiteral("arrow.down.circle"),
    QStringLiteral("person.circle"),               QStringLiteral("pause.fill"),
    QStringLiteral("play.fill"),                   QStringLiteral("arrow.clockwise"),
    QStringLiteral("folder.fill"),                 QStringLiteral("rectangle.portrait.and.arrow.right"),
    QStringLiteral("person.crop.circle.badge.plus"), QStringLiteral("xmark.circle"),
    QStringLiteral("chevron.left"),
};

} // namespace

class SymbolsTest : public QObject {
    Q_OBJECT
private slots:
    void everySymbolDrawsInTheRequestedColour_data();
    void everySymbolDrawsInTheRequestedColour();
    void translucentColourKeepsItsOpacity();
    void symbolsAreDistinctDrawings();
    void unknownNamesGiveNoImage();
};

void SymbolsTest::everySymbolDrawsInTheRequestedColour_data()
{
    QTest::addColumn<QString>("name");
    for (const QString &name : symbolNames)
        QTest::newRow(qPrintable(name)) << name;
}

void SymbolsTest::everySymbolDrawsInTheRequestedColour()
{
    QFETCH(QString, name);
    QVERIFY(Symbols::exists(name));

    const QColor green(0x34, 0xC7, 0x59);
    const QPixmap pixmap = Symbols::pixmap(name, green, 24, 2.0);
    QVERIFY(!pixmap.isNull());
    QCOMPARE(pixmap.size(), QSize(48, 48));
    QCOMPARE(pixmap.devicePixelRatio(), 2.0);

    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    int covered = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() == 255) {
                ++covered;
                QCOMPARE(pixel.rgb(), green.rgb());
            }
        }
    }
    // A visible drawing, not a speck and not a filled square.
    QVERIFY2(covered > 48 * 48 / 40, qPrintable(QString::number(covered)));
    QVERIFY2(covered < 48 * 48 * 9 / 10, qPrintable(QString::number(covered)));
}

void SymbolsTest::translucentColourKeepsItsOpacity()
{
    const QColor halfBlack(0, 0, 0, 128);
    const QImage image = Symbols::pixmap(QStringLiteral("xmark.circle"), halfBlack, 16).toImage();
    int maxAlpha = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            maxAlpha = std::max(maxAlpha, image.pixelColor(x, y).alpha());
    QVERIFY(maxAlpha > 100);
    QVERIFY(maxAlpha <= 128);
}

void SymbolsTest::symbolsAreDistinctDrawings()
{
    QHash<QByteArray, QString> seen;
    for (const QString &name : symbolNames) {
        const QImage image = Symbols::pixmap(name, Qt::black, 24).toImage();
        const QByteArray digest = QCryptographicHash::hash(
            QByteArrayView(image.constBits(), image.sizeInBytes()), QCryptographicHash::Sha1);
        QVERIFY2(!seen.contains(digest), qPrintable(name + QStringLiteral(" looks like ") + seen.value(digest)));
        seen.insert(digest, name);
    }
}

void SymbolsTest::unknownNamesGiveNoImage()
{
    for (const QString &name : {QStringLiteral("no.such.symbol"), QString(), QStringLiteral("../symbols/play.fill")}) {
        QVERIFY(!Symbols::exists(name));
        QVERIFY(Symbols::pixmap(name, Qt::black, 24).isNull());
    }
    QVERIFY(Symbols::pixmap(QStringLiteral("play.fill"), Qt::black, 0).isNull());
}

QTEST_MAIN(SymbolsTest)
#include "test_symbols.moc"
