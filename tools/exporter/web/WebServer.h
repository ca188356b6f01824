// The exporter's HTTP side: /metrics and its page served by a BoundedServer
// on a thread of its own (a scrape's text is made there, never on the
// pollers' thread), plain or with TLS, with basic authentication when the
// web configuration has users. It also serves its own counts:
// zashchita_exporter_http_connections (open now), ..._accepted_total,
// ..._closed_total{reason} and zashchita_exporter_http_answers_total{code}.
#pragma once

#include <prometheus/collectable.h>

#include <memory>
#include <string>

#include "BasicAuth.h"
#include "BoundedServer.h"
#include "HttpSite.h"
#include "MetricsText.h"
#include "WebConfig.h"

class WebServer {
public:
    explicit WebServer(const WebConfig& config, ServerLimits limits = {});
    ~WebServer();

    // Reads the TLS files; false with *error naming the one at fault.
    bool Prepare(std::string* error);
    // Adds a collectable's text to /metrics; before Start.
    void Serve(std::weak_ptr<prometheus::Collectable> collectable);
    // Listens on HOST:PORT and serves; false with *error.
    bool Start(const std::string& hostPort, std::string* error);
    // Takes `next` (the web configuration read again) for the connections
    // that come from now on: its users, headers and TLS, its files read
    // first. False with *error naming the file at fault, and nothing changed.
    bool Replace(const WebConfig& next, std::string* error);
    bool Tls() const { return config_.tls.has_value(); }
    int Port() const { return server_ ? server_->Port() : 0; }

private:
    class Counts;

    WebConfig config_;
    const ServerLimits limits_;
    std::shared_ptr<SSL_CTX> tls_;
    MetricsText metrics_;
    std::unique_ptr<BoundedServer> server_;
    BasicAuth auth_;
    HttpSite site_;
    std::shared_ptr<Counts> counts_;
};
