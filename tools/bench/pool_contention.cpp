#include "bench/pool_contention.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "backends/postgres/address_pool.h"
#include "core/station/records.h"

namespace skav::bench {

PoolContention pool_contention(const std::string& url, int reservers, std::chrono::seconds length,
                               const std::filesystem::path& dir) {
  PoolContention figures;
  std::vector<std::unique_ptr<postgres::PgAddressPool>> pools;
  for (int i = 0; i < reservers; ++i) {
    std::filesystem::path own = dir / ("reserver-" + std::to_string(i));
    std::filesystem::create_directories(own);
    pools.push_back(std::make_unique<postgres::PgAddressPool>(url, "bench", "bench-reserver-" + std::to_string(i), own));
    if (Status ready = pools.back()->check_ready(); !ready.ok()) {
      figures.error = ready.message();
      return figures;
    }
  }
  std::mutex mutex;
  std::vector<MacDigits::Digits> handed;
  std::atomic<std::size_t> failures{0};
  const auto start = std::chrono::steady_clock::now();
  const auto end = start + length;
  std::vector<std::thread> threads;
  for (auto& pool : pools)
    threads.emplace_back([&, station = pool.get()] {
      std::vector<MacDigits::Digits> own;
      station::BoardRecord record;
      record.overall = station::Verdict::kPass;
      while (std::chrono::steady_clock::now() < end) {
        auto reserved = station->reserve(nullptr, MacDigits::Digits{}, false, "eth0");
        if (!reserved.ok()) {
          // A range used up or a refusal ends this station's share; a wait is the pool's own.
          ++failures;
          if (reserved.code != settings::PoolCode::kUnavailable) break;
          continue;
        }
        own.push_back(reserved.value.address);
        record.time = station::iso8601_now();
        record.board_mac = record.written_mac = MacDigits::colon_text(reserved.value.address);
        settings::BoardOutcome outcome{"pass", station::record_columns(record)};
        if (!station->finish(reserved.value, outcome).ok()) ++failures;
      }
      std::lock_guard<std::mutex> lock(mutex);
      handed.insert(handed.end(), own.begin(), own.end());
    });
  for (std::thread& thread : threads) thread.join();
  figures.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  figures.reservations = handed.size();
  std::set<MacDigits::Digits> distinct(handed.begin(), handed.end());
  figures.twice = handed.size() - distinct.size();
  figures.failures = failures.load();
  return figures;
}

}  // namespace skav::bench
