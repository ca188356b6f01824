// Puts every write a relay session ends into the journal: hooked to the
// session's writeEnded, so every write of a front end is journalled whatever
// made it (a setting's ENTER, a mask's Ok, the clock, a load from a file, the
// companion). The value before is the register's value as last read through
// the same session, kept from its blockRead. The journal is written after
// the write has ended and its failure never stops a write: it is told once
// (journalFailed) until a line is written again.
#pragma once

#include <QHash>
#include <QObject>
#include <QString>

#include <functional>

#include "link/RelaySession.h"
#include "settings/Journal.h"

class JournalRecorder : public QObject {
    Q_OBJECT
public:
    // `program` names the front end in the journal: "zashchita", "zashchita-cli".
    JournalRecorder(RelaySession& session, const QString& program, const QString& path = JournalPath(),
                    QObject* parent = nullptr);

    const QString& Path() const { return path_; }
    // The PC's clock; tests put another in its place.
    std::function<QDateTime()> Now;

    // The entry a write result makes, as it would be journalled now.
    JournalEntry EntryFor(const WriteResult& result) const;

signals:
    // The journal could not be written: once, until a line is written again.
    void journalFailed(const QString& path, const QString& reason);

private:
    void blockRead(const RegisterValues& values);
    void writeEnded(const WriteResult& result);

    RelaySession& session_;
    QString program_;
    QString path_;
    QHash<int, uint16_t> lastRead_;   // by slave address << 16 | register
    bool failing_ = false;
};
