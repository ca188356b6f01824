// The relay simulator's --log file read back: every frame it received, in
// order, and the register writes among them; and its --timing file: every
// frame on the line with the times of its first and last bytes, and the
// silence a master kept before each of its requests.
#pragma once

#include <QFile>
#include <QList>
#include <QString>

#include <cstdint>
#include <vector>

#include "support/RelaySim.h"

using Frame = std::vector<uint8_t>;

// The lines of a file, without empty ones and surrounding blanks.
inline QList<QByteArray> SimLogLines(const QString& path)
{
    QList<QByteArray> lines;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (!line.trimmed().isEmpty())
            lines.push_back(line.trimmed());
    return lines;
}

inline std::vector<Frame> LoggedFrames(const QString& path)
{
    std::vector<Frame> frames;
    for (const QByteArray& line : SimLogLines(path)) {
        Frame f;
        for (const QByteArray& hex : line.split(' '))
            f.push_back(uint8_t(hex.toUInt(nullptr, 16)));
        frames.push_back(f);
    }
    return frames;
}

// Quiet time the line needs between frames at 9600 8N1: 3.5 characters of
// 10 bits, rounded up to the nanosecond.
constexpr int64_t kRequiredSilenceNs = (35LL * 1'000'000'000 + 9'600 - 1) / 9'600;

// One line of the --timing file.
struct TimedFrame {
    bool sent = false;    // TX: the simulator's frame; RX: a request it received
    int64_t firstNs = 0;  // CLOCK_MONOTONIC of its first and last bytes
    int64_t lastNs = 0;
    Frame bytes;
    bool unasked = false; // [unasked]: a frame nobody asked for
    bool gateway = false; // [gateway]: made by the Modbus TCP gateway, not by a relay
};

inline std::vector<TimedFrame> LoggedTimings(const QString& path)
{
    std::vector<TimedFrame> entries;
    for (const QByteArray& line : SimLogLines(path)) {
        const QList<QByteArray> words = line.split(' ');
        if (words.size() < 3 || (words[0] != "TX" && words[0] != "RX"))
            continue;
        TimedFrame e;
        e.sent = words[0] == "TX";
        e.firstNs = words[1].toLongLong();
        e.lastNs = words[2].toLongLong();
        for (qsizetype i = 3; i < words.size(); ++i) {
            if (words[i] == "[unasked]")
                e.unasked = true;
            else if (words[i] == "[gateway]")
                e.gateway = true;
            else
                e.bytes.push_back(uint8_t(words[i].toUInt(nullptr, 16)));
        }
        entries.push_back(e);
    }
    return entries;
}

// The silence before a request: from the last byte of the simulator's
// frame that went out last before it, to its own first byte.
struct SilenceBefore {
    Frame request;
    Frame previous;       // the simulator's frame it is measured from
    int64_t silenceNs = 0; // negative: the request began while that frame was still going out
};

// For every request that has a simulator's frame begun before it, the
// silence since that frame's last byte. A frame still under way when the
// request began counts with its end, so a collision shows as a negative
// silence rather than being measured from an earlier frame.
inline std::vector<SilenceBefore> SilencesBeforeRequests(const std::vector<TimedFrame>& entries)
{
    std::vector<SilenceBefore> out;
    for (const TimedFrame& rx : entries) {
        if (rx.sent)
            continue;
        const TimedFrame* previous = nullptr;
        for (const TimedFrame& tx : entries)
            if (tx.sent && tx.firstNs <= rx.firstNs && (!previous || tx.lastNs > previous->lastNs))
                previous = &tx;
        if (previous)
            out.push_back(SilenceBefore{rx.bytes, previous->bytes, rx.firstNs - previous->lastNs});
    }
    return out;
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
