#include "daemon/output_reader.h"

#include <QTest>

class TestOutputLineSplitter : public QObject {
    Q_OBJECT

private slots:
    void wholeLines_data();
    void wholeLines();
    void longLineComesOutInBoundedPieces();
    void characterAtTheBoundStaysWhole_data();
    void characterAtTheBoundStaysWhole();
};

void TestOutputLineSplitter::wholeLines_data()
{
    QTest::addColumn<QByteArrayList>("chunks");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("rest");

    QTest::newRow("line in two pieces") << QByteArrayList{"a", "b\n"} << QStringList{"ab"} << QString();
    QTest::newRow("several lines in one chunk")
        << QByteArrayList{"one\ntwo\nthree\n"} << QStringList{"one", "two", "three"} << QString();
    QTest::newRow("lines across chunks")
        << QByteArrayList{"one\ntw", "o\nthr", "ee"} << QStringList{"one", "two"} << QStringLiteral("three");
    QTest::newRow("character split between reads")
        << QByteArrayList{"caf\xC3", "\xA9\n"} << QStringList{QStringLiteral("caf\u00E9")} << QString();
    QTest::newRow("four-byte character byte by byte")
        << QByteArrayList{"\xF0", "\x9F", "\x98", "\x80", "\n"} << QStringList{QStringLiteral("\U0001F600")}
        << QString();
    QTest::newRow("invalid bytes replaced")
        << QByteArrayList{"bad\xFF\xFEx\n"} << QStringList{QStringLiteral("bad\uFFFD\uFFFDx")} << QString();
    QTest::newRow("character cut short by the line feed")
        << QByteArrayList{"a\xE2\x82\nb\n"} << QStringList{QStringLiteral("a\uFFFD\uFFFD"), "b"} << QString();
    QTest::newRow("partial line held until the end")
        << QByteArrayList{"done\nno line feed"} << QStringList{"done"} << QStringLiteral("no line feed");
    QTest::newRow("invalid partial line at the end")
        << QByteArrayList{"x\xC3"} << QStringList{} << QStringLiteral("x\uFFFD");
    QTest::newRow("empty lines kept") << QByteArrayList{"\n", "\n"} << QStringList{"", ""} << QString();
    QTest::newRow("carriage return passed through")
        << QByteArrayList{"dos\r\n"} << QStringList{"dos\r"} << QString();
    QTest::newRow("nothing") << QByteArrayList{} << QStringList{} << QString();
}

void TestOutputLineSplitter::wholeLines()
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
    QCOMPARE(finished.has_value(), !rest.isEmpty());
    if (finished)
        QCOMPARE(*finished, rest);
    QVERIFY(!splitter.finish());
}

void TestOutputLineSplitter::longLineComesOutInBoundedPieces()
{
    // 100 KiB without a line feed, read as a pipe delivers it, then its end.
    const QByteArray text(100 * 1024, 'x');
    OutputLineSplitter splitter;
    QStringList pieces;
    for (qsizetype at = 0; at < text.size(); at += 4096)
        pieces += splitter.feed(QByteArrayView(text).sliced(at, std::min<qsizetype>(4096, text.size() - at)));
    QCOMPARE(pieces.size(), 1);
    QCOMPARE(pieces.first().size(), OutputLineSplitter::maxLineBytes);

    pieces += splitter.feed("\n");
    QCOMPARE(pieces.size(), 2);
    QCOMPARE((pieces.first() + pieces.last()).toUtf8(), text);
    QVERIFY(!splitter.finish());
}

void TestOutputLineSplitter::characterAtTheBoundStaysWhole_data()
{
    QTest::addColumn<QByteArray>("character");
    QTest::newRow("two bytes") << QByteArray("\xC3\xA9");
    QTest::newRow("three bytes") << QByteArray("\xE2\x82\xAC");
    QTest::newRow("four bytes") << QByteArray("\xF0\x9F\x98\x80");
}

void TestOutputLineSplitter::characterAtTheBoundStaysWhole()
{
    QFETCH(QByteArray, character);
    // The character starts one byte before the bound and ends after it.
    const QByteArray head(OutputLineSplitter::maxLineBytes - 1, 'x');
    OutputLineSplitter splitter;
    const QStringList lines = splitter.feed(head + character + "\n");
    QCOMPARE(lines, (QStringList{QString::fromLatin1(head), QString::fromUtf8(character)}));
}

QTEST_GUILESS_MAIN(TestOutputLineSplitter)
#include "test_output_line_splitter.moc"
