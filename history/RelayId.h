// Which relay a trend history, a motor start or an export is of: the port
// (the device or endpoint the line was opened on) and the slave address,
// with the name the operator gave it, if any. Two relays are the same when
// port and address are; the name is only what they are called.
#pragma once

#include <QString>

struct RelayId {
    QString port;        // "/dev/ttyUSB0", "tcp://10.0.0.7:4001"; empty: not known
    int address = 0;     // 1 to 247; 0: not known
    QString name;        // the operator's name for it, may be empty

    bool Known() const { return !port.isEmpty() && address > 0; }
    bool SameRelay(const RelayId& other) const { return port == other.port && address == other.address; }

    // "Насос 3 (порт /dev/ttyUSB0, адрес 5)", or without the name; for a
    // relay not known, "реле не указано".
    QString Text() const
    {
        if (!Known())
            return QStringLiteral("реле не указано");
        const QString where = QStringLiteral("порт %1, адрес %2").arg(port).arg(address);
        return name.isEmpty() ? where : QStringLiteral("%1 (%2)").arg(name, where);
    }
};
