// Writing an event record's report file into the "TXT" folder of the
// process's working directory. The window's report buttons call
// WriteRecordReport and show the message of a failed outcome in a box.
#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

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
// line. The content goes into a temporary file beside it and replaces the
// old file only when complete, so a failure leaves an earlier report as it
// was. A report file that could not be opened for writing is not replaced.
ReportOutcome WriteReportFile(const QString& name, const QByteArray& bytes);

// The message box text for an operating system error code.
QString ReportErrorText(int osError);

// Steps of WriteReportFile, in order. Write comes once per line.
enum class ReportStep { Probe, Create, Write, Sync, Close, Rename };

// Called before each step; a non-zero result fails that step with that
// error code as if the system had returned it. Lets tests fail steps that
// a real file system will not fail on demand. Returns the previous hook.
using ReportFaultHook = std::function<int(ReportStep)>;
ReportFaultHook SetReportFaultHook(ReportFaultHook hook);
