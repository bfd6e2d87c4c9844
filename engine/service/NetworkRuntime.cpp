#include "service/NetworkRuntime.h"

#include <pthread.h>

#include <cstdlib>
#include <exception>
#include <map>
#include <mutex>
#include <future>
#include <thread>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/beast/core/error.hpp>
#include <fmt/format.h>
#include <openssl/ssl.h>
#include <openssl/err.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include "log/Log.h"

namespace oskel::net {
namespace {

// One thread runs every network handler of the process. It is stopped and
// joined at exit; handlers still pending are then destroyed without running.
class NetworkThread {
 public:
  NetworkThread() : work_(asio::make_work_guard(io_)), thread_([this] { run(); }) { sslReady_.get_future().wait(); }

  ~NetworkThread() {
    work_.reset();
    io_.stop();
    if (thread_.get_id() == std::this_thread::get_id()) {
      thread_.detach();
    } else {
      thread_.join();
    }
  }

  asio::io_context& context() { return io_; }

 private:
  void run() {
    pthread_setname_np(pthread_self(), "oskel.network");
    // OpenSSL is initialised here, not on whichever thread first asked for
    // the network: the per-thread state it makes then belongs to this thread,
    // which is joined before OpenSSL's exit-time cleanup. Made on a session's
    // queue thread, it was orphaned when that thread outlived the cleanup.
    // The constructor waits, so the cleanup is registered before this object
    // and runs after its destructor.
    OPENSSL_init_ssl(0, nullptr);
    sslReady_.set_value();
    // A throwing handler must not take the whole network layer down.
    while (!io_.stopped()) {
      try {
        io_.run();
      } catch (const std::exception& e) {
        Log::error([&] { return std::string("network handler failed: ") + e.what(); });
      }
    }
  }

  asio::io_context io_{1};
  asio::executor_work_guard<asio::io_context::executor_type> work_;
  std::promise<void> sslReady_;
  std::thread thread_;
};

bool isAddressLiteral(const std::string& host) {
  ErrorCode error;
  asio::ip::make_address(host, error);
  return !error;
}

}  // namespace

asio::io_context& ioContext() {
  static NetworkThread thread;
  return thread.context();
}

std::shared_ptr<ssl::context> tlsClientContext() {
  const char* env = std::getenv("OSKEL_CA_FILE");
  const std::string caFile = env ? env : "";

  static std::mutex mutex;
  static std::map<std::string, std::shared_ptr<ssl::context>> cache;
  std::lock_guard guard(mutex);
  if (auto found = cache.find(caFile); found != cache.end()) return found->second;

  auto context = std::make_shared<ssl::context>(ssl::context::tls_client);
  context->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 | ssl::context::no_sslv3);
  context->set_verify_mode(ssl::verify_peer);
  ErrorCode error;
  context->set_default_verify_paths(error);
  if (error) Log::warn([&] { return "cannot load the system certificate store: " + error.message(); });
  if (!caFile.empty()) {
    context->load_verify_file(caFile, error);
    if (error) Log::warn([&] { return fmt::format("OSKEL_CA_FILE \"{}\" is not usable: {}", caFile, error.message()); });
  }
  cache.emplace(caFile, context);
  return context;
}

ErrorCode prepareTlsClient(TlsStream& stream, const std::string& host) {
  SSL* ssl = stream.native_handle();
  const auto failed = [] { return ErrorCode(static_cast<int>(::ERR_get_error()), asio::error::get_ssl_category()); };
  stream.set_verify_mode(ssl::verify_peer);
  // OpenSSL checks the name during verification and reports a mismatch as such.
  if (isAddressLiteral(host)) {
    if (X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str()) != 1) return failed();
    return {};
  }
  SSL_set_hostflags(ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  if (SSL_set1_host(ssl, host.c_str()) != 1) return failed();
  // Server name indication is for host names only, never address literals.
  // (SSL_set_tlsext_host_name without its C cast.)
  if (SSL_ctrl(ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name, const_cast<char*>(host.c_str())) != 1)
    return failed();
  return {};
}

std::string describeTlsFailure(const ErrorCode& error, TlsStream& stream, const std::string& host) {
  if (error == beast::error::timeout) return "timed out during the TLS handshake with " + host;
  const long verify = SSL_get_verify_result(stream.native_handle());
  if (verify != X509_V_OK)
    return fmt::format("TLS handshake with {} failed: {} ({})", host, error.message(),
                       X509_verify_cert_error_string(verify));
  return fmt::format("TLS handshake with {} failed: {}", host, error.message());
}

std::string hostHeader(const std::string& host, const std::string& port, bool tls) {
  const auto name = host.find(':') == std::string::npos ? host : "[" + host + "]";
  return port == (tls ? "443" : "80") ? name : name + ":" + port;
}

Deadline deadlineAfter(std::chrono::duration<double> seconds) {
  const auto bounded = std::min(seconds, std::chrono::duration<double>(24.0 * 3600.0));
  return std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(bounded);
}

std::shared_ptr<TcpDialer> TcpDialer::dial(beast::tcp_stream& stream, std::string host, std::string port,
                                           Deadline deadline, Done done) {
  auto dialer = std::make_shared<TcpDialer>(stream, std::move(host), std::move(port), deadline, std::move(done));
  dialer->start();
  return dialer;
}

TcpDialer::TcpDialer(beast::tcp_stream& stream, std::string host, std::string port, Deadline deadline, Done done)
    : stream_(stream),
      resolver_(stream.get_executor()),
      resolveTimer_(stream.get_executor()),
      host_(std::move(host)),
      port_(std::move(port)),
      deadline_(deadline),
      done_(std::move(done)) {}

void TcpDialer::start() {
  // The resolver has no time limit of its own.
  resolveTimer_.expires_at(deadline_);
  resolveTimer_.async_wait([self = shared_from_this()](const ErrorCode& error) {
    if (error || !self->resolving_) return;
    self->resolveTimedOut_ = true;
    self->resolver_.cancel();
  });
  resolver_.async_resolve(
      host_, port_, [self = shared_from_this()](const ErrorCode& error, const tcp::resolver::results_type& results) {
        self->resolving_ = false;
        self->resolveTimer_.cancel();
        if (!self->done_) return;
        if (self->resolveTimedOut_) return self->finish("timed out resolving " + self->host_);
        if (error) return self->finish(fmt::format("could not resolve {}: {}", self->host_, error.message()));
        self->stream_.expires_at(self->deadline_);
        self->stream_.async_connect(results, [self](const ErrorCode& connectError, const tcp::endpoint&) {
          if (!self->done_) return;
          if (connectError == beast::error::timeout)
            return self->finish(fmt::format("timed out connecting to {}:{}", self->host_, self->port_));
          if (connectError)
            return self->finish(
                fmt::format("could not connect to {}:{}: {}", self->host_, self->port_, connectError.message()));
          // Audio messages are small and latency matters more than packet count.
          ErrorCode ignored;
          self->stream_.socket().set_option(tcp::no_delay(true), ignored);
          self->finish({});
        });
      });
}

void TcpDialer::cancel() {
  if (!done_) return;
  resolver_.cancel();
  resolveTimer_.cancel();
  stream_.cancel();
  finish("cancelled");
}

void TcpDialer::finish(std::string failure) {
  if (!done_) return;
  auto done = std::move(done_);
  done_ = nullptr;
  done(std::move(failure));
}

}  // namespace oskel::net
