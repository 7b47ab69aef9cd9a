#pragma once
// Where each entry lies, to find those whose bytes overlap another entry's: several
// central records pointing at one local header, or a record pointing inside another
// entry's data (a local header quoted there). Such entries would inflate the same
// compressed bytes more than once, so they are read as damaged. libzip does not expose
// where an entry lies, so the central directory is walked here once per archive.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct zip;

namespace quirelo {

// Fills `out` with the `length` bytes of the archive from `offset`; false when they are
// not all there (past the end, or a read error).
using ArchiveBytes = std::function<bool(std::uint64_t offset, std::uint64_t length, std::string& out)>;

// What the directory walk found for one entry index.
struct EntryPlace {
    std::uint64_t comp_size = 0;
    std::uint32_t crc = 0;
    bool overlapping = false;  // with another entry, or reaching past the archive's end
};

// One place per entry index of `archive`, or none at all when the directory found here
// cannot be the one libzip uses (another entry count). Each entry read compares its place
// with what libzip says of it (cheap then; a libzip call per entry here would cost more
// than opening the archive).
std::vector<EntryPlace> find_entry_places(zip* archive, std::uint64_t archive_size, const ArchiveBytes& bytes);

}  // namespace quirelo
