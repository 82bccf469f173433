#include "tray/autostart_files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

namespace AutostartFiles {

QByteArray desktopEntry(const QString &exec, const QString &iconName)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Version=1.4\n"
                          "Name=Tornel\n"
                          "Comment=Show the state of file synchronisation in the system tray\n"
                          "Exec=%1\n"
                          "Icon=%2\n"
                          "Terminal=false\n"
                          "StartupNotify=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(exec, iconName)
        .toUtf8();
}

namespace {

// One argument of Exec: in double quotes, with the four characters that stay
// special there escaped; then, as the string rules apply first, each
// backslash doubled; and "%", which starts a field code, doubled too.
QString quotedForExec(const QString &argument)
{
    QString quoted;
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    QString written = u'"' + quoted + u'"';
    return written.replace(u'\\', QStringLiteral("\\\\")).replace(u'%', QStringLiteral("%%"));
}

bool needsNoQuotes(const QString &name)
{
    return std::all_of(name.begin(), name.end(), [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'.'
            || c == u'_' || c == u'-' || c == u'+';
    });
}

} // namespace

std::optional<QString> execLine(const QString &programPath, const QString &pathVariable)
{
    if (std::any_of(programPath.begin(), programPath.end(), [](QChar c) { return c.unicode() < 0x20 || c == u'\x7f'; }))
        return std::nullopt;
    const QString name = QFileInfo(programPath).fileName();
    const QString found = QStandardPaths::findExecutable(name, pathVariable.split(u':', Qt::SkipEmptyParts));
    if (!found.isEmpty() && QFileInfo(found).canonicalFilePath() == QFileInfo(programPath).canonicalFilePath())
        return needsNoQuotes(name) ? name : quotedForExec(name);
    return quotedForExec(programPath);
}

bool desktopEntryEnabled(const QString &path)
{
    QFile entry(path);
    if (!entry.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    // The one key that switches an autostart entry off without removing it.
    while (!entry.atEnd()) {
        if (entry.readLine().trimmed() == "Hidden=true")
            return false;
    }
    return true;
}

QByteArray launchAgent(const QString &label, const QString &programPath)
{
    // Interactive: launchd gives a program the user sees the priority of one.
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                          "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                          "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                          "<plist version=\"1.0\">\n"
                          "<dict>\n"
                          "\t<key>Label</key>\n"
                          "\t<string>%1</string>\n"
                          "\t<key>ProgramArguments</key>\n"
                          "\t<array>\n"
                          "\t\t<string>%2</string>\n"
                          "\t</array>\n"
                          "\t<key>RunAtLoad</key>\n"
                          "\t<true/>\n"
                          "\t<key>ProcessType</key>\n"
                          "\t<string>Interactive</string>\n"
                          "</dict>\n"
                          "</plist>\n")
        .arg(label.toHtmlEscaped(), programPath.toHtmlEscaped())
        .toUtf8();
}

std::optional<QString> write(const QString &path, const QByteArray &contents)
{
    const QString folder = QFileInfo(path).path();
    if (!QDir().mkpath(folder))
        return QCoreApplication::translate("StartAtLogin", "Cannot create the folder %1").arg(folder);
    // QSaveFile writes a link's target; the entry must be a file of its own.
    if (QFileInfo(path).isSymLink() && !QFile::remove(path))
        return QCoreApplication::translate("StartAtLogin", "Cannot replace the link %1").arg(path);
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size() && file.commit())
        return std::nullopt;
    return QCoreApplication::translate("StartAtLogin", "Cannot write %1: %2").arg(path, file.errorString());
}

std::optional<QString> remove(const QString &path)
{
    QFile file(path);
    if (file.exists() && !file.remove())
        return QCoreApplication::translate("StartAtLogin", "Cannot remove %1: %2").arg(path, file.errorString());
    return std::nullopt;
}

} // namespace AutostartFiles
