// What the exporter's HTTP side answers, as HTTP/1.1 has it: GET and HEAD of
// /metrics (HEAD: the same head, no body) and of a short page at /, OPTIONS
// (Allow), 404 for any other path, 405 (with Allow) for any other method,
// 400 for a request that is none, 411/413/414/431/505 for what it does not
// take; gzip when asked; basic authentication when users are configured
// (401 with a challenge). Connections are kept alive for a bounded number of
// requests. One HttpSite for the server, one exchange per connection, all
// on the server's thread.
#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "BasicAuth.h"
#include "ConnectionProtocol.h"
#include "MetricsText.h"

class HttpSite {
public:
    static constexpr int kRequestsPerConnection = 1000;
    static constexpr const char* kRealm = "zashchita-exporter";
    // The statuses answered, counted apart.
    static constexpr std::array<int, 11> kStatuses{200, 400, 401, 404, 405, 411, 413, 414, 431, 503, 505};

    // `headers`: added to every answer (the web configuration's own).
    HttpSite(MetricsText& metrics, BasicAuth& auth, std::vector<std::pair<std::string, std::string>> headers);

    std::unique_ptr<ConnectionProtocol> NewExchange(Waker wake);
    // The web configuration's headers from the next answer on (any thread).
    void SetHeaders(const std::vector<std::pair<std::string, std::string>>& headers);
    uint64_t Answered(size_t statusIndex) const { return answered_[statusIndex].load(std::memory_order_relaxed); }

private:
    class Exchange;
    friend class Exchange;
    Reply Answer(int status, const std::string& method, std::string contentType = {},
                 std::shared_ptr<const std::string> body = nullptr, std::string extra = {});
    void Count(int status);

    MetricsText& metrics_;
    BasicAuth& auth_;
    std::mutex headersMutex_;
    std::string headers_;   // the configured ones, each "Name: value\r\n"; under the mutex
    std::array<std::atomic<uint64_t>, kStatuses.size()> answered_{};
};
