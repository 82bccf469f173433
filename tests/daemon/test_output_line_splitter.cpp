#include "daemon/output_reader.h"

#include <QTest>

class TestOutputLineSplitter : public QObject {
    Q_OBJECT

private slots:
    // `chunks` as reads deliver them; `lines` come from feeding them, `rest` at the end.
    void splits_data()
    {
        QTest::addColumn<QByteArrayList>("chunks");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("rest");
        QTest::newRow("lines across reads, partial last line")
            << QByteArrayList{"one\ntw", "o\n\nthr", "ee"} << QStringList{"one", "two", ""} << QStringLiteral("three");
        QTest::newRow("four-byte character byte by byte")
            << QByteArrayList{"\xF0", "\x9F", "\x98", "\x80", "\n"} << QStringList{QStringLiteral("\U0001F600")}
            << QString();
        QTest::newRow("invalid bytes replaced")
            << QByteArrayList{"bad\xFF\xFEx\n"} << QStringList{QStringLiteral("bad\uFFFD\uFFFDx")} << QString();
        QTest::newRow("character cut short by the line feed")
            << QByteArrayList{"a\xE2\x82\nb\n"} << QStringList{QStringLiteral("a\uFFFD\uFFFD"), "b"} << QString();
        QTest::newRow("invalid partial line at the end")
            << QByteArrayList{"x\xC3"} << QStringList{} << QStringLiteral("x\uFFFD");

        // A long line comes out in bounded pieces while it is read, not held until its end.
        const QByteArray piece(4096, 'x');
        const QByteArrayList pipeReads(25, piece);
        const qsizetype bound = OutputLineSplitter::maxLineBytes;
        QTest::newRow("long line without a line feed")
            << pipeReads << QStringList{QString(bound, u'x')} << QString(25 * piece.size() - bound, u'x');
        // A character that starts one byte before the bound moves whole into the next piece.
        const QByteArray head(bound - 1, 'x');
        for (const QByteArray character : {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"}) {
            QTest::addRow("%d-byte character at the bound", int(character.size()))
                << QByteArrayList{head + character + "\n"} << QStringList{QString::fromLatin1(head), QString::fromUtf8(character)}
                << QString();
        }
    }

    void splits()
    {
        QFETCH(QByteArrayList, chunks);
        QFETCH(QStringList, lines);
        QFETCH(QString, rest);
        OutputLineSplitter splitter;
        QStringList fed;
        for (const QByteArray &chunk : chunks)
            fed += splitter.feed(chunk);
        QCOMPARE(fed, lines);
        const std::optional<QString> finished = splitter.finish();
        QCOMPARE(finished.value_or(QString()), rest);
        QCOMPARE(finished.has_value(), !rest.isEmpty());
        QVERIFY(!splitter.finish());
    }
};

QTEST_GUILESS_MAIN(TestOutputLineSplitter)
#include "test_output_line_splitter.moc"
