#include "app/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>

Translations::Translations(const QLocale &locale)
{
    // Built into the program (src/app/CMakeLists.txt), so it needs no files beside it.
    const QString embedded = QStringLiteral(":/i18n");
    if (m_companion.load(locale, QStringLiteral("tornel"), QStringLiteral("_"), embedded)
        || m_companion.load(QStringLiteral("tornel_en"), embedded))
        QCoreApplication::installTranslator(&m_companion);
    if (m_qt.load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                  QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&m_qt);
}
