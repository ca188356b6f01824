// A file replaced whole or not at all: the new content goes to a temporary
// file beside the target (created with O_EXCL, readable by its owner only),
// is synced and closed, and only then renamed over the target. On any failure
// the temporary is removed and an earlier file at the path stays byte for
// byte. Needs only Qt Core and POSIX, so that any program of the project can
// save its files this way.
#pragma once

#include <QByteArray>
#include <QString>

// The system's text for an errno value, in English whatever the locale, so
// that a message stays in one language: "No space left on device".
QString SystemReason(int error);

// Whether `path` could be written now: its directory exists and may be
// written, and an existing file there is a regular file that may be written.
// On false, `reason` says why ("Permission denied", "is a directory").
// A symbolic link is judged by the file it points to.
bool CheckWritable(const QString& path, QString& reason);

// Replaces the file at `path` with `bytes` as described above. The new file
// has mode 0600 (less if the umask says so). A symbolic link at `path` keeps
// pointing where it did; the file it points to is replaced.
bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString& reason);
