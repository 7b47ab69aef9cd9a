#pragma once
// Many books converted at once on a worker pool, one outcome per path in input order.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "batch/worker_pool.hpp"
#include "model/error.hpp"
#include "pipeline/convert_book.hpp"

namespace quirelo {

// Receives each book's outcome, on the calling thread of convert_many_in_order.
using DeliverOutcome = std::function<void(std::size_t index, BookOutcome&& outcome)>;

// workers as for read_epubs: nothing = the shared pool, 0 = a new pool of the default
// size, n = a new pool of n threads. Calls deliver(i, outcome of paths[i]) on the calling
// thread for every i in input order, each as soon as that book is done, while the workers
// go on with later books: the caller's own work on an outcome (making Python values of it)
// overlaps the conversion of the next ones, and an outcome is held only until it is
// delivered. Fails (PoolStart) only when threads cannot be started; then nothing is
// converted. A book's failure is that book's outcome and never stops the others. If
// deliver throws, the books already started finish before the exception leaves.
Result<void> convert_many_in_order(const std::vector<std::string>& paths, std::optional<std::uint64_t> workers,
                                   const ConversionOptions& options, const DeliverOutcome& deliver,
                                   const ThreadLauncher& launch = {});

// The same, collected into one vector in input order.
Result<std::vector<BookOutcome>> convert_many(const std::vector<std::string>& paths,
                                               std::optional<std::uint64_t> workers,
                                               const ConversionOptions& options,
                                               const ThreadLauncher& launch = {});

}  // namespace quirelo
