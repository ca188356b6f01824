#include "WebServer.h"

#include <prometheus/metric_family.h>

class WebServer::Counts : public prometheus::Collectable {
public:
    Counts(const WebServer& server) : server_(server) {}

    std::vector<prometheus::MetricFamily> Collect() const override
    {
        const ServerStats& stats = server_.server_->Stats();
        std::vector<prometheus::MetricFamily> families;
        auto family = [&](const char* name, const char* help, prometheus::MetricType type) -> prometheus::MetricFamily& {
            families.push_back({name, help, type, {}});
            return families.back();
        };
        auto sample = [](prometheus::MetricFamily& f, double value, prometheus::ClientMetric::Label label = {}) {
            prometheus::ClientMetric m;
            if (!label.name.empty())
                m.label.push_back(label);
            (f.type == prometheus::MetricType::Counter ? m.counter.value : m.gauge.value) = value;
            f.metric.push_back(m);
        };
        sample(family("zashchita_exporter_http_connections", "HTTP connections open", prometheus::MetricType::Gauge),
               double(stats.open.load()));
        sample(family("zashchita_exporter_http_connections_accepted_total", "HTTP connections accepted",
                      prometheus::MetricType::Counter),
               double(stats.accepted.load()));
        auto& closed = family("zashchita_exporter_http_connections_closed_total",
                              "HTTP connections closed, by what closed them", prometheus::MetricType::Counter);
        for (size_t r = 0; r < size_t(CloseReason::Count); ++r)
            sample(closed, double(stats.closed[r].load()), {"reason", CloseReasonName(CloseReason(r))});
        auto& answered = family("zashchita_exporter_http_answers_total", "HTTP requests answered, by status",
                                prometheus::MetricType::Counter);
        for (size_t k = 0; k < HttpSite::kStatuses.size(); ++k)
            sample(answered, double(server_.site_.Answered(k)), {"code", std::to_string(HttpSite::kStatuses[k])});
        return families;
    }

private:
    const WebServer& server_;
};

WebServer::WebServer(const WebConfig& config, ServerLimits limits)
    : config_(config), limits_(limits), auth_(config.users), site_(metrics_, auth_, config.headers)
{
}

WebServer::~WebServer()
{
    // The server first: nothing then waits on the checks of credentials.
    if (server_)
        server_->Stop();
}

bool WebServer::Prepare(std::string* error)
{
    if (config_.tls && !tls_)
        tls_ = MakeTlsContext(*config_.tls, error);
    return !config_.tls || tls_;
}

bool WebServer::Replace(const WebConfig& next, std::string* error)
{
    std::shared_ptr<SSL_CTX> tls;
    if (next.tls && !(tls = MakeTlsContext(*next.tls, error)))
        return false;
    config_ = next;
    tls_ = tls;
    auth_.SetUsers(config_.users);
    site_.SetHeaders(config_.headers);
    if (server_)
        server_->SetTls(tls_);
    return true;
}

void WebServer::Serve(std::weak_ptr<prometheus::Collectable> collectable)
{
    metrics_.Add(std::move(collectable));
}

bool WebServer::Start(const std::string& hostPort, std::string* error)
{
    if (!Prepare(error))
        return false;
    server_ = std::make_unique<BoundedServer>(
        limits_, [this](Waker wake) { return site_.NewExchange(std::move(wake)); }, tls_);
    if (!server_->Listen(hostPort, error))
        return false;
    counts_ = std::make_shared<Counts>(*this);
    metrics_.Add(counts_);
    server_->Start();
    return true;
}
