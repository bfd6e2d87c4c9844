#include "emulator/TestCertificates.h"

#include <arpa/inet.h>

#include <memory>

#include <fmt/format.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace oskel::emulator {
namespace {

template <auto Free>
struct Deleter {
  template <class T>
  void operator()(T* p) const {
    Free(p);
  }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using Certificate = std::unique_ptr<X509, Deleter<X509_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO_free>>;
using Extension = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION_free>>;

std::string openSslError(const char* step) {
  char text[256] = {};
  ERR_error_string_n(ERR_get_error(), text, sizeof text);
  return fmt::format("{}: {}", step, text);
}

bool isAddress(const std::string& name) {
  unsigned char buffer[16];
  return inet_pton(AF_INET, name.c_str(), buffer) == 1 || inet_pton(AF_INET6, name.c_str(), buffer) == 1;
}

std::expected<Key, std::string> makeKey() {
  Key key(EVP_EC_gen("P-256"));
  if (!key) return std::unexpected(openSslError("generating a key"));
  return key;
}

bool addExtension(X509* certificate, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  Extension extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str()));
  return extension && X509_add_ext(certificate, extension.get(), -1) == 1;
}

// A certificate for subject's key, signed by issuerKey (self-signed when issuer is null).
std::expected<Certificate, std::string> makeCertificate(const std::string& commonName, EVP_PKEY* subjectKey,
                                                        X509* issuer, EVP_PKEY* issuerKey,
                                                        const std::vector<std::pair<int, std::string>>& extensions) {
  Certificate certificate(X509_new());
  if (!certificate) return std::unexpected(openSslError("creating a certificate"));
  X509* c = certificate.get();
  unsigned char serial[16];
  RAND_bytes(serial, sizeof serial);
  serial[0] &= 0x7f;  // positive
  std::unique_ptr<BIGNUM, Deleter<BN_free>> number(BN_bin2bn(serial, sizeof serial, nullptr));
  X509_set_version(c, 2);
  BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(c));
  X509_gmtime_adj(X509_getm_notBefore(c), -3600);
  X509_gmtime_adj(X509_getm_notAfter(c), 30L * 24 * 3600);
  X509_set_pubkey(c, subjectKey);
  X509_NAME* name = X509_get_subject_name(c);
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("Oskel test"), -1, -1,
                             0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(commonName.c_str()),
                             -1, -1, 0);
  X509_set_issuer_name(c, issuer ? X509_get_subject_name(issuer) : name);
  for (const auto& [nid, value] : extensions)
    if (!addExtension(c, issuer ? issuer : c, nid, value)) return std::unexpected(openSslError("adding an extension"));
  if (X509_sign(c, issuerKey, EVP_sha256()) == 0) return std::unexpected(openSslError("signing a certificate"));
  return certificate;
}

template <class Write>
std::string toPem(Write write) {
  Bio bio(BIO_new(BIO_s_mem()));
  if (!bio || !write(bio.get())) return {};
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(size));
}

}  // namespace

std::expected<TestCertificates, std::string> makeTestCertificates(const std::vector<std::string>& names) {
  auto caKey = makeKey();
  if (!caKey) return std::unexpected(caKey.error());
  auto ca = makeCertificate("Oskel emulator test CA", caKey->get(), nullptr, caKey->get(),
                            {{NID_basic_constraints, "critical,CA:TRUE"},
                             {NID_key_usage, "critical,keyCertSign,cRLSign"},
                             {NID_subject_key_identifier, "hash"}});
  if (!ca) return std::unexpected(ca.error());

  auto serverKey = makeKey();
  if (!serverKey) return std::unexpected(serverKey.error());
  std::string alternativeNames;
  for (const auto& name : names)
    alternativeNames += (alternativeNames.empty() ? "" : ",") + std::string(isAddress(name) ? "IP:" : "DNS:") + name;
  std::vector<std::pair<int, std::string>> extensions{{NID_basic_constraints, "critical,CA:FALSE"},
                                                      {NID_key_usage, "critical,digitalSignature"},
                                                      {NID_ext_key_usage, "serverAuth"},
                                                      {NID_subject_key_identifier, "hash"},
                                                      {NID_authority_key_identifier, "keyid:always"}};
  if (!alternativeNames.empty()) extensions.emplace_back(NID_subject_alt_name, alternativeNames);
  auto server = makeCertificate(names.empty() ? "localhost" : names.front(), serverKey->get(), ca->get(),
                                caKey->get(), extensions);
  if (!server) return std::unexpected(server.error());

  TestCertificates result;
  result.caPem = toPem([&](BIO* bio) { return PEM_write_bio_X509(bio, ca->get()) == 1; });
  result.serverPem = toPem([&](BIO* bio) { return PEM_write_bio_X509(bio, server->get()) == 1; });
  result.serverKeyPem = toPem([&](BIO* bio) {
    return PEM_write_bio_PrivateKey(bio, serverKey->get(), nullptr, nullptr, 0, nullptr, nullptr) == 1;
  });
  if (result.caPem.empty() || result.serverPem.empty() || result.serverKeyPem.empty())
    return std::unexpected(openSslError("writing PEM"));
  return result;
}

}  // namespace oskel::emulator
