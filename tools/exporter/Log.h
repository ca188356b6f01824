// The exporter's one voice: each message a line on stderr,
// "zashchita-exporter: what". Under systemd, when stderr is the journal's
// stream, each line starts with its priority ("<3>"), which journald takes
// as the entry's level and strips. Messages below the least level set are
// left out.
#pragma once

#include <QString>

#include <cstdio>

enum class LogLevel { Error = 3, Warning = 4, Info = 6, Debug = 7 };

class Log {
public:
    // Writes to `to`, with priorities when $JOURNAL_STREAM names it.
    explicit Log(std::FILE* to = stderr);

    void SetLeast(LogLevel least) { least_ = least; }
    void Write(LogLevel level, const QString& text) const;
    void Error(const QString& text) const { Write(LogLevel::Error, text); }
    void Warning(const QString& text) const { Write(LogLevel::Warning, text); }
    void Info(const QString& text) const { Write(LogLevel::Info, text); }

    // Whether `fd` is the stream $JOURNAL_STREAM ("DEVICE:INODE") names.
    static bool IsJournalStream(int fd);

private:
    std::FILE* to_;
    bool journal_;
    LogLevel least_ = LogLevel::Info;
};
