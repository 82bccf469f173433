#include "daemon/output_line_splitter.h"

namespace {

bool isContinuationByte(char byte)
{
    return (uchar(byte) & 0xC0) == 0x80;
}

bool isLeadByte(char byte)
{
    return uchar(byte) >= 0xC0;
}

// Where to cut `bytes` (longer than `limit`) so that a UTF-8 character
// crossing `limit` moves whole into the next piece. Invalid sequences are cut
// at `limit`: they decode to U+FFFD either way.
qsizetype cutBetweenCharacters(const QByteArray &bytes, qsizetype limit)
{
    constexpr qsizetype longestCharacter = 4;
    qsizetype cut = limit;
    while (cut > limit - (longestCharacter - 1) && isContinuationByte(bytes.at(cut)))
        --cut;
    return cut < limit && isLeadByte(bytes.at(cut)) ? cut : limit;
}

} // namespace

QStringList OutputLineSplitter::feed(QByteArrayView chunk)
{
    QStringList lines;
    for (qsizetype lineFeed = chunk.indexOf('\n'); lineFeed >= 0; lineFeed = chunk.indexOf('\n')) {
        hold(chunk.first(lineFeed), lines);
        lines.append(takeHeld(m_held.size()));
        chunk = chunk.sliced(lineFeed + 1);
    }
    hold(chunk, lines);
    return lines;
}

std::optional<QString> OutputLineSplitter::finish()
{
    if (m_held.isEmpty())
        return std::nullopt;
    return takeHeld(m_held.size());
}

void OutputLineSplitter::hold(QByteArrayView bytes, QStringList &lines)
{
    m_held.append(bytes);
    while (m_held.size() > maxLineBytes)
        lines.append(takeHeld(cutBetweenCharacters(m_held, maxLineBytes)));
}

QString OutputLineSplitter::takeHeld(qsizetype size)
{
    const QString text = QString::fromUtf8(QByteArrayView(m_held).first(size));
    m_held.remove(0, size);
    return text;
}
