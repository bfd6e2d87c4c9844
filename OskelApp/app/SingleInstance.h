#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QLocalServer;

namespace oskel::app {

// One application per user: the first process listens on a per-user local
// socket; a later one hands its arguments to it (which brings its window
// forward) and exits. A socket left behind by a crashed process is replaced.
class SingleInstance {
 public:
  using Message = std::vector<std::string>;
  using Handler = std::function<void(const Message&)>;

  // $XDG_RUNTIME_DIR/oskel.socket, else a name carrying the user id.
  static std::string defaultName();

  explicit SingleInstance(std::string name = defaultName());
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // True: this process is the one; `handler` gets every later launch's
  // arguments on the Qt thread. False: a running instance took `message`.
  bool claim(const Message& message, Handler handler);

 private:
  bool tell(const Message& message) const;
  std::string name_;
  std::unique_ptr<QLocalServer> server_;
  Handler handler_;
};

}  // namespace oskel::app
