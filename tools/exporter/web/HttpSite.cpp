#include "HttpSite.h"

#include <cstdio>
#include <ctime>

#include "HttpRequest.h"
#include "ZashchitaVersion.h"

namespace {

const char kAllow[] = "Allow: GET, HEAD, OPTIONS\r\n";

const char kPage[] =
    "<!DOCTYPE html>\n<html><head><title>zashchita-exporter</title></head>\n"
    "<body><h1>zashchita-exporter " ZASHCHITA_VERSION "</h1>\n"
    "<p>The relays' metrics are at <a href=\"/metrics\">/metrics</a>.</p></body></html>\n";

const char* ReasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 411: return "Length Required";
    case 413: return "Content Too Large";
    case 414: return "URI Too Long";
    case 431: return "Request Header Fields Too Large";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    }
    return "Unknown";
}

// What an error answer says, as text.
const char* ErrorText(int status)
{
    switch (status) {
    case 400: return "Not an HTTP/1.1 request.\n";
    case 401: return "Unauthorized.\n";
    case 404: return "Not found: the metrics are at /metrics.\n";
    case 405: return "Only GET, HEAD and OPTIONS are served.\n";
    case 411: return "A request body needs a Content-Length.\n";
    case 413: return "The request body is too large.\n";
    case 414: return "The request line is too long.\n";
    case 431: return "The request's header fields are too large.\n";
    case 503: return "Too many checks of credentials at once; try again.\n";
    case 505: return "Only HTTP/1.0 and HTTP/1.1 are served.\n";
    }
    return "";
}

// The Date field's value, as HTTP has it (IMF-fixdate), whatever the locale.
std::string HttpDate()
{
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const time_t now = time(nullptr);
    tm t{};
    gmtime_r(&now, &t);
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", days[t.tm_wday], t.tm_mday,
                  months[t.tm_mon], t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

std::shared_ptr<const std::string> Text(const char* text)
{
    return std::make_shared<const std::string>(text);
}

}  // namespace

class HttpSite::Exchange : public ConnectionProtocol {
public:
    Exchange(HttpSite& site, Waker wake) : site_(site), wake_(std::move(wake)) {}

    Step Take(std::string_view received) override
    {
        Step step;
        if (!request_) {
            HeadReading head = ReadHead(received);
            if (head.state == HeadReading::State::More)
                return step;
            if (head.state == HeadReading::State::Bad)
                return Finish(site_.Answer(head.status, "GET"), received.size(), true);
            if (received.size() < head.request.headBytes + head.request.bodyBytes)
                return step;
            request_ = std::make_unique<HttpRequest>(std::move(head.request));
        }
        const HttpRequest& r = *request_;
        const size_t consumed = r.headBytes + r.bodyBytes;
        if (site_.auth_.Enabled()) {
            BasicAuth::Verdict verdict =
                pending_ ? pending_->verdict.load() : site_.auth_.Check(r.Field("authorization"), wake_, &pending_);
            if (verdict == BasicAuth::Verdict::Pending) {
                step.verdict = Verdict::Wait;
                return step;
            }
            pending_.reset();
            if (verdict == BasicAuth::Verdict::Busy)
                return Finish(site_.Answer(503, r.method, {}, nullptr, "Retry-After: 1\r\n"), consumed, false);
            if (verdict == BasicAuth::Verdict::Refused)
                return Finish(site_.Answer(401, r.method, {}, nullptr,
                                           std::string("WWW-Authenticate: Basic realm=\"") + kRealm
                                               + "\", charset=\"UTF-8\"\r\n"),
                              consumed, false);
        }
        return Finish(Route(r), consumed, false);
    }

private:
    Reply Route(const HttpRequest& r)
    {
        const std::string& m = r.method;
        const bool get = m == "GET" || m == "HEAD";
        if (r.path == "*")
            return m == "OPTIONS" ? site_.Answer(200, m, {}, nullptr, kAllow) : site_.Answer(400, m);
        if (r.path != "/metrics" && r.path != "/")
            return site_.Answer(404, m);
        if (m == "OPTIONS")
            return site_.Answer(200, m, {}, nullptr, kAllow);
        if (!get)
            return site_.Answer(405, m, {}, nullptr, kAllow);
        if (r.path == "/")
            return site_.Answer(200, m, "text/html; charset=utf-8", Text(kPage));
        const std::string* accepted = r.Field("accept-encoding");
        std::shared_ptr<const std::string> body;
        const bool gzip = accepted && AcceptsCoding(*accepted, "gzip")
                          && !(body = site_.metrics_.Get(true))->empty();
        if (!gzip)
            body = site_.metrics_.Get(false);
        return site_.Answer(200, m, MetricsText::kContentType, body,
                            std::string(gzip ? "Content-Encoding: gzip\r\n" : "") + "Vary: Accept-Encoding\r\n");
    }

    // The answer to the request just read; the connection closes after it
    // when the request or the answer says so, or it served its share.
    Step Finish(Reply reply, size_t consumed, bool broken)
    {
        const bool keep = !broken && request_ && request_->KeepAlive() && ++served_ < kRequestsPerConnection
                          && !reply.close;
        const bool oldKeepAlive = keep && request_->minorVersion == 0;
        // The head's last line: how the connection goes on.
        reply.head += keep ? (oldKeepAlive ? "Connection: keep-alive\r\n\r\n" : "\r\n") : "Connection: close\r\n\r\n";
        reply.close = !keep;
        request_.reset();
        Step step;
        step.verdict = Verdict::Reply;
        step.consumed = consumed;
        step.reply = std::move(reply);
        return step;
    }

    HttpSite& site_;
    Waker wake_;
    std::unique_ptr<HttpRequest> request_;   // read whole, not answered yet
    std::shared_ptr<BasicAuth::Pending> pending_;
    int served_ = 0;
};

HttpSite::HttpSite(MetricsText& metrics, BasicAuth& auth, std::vector<std::pair<std::string, std::string>> headers)
    : metrics_(metrics), auth_(auth)
{
    SetHeaders(headers);
}

void HttpSite::SetHeaders(const std::vector<std::pair<std::string, std::string>>& headers)
{
    std::string fields;
    for (const auto& [name, value] : headers)
        fields += name + ": " + value + "\r\n";
    std::lock_guard<std::mutex> lock(headersMutex_);
    headers_ = std::move(fields);
}

std::unique_ptr<ConnectionProtocol> HttpSite::NewExchange(Waker wake)
{
    return std::make_unique<Exchange>(*this, std::move(wake));
}

void HttpSite::Count(int status)
{
    for (size_t k = 0; k < kStatuses.size(); ++k)
        if (kStatuses[k] == status)
            answered_[k].fetch_add(1, std::memory_order_relaxed);
}

// The head of an answer (without its last empty line) and its body; an
// error's body is its text. HEAD gets the same head and no body.
Reply HttpSite::Answer(int status, const std::string& method, std::string contentType,
                       std::shared_ptr<const std::string> body, std::string extra)
{
    Count(status);
    if (status >= 400 && !body) {
        body = Text(ErrorText(status));
        contentType = "text/plain; charset=utf-8";
    }
    Reply reply;
    reply.head = "HTTP/1.1 " + std::to_string(status) + " " + ReasonPhrase(status) + "\r\nDate: " + HttpDate() + "\r\n";
    if (!contentType.empty())
        reply.head += "Content-Type: " + contentType + "\r\n";
    reply.head += "Content-Length: " + std::to_string(body ? body->size() : 0) + "\r\n" + extra;
    {
        std::lock_guard<std::mutex> lock(headersMutex_);
        reply.head += headers_;
    }
    if (method != "HEAD")
        reply.body = std::move(body);
    // What cannot be told from a request that is none ends its connection.
    reply.close = status == 400 || status == 411 || status == 413 || status == 414 || status == 431 || status == 505;
    return reply;
}
