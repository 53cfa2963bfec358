#include "tls/certificate.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cctype>
#include <fcntl.h>
#include <unistd.h>
#include <fstream>
#include <memory>
#include <sstream>

namespace tavoro::tls {
namespace {

template <auto Free>
struct Deleter {
    template <typename T>
    void operator()(T* p) const { Free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Deleter<X509_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO_free_all>>;

std::string bioText(BIO* bio)
{
    char* data = nullptr;
    long size = BIO_get_mem_data(bio, &data);
    return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

bool fillCertificate(X509* cert, EVP_PKEY* key, const std::string& commonName)
{
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), static_cast<long>(std::time(nullptr)));
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 10L * 365 * 24 * 3600);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
        reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    return X509_sign(cert, key, EVP_sha256()) > 0;
}

std::optional<std::string> readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

Result<PemIdentity> identityFrom(std::string cert, std::string key, const std::filesystem::path& certFile)
{
    if (fingerprintOfPem(cert).empty()) {
        return Failure{"no certificate in " + certFile.string()};
    }
    return PemIdentity{std::move(cert), std::move(key)};
}

// Created with its final mode, so that a private key is never readable by others, not even briefly.
bool writeFile(const std::filesystem::path& path, const std::string& text, mode_t mode)
{
    ::unlink(path.c_str());
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        return false;
    }
    bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    return ::close(fd) == 0 && ok;
}

} // namespace

std::optional<PemIdentity> makeSelfSigned(const std::string& commonName)
{
    KeyPtr key(EVP_EC_gen("P-256"));
    CertPtr cert(X509_new());
    if (!key || !cert || !fillCertificate(cert.get(), key.get(), commonName)) {
        return std::nullopt;
    }
    BioPtr certBio(BIO_new(BIO_s_mem()));
    BioPtr keyBio(BIO_new(BIO_s_mem()));
    if (!PEM_write_bio_X509(certBio.get(), cert.get())
        || !PEM_write_bio_PrivateKey(keyBio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr)) {
        return std::nullopt;
    }
    return PemIdentity{bioText(certBio.get()), bioText(keyBio.get())};
}

std::string fingerprintOfDer(std::string_view der)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!EVP_Digest(der.data(), der.size(), digest, &length, EVP_sha256(), nullptr)) {
        return {};
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 0xF];
    }
    return hex;
}

std::string fingerprintOfPem(std::string_view certificatePem)
{
    BioPtr bio(BIO_new_mem_buf(certificatePem.data(), static_cast<int>(certificatePem.size())));
    CertPtr cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    if (!cert) {
        return {};
    }
    unsigned char* der = nullptr;
    int length = i2d_X509(cert.get(), &der);
    if (length <= 0) {
        return {};
    }
    std::string result = fingerprintOfDer(std::string_view(reinterpret_cast<const char*>(der), static_cast<std::size_t>(length)));
    OPENSSL_free(der);
    return result;
}

std::optional<std::string> normaliseFingerprint(std::string_view text)
{
    std::string hex;
    for (char c : text) {
        if (c == ':') {
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return std::nullopt;
        }
        hex += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (hex.size() != 64) {
        return std::nullopt;
    }
    return hex;
}

Result<PemIdentity> loadFromFiles(const std::filesystem::path& certFile, const std::filesystem::path& keyFile)
{
    auto cert = readFile(certFile);
    auto key = readFile(keyFile);
    if (!cert || !key) {
        return Failure{"cannot read " + (cert ? keyFile : certFile).string()};
    }
    return identityFrom(std::move(*cert), std::move(*key), certFile);
}

Result<PemIdentity> loadOrCreate(const std::filesystem::path& certFile, const std::filesystem::path& keyFile,
    const std::string& commonName)
{
    auto cert = readFile(certFile);
    auto key = readFile(keyFile);
    if (cert && key) {
        return identityFrom(std::move(*cert), std::move(*key), certFile);
    }
    auto made = makeSelfSigned(commonName);
    if (!made) {
        return Failure{"could not make a self-signed certificate"};
    }
    if (!writeFile(keyFile, made->privateKeyPem, 0600) || !writeFile(certFile, made->certificatePem, 0644)) {
        return Failure{"could not store the certificate in " + certFile.parent_path().string()};
    }
    return std::move(*made);
}

} // namespace tavoro::tls
