#include "HttpGate.h"

#include <CivetServer.h>
#include <civetweb.h>

#include <cstring>

#include "ZashchitaVersion.h"

namespace {

const char kPage[] =
    "<!DOCTYPE html>\n<html><head><title>zashchita-exporter</title></head>\n"
    "<body><h1>zashchita-exporter " ZASHCHITA_VERSION "</h1>\n"
    "<p>The relays' metrics are at <a href=\"/metrics\">/metrics</a>.</p></body></html>\n";

int BeginRequest(mg_connection* connection)
{
    const mg_request_info* info = mg_get_request_info(connection);
    const char* method = info && info->request_method ? info->request_method : "";
    const char* uri = info && info->local_uri ? info->local_uri : "";
    const bool head = std::strcmp(method, "HEAD") == 0;
    if (std::strcmp(method, "GET") != 0 && !head) {
        mg_send_http_error(connection, 405, "Only GET and HEAD are served.\n");
        return 405;
    }
    if (std::strcmp(uri, "/metrics") == 0)
        return 0;   // the exposer's own
    if (std::strcmp(uri, "/") == 0) {
        mg_send_http_ok(connection, "text/html; charset=utf-8", (long long)(sizeof kPage - 1));
        if (!head)
            mg_write(connection, kPage, sizeof kPage - 1);
        return 200;
    }
    mg_send_http_error(connection, 404, "Not found: the metrics are at /metrics.\n");
    return 404;
}

}  // namespace

const CivetCallbacks* HttpGateCallbacks()
{
    static const CivetCallbacks callbacks = [] {
        CivetCallbacks c;
        c.begin_request = BeginRequest;
        return c;
    }();
    return &callbacks;
}
