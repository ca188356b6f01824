// The signals the exporter takes as a service: SIGTERM and SIGINT end it
// (status 0, after its lines are stopped and its archive written), SIGHUP
// reads its configuration again. They are blocked at the start of main(),
// before any thread is made, so that every thread inherits the block and no
// signal's default action ends the process; the event loop reads them from
// a signalfd.
#pragma once

#include <QObject>

#include <functional>

void BlockServiceSignals();
// Calls `handle` with each signal that came, from the event loop of
// `owner`'s thread; the watch ends with `owner`.
void WatchServiceSignals(QObject* owner, std::function<void(int signal)> handle);
