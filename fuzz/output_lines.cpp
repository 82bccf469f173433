// The daemon's output as the supervisor reads it: bytes in arbitrary pieces
// turned into whole decoded lines. The first input byte steers the test
// (where the reads are cut, whether the stream is stretched past the longest
// line), the rest is the stream.
#include "daemon/output_reader.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void require(bool condition, const char *what)
{
    if (condition)
        return;
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

// The splitter's promise for the text of a line: controls but tab as visible escapes.
QString visible(const QString &text)
{
    QString shown;
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (code < 0x20 && code != u'\t')
            shown += QStringLiteral("\\x%1").arg(code, 2, 16, QLatin1Char('0'));
        else if (code >= 0x7F && code <= 0x9F)
            shown +=
                code == 0x7F ? QStringLiteral("\\x7f") : QStringLiteral("\\u%1").arg(code, 4, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

QStringList splitAll(OutputLineSplitter &splitter, const QByteArray &stream, quint8 control)
{
    // Read sizes from a small generator: mostly short reads with now and then
    // a large one, as a pipe delivers them; a stretched stream gets larger
    // reads, or the test would spend its time on tiny ones.
    const quint32 largest = stream.size() > OutputLineSplitter::maxLineBytes ? 8192 : 256;
    quint32 state = 0x9e3779b9u ^ control ^ quint32(stream.size());
    QStringList lines;
    for (qsizetype at = 0; at < stream.size();) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        const quint32 size = 1 + ((state & 3) == 0 ? (state >> 8) % largest : (state >> 8) % 16);
        const qsizetype take = qMin(qsizetype(size), stream.size() - at);
        lines += splitter.feed(QByteArrayView(stream).sliced(at, take));
        at += take;
    }
    if (const std::optional<QString> rest = splitter.finish())
        lines += *rest;
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const quint8 control = data[0];
    QByteArray stream(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    // Stretched past the longest line, the splitter must cut it between
    // characters. Only few-line streams are stretched: thousands of short
    // lines would cost time and reach no other code.
    const qsizetype stretch = OutputLineSplitter::maxLineBytes / qMax(stream.size(), qsizetype(1)) + 2;
    if ((control & 0xF0) == 0xF0 && !stream.isEmpty() && stream.count('\n') * stretch <= 64)
        stream = stream.repeated(stretch);

    OutputLineSplitter chunked;
    const QStringList lines = splitAll(chunked, stream, control);
    OutputLineSplitter whole;
    QStringList reference = whole.feed(stream);
    if (const std::optional<QString> rest = whole.finish())
        reference += *rest;
    require(lines == reference, "the lines depend on how the reads were cut");
    require(!chunked.finish(), "finish() returned a line twice");

    for (const QString &line : lines)
        require(!line.contains(u'\n'), "a line holds a line feed");

    const QString decoded = QString::fromUtf8(stream);
    const bool validUtf8 = decoded.toUtf8() == stream;
    if (validUtf8) {
        // Nothing lost, added or reordered but a CR ending a line; no piece
        // longer than allowed (an escape takes at most four characters a byte).
        QString joined;
        for (const QString &line : lines) {
            require(line.toUtf8().size() <= 4 * OutputLineSplitter::maxLineBytes, "a piece longer than the limit");
            joined += line;
        }
        require(joined == visible(QString(decoded).replace(u"\r\n"_qs, u"\n"_qs).remove(u'\n')),
                "the text changed on its way through");
    }
    if (stream.size() <= OutputLineSplitter::maxLineBytes) {
        // Short lines decode exactly as the whole stream does, bad bytes included.
        QStringList expected = decoded.split(u'\n');
        const bool endsWithLineFeed = expected.last().isEmpty();
        if (endsWithLineFeed)
            expected.removeLast();
        for (qsizetype i = 0; i < expected.size(); ++i) {
            if ((endsWithLineFeed || i + 1 < expected.size()) && expected[i].endsWith(u'\r'))
                expected[i].chop(1);
            expected[i] = visible(expected[i]);
        }
        require(lines == expected, "a short line was cut or decoded differently");
    }
    return 0;
}
