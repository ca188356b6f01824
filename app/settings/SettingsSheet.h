// The settings sheet: one A4 document for the commissioning record, written
// with Qt's own PDF writer as text (so it can be searched and checked): a
// header (program and version, relay address, port, date and time, the
// object's name), every setpoint and configuration value with caption and
// unit, the three masks as tables of their bits' captions and states, and
// the relay's clock.
#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

struct SheetLine {
    QString caption;
    QString value;
    QString unit;
    bool secret = false;   // the relay's password: printed masked unless asked for
};

// What a secret line shows in place of its value, the same whatever the value.
inline const QString kMaskedValue = QStringLiteral("******");

struct SheetMask {
    QString caption;     // "Маска защит на отключение"
    int reg = -1;
    QString bitText;     // "00000000 01011011"
    struct Bit {
        int bit = 0;
        QString caption;   // the check box's caption, empty for a bit without one
        bool set = false;
    };
    std::vector<Bit> bits;   // bit 0 first
};

struct SheetContent {
    QString program;      // "Защита 5.1"
    QString address;
    QString port;         // "COM1 (/dev/ttyUSB0)"
    QString moment;       // when the relay was read, as the window shows dates and times
    QString objectName;   // typed by the user; may be empty
    QString relayClock;
    std::vector<SheetLine> setpoints;
    std::vector<SheetLine> configuration;
    std::vector<SheetMask> masks;
};

// The PDF document's bytes.
QByteArray SettingsSheetPdf(const SheetContent& content);
