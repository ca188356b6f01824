// The relay simulator's --log file read back: every frame it received, in
// order, and the register writes among them.
#pragma once

#include <QFile>
#include <QString>

#include <cstdint>
#include <vector>

#include "support/RelaySim.h"

using Frame = std::vector<uint8_t>;

inline std::vector<Frame> LoggedFrames(const QString& path)
{
    std::vector<Frame> frames;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return frames;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        Frame f;
        for (const QByteArray& hex : line.trimmed().split(' '))
            f.push_back(uint8_t(hex.toUInt(nullptr, 16)));
        frames.push_back(f);
    }
    return frames;
}

// The function-6 frames among `frames`.
inline std::vector<Frame> Writes(const std::vector<Frame>& frames)
{
    std::vector<Frame> out;
    for (const Frame& f : frames)
        if (f.size() == 8 && f[1] == 6)
            out.push_back(f);
    return out;
}

// The write of `value` to `reg` for slave 1, with its CRC.
inline Frame WriteFrame(int reg, int value)
{
    return RelaySim::writeRequest(1, uint16_t(reg), uint16_t(value));
}
