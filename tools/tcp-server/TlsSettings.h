// A TLS server's settings and the OpenSSL context made of them. Making the
// context reads every file named; a file that cannot be read, or holds no
// certificate or key, is an error that names it.
#pragma once

#include <openssl/ssl.h>

#include <memory>
#include <string>
#include <vector>

// Whether a client certificate is asked for, needed and checked against the
// client CA (the policies of Go's tls.ClientAuthType).
enum class ClientCertPolicy {
    None,               // not asked
    Request,            // asked, not needed, not checked
    RequireAny,         // needed, not checked
    VerifyIfGiven,      // not needed; checked when given
    RequireAndVerify,   // needed and checked
};

enum class TlsVersion { Tls10, Tls11, Tls12, Tls13 };

struct TlsSettings {
    std::string certFile;       // the server's certificate (then its chain), PEM
    std::string keyFile;        // its private key, PEM
    std::string clientCaFile;   // the CAs a client certificate is checked against, PEM
    ClientCertPolicy clientCerts = ClientCertPolicy::None;
    TlsVersion minVersion = TlsVersion::Tls12;
    TlsVersion maxVersion = TlsVersion::Tls13;
    std::vector<std::string> cipherSuites;   // IANA names for TLS 1.2 and below; empty: OpenSSL's
    bool preferServerCipherSuites = true;
    std::vector<std::string> curves;         // OpenSSL group names ("P-256", "X25519"); empty: OpenSSL's
};

// Null with *error naming the file or setting at fault.
std::shared_ptr<SSL_CTX> MakeTlsContext(const TlsSettings& settings, std::string* error);
