// The web configuration of --web.config.file, in the format of Prometheus'
// exporter toolkit (what `promtool check web-config` checks): TLS
// (tls_server_config), headers added to answers (http_server_config) and
// users with bcrypt hashes (basic_auth_users). Every fault is named with the
// file, line and column; a key the format does not have is refused. Files
// named in it are taken relative to its folder; they are read when the
// server is made (MakeTlsContext), not here.
#pragma once

#include <QString>
#include <QStringList>

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "TlsSettings.h"

struct WebConfig {
    std::optional<TlsSettings> tls;                              // none: plain HTTP
    std::vector<std::pair<std::string, std::string>> headers;   // added to every answer
    std::map<std::string, std::string> users;                   // name → bcrypt hash; none: no authentication
};

struct WebConfigReading {
    WebConfig config;
    QStringList faults;       // "FILE:LINE:COLUMN: what"; empty: sound
    bool unreadable = false;  // the file itself could not be read (the one fault)
};

WebConfigReading ReadWebConfigFile(const QString& path);
// `text` as the file at `path` (for the folder and the faults' names).
WebConfigReading ReadWebConfigText(const QString& path, const std::string& text);
