// The exporter's Modbus TCP server: ModbusProtocol on a BoundedServer of
// its own (a thread of its own, apart from the pollers' and the HTTP
// side's), with its counts for /metrics: zashchita_modbus_clients
// (connected now), zashchita_modbus_requests_total{function,result} and
// zashchita_modbus_connections_closed_total{reason}.
#pragma once

#include <prometheus/collectable.h>

#include <memory>
#include <string>

#include "BoundedServer.h"
#include "ModbusProtocol.h"
#include "ServedRegisters.h"

class ModbusServer {
public:
    // A SCADA keeps its connection and asks every second or so: an idle
    // minute is allowed; a request (at most 260 bytes) must be whole within
    // 10 s of its first byte, and its answer taken within 10 s. Its thread
    // runs niced, behind the line pollers'.
    static ServerLimits DefaultLimits();

    explicit ModbusServer(const ServedRegisters& registers, ServerLimits limits = DefaultLimits());
    ~ModbusServer();

    // Its counts, to serve on /metrics (from before Start on).
    std::shared_ptr<prometheus::Collectable> Metrics() const { return metrics_; }
    // Listens on HOST:PORT and serves; false with *error.
    bool Start(const std::string& hostPort, std::string* error);
    int Port() const { return server_.Port(); }

private:
    class Counts;

    const ServedRegisters& registers_;
    ModbusCounts counts_;
    BoundedServer server_;
    std::shared_ptr<prometheus::Collectable> metrics_;
};
