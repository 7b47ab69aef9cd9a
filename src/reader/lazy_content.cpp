#include "reader/lazy_content.hpp"

#include "reader/read_entry.hpp"
#include "reader/warning.hpp"
#include "reader/zip_archive.hpp"

namespace quirelo {

std::string load_lazy_content(const LazySource& source) {
    if (!source.image) return {};
    auto archive = ZipArchive::open_memory(*source.image);
    if (!archive) return {};
    auto bytes = read_entry(*archive, source.entry_name);
    if (bytes) return std::move(*bytes);
    if (bytes.error().failure == EntryFailure::Oversized) {
        write_warning_line("Warning: skipping oversized item '" + source.entry_name + "' (" +
                           std::to_string(bytes.error().declared_size) + " bytes)\n");
    }
    return {};
}

}  // namespace quirelo
