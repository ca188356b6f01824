// The event records' registers and pages.
#pragma once

#include <QString>

#include "link/RegisterValues.h"

constexpr int kRecordCount = 4;
constexpr int kFirstRecordRegister = 128;
constexpr int kRecordLength = 17;

// The block of record 1 to 4, and the page that shows it ("Протокол1" is page 3).
constexpr RegisterBlock RecordBlock(int record)
{
    return {kFirstRecordRegister + kRecordLength * (record - 1), kRecordLength};
}
constexpr int RecordPage(int record) { return record + 2; }
// The record's name as its tab and the companion show it: "Протокол1".
inline QString RecordName(int record) { return QStringLiteral("Протокол%1").arg(record); }
