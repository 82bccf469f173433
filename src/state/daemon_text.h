#pragma once

#include <QString>

// A text from the daemon (its error, the account's e-mail, a refusal) as the
// panel and the notifications show it: without bidirectional controls, which
// would let "user@\u202Egro.elpmaxe" read as "user@example.org", and cut with
// an ellipsis to what a 320-point panel can show, so no layout ever measures
// a megabyte of text.
namespace DaemonText {

inline constexpr qsizetype maxShownLength = 2000;

QString shown(const QString &text);

} // namespace DaemonText
