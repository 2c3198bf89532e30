// The line's shared pool in PostgreSQL: built only where the build has libpq.

#include <cerrno>

#include "app/platform.h"
#include "app/pool_factory.h"
#include "app/port_rows.h"
#include "backends/postgres/pg_pool.h"

namespace skav::app {

namespace {

Status make_postgres_pool(const PoolRequest& request, MadePool& out) {
  const SetupOptions& options = request.options;
  if (!postgres::is_postgres_url(options.pool)) return not_a_pool_url(options.pool);
  if (Status checked = postgres::check_url(options.pool); !checked.ok()) return checked;
  if (!options.mac.empty())
    return Status::error(EINVAL, "--mac sets a station's own next address; the line's pool gives "
                                 "the addresses of its range (skav pool init)");
  // The station's own reservations and kept records are known by its identity, which stays
  // with its settings: host names repeat on cloned PCs.
  std::string station_id;
  if (int err = request.store.station_id(&request.log, station_id); err != settings::kOk)
    return Status::error(err, "cannot read or store this station's identity in " +
                                  request.settings_path.string());
  const std::string host = options.host.empty() ? host_name() : options.host;
  auto shared = std::make_unique<postgres::PgAddressPool>(options.pool, host, station_id, options.dir);
  if (Status ready = shared->check_ready(); !ready.ok()) return ready;
  out.pool = std::move(shared);
  // The line's dashboard sees every port of every station that shares the pool.
  out.watcher = std::make_unique<postgres::PortPublisher>(
      postgres::Publisher{options.pool, host, station_id, std::string(options.program) + " " + SKAV_VERSION},
      PortRows{});
  return {};
}

}  // namespace

void add_postgres_pools(PoolFactories& factories) {
  factories.add("postgresql", make_postgres_pool);
  factories.add("postgres", make_postgres_pool);
}

}  // namespace skav::app
