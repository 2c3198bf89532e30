#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "frontends/cli/commands.h"
#include "core/mac_digits.h"
#include "core/station/records.h"
#include "backends/postgres/pg_pool.h"

namespace skav::cli {

namespace {

struct PoolOptions {
  std::string url;
  std::string first;
  std::string last;
  std::string since;
  bool csv = false;
};

// The URL must name a line's database, without a password; says why not on standard error.
bool usable_url(const char* command, const std::string& url) {
  if (Status checked = postgres::check_url(url); !checked.ok()) {
    std::fprintf(stderr, "%s: --pool: %s\n", command, checked.message().c_str());
    return false;
  }
  return true;
}

std::string address_text(std::int64_t value) {
  return value < 0 ? std::string("-") : MacDigits::text(postgres::address_digits(value));
}

int pool_init(const PoolOptions& options) {
  if (!usable_url("skav pool init", options.url)) return 1;
  MacDigits::Digits first{}, last{};
  if (!MacDigits::parse(options.first, first) || !MacDigits::parse(options.last, last)) {
    std::fprintf(stderr, "skav pool init: --first and --last take 12 hexadecimal digits\n");
    return 1;
  }
  if (Status made = postgres::init_range(options.url, first, last); !made.ok()) {
    std::fprintf(stderr, "skav pool init: %s\n", made.message().c_str());
    return 1;
  }
  std::printf("range %s-%s: %lld addresses, in %s\n", MacDigits::text(first).c_str(),
              MacDigits::text(last).c_str(),
              static_cast<long long>(postgres::address_value(last) - postgres::address_value(first) + 1),
              postgres::describe_url(options.url).c_str());
  return 0;
}

int pool_status(const PoolOptions& options) {
  if (!usable_url("skav pool status", options.url)) return 1;
  postgres::RangeStatus status;
  if (Status read = postgres::read_status(options.url, status); !read.ok()) {
    std::fprintf(stderr, "skav pool status: %s\n", read.message().c_str());
    return 1;
  }
  std::printf("range     %s-%s (%lld addresses)\n", address_text(status.first).c_str(),
              address_text(status.last).c_str(),
              static_cast<long long>(status.last - status.first + 1));
  std::printf("used      %lld (%lld boards finished)\n", static_cast<long long>(status.used),
              static_cast<long long>(status.finished));
  std::printf("free      %lld\n", static_cast<long long>(status.free));
  if (status.last_handed >= 0)
    std::printf("last      %s to %s %s at %s\n", address_text(status.last_handed).c_str(),
                status.last_host.c_str(), status.last_port.c_str(), status.last_time.c_str());
  else
    std::printf("last      none handed out yet\n");
  if (!status.stations.empty()) {
    std::printf("\n%-24s %-16s %8s %8s  %-12s  %s\n", "host", "port", "reserved", "finished",
                "last", "at");
    for (const postgres::StationUse& use : status.stations)
      std::printf("%-24s %-16s %8lld %8lld  %-12s  %s\n", use.host.c_str(), use.port.c_str(),
                  static_cast<long long>(use.reserved), static_cast<long long>(use.finished),
                  address_text(use.last).c_str(), use.last_time.c_str());
  }
  return 0;
}

int records(const PoolOptions& options) {
  if (!usable_url("skav records", options.url)) return 1;
  postgres::RecordTable table;
  if (Status read = postgres::read_records(options.url, options.since, table); !read.ok()) {
    std::fprintf(stderr, "skav records: %s\n", read.message().c_str());
    return 1;
  }
  if (options.csv) {
    auto line = [](const std::vector<std::string>& fields) {
      std::string text;
      for (std::size_t i = 0; i < fields.size(); ++i) text += (i > 0 ? "," : "") + station::csv_field(fields[i]);
      std::printf("%s\n", text.c_str());
    };
    line(table.columns);
    for (const auto& row : table.rows) line(row);
    return 0;
  }
  std::vector<std::size_t> width(table.columns.size());
  for (std::size_t c = 0; c < table.columns.size(); ++c) {
    width[c] = table.columns[c].size();
    for (const auto& row : table.rows) width[c] = std::max(width[c], row[c].size());
  }
  auto line = [&](const std::vector<std::string>& fields) {
    std::string text;
    for (std::size_t c = 0; c < fields.size(); ++c) {
      text += fields[c];
      if (c + 1 < fields.size()) text += std::string(width[c] - fields[c].size() + 2, ' ');
    }
    std::printf("%s\n", text.c_str());
  };
  line(table.columns);
  for (const auto& row : table.rows) line(row);
  std::fprintf(stderr, "%zu boards\n", table.rows.size());
  return 0;
}

}  // namespace

void add_pool_command(CLI::App& app, int& exit_code) {
  auto options = std::make_shared<PoolOptions>();
  CLI::App* pool = app.add_subcommand("pool", "A line's address pool in PostgreSQL");
  pool->require_subcommand(1);
  CLI::App* init = pool->add_subcommand("init", "Create the pool's tables and set its range");
  init->add_option("--pool", options->url, "postgresql://... (no password: ~/.pgpass, PGPASSWORD)")
      ->required();
  init->add_option("--first", options->first, "First address (12 hexadecimal digits)")->required();
  init->add_option("--last", options->last, "Last address (12 hexadecimal digits)")->required();
  init->callback([options, &exit_code] { exit_code = pool_init(*options); });
  CLI::App* status = pool->add_subcommand("status", "The range, used and free, per station");
  status->add_option("--pool", options->url, "postgresql://...")->required();
  status->callback([options, &exit_code] { exit_code = pool_status(*options); });
}

void add_records_command(CLI::App& app, int& exit_code) {
  auto options = std::make_shared<PoolOptions>();
  CLI::App* command = app.add_subcommand("records", "The line's production records in PostgreSQL");
  command->add_option("--pool", options->url, "postgresql://...")->required();
  command->add_option("--since", options->since, "Only boards that ended at or after TIME (ISO 8601)");
  command->add_flag("--csv", options->csv, "As CSV, with a header line");
  command->callback([options, &exit_code] { exit_code = records(*options); });
}

}  // namespace skav::cli
