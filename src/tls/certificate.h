#pragma once

#include "core/result.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// TLS identities shared by the rendezvous server, the signaling client's certificate pin and the
// tests: PEM certificates and keys, self-signed P-256 certificates, SHA-256 fingerprints.
namespace tavoro::tls {

struct PemIdentity {
    std::string certificatePem;
    std::string privateKeyPem;
};

// A new P-256 key and a self-signed certificate for commonName, valid for ten years.
// nullopt only when OpenSSL itself fails.
std::optional<PemIdentity> makeSelfSigned(const std::string& commonName);

// Lower-case hex SHA-256 of a certificate's DER encoding (what `openssl x509 -fingerprint -sha256`
// shows, without the colons). Empty when the PEM text holds no certificate.
std::string fingerprintOfPem(std::string_view certificatePem);
std::string fingerprintOfDer(std::string_view der);

// Accepts a fingerprint written as 64 hex digits with or without colons, in either case, and returns
// it as 64 lower-case hex digits; nullopt for anything else.
std::optional<std::string> normaliseFingerprint(std::string_view text);

// Reads a PEM certificate and key; a failure when a file cannot be read or the certificate file holds
// no certificate.
Result<PemIdentity> loadFromFiles(const std::filesystem::path& certFile, const std::filesystem::path& keyFile);

// Reads cert and key from files when both exist; otherwise makes a self-signed identity and stores it
// there (key file 0600). A failure when neither works.
Result<PemIdentity> loadOrCreate(const std::filesystem::path& certFile, const std::filesystem::path& keyFile,
    const std::string& commonName);

} // namespace tavoro::tls
