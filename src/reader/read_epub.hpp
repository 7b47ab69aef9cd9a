#pragma once
// Reading an EPUB archive from a file path or from bytes into a Book.
//
// Contract: both functions write nothing but the returned book (and a warning line on
// standard error for a wrong "mimetype" entry; a lazy item whose entry is over
// MAX_ENTRY_SIZE warns when first loaded); they never throw for any input except
// std::bad_alloc, and report every refusal as an EpubError. The returned Book owns everything it needs: eager books hold every item's
// bytes; lazy books share one private copy of the archive among their items, freed with
// the last item. They may run on many threads at once, each on its own input.
#include <cstdint>
#include <string>
#include <string_view>

#include "model/book.hpp"
#include "model/error.hpp"

namespace quirelo {

// Declared uncompressed size limit of any archive entry the reader reads.
inline constexpr std::uint64_t MAX_ENTRY_SIZE = 104857600;

struct ReadOptions {
    bool ignore_ncx = false;
    bool ignore_nav = false;
    bool lazy = false;
    // Only document and navigation items get their content (eager reads); every other
    // item is left empty without its entry being read. For callers that make text only.
    bool text_items_only = false;
};

// Eager: entries are streamed from the file; lazy: the file is read whole first.
Result<Book> read_epub_path(const std::string& path, const ReadOptions& options);

// Reads the caller's bytes in place (eager); lazy keeps a private copy in the book.
Result<Book> read_epub_bytes(std::string_view data, const ReadOptions& options);

}  // namespace quirelo
