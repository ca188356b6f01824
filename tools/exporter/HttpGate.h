// What the exporter's HTTP server answers besides /metrics: a short page at
// "/", 404 for every other path and 405 for every method but GET and HEAD.
// prometheus-cpp's exposer serves /metrics; this is its server's first look
// at each request.
#pragma once

struct CivetCallbacks;

// Callbacks for prometheus::Exposer; valid for the program's life.
const CivetCallbacks* HttpGateCallbacks();
