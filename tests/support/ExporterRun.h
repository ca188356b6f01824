// zashchita-exporter run as a process for a test, and what a test needs
// around it: a free port, a plain HTTP GET, a sample read from /metrics.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QThread>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

// A TCP port of 127.0.0.1 free at the moment of asking.
inline int FreePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    close(fd);
    return ntohs(a.sin_port);
}

// A connection to 127.0.0.1:port whose reads give up after 5 s without a
// byte; -1 when it is refused.
inline int ConnectLoopback(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    timeval timeout{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
        return fd;
    close(fd);
    return -1;
}

struct HttpReply {
    int status = 0;   // 0: no connection
    QByteArray body;
};

// GET http://127.0.0.1:port/target (target already URL-encoded).
inline HttpReply HttpGet(int port, const QByteArray& target)
{
    HttpReply reply;
    const int fd = ConnectLoopback(port);
    if (fd < 0)
        return reply;
    const QByteArray request = "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL);
    QByteArray all;
    char buf[8192];
    for (ssize_t n; (n = recv(fd, buf, sizeof buf, 0)) > 0;)
        all.append(buf, n);
    close(fd);
    const qsizetype split = all.indexOf("\r\n\r\n");
    reply.status = all.mid(9, 3).toInt();
    reply.body = split < 0 ? QByteArray() : all.mid(split + 4);
    return reply;
}

// The value of the sample `series` (name and labels as the text format
// writes them, labels in name order) in a /metrics text.
inline std::optional<double> Sample(const QByteArray& text, const QByteArray& series)
{
    for (const QByteArray& line : text.split('\n'))
        if (line.startsWith(series + ' '))
            return line.mid(series.size() + 1).toDouble();
    return std::nullopt;
}

// The sum of every sample of the metric `name`.
inline double SampleSum(const QByteArray& text, const QByteArray& name)
{
    double sum = 0;
    for (const QByteArray& line : text.split('\n'))
        if (line.startsWith(name + '{') || line.startsWith(name + ' '))
            sum += line.mid(line.lastIndexOf(' ') + 1).toDouble();
    return sum;
}

inline void WriteText(const QString& path, const QByteArray& text)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(text);
}

// Polls `done` every 100 ms for up to `ms`.
template <class Done>
bool WaitFor(Done done, int ms)
{
    for (int waited = 0; waited <= ms; waited += 100) {
        if (done())
            return true;
        QThread::msleep(100);
    }
    return false;
}

// Sends `request` to 127.0.0.1:port and returns all that comes back until
// the server closes (or 5 s pass without a byte).
inline QByteArray Exchange(int port, const QByteArray& request)
{
    const int fd = ConnectLoopback(port);
    QByteArray all;
    if (fd >= 0) {
        send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL);
        char buf[8192];
        for (ssize_t n; (n = recv(fd, buf, sizeof buf, 0)) > 0;)
            all.append(buf, n);
        close(fd);
    }
    return all;
}

class ExporterProcess {
public:
    // `more`: further arguments; with them the exporter is taken as ready
    // once its port takes a connection (it may speak TLS).
    // `errorFile`: where its stderr goes (default: the test's). On `port`, or a free one.
    ExporterProcess(const QString& config, const QString& stateDir, const QStringList& more = {},
                    const QString& errorFile = {}, int port = 0)
        : port_(port ? port : FreePort())
    {
        if (errorFile.isEmpty())
            process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        else
            process_.setStandardErrorFile(errorFile);
        process_.start(QStringLiteral(ZASHCHITA_EXPORTER_PATH),
                       QStringList{QStringLiteral("--config"), config, QStringLiteral("--listen"),
                                   QStringLiteral("127.0.0.1:%1").arg(port_), QStringLiteral("--state-dir"), stateDir}
                           + more);
        process_.waitForStarted();
        WaitFor([&] { return more.isEmpty() ? HttpGet(port_, "/").status == 200 : Connectable(port_); }, 10000);
    }
    static bool Connectable(int port)
    {
        const int fd = ConnectLoopback(port);
        if (fd >= 0)
            close(fd);
        return fd >= 0;
    }
    bool Running() const { return process_.state() == QProcess::Running; }
    ~ExporterProcess() { Stop(); }
    int Port() const { return port_; }
    QByteArray Metrics() const { return HttpGet(port_, "/metrics").body; }
    void Signal(int signal) const { ::kill(pid_t(process_.processId()), signal); }
    // Its exit status once it ended by itself within `ms`; -1 when killed
    // by a signal or still running after `ms`.
    int WaitExit(int ms)
    {
        if (process_.state() != QProcess::NotRunning && !process_.waitForFinished(ms))
            return -1;
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }
    int Stop()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(10000))
                process_.kill();
        }
        return process_.exitCode();
    }

private:
    int port_;
    QProcess process_;
};
