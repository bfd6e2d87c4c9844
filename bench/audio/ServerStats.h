#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// CPU figures of this process and of the private audio server, for the
// audio-server benchmarks.
namespace oskel::bench {

inline double processCPU() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

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
    const auto close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    // Fields after the command: state is field 3; utime and stime are 14 and 15.
    for (int index = 3; fields >> field; ++index) {
      if (index == 14) utime = std::stoull(field);
      if (index == 15) {
        stime = std::stoull(field);
        break;
      }
    }
    total += static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
  }
  return total;
}

inline double median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace oskel::bench
