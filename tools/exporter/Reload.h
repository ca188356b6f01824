// What SIGHUP does: the configuration (--config) and the web configuration
// (--web.config.file) read again and checked as --check-config checks them,
// the web configuration's files included. Both sound: the web side takes
// them for the connections that come next, the Modbus TCP server its units,
// and the plant its lines (those unchanged poll on without a pause); the reload gauge goes to 1 with its
// time. A fault in either: nothing changes, each fault is logged with its
// file, line and column, and the gauge goes to 0.
#pragma once

#include <QtGlobal>

#include "Arguments.h"

class Log;
class Plant;
class PrometheusOutput;
class ServedRegisters;
class WebServer;

struct ReloadTargets {
    Plant& plant;
    WebServer& web;
    PrometheusOutput& metrics;
    const Log& log;
    ServedRegisters* served = nullptr;   // the Modbus TCP server's registers, when it serves
};

// True when applied.
bool ReloadConfiguration(const ExporterArguments& args, const ReloadTargets& to, qint64 unixMs);
