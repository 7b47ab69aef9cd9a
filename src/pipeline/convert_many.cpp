#include "pipeline/convert_many.hpp"

#include "batch/parallel_map.hpp"

namespace quirelo {

Result<std::vector<BookOutcome>> convert_many(const std::vector<std::string>& paths,
                                               std::optional<std::uint64_t> workers,
                                               const ConversionOptions& options,
                                               const ThreadLauncher& launch) {
    return parallel_map(
        paths.size(), workers, [&](std::size_t index) { return convert_book(paths[index], options); }, launch);
}

}  // namespace quirelo
