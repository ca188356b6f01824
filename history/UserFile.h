// Files the user keeps and hands on (trend exports, motor start records, the
// trend history) are replaced whole or not at all, as settings/AtomicFile
// does, but with the permissions the umask gives any new file (0644 under
// the usual 022), or those of the file they replace, not for the owner only.
#pragma once

#include <QByteArray>
#include <QString>

#include "settings/AtomicFile.h"

inline AtomicWrite UserFileWrite()
{
    AtomicWrite how;
    how.newFileMode = 0666;   // narrowed by the umask
    how.keepEarlierMode = true;
    return how;
}

inline bool WriteUserFile(const QString& path, const QByteArray& bytes, QString& reason)
{
    const std::optional<AtomicWriteFailure> failure = ReplaceFile(path, bytes, UserFileWrite());
    if (failure)
        reason = failure->reason;
    return !failure;
}
