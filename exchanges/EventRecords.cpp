// The four event records: 17 registers each from 128, 145, 162 and 179, one
// record per tab "Протокол1" to "Протокол4", and the report file of each.
#include <QLineEdit>

#include "app/LocaleFormats.h"
#include "app/MessageBoxes.h"
#include "app/UnitMain.h"
#include "exchanges/EventRecords.h"
#include "exchanges/ExchangeTable.h"
#include "exchanges/RelayClock.h"
#include "report/ReportFile.h"

void TForm1::ReadProtokolTimer()
{
    TxFrame[0] = uint8_t(SlaveAddress);
    TxFrame[1] = kFunctionRead;
    TxFrame[2] = 0;
    // A record number off the four leaves the previous register in place.
    if (ProtokolNumber >= 1 && ProtokolNumber <= kRecordCount)
        TxFrame[3] = uint8_t(RecordBlock(ProtokolNumber).first);
    TxFrame[4] = 0;
    TxFrame[5] = uint8_t(kRecordLength);
}

// Decoded into the tab of the record that was asked for, so a tab switch
// while the reply is on its way never puts one record's values under
// another's moment.
void TForm1::ReadProtokolReceive(const SentRequest& sent)
{
    const int record = (sent.Register() - kFirstRecordRegister) / kRecordLength + 1;
    if (record < 1 || record > kRecordCount)
        return;
    const int first = sent.Register();
    const RelayClockFields f = ClockFieldsAt(first, [&](int reg) { return ReplyRegister(RxBuffer, first, reg); });
    const QDateTime moment = RecordMoment(Now(), f);
    SetTextIfChanged(Control(QStringLiteral("DataP%1").arg(record)), ShortDateText(moment.date()));
    SetTextIfChanged(Control(QStringLiteral("TimeP%1").arg(record)), LongTimeText(moment.time()));
    DecodeReply(registers_.Page(RecordPage(record)), sent, RxBuffer, false);
}

// Writes the record its tab shows into "TXT/Protokol<n>.txt": from the texts
// of the tab, with the link up or down. A failure is shown and the program
// carries on.
void TForm1::ButtonP1Click(QObject* Sender)
{
    const QString name = Sender->objectName();
    const int record = name.mid(QStringLiteral("ButtonP").size()).toInt();
    if (record < 1 || record > kRecordCount)
        return;
    auto text = [this, record](const char* pattern, int k = 0) {
        const QString control = QString::fromLatin1(pattern).arg(record).arg(k);
        auto* edit = ControlAs<QLineEdit>(control);
        return edit ? edit->text() : QString();
    };
    RecordReportTexts texts;
    texts.date = text("DataP%1");
    texts.time = text("TimeP%1");
    texts.status = text("P%1E%2", 1);
    for (int k = 0; k < kReportValueCount; ++k)
        texts.values[k] = text("P%1E%2", k + 2);
    const ReportOutcome outcome = WriteRecordReport(record, texts);
    if (!outcome.ok)
        ShowErrorMessage(this, {QStringLiteral("Защита"), outcome.message, QString()});
}
