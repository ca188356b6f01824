// The text of /metrics: every collectable given (the registry, the relays'
// series table), collected and written in Prometheus' text format 0.0.4,
// and gzip'd for a client that asks. A text made serves every request that
// comes within kReuse of it, so that many clients asking at once cost one
// text, not one each. Used on the server's thread alone.
#pragma once

#include <prometheus/collectable.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

class MetricsText {
public:
    static constexpr auto kReuse = std::chrono::milliseconds(50);
    static constexpr const char* kContentType = "text/plain; version=0.0.4; charset=utf-8";

    void Add(std::weak_ptr<prometheus::Collectable> collectable);
    std::shared_ptr<const std::string> Get(bool gzip);

private:
    std::vector<std::weak_ptr<prometheus::Collectable>> collectables_;
    std::chrono::steady_clock::time_point made_;
    std::shared_ptr<const std::string> plain_;
    std::shared_ptr<const std::string> gzip_;
};

// `text` in gzip's format (RFC 1952), at a fast level.
std::string Gzip(const std::string& text);
