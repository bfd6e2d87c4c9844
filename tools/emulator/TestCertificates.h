#pragma once

#include <expected>
#include <string>
#include <vector>

namespace oskel::emulator {

// A throw-away certificate authority and a server certificate it signed, made
// in memory at start (EC P-256, SHA-256, valid from an hour ago for 30 days).
struct TestCertificates {
  std::string caPem;       // trust this to accept the server
  std::string serverPem;   // the server's certificate
  std::string serverKeyPem;
};

// names: the server certificate's subject alternative names; address
// literals become IP entries, everything else DNS entries.
std::expected<TestCertificates, std::string> makeTestCertificates(const std::vector<std::string>& names);

}  // namespace oskel::emulator
