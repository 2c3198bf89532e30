// A build without the PostgreSQL client (the Windows build): no shared pool to register.

#include "app/pool_factory.h"

namespace skav::app {

void add_postgres_pools(PoolFactories&) {}

}  // namespace skav::app
