#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "frontends/cli/commands.h"
#include "core/mac_digits.h"
#include "core/station/records.h"
#include "backends/postgres/address_pool.h"
#include "backends/postgres/connection.h"
#include "backends/postgres/line_reports.h"
#include "backends/postgres/schema.h"

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
  if (postgres::DbResult made = postgres::init_range(options.url, first, last); !made.ok()) {
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
  if (postgres::DbResult read = postgres::read_status(options.url, status); !read.ok()) {
    std::fprintf(stderr, "skav pool status: %s\n", read.message().c_str());
    return 1;
  }
  std::printf("range     %s-%s (%lld addresses)\n", address_text(status.first).c_str(),
              address_text(status.last).c_str(),
              static_cast<long long>(status.last - status.first + 1));
  std::printf("used      %lld (%lld boards finished)\n", static_cast<long long>(status.used),
              static_cast<long long>(status.finished));
  std::printf("free      %lld\n", static_cast<long long>(status.free));
  // Re-tests run again on addresses already counted as used: apart, so no address counts twice.
  std::printf("re-tests  %lld (%lld finished, %lld open)\n",
              static_cast<long long>(status.retests_finished + status.retests_open),
              static_cast<long long>(status.retests_finished), static_cast<long long>(status.retests_open));
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

int pool_migrate(const PoolOptions& options) {
  if (!usable_url("skav pool migrate", options.url)) return 1;
  int from = 0, to = 0;
  if (postgres::DbResult migrated = postgres::migrate(options.url, from, to); !migrated.ok()) {
    std::fprintf(stderr, "skav pool migrate: %s\n", migrated.message().c_str());
    return 1;
  }
  if (from == to)
    std::printf("schema version %d, the newest this station knows, in %s\n", to,
                postgres::describe_url(options.url).c_str());
  else
    std::printf("schema version %d -> %d in %s\n", from, to, postgres::describe_url(options.url).c_str());
  return 0;
}

int records(const PoolOptions& options) {
  if (!usable_url("skav records", options.url)) return 1;
  postgres::RecordsReport report;
  if (postgres::DbResult read = postgres::read_records(options.url, options.since, report); !read.ok()) {
    std::fprintf(stderr, "skav records: %s\n", read.message().c_str());
    return 1;
  }
  std::vector<std::string> heading = postgres::record_heading();
  std::vector<std::vector<std::string>> rows;
  for (const postgres::LineRecord& line : report.rows) rows.push_back(postgres::record_fields(line));
  if (report.unreadable > 0)
    std::fprintf(stderr, "skav records: %zu records hold values this station does not know (shown as "
                 "their defaults): a newer station wrote them\n", report.unreadable);
  if (options.csv) {
    std::fputs(postgres::records_csv(report.rows).c_str(), stdout);
    return 0;
  }
  std::vector<std::size_t> width(heading.size());
  for (std::size_t c = 0; c < heading.size(); ++c) {
    width[c] = heading[c].size();
    for (const auto& row : rows) width[c] = std::max(width[c], row[c].size());
  }
  auto line = [&](const std::vector<std::string>& fields) {
    std::string text;
    for (std::size_t c = 0; c < fields.size(); ++c) {
      text += fields[c];
      if (c + 1 < fields.size()) text += std::string(width[c] - fields[c].size() + 2, ' ');
    }
    std::printf("%s\n", text.c_str());
  };
  line(heading);
  for (const auto& row : rows) line(row);
  std::fprintf(stderr, "%zu boards\n", rows.size());
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
  CLI::App* migrate = pool->add_subcommand(
      "migrate", "Bring the database's schema to this station's version (as the tables' owner)");
  migrate->add_option("--pool", options->url, "postgresql://...")->required();
  migrate->callback([options, &exit_code] { exit_code = pool_migrate(*options); });
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
