// The four event records: 17 registers each from 128, 145, 162 and 179, one
// record per tab "Протокол1" to "Протокол4", and the report file of each.
#include <QFileInfo>
#include <QLineEdit>

#include "exchanges/LocaleFormats.h"
#include "app/MessageBoxes.h"
#include "app/UnitMain.h"
#include "exchanges/EventRecords.h"
#include "exchanges/RelayClock.h"
#include "report/ReportFile.h"

// Decoded into the tab of the record that was asked for, so a tab switch
// while the reply is on its way never puts one record's values under
// another's moment.
void TForm1::ReadProtokolReceive(const RegisterValues& reply)
{
    const int first = reply.block.first;
    const int record = (first - kFirstRecordRegister) / kRecordLength + 1;
    if (first < kFirstRecordRegister || record > kRecordCount)
        return;
    const RelayClockFields f = ClockFieldsAt(first, [&](int reg) { return reply.At(reg); });
    const QDateTime moment = RecordMoment(Now(), f);
    SetTextIfChanged(Control(QStringLiteral("DataP%1").arg(record)), ShortDateText(moment.date()));
    SetTextIfChanged(Control(QStringLiteral("TimeP%1").arg(record)), LongTimeText(moment.time()));
    DecodeReply(registers_.Page(RecordPage(record)), reply, false);
}

// Writes the record its tab shows into "TXT/Protokol<n>.txt": from the texts
// of the tab, with the link up or down. The status bar names the file
// written; a failure is shown and the program carries on.
void TForm1::ButtonP1Click(QObject* Sender)
{
    const QString name = Sender->objectName();
    const int record = name.mid(QStringLiteral("ButtonP").size()).toInt();
    if (record < 1 || record > kRecordCount)
        return;
    auto text = [this](const QString& control) {
        auto* edit = ControlAs<QLineEdit>(control);
        return edit ? edit->text() : QString();
    };
    auto field = [record](int k) { return QStringLiteral("P%1E%2").arg(record).arg(k); };
    RecordReportTexts texts;
    texts.date = text(QStringLiteral("DataP%1").arg(record));
    texts.time = text(QStringLiteral("TimeP%1").arg(record));
    texts.status = text(field(1));
    for (int k = 0; k < kReportValueCount; ++k)
        texts.values[k] = text(field(k + 2));
    const ReportOutcome outcome = WriteRecordReport(record, texts);
    if (!outcome.ok) {
        ShowStatus(QStringLiteral("Отчет не записан: ") + outcome.message);
        ShowErrorMessage(this, {QStringLiteral("Защита"), outcome.message, QString()});
        return;
    }
    // The report is written where the working directory now is (its "TXT").
    ShowStatus(QStringLiteral("Отчет записан в файл ")
               + QFileInfo(QStringLiteral("Protokol%1.txt").arg(record)).absoluteFilePath());
}
