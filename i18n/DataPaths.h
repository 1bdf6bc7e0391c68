#pragma once

#include <QByteArray>
#include <QString>

#ifndef QUARVEL_DEFAULT_DATA_DIR
#define QUARVEL_DEFAULT_DATA_DIR "/usr/share/quarvel"
#endif

/// Folder of the installation data (languages/, theme/, highlight/), without a
/// trailing slash: $QUARVEL_DATA_DIR when set (tests and runs from the build
/// tree), else the installed "/usr/share/quarvel". Thread-safe.
inline QString quarvelDataDir()
{
    const QByteArray env = qgetenv("QUARVEL_DATA_DIR");
    if (!env.isEmpty())
        return QString::fromLocal8Bit(env);
    return QStringLiteral(QUARVEL_DEFAULT_DATA_DIR);
}
