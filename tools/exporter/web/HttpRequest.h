// An HTTP/1.x request head read from the bytes a connection received: the
// request line and the header fields, checked as HTTP/1.1 has them, within
// bounds. A head that is not whole yet is asked for more; one that cannot
// be a request is refused with the status that says why.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

inline constexpr size_t kMaxHeadBytes = 8192;
inline constexpr size_t kMaxHeaderFields = 64;
inline constexpr size_t kMaxBodyBytes = 4096;

struct HttpRequest {
    std::string method;
    std::string target;
    std::string path;          // the target's path, without the query
    int minorVersion = 1;      // HTTP/1.0 or HTTP/1.1
    std::vector<std::pair<std::string, std::string>> fields;   // names in lower case
    size_t headBytes = 0;      // up to and including the empty line
    size_t bodyBytes = 0;      // the Content-Length

    // The value of the field `name` (lower case); the first when given twice.
    const std::string* Field(std::string_view name) const;
    // Whether the comma-separated field `name` lists `token` (case aside).
    bool Lists(std::string_view name, std::string_view token) const;
    bool KeepAlive() const;
};

struct HeadReading {
    enum class State { More, Whole, Bad } state = State::More;
    int status = 0;            // when Bad: 400, 411, 413, 414, 431, 501 or 505
    HttpRequest request;       // when Whole
};

HeadReading ReadHead(std::string_view bytes);

// The q-value weighted choice of a content coding: whether `coding` is
// acceptable by an Accept-Encoding value.
bool AcceptsCoding(std::string_view acceptEncoding, std::string_view coding);
