#include "HttpRequest.h"

#include <algorithm>
#include <cstring>

namespace {

bool IsTokenChar(char c)
{
    const unsigned char u = static_cast<unsigned char>(c);
    return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z')
           || (u && std::strchr("!#$%&'*+-.^_`|~", c));
}

bool IsToken(std::string_view s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), IsTokenChar);
}

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

std::string Lower(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](char c) { return Lower(c); });
    return out;
}

bool SameText(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// A control character other than a tab: never in a head's line.
bool HasControl(std::string_view s)
{
    return std::any_of(s.begin(), s.end(), [](char c) {
        const unsigned char u = static_cast<unsigned char>(c);
        return (u < 0x20 && u != '\t') || u == 0x7f;
    });
}

HeadReading Bad(int status)
{
    HeadReading r;
    r.state = HeadReading::State::Bad;
    r.status = status;
    return r;
}

// The line [from, '\n'), without its CR; npos when the line is not whole.
size_t LineEnd(std::string_view bytes, size_t from, std::string_view& line)
{
    const size_t end = bytes.find('\n', from);
    if (end == std::string_view::npos)
        return end;
    line = bytes.substr(from, end - from);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return end;
}

// "METHOD SP TARGET SP HTTP/1.x"; 0 when sound, else the status.
int ReadRequestLine(std::string_view line, HttpRequest& r)
{
    if (HasControl(line))
        return 400;
    const size_t sp1 = line.find(' ');
    const size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
    if (sp2 == std::string_view::npos || line.find(' ', sp2 + 1) != std::string_view::npos)
        return 400;
    const std::string_view method = line.substr(0, sp1);
    const std::string_view target = line.substr(sp1 + 1, sp2 - sp1 - 1);
    const std::string_view version = line.substr(sp2 + 1);
    if (!IsToken(method) || target.empty())
        return 400;
    if (version.size() != 8 || version.substr(0, 5) != "HTTP/" || version[6] != '.' || version[5] < '0'
        || version[5] > '9' || version[7] < '0' || version[7] > '9')
        return 400;
    if (version[5] != '1')
        return 505;
    r.method = std::string(method);
    r.target = std::string(target);
    r.minorVersion = version[7] == '0' ? 0 : 1;
    // origin-form, absolute-form or asterisk-form
    std::string_view path = target;
    if (target == "*") {
        r.path.assign(1, '*');
        return 0;
    }
    for (const std::string_view scheme : {std::string_view("http://"), std::string_view("https://")}) {
        if (SameText(target.substr(0, scheme.size()), scheme)) {
            const size_t slash = target.find('/', scheme.size());
            path = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
        }
    }
    if (path.empty() || path.front() != '/')
        return 400;
    r.path = std::string(path.substr(0, path.find('?')));
    return 0;
}

// The Content-Length's values, all one number; false when not.
bool ContentLength(const HttpRequest& r, size_t& out, bool& given)
{
    given = false;
    for (const auto& [name, value] : r.fields) {
        if (name != "content-length")
            continue;
        std::string_view rest = value;
        while (!rest.empty()) {
            const size_t comma = rest.find(',');
            const std::string_view item = Trim(rest.substr(0, comma));
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
            if (item.empty() || item.size() > 12 || !std::all_of(item.begin(), item.end(), [](char c) { return c >= '0' && c <= '9'; }))
                return false;
            const size_t n = std::stoull(std::string(item));
            if (given && n != out)
                return false;
            out = n;
            given = true;
        }
    }
    return true;
}

}  // namespace

const std::string* HttpRequest::Field(std::string_view name) const
{
    for (const auto& [n, value] : fields)
        if (n == name)
            return &value;
    return nullptr;
}

bool HttpRequest::Lists(std::string_view name, std::string_view token) const
{
    for (const auto& [n, value] : fields) {
        if (n != name)
            continue;
        std::string_view rest = value;
        while (!rest.empty()) {
            const size_t comma = rest.find(',');
            if (SameText(Trim(rest.substr(0, comma)), token))
                return true;
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        }
    }
    return false;
}

bool HttpRequest::KeepAlive() const
{
    return minorVersion >= 1 ? !Lists("connection", "close") : Lists("connection", "keep-alive");
}

HeadReading ReadHead(std::string_view bytes)
{
    HeadReading r;
    // Empty lines before the request line are passed over.
    size_t at = 0;
    while (at < bytes.size() && (bytes[at] == '\r' || bytes[at] == '\n'))
        ++at;
    if (at > kMaxHeadBytes)
        return Bad(400);
    std::string_view line;
    const size_t lineEnd = LineEnd(bytes, at, line);
    if (lineEnd == std::string_view::npos) {
        // Bytes that cannot begin a request need not be waited for.
        const std::string_view part = bytes.substr(at);
        if (HasControl(part.substr(0, part.size() && part.back() == '\r' ? part.size() - 1 : part.size())))
            return Bad(400);
        return part.size() > kMaxHeadBytes ? Bad(414) : r;
    }
    if (lineEnd - at > kMaxHeadBytes)
        return Bad(414);
    if (const int status = ReadRequestLine(line, r.request))
        return Bad(status);

    size_t next = lineEnd + 1;
    for (;;) {
        const size_t end = LineEnd(bytes, next, line);
        if (end == std::string_view::npos || end + 1 - at > kMaxHeadBytes)
            return bytes.size() - at > kMaxHeadBytes ? Bad(431) : r;
        next = end + 1;
        if (line.empty())
            break;
        if (line.front() == ' ' || line.front() == '\t' || HasControl(line))
            return Bad(400);   // folded lines are obsolete, and controls never belong
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || !IsToken(line.substr(0, colon)))
            return Bad(400);
        if (r.request.fields.size() >= kMaxHeaderFields)
            return Bad(431);
        r.request.fields.emplace_back(Lower(line.substr(0, colon)), std::string(Trim(line.substr(colon + 1))));
    }
    r.request.headBytes = next;

    HttpRequest& q = r.request;
    const auto hosts = std::count_if(q.fields.begin(), q.fields.end(), [](const auto& f) { return f.first == "host"; });
    if (hosts > 1 || (q.minorVersion >= 1 && hosts == 0))
        return Bad(400);
    size_t length = 0;
    bool lengthGiven = false;
    if (!ContentLength(q, length, lengthGiven))
        return Bad(400);
    if (q.Field("transfer-encoding"))
        return Bad(lengthGiven || q.minorVersion == 0 ? 400 : 411);
    if (length > kMaxBodyBytes)
        return Bad(413);
    q.bodyBytes = length;
    r.state = HeadReading::State::Whole;
    return r;
}

bool AcceptsCoding(std::string_view acceptEncoding, std::string_view coding)
{
    std::optional<bool> named, any;
    std::string_view rest = acceptEncoding;
    while (!rest.empty()) {
        const size_t comma = rest.find(',');
        std::string_view item = Trim(rest.substr(0, comma));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        const size_t semicolon = item.find(';');
        const std::string_view name = Trim(item.substr(0, semicolon));
        bool acceptable = true;
        if (semicolon != std::string_view::npos) {
            std::string_view parameter = Trim(item.substr(semicolon + 1));
            if (parameter.size() >= 2 && Lower(parameter[0]) == 'q' && parameter[1] == '=') {
                parameter.remove_prefix(2);
                // q=0, q=0.0, q=0.00, q=0.000: not acceptable
                acceptable = !(parameter.size() >= 1 && parameter[0] == '0'
                               && parameter.find_first_not_of("0.", 0) == std::string_view::npos);
            }
        }
        if (SameText(name, coding) || (coding == "gzip" && SameText(name, "x-gzip")))
            named = acceptable;
        else if (name == "*")
            any = acceptable;
    }
    return named.value_or(any.value_or(false));
}
