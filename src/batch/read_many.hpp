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
// Fails (unexpected) only when a pool's threads cannot be started; the text begins
// "Failed to build thread pool".
std::expected<std::vector<Result<Book>>, std::string> read_epubs(const std::vector<std::string>& paths,
                                                                  std::optional<std::uint64_t> workers,
                                                                  const ReadOptions& options);

}  // namespace quirelo
