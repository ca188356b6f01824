#include "TlsSettings.h"

#include <openssl/err.h>
#include <openssl/x509.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

namespace {

std::string OpenSslReason()
{
    const unsigned long code = ERR_peek_last_error();
    ERR_clear_error();
    if (!code)
        return "not in PEM form";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    const char* reason = ERR_reason_error_string(code);
    return reason ? reason : text;
}

// The file can be opened for reading; else *error says why.
bool Readable(const std::string& what, const std::string& path, std::string* error)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        *error = "cannot read the " + what + " " + path + ": " + std::strerror(errno);
        return false;
    }
    std::fclose(f);
    return true;
}

int Version(TlsVersion v)
{
    switch (v) {
    case TlsVersion::Tls10: return TLS1_VERSION;
    case TlsVersion::Tls11: return TLS1_1_VERSION;
    case TlsVersion::Tls12: return TLS1_2_VERSION;
    case TlsVersion::Tls13: return TLS1_3_VERSION;
    }
    return TLS1_2_VERSION;
}

int AcceptAnyCertificate(int, X509_STORE_CTX*)
{
    return 1;
}

// OpenSSL's name of each TLS 1.2 cipher suite, by its IANA name.
std::map<std::string, std::string> OpenSslCipherNames(SSL_CTX* ctx)
{
    std::map<std::string, std::string> names;
    SSL* probe = SSL_new(ctx);
    if (!probe)
        return names;
    SSL_set_cipher_list(probe, "ALL:COMPLEMENTOFALL");
    STACK_OF(SSL_CIPHER)* ciphers = SSL_get_ciphers(probe);
    for (int k = 0; k < sk_SSL_CIPHER_num(ciphers); ++k) {
        const SSL_CIPHER* c = sk_SSL_CIPHER_value(ciphers, k);
        if (const char* standard = SSL_CIPHER_standard_name(c))
            names[standard] = SSL_CIPHER_get_name(c);
    }
    SSL_free(probe);
    return names;
}

}  // namespace

std::shared_ptr<SSL_CTX> MakeTlsContext(const TlsSettings& s, std::string* error)
{
    std::shared_ptr<SSL_CTX> ctx(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
    if (!ctx) {
        *error = "cannot make a TLS context: " + OpenSslReason();
        return nullptr;
    }
    SSL_CTX* c = ctx.get();
    if (!Readable("certificate", s.certFile, error) || !Readable("key", s.keyFile, error))
        return nullptr;
    if (SSL_CTX_use_certificate_chain_file(c, s.certFile.c_str()) != 1) {
        *error = "no certificate in " + s.certFile + ": " + OpenSslReason();
        return nullptr;
    }
    const bool keyRead = SSL_CTX_use_PrivateKey_file(c, s.keyFile.c_str(), SSL_FILETYPE_PEM) == 1;
    if (!keyRead && ERR_GET_REASON(ERR_peek_last_error()) != X509_R_KEY_VALUES_MISMATCH) {
        *error = "no private key in " + s.keyFile + ": " + OpenSslReason();
        return nullptr;
    }
    if (!keyRead || SSL_CTX_check_private_key(c) != 1) {
        *error = "the key " + s.keyFile + " is not the key of the certificate " + s.certFile;
        ERR_clear_error();
        return nullptr;
    }
    if (!s.clientCaFile.empty()) {
        if (!Readable("client CA file", s.clientCaFile, error))
            return nullptr;
        STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(s.clientCaFile.c_str());
        if (!names || SSL_CTX_load_verify_locations(c, s.clientCaFile.c_str(), nullptr) != 1) {
            if (names)
                sk_X509_NAME_pop_free(names, X509_NAME_free);
            *error = "no certificate in the client CA file " + s.clientCaFile + ": " + OpenSslReason();
            return nullptr;
        }
        SSL_CTX_set_client_CA_list(c, names);
    }
    switch (s.clientCerts) {
    case ClientCertPolicy::None: SSL_CTX_set_verify(c, SSL_VERIFY_NONE, nullptr); break;
    case ClientCertPolicy::Request: SSL_CTX_set_verify(c, SSL_VERIFY_PEER, AcceptAnyCertificate); break;
    case ClientCertPolicy::RequireAny:
        SSL_CTX_set_verify(c, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, AcceptAnyCertificate);
        break;
    case ClientCertPolicy::VerifyIfGiven: SSL_CTX_set_verify(c, SSL_VERIFY_PEER, nullptr); break;
    case ClientCertPolicy::RequireAndVerify:
        SSL_CTX_set_verify(c, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
        break;
    }
    if (SSL_CTX_set_min_proto_version(c, Version(s.minVersion)) != 1
        || SSL_CTX_set_max_proto_version(c, Version(s.maxVersion)) != 1) {
        *error = "the TLS versions asked for are not available: " + OpenSslReason();
        return nullptr;
    }
    if (!s.cipherSuites.empty()) {
        const std::map<std::string, std::string> names = OpenSslCipherNames(c);
        std::string list;
        for (const std::string& suite : s.cipherSuites) {
            if (suite.rfind("TLS_AES_", 0) == 0 || suite.rfind("TLS_CHACHA20_", 0) == 0)
                continue;   // TLS 1.3's suites are not chosen, as in Go
            const auto at = names.find(suite);
            if (at == names.end()) {
                *error = "cipher suite " + suite + " is not available";
                return nullptr;
            }
            list += (list.empty() ? "" : ":") + at->second;
        }
        if (!list.empty() && SSL_CTX_set_cipher_list(c, list.c_str()) != 1) {
            *error = "cannot use the cipher suites given: " + OpenSslReason();
            return nullptr;
        }
    }
    if (!s.curves.empty()) {
        std::string list;
        for (const std::string& curve : s.curves)
            list += (list.empty() ? "" : ":") + curve;
        if (SSL_CTX_set1_groups_list(c, list.c_str()) != 1) {
            *error = "cannot use the curves " + list + ": " + OpenSslReason();
            return nullptr;
        }
    }
    uint64_t options = SSL_OP_NO_RENEGOTIATION;
    if (s.preferServerCipherSuites)
        options |= SSL_OP_CIPHER_SERVER_PREFERENCE;
    SSL_CTX_set_options(c, options);
    SSL_CTX_set_mode(c, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER | SSL_MODE_RELEASE_BUFFERS);
    static const unsigned char kSessionContext[] = "zashchita";
    SSL_CTX_set_session_id_context(c, kSessionContext, sizeof kSessionContext - 1);
    return ctx;
}
