// A file replaced whole or not at all: the new content goes to a temporary
// file beside the target (created with O_EXCL), is synced and closed, and only
// then renamed over the target. On any failure the temporary is removed and an
// earlier file at the path stays byte for byte. Needs only Qt Core and POSIX,
// so that any program of the project saves its files this one way: the
// settings files and the sheet, and the event records' reports.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>
#include <sys/types.h>

// The system's text for an errno value, in English whatever the locale, so
// that a message stays in one language: "No space left on device".
QString SystemReason(int error);

// Whether `path` could be written now: its directory exists and may be
// written, and an existing file there is a regular file that may be written.
// On false, `reason` says why ("Permission denied", "is a directory").
// A symbolic link is judged by the file it points to.
bool CheckWritable(const QString& path, QString& reason);

// How a file is replaced. The defaults suit a file for its owner only.
struct AtomicWrite {
    // Empty: the temporary gets a fresh random name (target + ".XXXXXX").
    // Else the temporary is target + this suffix, and one of that name left
    // by a run that died mid-write is replaced.
    QByteArray temporarySuffix;
    // The new file's permissions (narrowed by the umask) ...
    mode_t newFileMode = 0600;
    // ... or, when it replaces one, the permissions of the file it replaces.
    bool keepEarlierMode = false;
    // One write() per line rather than one for the whole content.
    bool lineByLine = false;
};

// What a failed write found: the errno value (EISDIR for a directory at the
// path, EINVAL for another file that is no regular file) and its text.
struct AtomicWriteFailure {
    int error = 0;
    QString reason;
};

// Replaces the file at `path` with `bytes` as described above; nothing on
// success. An existing file at the path that is no regular file or may not
// be opened for writing (read-only) is left alone and refused. A symbolic
// link at `path` keeps pointing where it did; the file it points to is
// replaced.
std::optional<AtomicWriteFailure> ReplaceFile(const QString& path, const QByteArray& bytes, const AtomicWrite& how);

// ReplaceFile with the defaults: false with the reason on failure.
bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString& reason);

// Steps of a write, in order; Write comes once per write() call.
enum class WriteStep { Probe, Create, Write, Sync, Close, Rename };

// Called before each step; a non-zero result fails that step with that
// error code as if the system had returned it. Lets tests fail steps that a
// real file system will not fail on demand. Returns the previous hook.
using WriteFaultHook = std::function<int(WriteStep)>;
WriteFaultHook SetWriteFaultHook(WriteFaultHook hook);
