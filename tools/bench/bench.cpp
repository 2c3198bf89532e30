#include "bench/bench.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "bench/child.h"
#include "bench/cpu_time.h"
#include "bench/netns.h"
#include "bench/platform_costs.h"
#include "bench/pool_contention.h"
#include "bench/raw_reference.h"
#include "bench/window_probe.h"
#include "sim/sim_board.h"
#include "app/stop_signal.h"
#include "sim/wire_model.h"
#include "core/link/discovery.h"
#include "core/link/in_memory.h"
#include "core/link/link.h"
#include "core/settings/file_settings_store.h"
#include "core/settings/store_address_pool.h"
#include "core/station/production_run.h"
#include "core/station/steps.h"
#include "backends/pcap/pcap_backend.h"

namespace skav::bench {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kStationEnd = "skav0";
constexpr const char* kBoardEnd = "skav1";
// The second port's veth pair.
constexpr const char* kSecondStationEnd = "skav2";
constexpr const char* kSecondBoardEnd = "skav3";
constexpr const char* kImageName = "bench.img";
constexpr std::chrono::seconds kTransferTimeout{10};
constexpr int kDiscoveryTries = 200;

double seconds_between(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

// Median and spread of the repeats.
struct Figure {
  double median = 0;
  double min = 0;
  double max = 0;
};

Figure figure_of(std::vector<double> values) {
  Figure f;
  if (values.empty()) return f;
  std::sort(values.begin(), values.end());
  std::size_t n = values.size();
  f.median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  f.min = values.front();
  f.max = values.back();
  return f;
}

// The station's figures of one setup.
struct StationFigures {
  std::vector<double> write;  // MB/s per repeat
  std::vector<double> read;
  double cpu_ms_per_mb = 0;  // station CPU per MB of image (written and read back)
  // Of it, the programming thread's while writing and while reading back, per MB of image.
  double write_cpu_ms_per_mb = 0;
  double read_cpu_ms_per_mb = 0;
  // The first, unmeasured board's, when there was one: its image buffer is faulted in then.
  double first_cpu_ms_per_mb = 0;
  long peak_kib = 0;         // VmHWM of the process while programming
  std::string error;         // empty when every repeat passed
  WindowFigures windows;     // per window, the measured repeats
};

// A scratch directory with config.ini and the image; removed with the object.
class Workspace {
 public:
  explicit Workspace(std::uint32_t size) {
    char pattern[] = "/tmp/skav-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return;
    dir_ = pattern;
    std::vector<std::uint8_t> image(size);
    std::minstd_rand random(7);
    for (std::uint8_t& byte : image) byte = static_cast<std::uint8_t>(random() >> 8);
    std::ofstream(dir_ / kImageName, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(size));
    std::ofstream(dir_ / "config.ini") << "[filesystem]\r\nFilename=" << kImageName
                                       << "\r\nMem_type=nand\r\nCommand=write\r\n"
                                          "Mem_Src_addr=0\r\nMem_Dst_addr=0\r\n";
  }
  ~Workspace() {
    std::error_code ignored;
    if (!dir_.empty()) fs::remove_all(dir_, ignored);
  }
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;
  bool ok() const { return !dir_.empty() && fs::exists(dir_ / kImageName); }
  const fs::path& dir() const { return dir_; }

 private:
  fs::path dir_;
};

// Times the data phases of the filesystem step (the write, then its read-back) from the
// station's progress events, and keeps why the step failed if it did.
class PhaseTimer : public station::RunObserver {
 public:
  void on_planned(const station::RunPlan&) override {}
  void on_step_started(station::StepSlot) override { phases_ = 0; }
  void on_step_progress(station::StepSlot, std::uint64_t done, std::uint64_t total, double) override {
    if (done == 0 && phases_ == 0) {
      begin_ = Clock::now();
      cpu_begin_ = thread_cpu_seconds();
    }
    if (done == total && phases_ < 2) {
      cpu_ends_[phases_] = thread_cpu_seconds();
      ends_[phases_++] = Clock::now();
    }
  }
  void on_step_finished(station::StepSlot, station::Verdict verdict, const std::string& reason) override {
    if (verdict != station::Verdict::kPass && verdict != station::Verdict::kSkipped) failure_ = reason;
  }
  void on_address_taken(const MacDigits::Digits&, const MacDigits::Digits&) override {}

  int phases() const { return phases_; }
  Clock::time_point begin() const { return begin_; }
  Clock::time_point end(int phase) const { return ends_[phase]; }
  // The programming thread's CPU time in seconds spent writing (phase 0) or reading back (1).
  double cpu(int phase) const { return cpu_ends_[phase] - (phase == 0 ? cpu_begin_ : cpu_ends_[0]); }
  std::string take_failure() { return std::exchange(failure_, {}); }

 private:
  Clock::time_point begin_{};
  double cpu_begin_ = 0;
  double cpu_ends_[2]{};
  int phases_ = 0;
  Clock::time_point ends_[2]{};
  std::string failure_;
};

long vm_hwm_kib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.starts_with("VmHWM:")) return std::stol(line.substr(6));
  return 0;
}

// Starts the peak-memory count afresh from the present resident size.
void reset_peak_memory() { std::ofstream("/proc/self/clear_refs") << "5"; }

double cpu_seconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Opens the adapter by name and finds the board. Empty on success.
std::string connect(link::Link& link, const std::string& adapter) {
  StringLog log;
  link::AdapterList list;
  link.enumerate_adapters(&log, list);
  int number = list.number_of(adapter);
  if (number == 0) return "no adapter " + adapter + " " + log.text();
  if (link.open_adapter(&log, number) != 1) return log.text();
  for (int i = 0; i < kDiscoveryTries; ++i)
    if (link::find_target(link) == 1) return {};
  return "the board did not answer";
}

// Runs the station's Production Run (the workspace configures one filesystem section)
// `warm_ups` times unmeasured (a new board's memory is not yet allocated, nor the station's
// image buffer faulted in: a station pays that once, not per board), then `repeats` times
// measured, against a connected board. `cpu_who` is RUSAGE_THREAD when the board shares the
// process, else RUSAGE_SELF.
StationFigures program_board(link::Link& link, const fs::path& dir, std::uint32_t size,
                             int warm_ups, int repeats, int cpu_who,
                             WindowProbe* probe = nullptr) {
  StationFigures figures;
  settings::FileSettingsStore store(dir / "bench.reg");
  settings::StoreAddressPool pool(store);
  StringLog log;
  PhaseTimer timer;
  station::ImageBuffer images;  // kept from repeat to repeat, as a station keeps it
  station::RunContext context{&log, link, pool, dir, kTransferTimeout, nullptr,
                              MacDigits::kDefault, false, &timer, &images};
  reset_peak_memory();
  double cpu_before = cpu_seconds(cpu_who);
  double phase_cpu[2]{};
  for (int r = 0; r < warm_ups + repeats; ++r) {
    if (r == warm_ups && r > 0) {
      double now = cpu_seconds(cpu_who);
      figures.first_cpu_ms_per_mb = (now - cpu_before) * 1000 / (size / 1e6 * warm_ups);
      cpu_before = now;
    }
    if (r == warm_ups && probe != nullptr) probe->take();
    log.clear();
    station::BoardRecord record = station::run_board(context).record;
    if (record.step(station::StepSlot::kFilesystem) != station::Verdict::kPass || timer.phases() != 2) {
      figures.error = "the board was not programmed: " + timer.take_failure() + " " + log.text();
      return figures;
    }
    if (r < warm_ups) continue;
    phase_cpu[0] += timer.cpu(0);
    phase_cpu[1] += timer.cpu(1);
    double mb = size / 1e6;
    figures.write.push_back(mb / seconds_between(timer.begin(), timer.end(0)));
    figures.read.push_back(mb / seconds_between(timer.end(0), timer.end(1)));
  }
  double cpu = cpu_seconds(cpu_who) - cpu_before;
  figures.cpu_ms_per_mb = cpu * 1000 / (size / 1e6 * repeats);
  figures.write_cpu_ms_per_mb = phase_cpu[0] * 1000 / (size / 1e6 * repeats);
  figures.read_cpu_ms_per_mb = phase_cpu[1] * 1000 / (size / 1e6 * repeats);
  figures.peak_kib = vm_hwm_kib();
  if (probe != nullptr) figures.windows = probe->take();
  return figures;
}

StationFigures in_process(const Workspace& work, const BenchOptions& options) {
  link::InMemoryWire wire;
  link::InMemoryBackend backend(wire);
  WindowProbe probe(backend, [&wire] { return wire.to_station().sleeps(); });
  sim::SimBoard board(wire.board_end(), sim::BoardOptions{});
  std::atomic<bool> stop{false};
  std::thread board_thread([&] { board.run(stop); });
  StationFigures figures;
  {
    link::Link link(probe);
    figures.error = connect(link, link::InMemoryBackend::kAdapterName);
    if (figures.error.empty())
      figures = program_board(link, work.dir(), options.size, 1, options.repeats, RUSAGE_THREAD,
                              &probe);
  }
  stop = true;
  board_thread.join();
  return figures;
}

// A child process serving as the board until SIGTERM (or SIGINT).
[[noreturn]] void serve_sim_board(bool modelled_wire, const char* board_end = kBoardEnd) {
  const std::atomic<bool>& stop = app::install_stop_signals();
  pcap::PcapBackend backend;
  link::OpenResult opened = backend.open_for_board(board_end);
  if (!opened.device) _exit(2);
  std::optional<sim::WireModelDevice> modelled;
  link::FrameDevice* device = opened.device.get();
  if (modelled_wire) device = &modelled.emplace(*opened.device, sim::WireParameters{});
  sim::SimBoard board(*device, sim::BoardOptions{});
  board.run(stop);
  _exit(0);
}

StationFigures over_veth(const Workspace& work, const BenchOptions& options, bool modelled_wire,
                         int warm_ups) {
  StationFigures figures;
  pid_t child = fork_bound_child();
  if (child < 0) {
    figures.error = std::string("fork: ") + std::strerror(errno);
    return figures;
  }
  if (child == 0) serve_sim_board(modelled_wire);
  {
    pcap::PcapBackend backend;
    WindowProbe probe(backend, [&backend] { return backend.wake_ups(); });
    link::Link link(probe);
    figures.error = connect(link, kStationEnd);
    if (figures.error.empty())
      figures = program_board(link, work.dir(), options.size, warm_ups, options.repeats,
                              RUSAGE_SELF, &probe);
  }
  end_child(child);
  return figures;
}

struct ReferenceFigures {
  std::vector<double> write;
  std::vector<double> read;
  double cpu_ms_per_mb = 0;  // the station end's thread, written and read back
  std::string error;
};

ReferenceFigures raw_reference(const BenchOptions& options) {
  ReferenceFigures figures;
  RawEndpoint station;
  if (std::string error = station.open(kStationEnd, link::kEtherTargetData, link::kEtherHostData);
      !error.empty()) {
    figures.error = error;
    return figures;
  }
  std::vector<std::uint8_t> sent(options.size);
  std::minstd_rand random(11);
  for (std::uint8_t& byte : sent) byte = static_cast<std::uint8_t>(random() >> 8);

  pid_t child = fork_bound_child();
  if (child < 0) {
    figures.error = std::string("fork: ") + std::strerror(errno);
    return figures;
  }
  if (child == 0) {
    RawEndpoint board;
    if (!board.open(kBoardEnd, link::kEtherHostData, link::kEtherTargetData).empty()) _exit(2);
    std::vector<std::uint8_t> memory(options.size);
    board.send_signal();  // ready
    for (int r = 0; r < options.repeats; ++r) {
      if (!board.receive_block(memory.data(), options.size) || !board.await_signal() ||
          !board.send_block(memory.data(), options.size))
        _exit(3);
    }
    _exit(0);
  }
  // Allocated after the fork: filled before it, the buffer's pages would be shared with the
  // child and copied on the first write of the timed read.
  std::vector<std::uint8_t> back(options.size);
  bool ready = station.await_signal();
  double mb = options.size / 1e6;
  double cpu = 0;
  for (int r = 0; ready && r < options.repeats; ++r) {
    double cpu_before = thread_cpu_seconds();
    Clock::time_point start = Clock::now();
    if (!station.send_block(sent.data(), options.size)) break;
    Clock::time_point written = Clock::now();
    if (!station.send_signal() || !station.receive_block(back.data(), options.size)) break;
    Clock::time_point read = Clock::now();
    cpu += thread_cpu_seconds() - cpu_before;
    figures.write.push_back(mb / seconds_between(start, written));
    figures.read.push_back(mb / seconds_between(written, read));
  }
  if (!figures.read.empty())
    figures.cpu_ms_per_mb = cpu * 1000 / (mb * static_cast<double>(figures.read.size()));
  end_child(child);
  if (static_cast<int>(figures.read.size()) != options.repeats)
    figures.error = "the raw reference's transfer stalled";
  else if (back != sent)
    figures.error = "the raw reference's bytes came back changed";
  return figures;
}

// The station and the raw reference take turns, one repeat each, so that a change in the
// machine's load during the run weighs on both alike; each turn starts its own board process.
struct VethFigures {
  StationFigures station;
  ReferenceFigures reference;
};

VethFigures veth_in_turns(const Workspace& work, const BenchOptions& options) {
  VethFigures figures;
  BenchOptions once = options;
  once.repeats = 1;
  StationFigures& station_total = figures.station;  // CPU summed over the turns, then averaged
  for (int r = 0; r < options.repeats; ++r) {
    // The raw reference's board fills its memory before it is timed; the station's board gets
    // one unmeasured programming for the same.
    StationFigures station = over_veth(work, once, false, 1);
    if (!station.error.empty()) {
      figures.station.error = station.error;
      break;
    }
    figures.station.write.push_back(station.write.front());
    figures.station.read.push_back(station.read.front());
    station_total.cpu_ms_per_mb += station.cpu_ms_per_mb;
    station_total.write_cpu_ms_per_mb += station.write_cpu_ms_per_mb;
    station_total.read_cpu_ms_per_mb += station.read_cpu_ms_per_mb;
    station_total.first_cpu_ms_per_mb += station.first_cpu_ms_per_mb;
    figures.station.peak_kib = std::max(figures.station.peak_kib, station.peak_kib);
    figures.station.windows.add(station.windows);
    ReferenceFigures reference = raw_reference(once);
    if (!reference.error.empty()) {
      figures.reference.error = reference.error;
      break;
    }
    figures.reference.write.push_back(reference.write.front());
    figures.reference.read.push_back(reference.read.front());
    figures.reference.cpu_ms_per_mb += reference.cpu_ms_per_mb;
  }
  if (std::size_t turns = figures.reference.read.size(); turns > 0)
    figures.reference.cpu_ms_per_mb /= static_cast<double>(turns);
  if (std::size_t turns = station_total.write.size(); turns > 0)
    for (double* sum : {&station_total.cpu_ms_per_mb, &station_total.write_cpu_ms_per_mb,
                        &station_total.read_cpu_ms_per_mb, &station_total.first_cpu_ms_per_mb})
      *sum /= static_cast<double>(turns);
  return figures;
}

// Two ports of one station: two boards, each at the far end of its own veth pair and served by
// its own process, programmed by two station threads (each with its own link, as each port's
// station has), first one after the other, then both at once; one pair of timings per repeat.
struct TwoPortFigures {
  std::vector<double> sequential;  // seconds for the two boards one after the other
  std::vector<double> together;    // seconds for the two boards at once
  std::string load;                // the machine's load average (1 minute) before
  std::string error;
};

// The first field of /proc/loadavg: the machine is shared, and the row depends on its load.
std::string load_average() {
  std::ifstream in("/proc/loadavg");
  std::string first;
  in >> first;
  return first.empty() ? "?" : first;
}

TwoPortFigures two_ports(const Workspace& work, const BenchOptions& options, bool modelled_wire) {
  TwoPortFigures figures;
  figures.load = load_average();
  const char* board_ends[2] = {kBoardEnd, kSecondBoardEnd};
  const char* station_ends[2] = {kStationEnd, kSecondStationEnd};
  pid_t children[2] = {-1, -1};
  for (int i = 0; i < 2; ++i) {
    children[i] = fork_bound_child();
    if (children[i] < 0) {
      figures.error = std::string("fork: ") + std::strerror(errno);
      break;
    }
    if (children[i] == 0) serve_sim_board(modelled_wire, board_ends[i]);
  }
  if (figures.error.empty()) {
    pcap::PcapBackend backends[2];
    std::unique_ptr<link::Link> links[2];
    for (int i = 0; i < 2 && figures.error.empty(); ++i) {
      links[i] = std::make_unique<link::Link>(backends[i]);
      std::string why = connect(*links[i], station_ends[i]);
      if (!why.empty()) figures.error = std::string(station_ends[i]) + ": " + why;
    }
    settings::FileSettingsStore store(work.dir() / "ports.reg");
    settings::StoreAddressPool pool(store);
    // One board's run; false when its filesystem step did not pass.
    auto program = [&](int port) {
      StringLog log;
      station::RunContext context{&log, *links[port], pool, work.dir(), kTransferTimeout, nullptr,
                                  MacDigits::kDefault, false, nullptr};
      return station::run_board(context).record.step(station::StepSlot::kFilesystem) == station::Verdict::kPass;
    };
    // Unmeasured: each board allocates its memory on its first write.
    if (figures.error.empty() && (!program(0) || !program(1))) figures.error = "a board was not programmed";
    for (int r = 0; r < options.repeats && figures.error.empty(); ++r) {
      Clock::time_point start = Clock::now();
      bool ok = program(0) && program(1);
      Clock::time_point one_after_other = Clock::now();
      bool results[2] = {false, false};
      std::thread second([&] { results[1] = program(1); });
      results[0] = program(0);
      second.join();
      Clock::time_point at_once = Clock::now();
      if (!ok || !results[0] || !results[1]) {
        figures.error = "a board was not programmed";
        break;
      }
      figures.sequential.push_back(seconds_between(start, one_after_other));
      figures.together.push_back(seconds_between(one_after_other, at_once));
    }
  }
  for (pid_t child : children)
    if (child > 0) end_child(child);
  return figures;
}

void print_two_ports(std::FILE* out, const char* name, const TwoPortFigures& figures) {
  if (!figures.error.empty()) {
    std::fprintf(out, "%s: %s\n", name, figures.error.c_str());
    return;
  }
  Figure sequential = figure_of(figures.sequential);
  Figure together = figure_of(figures.together);
  std::fprintf(out, "%-34s one after the other %.3f s (%.3f-%.3f), together %.3f s (%.3f-%.3f), "
                    "ratio %.2f\n",
               name, sequential.median, sequential.min, sequential.max, together.median, together.min,
               together.max, together.median / sequential.median);
  std::string each;
  for (std::size_t i = 0; i < figures.together.size(); ++i) {
    char ratio[16];
    std::snprintf(ratio, sizeof ratio, "%s%.2f", i > 0 ? " " : "", figures.together[i] / figures.sequential[i]);
    each += ratio;
  }
  std::fprintf(out, "%-34s %s (load average before: %s)\n", "   ratio of each repeat", each.c_str(),
               figures.load.c_str());
}

// CPU ticks (user + system) of a process, from /proc/<pid>/stat.
std::optional<long> cpu_ticks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::size_t close = text.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  long utime = 0, stime = 0;
  // After the command name: state is field 3; utime and stime are fields 14 and 15.
  for (int index = 3; index <= 15 && fields >> field; ++index) {
    if (index == 14) utime = std::stol(field);
    if (index == 15) stime = std::stol(field);
  }
  return utime + stime;
}

struct IdleFigure {
  double percent = 0;
  std::string error;
};

// `skav run --interface skav0` with nobody answering: the searching station's CPU use.
IdleFigure idle_station(const Workspace& work, const BenchOptions& options) {
  IdleFigure idle;
  std::string settings = (work.dir() / "idle.reg").string();
  std::string dir = work.dir().string();
  pid_t child = fork_bound_child();
  if (child < 0) {
    idle.error = std::string("fork: ") + std::strerror(errno);
    return idle;
  }
  if (child == 0) {
    int null = ::open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    execl(options.program.c_str(), "skav", "run", "--interface", kStationEnd, "--no-barcode",
          "--settings", settings.c_str(), "-C", dir.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  // Let start-up (adapter listing and opening) pass before counting.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  std::optional<long> before = cpu_ticks(child);
  Clock::time_point start = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(options.idle_seconds));
  std::optional<long> after = cpu_ticks(child);
  double elapsed = seconds_between(start, Clock::now());
  bool running = waitpid(child, nullptr, WNOHANG) == 0;
  end_child(child);
  if (!before || !after || !running) {
    idle.error = "skav run ended early";
    return idle;
  }
  idle.percent = static_cast<double>(*after - *before) / static_cast<double>(sysconf(_SC_CLK_TCK)) /
                 elapsed * 100;
  return idle;
}

void print_row(std::FILE* out, const char* name, const std::vector<double>& write,
               const std::vector<double>& read) {
  Figure w = figure_of(write);
  Figure r = figure_of(read);
  std::fprintf(out, "%-34s %8.1f (%7.1f-%7.1f)   %8.1f (%7.1f-%7.1f)\n", name, w.median, w.min,
               w.max, r.median, r.min, r.max);
}

void print_station(std::FILE* out, const char* name, const StationFigures& figures) {
  print_row(out, name, figures.write, figures.read);
}

void print_resources(std::FILE* out, const char* name, const StationFigures& figures,
                     const char* note) {
  std::fprintf(out, "%-34s CPU %.2f ms per MB of image (written and read back; writing %.2f, "
                    "reading back %.2f, the rest of the run %.2f), peak memory %.1f MiB%s\n",
               name, figures.cpu_ms_per_mb, figures.write_cpu_ms_per_mb,
               figures.read_cpu_ms_per_mb,
               figures.cpu_ms_per_mb - figures.write_cpu_ms_per_mb - figures.read_cpu_ms_per_mb,
               static_cast<double>(figures.peak_kib) / 1024, note);
  if (figures.first_cpu_ms_per_mb > 0)
    std::fprintf(out, "%-34s the first board, unmeasured above: CPU %.2f ms per MB (the image "
                      "buffer's pages are faulted in once)\n",
                 "", figures.first_cpu_ms_per_mb);
}

// The station's turnaround per window (medians) and its wake-ups per window, both directions.
void print_windows(std::FILE* out, const char* name, const StationFigures& figures) {
  const WindowFigures& w = figures.windows;
  auto per_window = [](std::uint64_t wake_ups, std::uint64_t windows) {
    return windows > 0 ? static_cast<double>(wake_ups) / static_cast<double>(windows) : 0.0;
  };
  std::fprintf(out, "%-34s ack arrival -> next window leaving %.1f us, last frame -> ack leaving "
                    "%.1f us (medians); wake-ups per window %.2f write, %.2f read (%llu, %llu "
                    "windows)\n",
               name, figure_of(w.write_turnaround_us).median,
               figure_of(w.read_turnaround_us).median,
               per_window(w.write_wake_ups, w.write_windows),
               per_window(w.read_wake_ups, w.read_windows),
               static_cast<unsigned long long>(w.write_windows),
               static_cast<unsigned long long>(w.read_windows));
}

// Ratios to three places: a run just under 0.9 must not print as 0.90.
void print_ratio(std::FILE* out, const char* name, double write, double read, int places = 3) {
  std::fprintf(out, "%-34s %8.*f                      %8.*f\n", name, places, write, places, read);
}

void print_wire(std::FILE* out, const StationFigures& wire) {
  double limit = sim::protocol_limit(sim::WireParameters{}) / 1e6;
  print_station(out, "c. modelled 1 Gbit/s wire (station)", wire);
  print_ratio(out, "c. protocol limit (MB/s)", limit, limit, 2);
  print_ratio(out, "c. ratio station/limit", figure_of(wire.write).median / limit,
              figure_of(wire.read).median / limit);
}

// The platform's own cost of a window's events, beside which the station's CPU is read.
int print_platform(std::FILE* out) {
  PlatformCosts costs = measure_platform_costs(kStationEnd, kBoardEnd);
  if (!costs.error.empty()) {
    std::fprintf(out, "c. platform, per window: %s\n", costs.error.c_str());
    return 1;
  }
  std::fprintf(out, "%-34s 16 frames sent %.1f us, an acknowledgement sent %.1f us, a wait ended "
                    "by a frame %.1f us, by its timer %.1f us (CPU per event, each alone)\n",
               "c. platform, per window", costs.send_window_us, costs.send_ack_us,
               costs.woken_wait_us, costs.timed_wait_us);
  std::fprintf(out, "%-34s one window each way: %.2f ms per MB of image before the station does "
                    "anything else\n",
               "", costs.floor_ms_per_mb());
  return 0;
}

// What the rows measured, for the lines printed after every row's figures.
struct Bench {
  const BenchOptions& options;
  std::FILE* out;
  Workspace& work;
  // Why the veth namespace could not be entered ("--skip-veth" when not tried); empty: in it.
  std::string no_pair;
  bool pair_tried = false;
  StationFigures memory;
  StationFigures veth;
  ReferenceFigures reference;
  StationFigures wire;
};

// A row prints in three passes over the chosen rows, so that the lines of one kind stand
// together: its figures, then its resources, then its windows (and what comes after them).
enum class Pass { kFigures, kResources, kLater };

struct BenchRow {
  const char* name;      // as --only names it
  bool needs_pair;       // runs in the private namespace on a veth pair (root)
  const char* skipped;   // the line's start when the pair is missing, "b. veth pair"
  Pass shown;            // the pass its first line stands in
  int (*print)(Bench& bench, Pass pass);  // 0, or 1 when its measurement failed
};

int in_process_row(Bench& b, Pass pass) {
  if (pass == Pass::kFigures) {
    b.memory = in_process(b.work, b.options);
    if (!b.memory.error.empty()) {
      std::fprintf(b.out, "a. in-process link: %s\n", b.memory.error.c_str());
      return 1;
    }
    print_station(b.out, "a. in-process link (station)", b.memory);
  } else if (b.memory.error.empty()) {
    if (pass == Pass::kResources)
      print_resources(b.out, "a. station resources", b.memory, " (board included: same process)");
    else
      print_windows(b.out, "a. station per window", b.memory);
  }
  return 0;
}

int veth_row(Bench& b, Pass pass) {
  if (pass == Pass::kFigures) {
    VethFigures figures = veth_in_turns(b.work, b.options);
    b.veth = std::move(figures.station);
    b.reference = std::move(figures.reference);
    int status = 0;
    if (!b.veth.error.empty()) {
      std::fprintf(b.out, "b. veth, station: %s\n", b.veth.error.c_str());
      status = 1;
    } else {
      print_station(b.out, "b. veth pair (station, libpcap)", b.veth);
    }
    if (!b.reference.error.empty()) {
      std::fprintf(b.out, "b. veth, raw reference: %s\n", b.reference.error.c_str());
      status = 1;
    } else {
      print_row(b.out, "b. veth pair (raw reference)", b.reference.write, b.reference.read);
    }
    if (b.veth.error.empty() && b.reference.error.empty())
      print_ratio(b.out, "b. ratio station/reference",
                  figure_of(b.veth.write).median / figure_of(b.reference.write).median,
                  figure_of(b.veth.read).median / figure_of(b.reference.read).median);
    return status;
  }
  if (pass == Pass::kResources) {
    if (b.veth.error.empty()) print_resources(b.out, "b. station resources", b.veth, "");
    if (b.reference.error.empty())
      std::fprintf(b.out, "%-34s CPU %.2f ms per MB of image (written and read back; its end of the "
                          "pair, a system call for each frame)\n",
                   "b. raw reference resources", b.reference.cpu_ms_per_mb);
  } else if (b.veth.error.empty()) {
    print_windows(b.out, "b. station per window", b.veth);
  }
  return 0;
}

int wire_row(Bench& b, Pass pass) {
  if (pass == Pass::kFigures) {
    b.wire = over_veth(b.work, b.options, true, 1);
    if (!b.wire.error.empty()) {
      std::fprintf(b.out, "c. modelled wire, station: %s\n", b.wire.error.c_str());
      return 1;
    }
    print_wire(b.out, b.wire);
  } else if (b.wire.error.empty()) {
    if (pass == Pass::kResources)
      print_resources(b.out, "c. station resources", b.wire, "");
    else
      print_windows(b.out, "c. station per window", b.wire);
  }
  return 0;
}

int ports_row(Bench& b, Pass pass) {
  if (pass != Pass::kFigures) return 0;
  if (std::string why = add_veth_pair(kSecondStationEnd, kSecondBoardEnd); !why.empty()) {
    std::fprintf(b.out, "d. two ports: %s\n", why.c_str());
    return 1;
  }
  TwoPortFigures veth_ports = two_ports(b.work, b.options, false);
  print_two_ports(b.out, "d. two ports, veth", veth_ports);
  TwoPortFigures wire_ports = two_ports(b.work, b.options, true);
  print_two_ports(b.out, "d. two ports, modelled wire", wire_ports);
  return veth_ports.error.empty() && wire_ports.error.empty() ? 0 : 1;
}

int platform_row(Bench& b, Pass pass) { return pass == Pass::kLater ? print_platform(b.out) : 0; }

int idle_row(Bench& b, Pass pass) {
  if (pass != Pass::kLater) return 0;
  IdleFigure idle = idle_station(b.work, b.options);
  if (!idle.error.empty()) {
    std::fprintf(b.out, "idle station: %s\n", idle.error.c_str());
    return 1;
  }
  std::fprintf(b.out, "idle station: %.2f %% of one core over %d s (skav run --interface %s, "
                      "searching, nobody answering)\n",
               idle.percent, b.options.idle_seconds, kStationEnd);
  return 0;
}

int pool_row(Bench& b, Pass pass) {
  if (pass != Pass::kLater) return 0;
  if (b.options.pool.empty()) {
    std::fprintf(b.out, "pool: skipped (no --pool postgresql://...)\n");
    return b.options.only.empty() ? 0 : 1;
  }
  PoolContention figures = pool_contention(b.options.pool, b.options.reservers,
                                           std::chrono::seconds(b.options.pool_seconds),
                                           b.work.dir() / "pool");
  if (!figures.error.empty()) {
    std::fprintf(b.out, "pool: %s\n", figures.error.c_str());
    return 1;
  }
  std::fprintf(b.out, "pool: %d stations reserving at once: %.0f reservations/s (%zu in %.1f s, each "
                      "with its record), %zu addresses twice, %zu failed calls\n",
               b.options.reservers, static_cast<double>(figures.reservations) / figures.seconds,
               figures.reservations, figures.seconds, figures.twice, figures.failures);
  return figures.twice == 0 ? 0 : 1;
}

constexpr BenchRow kRows[] = {
    {"in-process", false, "a. in-process link", Pass::kFigures, in_process_row},
    {"veth", true, "b. veth pair", Pass::kFigures, veth_row},
    {"wire", true, "c. modelled 1 Gbit/s wire", Pass::kFigures, wire_row},
    {"ports", true, "d. two ports", Pass::kFigures, ports_row},
    {"platform", true, "c. platform, per window", Pass::kLater, platform_row},
    {"idle", true, "idle station", Pass::kLater, idle_row},
    {"pool", false, "pool", Pass::kLater, pool_row},
};

bool chosen(const BenchOptions& options, const BenchRow& row) {
  return options.only.empty() ||
         std::find(options.only.begin(), options.only.end(), row.name) != options.only.end();
}

}  // namespace

std::vector<std::string> bench_row_names() {
  std::vector<std::string> names;
  for (const BenchRow& row : kRows) names.emplace_back(row.name);
  return names;
}

int run_bench(const BenchOptions& options, std::FILE* out) {
  for (const std::string& name : options.only)
    if (std::none_of(std::begin(kRows), std::end(kRows),
                     [&name](const BenchRow& row) { return name == row.name; })) {
      std::fprintf(out, "skav bench: no row named %s\n", name.c_str());
      return 1;
    }
  Workspace work(options.size);
  if (!work.ok()) {
    std::fprintf(out, "skav bench: cannot write the image into a scratch directory under /tmp\n");
    return 1;
  }
  std::fprintf(out, "skav bench: one board, a %u-byte filesystem image (nand, write, read back), "
                    "%d repeats; 1 MB = 10^6 bytes\n",
               options.size, options.repeats);
  std::fprintf(out, "%-34s %-30s %s\n", "setup", "write MB/s median (min-max)",
               "read-back MB/s median (min-max)");
  std::fflush(out);

  Bench bench{options, out, work, {}, false, {}, {}, {}, {}};
  int status = 0;
  for (Pass pass : {Pass::kFigures, Pass::kResources, Pass::kLater}) {
    for (const BenchRow& row : kRows) {
      if (!chosen(options, row)) continue;
      if (row.needs_pair && !bench.pair_tried) {
        bench.pair_tried = true;
        bench.no_pair = options.skip_veth ? "--skip-veth" : enter_veth_namespace(kStationEnd, kBoardEnd);
      }
      if (row.needs_pair && !bench.no_pair.empty()) {
        // Said once, where the row's figures would stand; a row asked for by name fails.
        if (pass == row.shown)
          std::fprintf(out, "%s: skipped (%s)\n", row.skipped, bench.no_pair.c_str());
        if (!options.only.empty() && pass == row.shown) status = 1;
        continue;
      }
      if (row.print(bench, pass) != 0) status = 1;
      std::fflush(out);
    }
  }
  return status;
}

}  // namespace skav::bench
