// What the flood benchmarks share: the frames they send, the checks that
// every frame was shown and logged in order, and the process's CPU time and
// memory.
#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <QString>
#include <QStringList>
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "link/prompter.h"
#include "mainwindow/ui/received_column.h"
#include "mainwindow/ui/serial_tab.h"

namespace qmx::bench {

class CountingPrompter : public qmx::Prompter {
 public:
  void Message(const std::string& text, const std::string& caption) override {
    std::fprintf(stderr, "message: %s: %s\n", caption.c_str(), text.c_str());
    ++count;
  }
  bool Question(const std::string& text, const std::string& caption) override {
    Message(text, caption);
    return false;
  }
  std::atomic<int> count{0};
};


// CPU time of the calling thread so far, in seconds.
inline double ThreadCpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Every thread's CPU time so far (user and system, to the clock tick), by
// thread id, with its name.
struct ThreadCpu {
  std::string name;
  double seconds = 0;
};
inline std::map<int, ThreadCpu> ThreadCpuTimes() {
  std::map<int, ThreadCpu> times;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream in(task.path() / "stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
      if (i == 14) utime = std::stoull(field);
      if (i == 15) stime = std::stoull(field);
    }
    times[std::stoi(task.path().filename().string())] = {
        stat.substr(open + 1, close - open - 1),
        static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK))};
  }
  return times;
}

// ThreadCpuTimes() on stderr: where the time goes.
inline void PrintThreadCpu() {
  std::fprintf(stderr, "thread CPU s (tid name):");
  for (const auto& [tid, cpu] : ThreadCpuTimes()) std::fprintf(stderr, " %d %s %.2f;", tid, cpu.name.c_str(), cpu.seconds);
  std::fprintf(stderr, " (main %d)\n", static_cast<int>(::gettid()));
}

// CPU time of the whole process so far, in seconds.
inline double ProcessCpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

inline double RssMiB() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// One 48-character row per frame; every 16th frame takes two rows.
inline constexpr std::size_t kDataBytes = 16;
inline constexpr std::size_t kLongDataBytes = 40;

inline std::vector<std::uint8_t> FrameData(std::uint32_t seq) {
  std::vector<std::uint8_t> data(seq % 16 == 15 ? kLongDataBytes : kDataBytes, 0x5A);
  for (int i = 0; i < 4; ++i) data[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(seq >> (24 - 8 * i));
  return data;
}

// The sequence number in a row or log text "FB 15 ss 26 aa aa ll XX XX XX XX ..."
// starting at `hex` (four hex bytes).
inline bool ParseSeq(const std::string& text, std::size_t at, std::uint32_t& seq) {
  seq = 0;
  for (int i = 0; i < 4; ++i) {
    if (at + 3 * static_cast<std::size_t>(i) + 2 > text.size()) return false;
    seq = seq << 8 | static_cast<std::uint32_t>(std::stoul(text.substr(at + 3 * static_cast<std::size_t>(i), 2),
                                                           nullptr, 16));
  }
  return true;
}

// Every RX Data frame in the log files, oldest file first: true when they are
// 0, 1, 2, ... in order; `count` is how many there were.
inline bool LogInOrder(const std::filesystem::path& dir, std::uint64_t& count) {
  std::vector<std::filesystem::path> files;
  for (int i = 0;; ++i) {
    const auto backup = dir / ("logfile" + std::to_string(i) + ".bak");
    if (!std::filesystem::exists(backup)) break;
    files.push_back(backup);
  }
  files.push_back(dir / "logfile.dat");
  // A rotation can fall between the pieces of one entry: the files are read
  // as one text.
  std::string all;
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    all.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  count = 0;
  bool ordered = true;
  const std::string prefix = "Recv Data : ";
  std::istringstream lines(all);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind(prefix, 0) != 0 || line.find("(RX Data)") == std::string::npos) continue;
    // FB len seq type addrL addrH lqi, then the data.
    std::uint32_t seq = 0;
    if (!ParseSeq(line, prefix.size() + 7 * 3, seq) || seq != count) ordered = false;
    ++count;
  }
  return ordered;
}

// The newest rows of the view: the numbers of their frames follow one another
// up to the last frame sent, and each frame's first row has its address.
inline bool ViewInOrder(const qmx::SerialTab& tab, std::uint32_t last) {
  const QStringList rows = tab.ReceivedDataRichEdit->toPlainText().split('\n');
  const QStringList addresses = tab.MACAddressRichEdit->toPlainText().split('\n');
  if (addresses.size() != rows.size() || tab.LQIRichEdit->toPlainText().split('\n').size() != rows.size())
    return false;
  std::uint32_t expected = last;
  for (qsizetype i = rows.size() - 1; i >= 0; --i) {
    if (addresses[i].isEmpty()) continue;  // the second row of a long frame
    std::uint32_t seq = 0;
    if (addresses[i] != "0x0002" || !ParseSeq(rows[i].toStdString(), 0, seq) || seq != expected) return false;
    if (expected-- == 0) break;
  }
  return true;
}

// Takes --flood_seconds=N and --flood_rate=FRAMES_PER_SECOND out of the
// arguments, and every other argument that `own` takes (returns true for).
inline void TakeFloodOptions(int& argc, char** argv, int& seconds, int& rate,
                             const std::function<bool(const char*)>& own = {}) {
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--flood_seconds=", 16) == 0)
      seconds = std::max(1, std::atoi(argv[i] + 16));
    else if (std::strncmp(argv[i], "--flood_rate=", 13) == 0)
      rate = std::max(1, std::atoi(argv[i] + 13));
    else if (!own || !own(argv[i]))
      argv[kept++] = argv[i];
  }
  argc = kept;
}

}  // namespace qmx::bench
