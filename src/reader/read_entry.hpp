#pragma once
// The capped entry reader: one whole archive entry, checked against MAX_ENTRY_SIZE by its
// declared size and against the read's budget before anything is decompressed, and
// against its CRC-32 after.
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "reader/zip_archive.hpp"

namespace quirelo {

enum class EntryFailure : std::uint8_t {
    NotFound,
    Unsupported,  // encrypted, or a compression method neither we nor libzip can inflate
    Oversized,    // declared size over MAX_ENTRY_SIZE
    OverBudget,   // its buffer would pass what the read may keep (message: the warning's text)
    Damaged,      // unreadable, truncated, or inflating past its declared size
    ChecksumMismatch,
};

struct EntryError {
    EntryFailure failure;
    std::uint64_t declared_size = 0;
    std::string message;
};

// What the caller does with the bytes. The read's budget counts the bytes a book keeps,
// each once: bytes parsed and dropped (the container, the package document, the table of
// contents' sources) are not counted, so that whether and in which order the items are
// read leaves those parses alone.
enum class EntryUse : std::uint8_t { Kept, Parsed };

// Stored and DEFLATE entries are read raw and inflated by libdeflate straight into a buffer
// of the declared size; other methods libzip supports are inflated by libzip under the same
// cap. An entry holding fewer bytes than it declares is read as what it holds, and its
// CRC-32 decides whether that is accepted. Kept bytes returned stay counted in the
// archive's budget (the buffer's unused part is given back); parsed bytes are bounded by
// MAX_ENTRY_SIZE alone.
std::expected<std::string, EntryError> read_entry(ZipArchive& archive, std::string_view name,
                                                  EntryUse use = EntryUse::Kept);

// Writes the warning line of an item left empty because the budget is spent.
void warn_over_budget(const EntryError& error);

}  // namespace quirelo
