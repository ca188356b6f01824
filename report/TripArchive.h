// The archive of event records: the relay keeps only its last four, so every
// record the exporter sees is appended once, as a JSON line, to a file in its
// state directory. The records already there are known again after a
// restart and never added twice.
#pragma once

#include <QDateTime>
#include <QSet>
#include <QString>

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "exchanges/EventRecords.h"

// A record of a relay as archived. A relay whose four slots were all empty
// at the exporter's first look at it is archived as a line of history with
// no registers (slot 0), so that a later start knows it.
struct ArchivedRecord {
    QDateTime seen;                   // when the exporter first read it (UTC)
    QString line;
    QString relay;
    int address = 0;
    int slot = 0;                     // which of the relay's four records it was read from; 0: none
    QString cause;
    std::vector<uint16_t> registers;  // the record's 17 registers, as read; none: the relay's slots were empty
    bool history = false;             // in the relay when the exporter first looked at it: kept, no trip
};

// What the archive holds of one relay, for the counters of a start.
struct ArchivedRelay {
    std::map<QString, int> trips;           // its records that were trips, by cause
    std::vector<ArchivedRecord> recent;     // the last kRecentTrips of them, oldest first
    static constexpr size_t kRecentTrips = 8;
};

class TripArchive {
public:
    // The file is `path`; Load() reads what it holds.
    explicit TripArchive(QString path);

    // Reads the records archived so far (lines that are no record, as the
    // torn end of a write cut short, are passed over and counted). False
    // when the file exists and cannot be read.
    bool Load(QString* error = nullptr);
    int Skipped() const { return skipped_; }

    // Whether this record of this relay is archived already.
    bool Knows(const QString& line, int address, const std::vector<uint16_t>& registers) const;
    // What is archived of the relay at `address` on `line`; nullptr: nothing yet.
    const ArchivedRelay* Relay(const QString& line, int address) const;

    // Whether records can be added: the folder is made if missing and the
    // file opened for appending (made empty if missing). False with the
    // folder and the system's reason in *error.
    bool CheckWritable(QString* error = nullptr) const;

    // Appends the record, unless known; true when it was added now. A write
    // that fails leaves the file as it was (and the record unknown, so it is
    // tried again when next seen), with the reason in *error.
    bool Add(const ArchivedRecord& record, QString* error = nullptr);

    const QString& Path() const { return path_; }

    // One record as its line in the file, and back.
    static QByteArray LineOf(const ArchivedRecord& record);
    static bool ParseLine(const QByteArray& text, ArchivedRecord& out);

private:
    static QString KeyOf(const QString& line, int address, const std::vector<uint16_t>& registers);
    void keep(const ArchivedRecord& record);

    QString path_;
    QSet<QString> known_;
    std::map<std::pair<QString, int>, ArchivedRelay> relays_;   // by line and address
    int skipped_ = 0;
};

// A short name of one record of one relay (8 hex digits), the same on every
// start and different for two records of one cause: made from what the
// archive knows a record by.
QString RecordId(const QString& line, int address, const std::vector<uint16_t>& registers);
// A record's moment by the relay's own clock, which keeps no year, as its
// fields stand: "12-31 23:59:58".
QString RecordMomentText(const std::vector<uint16_t>& registers);

// A record slot that holds nothing yet (every register 0).
bool IsEmptyRecord(const std::vector<uint16_t>& registers);
