#pragma once
// Reading many archives at once on a worker pool.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "model/book.hpp"
#include "model/error.hpp"
#include "reader/read_epub.hpp"

namespace quirelo {

// One outcome per path, in input order; a book whose read ran out of memory is an
// OutOfMemory error of its own. workers: nothing = the process-wide shared pool,
// 0 = a new pool of the default size, n = a new pool of n threads (at most 65535).
// Fails (ErrorKind::PoolStart) only when a pool's threads cannot be started.
Result<std::vector<Result<Book>>> read_epubs(const std::vector<std::string>& paths,
                                             std::optional<std::uint64_t> workers, const ReadOptions& options);

}  // namespace quirelo
