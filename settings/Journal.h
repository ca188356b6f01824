// The journal of writes: one JSON line for every register write that the
// window or the companion made to a relay, appended to a file in the user's
// data folder ($XDG_DATA_HOME/zashchita/journal.jsonl). Each line says when,
// from which program, over which device, to which relay and register, what
// the register held before (as last read), what was asked for, and how the
// relay answered. The file is appended to and synced line by line and
// rotated when it grows past kJournalRotateBytes; the older files are kept
// beside it as journal.jsonl.1 (the newest) to journal.jsonl.N.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "link/Outcome.h"

constexpr qint64 kJournalRotateBytes = 1024 * 1024;
constexpr int kJournalKeptFiles = 3;

// A write ends Echoed, Refused, Altered, NoAnswer or Unconfirmed: the
// outcomes a line of the journal may hold.
inline constexpr Outcome kWriteEnds[] = {Outcome::Echoed, Outcome::Refused, Outcome::Altered, Outcome::NoAnswer,
                                         Outcome::Unconfirmed};

struct JournalEntry {
    QString time;      // ISO 8601 with the UTC offset, to the millisecond
    QString program;   // "zashchita" or "zashchita-cli"
    QString device;    // the serial device the frame went out on
    int address = 0;   // the relay's slave address the frame went to
    int reg = -1;
    QString name;      // the setting's name (SE2, NSE1, EditMask1, clock.month), empty if none
    QString caption;
    std::optional<uint16_t> before;   // the register's value as last read, if it was
    uint16_t value = 0;               // what was asked for
    Outcome outcome = Outcome::NoAnswer;
    int exceptionCode = 0;            // Refused
    uint16_t stored = 0;              // Altered
    int tries = 0;                    // sends of the frame, when known
};

// The name and caption of a register a write goes to: a setting or mask of
// the settings block, or a field of the relay's clock; empty when neither.
void WrittenRegisterName(int reg, QString& name, QString& caption);

// The outcome as a word of the file ("echoed", "refused", "altered",
// "no answer", "unconfirmed"), and as a line for a person: "refused: exception 4",
// "the relay stored 500", "no answer after 3 tries".
QString OutcomeWord(Outcome outcome);
QString OutcomeText(const JournalEntry& entry);

// One line of the file, ending in a line feed; and back (false for a line
// that is no entry).
QByteArray JournalLine(const JournalEntry& entry);
bool ParseJournalLine(const QByteArray& line, JournalEntry& entry);

// $XDG_DATA_HOME/zashchita/journal.jsonl, or ~/.local/share/zashchita/...
// when XDG_DATA_HOME is unset, empty or not an absolute path.
QString JournalPath();

// Appends `line` to the journal at `path`, creating its folder and the file
// (owner only) as needed, and rotating the file first when the line would
// take it past kJournalRotateBytes. The line is written with one call and
// synced before this returns. Another process appending at the same time
// waits for the folder's lock. False with the system's reason on failure;
// the journal then holds no part of the line.
bool AppendJournalLine(const QString& path, const QByteArray& line, QString& reason,
                       qint64 rotateBytes = kJournalRotateBytes);

// An entry's line is a few hundred bytes; a longer line is no entry.
constexpr qsizetype kMaxJournalLineBytes = 16 * 1024;
// What ReadJournal keeps at most: the newest entries.
constexpr size_t kJournalKeptEntries = 10000;

struct JournalScan {
    qint64 entries = 0;      // lines that are entries, handed on
    qint64 unreadable = 0;   // lines that are no entry
    QString failure;         // a file that exists and cannot be read, or is no regular file
};
// Hands every entry of the journal at `path` to `each`, oldest first, over
// the rotated files too, reading a bounded piece at a time whatever the
// files' size; `each` returns false to stop. Stops at the first file that
// fails: a journal whose folder is a file fails too (not a directory).
JournalScan ScanJournal(const QString& path, const std::function<bool(const JournalEntry&)>& each);

struct JournalRead {
    std::vector<JournalEntry> entries;   // the newest `keep`, oldest first
    qint64 left = 0;                     // older entries not kept
    qint64 unreadable = 0;               // lines that are no entry
    QString failure;                     // as JournalScan's
};
JournalRead ReadJournal(const QString& path, size_t keep = kJournalKeptEntries);
