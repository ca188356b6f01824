// The text of an event record's report file: fourteen lines made from the
// texts a record tab shows, in the Windows-1251 code page with CR LF ends.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Number of value lines: phase currents to start current. The start time
// and the status lamps are not part of a report.
inline constexpr int kReportValueCount = 10;

// Texts of one record tab as the record exchange last filled them (for
// record n: DataPn, TimePn, PnE1 and PnE2..PnE11). Empty on a tab that has
// never been filled.
struct RecordReportTexts {
    QString date, time, status;
    QString values[kReportValueCount];
};

// "Protokol<n>.txt".
QString ReportFileName(int record);

// The report's lines without their ends, as Unicode text.
QStringList ReportLines(int record, const RecordReportTexts& texts);

// The file's bytes: every line in Windows-1251 followed by CR LF, the last
// included. Characters the code page lacks become Qt's substitute byte.
// Empty only if this Qt build cannot encode Windows-1251.
QByteArray ReportFileBytes(int record, const RecordReportTexts& texts);
