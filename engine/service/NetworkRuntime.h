#pragma once

// Shared plumbing of the Beast/Asio adapters (WebSocket client, HTTP GET).
// Only the adapters' .cpp files include this header: it brings in Asio.

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/tcp_stream.hpp>

namespace oskel::net {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace ssl = boost::asio::ssl;
using tcp = asio::ip::tcp;
using ErrorCode = boost::system::error_code;
using TlsStream = ssl::stream<beast::tcp_stream>;
using Deadline = std::chrono::steady_clock::time_point;

// The process-wide network thread "oskel.network"; every adapter handler runs on it.
asio::io_context& ioContext();

// TLS client settings: peer verification against the system store, plus the
// PEM file named by OSKEL_CA_FILE when set (read at each call, so tests can
// trust a local test CA). Contexts are cached per CA file.
std::shared_ptr<ssl::context> tlsClientContext();

// SNI (for host names, not address literals) and verification of the
// certificate against host. Call before the TLS handshake.
ErrorCode prepareTlsClient(TlsStream& stream, const std::string& host);

// Why a TLS handshake failed, including the certificate verification result.
std::string describeTlsFailure(const ErrorCode& error, TlsStream& stream, const std::string& host);

// The Host header value for a URL: the port only when it is not the scheme's
// default, IPv6 literals in brackets.
std::string hostHeader(const std::string& host, const std::string& port, bool tls);

// The deadline of an operation that must finish within seconds from now.
Deadline deadlineAfter(std::chrono::duration<double> seconds);

// Resolves host and connects the stream to it before the deadline. done runs
// once on the network thread with a description of the failure, or empty on
// success. cancel() makes a pending dial finish with "cancelled".
class TcpDialer : public std::enable_shared_from_this<TcpDialer> {
 public:
  using Done = std::function<void(std::string failure)>;
  static std::shared_ptr<TcpDialer> dial(beast::tcp_stream& stream, std::string host, std::string port,
                                         Deadline deadline, Done done);
  void cancel();

  TcpDialer(beast::tcp_stream& stream, std::string host, std::string port, Deadline deadline, Done done);

 private:
  void start();
  void finish(std::string failure);

  beast::tcp_stream& stream_;
  tcp::resolver resolver_;
  asio::steady_timer resolveTimer_;
  std::string host_;
  std::string port_;
  Deadline deadline_;
  Done done_;
  bool resolving_ = true;
  bool resolveTimedOut_ = false;
};

}  // namespace oskel::net
