#pragma once

#include <QLocale>
#include <QTranslator>

// The companion's texts and Qt's own (the command line's "Usage:", the line
// edits' menus) in the language of `locale`, for as long as the object lives.
// Where the companion has no translation for it, its texts stay English,
// which still needs the English plural forms ("1 file", "2 files").
class Translations {
public:
    explicit Translations(const QLocale &locale = QLocale());

private:
    QTranslator m_companion;
    QTranslator m_qt;
};
