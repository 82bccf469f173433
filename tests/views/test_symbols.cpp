// The symbol set: every name the tray and the panel use has its own drawing,
// drawn in exactly the colour asked for, at the pixel ratio asked for.
#include "views/symbols.h"

#include <QImage>
#include <QTest>

using namespace Qt::StringLiterals;

class TestSymbols : public QObject {
    Q_OBJECT
    QHash<QByteArray, QString> m_drawings; // across the rows: the pixels of each name

private slots:
    void drawsInTheRequestedColour_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QColor>("colour");
        for (const QString &name :
             u"arrow.triangle.2.circlepath checkmark.circle.fill pause.circle.fill exclamationmark.triangle.fill "
             u"person.crop.circle cloud.fill arrow.up.circle arrow.down.circle person.circle pause.fill play.fill "
             u"arrow.clockwise folder.fill rectangle.portrait.and.arrow.right person.crop.circle.badge.plus "
             u"xmark.circle chevron.left"_s.split(u' '))
            QTest::newRow(qPrintable(name)) << name << QColor(0x34, 0xC7, 0x59);
        // A translucent colour keeps its opacity.
        QTest::newRow("translucent") << u"xmark.circle"_s << QColor(0, 0, 0, 128);
    }

    void drawsInTheRequestedColour()
    {
        QFETCH(QString, name);
        QFETCH(QColor, colour);
        const QPixmap pixmap = Symbols::pixmap(name, colour, 24, 2.0);
        const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(image.size(), QSize(48, 48)); // sharp at the pixel ratio asked for
        int covered = 0; // wholly covered pixels, in the colour asked for
        for (int i = 0; i < 48 * 48; ++i) {
            const QColor pixel = image.pixelColor(i % 48, i / 48);
            QVERIFY(pixel.alpha() <= colour.alpha());
            covered += pixel.alpha() == colour.alpha();
            if (pixel.alpha() == colour.alpha())
                QCOMPARE(pixel.rgb(), colour.rgb());
        }
        // A visible drawing, not a speck and not a filled square.
        QVERIFY2(covered > 48 * 48 / 40 && covered < 48 * 48 * 9 / 10, qPrintable(QString::number(covered)));
        // Not the same drawing as another name.
        const QByteArray drawing(reinterpret_cast<const char *>(image.constBits()), image.sizeInBytes());
        QVERIFY2(!m_drawings.contains(drawing), qPrintable(u"looks like "_s + m_drawings.value(drawing)));
        m_drawings.insert(drawing, name);
    }

    void unknownNamesGiveNoImage()
    {
        for (const QString &name : {u"no.such.symbol"_s, QString(), u"../symbols/play.fill"_s})
            QVERIFY(!Symbols::exists(name) && Symbols::pixmap(name, Qt::black, 24).isNull());
        QVERIFY(Symbols::pixmap(u"play.fill"_s, Qt::black, 0).isNull());
    }
};

QTEST_MAIN(TestSymbols)
#include "test_symbols.moc"
