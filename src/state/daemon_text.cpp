#include "state/daemon_text.h"

#include <algorithm>

namespace {

bool isBidiControl(QChar c)
{
    const char16_t code = c.unicode();
    return code == 0x061C || code == 0x200E || code == 0x200F || (code >= 0x202A && code <= 0x202E)
        || (code >= 0x2066 && code <= 0x2069);
}

} // namespace

QString DaemonText::shown(const QString &text)
{
    QString shown = text;
    if (std::any_of(shown.cbegin(), shown.cend(), isBidiControl))
        shown.removeIf(isBidiControl);
    if (shown.size() <= maxShownLength)
        return shown;
    qsizetype cut = maxShownLength - 1;
    // Never between the two halves of a character.
    if (shown.at(cut).isLowSurrogate())
        --cut;
    return shown.first(cut) + u'…';
}
