// A test PKI made in memory: a CA, certificates signed by it or by
// themselves, valid or not, and a server context for one of them.
#pragma once

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <csignal>
#include <cstdio>
#include <string>

namespace sitowiak::net::test {

struct Identity {
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    Identity() = default;
    Identity(const Identity&) = delete;
    Identity& operator=(const Identity&) = delete;
    ~Identity() {
        X509_free(cert);
        EVP_PKEY_free(key);
    }

    // SHA-256 of the certificate as colon-separated upper-case hex.
    std::string Fingerprint() const {
        unsigned char md[EVP_MAX_MD_SIZE];
        unsigned len = 0;
        X509_digest(cert, EVP_sha256(), md, &len);
        std::string s;
        char b[4];
        for (unsigned i = 0; i < len; ++i) {
            std::snprintf(b, sizeof b, i ? ":%02X" : "%02X", md[i]);
            s += b;
        }
        return s;
    }
};

inline void AddExt(X509* x, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, x, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    X509_add_ext(x, ext, -1);
    X509_EXTENSION_free(ext);
}

// A certificate for cn with the alternative names sans ("" for a CA), valid
// from fromSec to toSec seconds around now, signed by issuer (itself when
// null).
inline void MakeIdentity(Identity& id, const char* cn, const char* sans, const Identity* issuer,
                         long fromSec = -3600, long toSec = 86400) {
    static long serial = 1;
    id.key = EVP_EC_gen("P-256");
    id.cert = X509_new();
    X509_set_version(id.cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(id.cert), serial++);
    X509_gmtime_adj(X509_getm_notBefore(id.cert), fromSec);
    X509_gmtime_adj(X509_getm_notAfter(id.cert), toSec);
    X509_set_pubkey(id.cert, id.key);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(id.cert), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
    X509* signer = issuer != nullptr ? issuer->cert : id.cert;
    X509_set_issuer_name(id.cert, X509_get_subject_name(signer));
    if (*sans == '\0') {
        AddExt(id.cert, signer, NID_basic_constraints, "critical,CA:TRUE");
        AddExt(id.cert, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        AddExt(id.cert, signer, NID_basic_constraints, "CA:FALSE");
        AddExt(id.cert, signer, NID_subject_alt_name, sans);
    }
    X509_sign(id.cert, issuer != nullptr ? issuer->key : id.key, EVP_sha256());
}

inline std::string WritePem(const Identity& id, const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "w");
    PEM_write_X509(f, id.cert);
    std::fclose(f);
    return path;
}

struct ServerCtx {
    SSL_CTX* ctx;
    explicit ServerCtx(const Identity& id) : ctx(SSL_CTX_new(TLS_server_method())) {
        // OpenSSL writes to its descriptor without MSG_NOSIGNAL: an alert to
        // a client that has already gone would otherwise end the process.
        std::signal(SIGPIPE, SIG_IGN);
        SSL_CTX_use_certificate(ctx, id.cert);
        SSL_CTX_use_PrivateKey(ctx, id.key);
    }
    ~ServerCtx() { SSL_CTX_free(ctx); }
    ServerCtx(const ServerCtx&) = delete;
    ServerCtx& operator=(const ServerCtx&) = delete;
};

}  // namespace sitowiak::net::test
