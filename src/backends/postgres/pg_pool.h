#pragma once

// The line's PostgreSQL database as a whole, for the station's setup: its URL, schema, address
// pool and reports.
#include "backends/postgres/address_pool.h"
#include "backends/postgres/connection.h"
#include "backends/postgres/line_reports.h"
#include "backends/postgres/schema.h"
