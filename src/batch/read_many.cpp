#include "batch/read_many.hpp"

#include "batch/parallel_map.hpp"

#include <new>

namespace quirelo {

Result<std::vector<Result<Book>>> read_epubs(const std::vector<std::string>& paths,
                                             std::optional<std::uint64_t> workers, const ReadOptions& options) {
    // A batch hands back complete books: every item's bytes are loaded on the workers,
    // never later on the caller's thread.
    ReadOptions eager = options;
    eager.lazy = false;
    return parallel_map(paths.size(), workers, [&](std::size_t index) -> Result<Book> {
        // One book that exhausts memory is that book's failure, not the batch's.
        try {
            return read_epub_path(paths[index], eager);
        } catch (const std::bad_alloc&) {
            return fail(ErrorKind::OutOfMemory);
        }
    });
}

}  // namespace quirelo
