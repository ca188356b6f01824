#include "ModbusServer.h"

#include <prometheus/metric_family.h>

#include "link/Mbap.h"

namespace {

constexpr int kMaxConnections = 64;
// The functions whose counts are shown even while 0: the two that read.
constexpr uint8_t kReadFunctions[] = {3, 4};

}  // namespace

class ModbusServer::Counts : public prometheus::Collectable {
public:
    explicit Counts(const ModbusServer& server) : server_(server) {}

    std::vector<prometheus::MetricFamily> Collect() const override
    {
        using prometheus::MetricType;
        std::vector<prometheus::MetricFamily> families;
        auto sample = [](prometheus::MetricFamily& f, double value, std::vector<prometheus::ClientMetric::Label> labels) {
            prometheus::ClientMetric m;
            m.label = std::move(labels);
            (f.type == MetricType::Counter ? m.counter.value : m.gauge.value) = value;
            f.metric.push_back(m);
        };
        const ServerStats& stats = server_.server_.Stats();
        families.push_back({"zashchita_modbus_clients", "Modbus TCP clients connected", MetricType::Gauge, {}});
        sample(families.back(), double(stats.open.load()), {});

        families.push_back({"zashchita_modbus_requests_total",
                            "Modbus TCP requests answered, by function code and result (ok or the exception)",
                            MetricType::Counter, {}});
        for (int function = 0; function < 256; ++function) {
            const bool reads = function == kReadFunctions[0] || function == kReadFunctions[1];
            for (size_t r = 0; r < ModbusCounts::kResults.size(); ++r) {
                const uint64_t n = server_.counts_.Of(uint8_t(function), r);
                if (n || (reads && r == 0))
                    sample(families.back(), double(n),
                           {{"function", std::to_string(function)}, {"result", ModbusCounts::ResultName(r)}});
            }
        }

        families.push_back({"zashchita_modbus_connections_closed_total",
                            "Modbus TCP connections closed, by what closed them", MetricType::Counter, {}});
        for (size_t r = 0; r < size_t(CloseReason::Count); ++r)
            if (CloseReason(r) != CloseReason::Tls)
                sample(families.back(), double(stats.closed[r].load()), {{"reason", CloseReasonName(CloseReason(r))}});
        return families;
    }

private:
    const ModbusServer& server_;
};

ServerLimits ModbusServer::DefaultLimits()
{
    ServerLimits limits;
    limits.maxConnections = kMaxConnections;
    limits.idle = std::chrono::seconds(60);
    limits.request = std::chrono::seconds(10);
    limits.answer = std::chrono::seconds(10);
    // One request at most: its header's length is checked before more is read.
    limits.maxRequestBytes = mbap::kLongestAdu;
    // The line pollers come first: on a busy machine an answer waits, never a line.
    limits.niceness = 10;
    return limits;
}

ModbusServer::ModbusServer(const ServedRegisters& registers, ServerLimits limits)
    : registers_(registers)
    , server_(limits, [this](Waker) { return std::make_unique<ModbusProtocol>(registers_, counts_); })
    , metrics_(std::make_shared<Counts>(*this))
{
}

ModbusServer::~ModbusServer()
{
    server_.Stop();
}

bool ModbusServer::Start(const std::string& hostPort, std::string* error)
{
    if (!server_.Listen(hostPort, error))
        return false;
    server_.Start();
    return true;
}
