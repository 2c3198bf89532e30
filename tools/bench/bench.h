#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/station/plan.h"

namespace skav::bench {

struct BenchOptions {
  // Image size in bytes; the default is the largest image the station loads (64 MiB less the
  // 4-byte size field of its image buffer).
  std::uint32_t size = station::kImageCapacity;
  int repeats = 5;
  bool skip_veth = false;
  // The rows to run by name (bench_row_names()); empty: every row.
  std::vector<std::string> only;
  int idle_seconds = 10;
  // The line's PostgreSQL database for the pool row (empty: the row is skipped), how many
  // stations reserve at once there, and for how long.
  std::string pool;
  int reservers = 80;
  int pool_seconds = 10;
  // The skav program, started as `skav run` for the idle measurement.
  std::string program = "/proc/self/exe";
};

// The bench is a table of rows, each a named measurement. All rows together:
// programs one simulated board (a filesystem section: nand, write, read back) through the
// station's Section Download over the in-process link, then (as root, in a private network
// namespace) over a veth pair next to a raw-socket reference, and over a modelled 1 Gbit/s
// wire; programs two boards on two veth pairs one after the other and at once (two ports);
// then measures an idle searching station. Prints the figures to `out`. 0 when every
// measurement ran, 1 when one failed (the reason is printed).
// The rows run only as `options.only` chooses, in the table's order; a row that needs the veth
// pair says "skipped" without it, which fails the bench only when the row was chosen by name.
// A name that is no row's fails at once.
int run_bench(const BenchOptions& options, std::FILE* out);

// The rows' names in the order they run: in-process, veth, wire, ports, platform, idle, pool.
std::vector<std::string> bench_row_names();

}  // namespace skav::bench
