#pragma once

#include <QFile>
#include <QString>

// Alive and not merely a zombie waiting for a parent to collect it.
inline bool processRuns(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    const QByteArray fields = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
    const qsizetype state = fields.lastIndexOf(')') + 2; // the field after the name
    return state > 1 && state < fields.size() && fields.at(state) != 'Z';
}
