#pragma once

#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

// The clocks the benchmarks read: wall time, CPU time of this thread, this
// process and the private audio server.
namespace oskel::bench {

// Seconds on the monotonic clock.
inline double nowSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

inline double cpuSeconds(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// CPU time, not wall time: on a loaded machine a thread may be preempted.
inline double threadCPU() { return cpuSeconds(CLOCK_THREAD_CPUTIME_ID); }
inline double processCPU() { return cpuSeconds(CLOCK_PROCESS_CPUTIME_ID); }

// CPU seconds the server's processes (from audio-servers.sh) have used.
inline double serverCPU() {
  const char* pids = std::getenv("OSKEL_AUDIO_SERVER_PIDS");
  if (!pids) return 0.0;
  std::istringstream list(pids);
  double total = 0.0;
  for (std::string pid; list >> pid;) {
    std::ifstream stat("/proc/" + pid + "/stat");
    std::string line;
    std::getline(stat, line);
    // The command in parentheses may hold spaces; fields count on from the
    // state (3) after it to utime and stime (14 and 15).
    const auto close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(line.substr(close + 2));
    std::string skipped;
    for (int index = 3; index < 14; ++index) fields >> skipped;
    unsigned long long utime = 0, stime = 0;
    fields >> utime >> stime;
    total += static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
  }
  return total;
}

struct ThreadUse {
  double cpu = 0.0;    // seconds on a core
  double wakes = 0.0;  // times the thread went to sleep and was woken
};

// CPU time and wake-ups of every thread of the process, by name. On a
// virtual machine a wake-up costs tens of microseconds of the thread's own
// time, more than the work most of them do.
inline std::map<std::string, ThreadUse> threadUse() {
  std::map<std::string, ThreadUse> use;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream commFile(task.path() / "comm");
    std::ifstream schedFile(task.path() / "schedstat");
    std::ifstream statusFile(task.path() / "status");
    std::string name;
    double ns = 0;
    if (!std::getline(commFile, name) || !(schedFile >> ns)) continue;
    use[name].cpu += ns * 1e-9;
    for (std::string line; std::getline(statusFile, line);)
      if (line.starts_with("voluntary_ctxt_switches:")) use[name].wakes += std::atof(line.c_str() + 24);
  }
  return use;
}

// Polls `done` every 5 ms for at most `limit` seconds; whether it came true.
template <class Done>
bool waitUntil(Done&& done, double limit) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(limit);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace oskel::bench
