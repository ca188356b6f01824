// Writing an event record's report file into the "TXT" folder of the
// process's working directory. The window's report buttons call
// WriteRecordReport and show the message of a failed outcome in a box.
#pragma once

#include <QByteArray>
#include <QString>

#include "report/RecordReport.h"

struct ReportOutcome {
    bool ok = true;
    QString message;  // text for the message box when !ok
};

// The whole click of a report button: EnterReportFolder, the stale
// temporaries removed, then the record's "Protokol<record>.txt" there. Leaves the working directory in "TXT".
ReportOutcome WriteRecordReport(int record, const RecordReportTexts& texts);

// Goes into the report folder: unless the working directory's path already
// holds "/TXT", makes a "TXT" subdirectory if there is none; then changes
// into "TXT". Failures are ignored and leave the working directory as it
// was. So the first report moves the process into TXT for the rest of the
// run, and later reports find "/TXT" in the path and stay there.
void EnterReportFolder();

// Removes the temporaries that reports killed mid-write left in the working
// directory: "Protokol<n>.txt.<pid>.tmp" of a process that has ended, or of
// this one. Nothing else is touched; a failure is ignored.
void RemoveStaleTemporaries();

// Writes `bytes` as the file `name` in the working directory, one write per
// line, through ReplaceFile (settings/AtomicFile.h): the temporary is
// "<name>.<pid>.tmp", the report keeps the permissions the user gave an
// earlier one, a failure leaves an earlier report as it was, and a report
// file that could not be opened for writing is not replaced.
ReportOutcome WriteReportFile(const QString& name, const QByteArray& bytes);

// The message box text for an operating system error code.
QString ReportErrorText(int osError);
