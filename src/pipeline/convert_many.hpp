#pragma once
// Many books converted at once on a worker pool, one outcome per path in input order.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "batch/worker_pool.hpp"
#include "model/error.hpp"
#include "pipeline/convert_book.hpp"

namespace quirelo {

// workers as for read_epubs: nothing = the shared pool, 0 = a new pool of the default
// size, n = a new pool of n threads. Fails (PoolStart) only when a pool's threads cannot
// be started; a book's failure is that book's outcome and never stops the others.
Result<std::vector<BookOutcome>> convert_many(const std::vector<std::string>& paths,
                                               std::optional<std::uint64_t> workers,
                                               const ConversionOptions& options,
                                               const ThreadLauncher& launch = {});

}  // namespace quirelo
