// Debian's Prometheus run as a process for a test, on a port of its own,
// with the scrape configuration given, and its HTTP API's instant query.
#pragma once

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QUrl>

#include <vector>

#include "support/ExporterRun.h"

class PrometheusProcess {
public:
    // `scrapeConfigs`: the YAML of scrape_configs' items; every second.
    PrometheusProcess(const QDir& dir, const QByteArray& scrapeConfigs) : port_(FreePort())
    {
        WriteText(dir.filePath(QStringLiteral("prometheus.yml")),
                  "global: {scrape_interval: 1s, evaluation_interval: 1s}\nscrape_configs:\n" + scrapeConfigs);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral("/usr/bin/prometheus"),
                       {QStringLiteral("--config.file=") + dir.filePath(QStringLiteral("prometheus.yml")),
                        QStringLiteral("--storage.tsdb.path=") + dir.filePath(QStringLiteral("tsdb")),
                        QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(port_), QStringLiteral("--log.level=error")});
        process_.waitForStarted();
    }
    ~PrometheusProcess()
    {
        process_.terminate();
        if (!process_.waitForFinished(10000))
            process_.kill();
    }

    // The values of an instant query's series.
    std::vector<double> Query(const QString& promql) const
    {
        const QByteArray target = "/api/v1/query?query=" + QUrl::toPercentEncoding(promql);
        const QJsonObject reply = QJsonDocument::fromJson(HttpGet(port_, target).body).object();
        std::vector<double> values;
        for (const QJsonValue& r : reply.value(QStringLiteral("data")).toObject().value(QStringLiteral("result")).toArray())
            values.push_back(r.toObject().value(QStringLiteral("value")).toArray().at(1).toString().toDouble());
        return values;
    }

private:
    int port_;
    QProcess process_;
};
