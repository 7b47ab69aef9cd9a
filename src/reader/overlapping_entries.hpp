#pragma once
// Entries whose bytes overlap another entry's: several central records pointing at one
// local header, or a record pointing inside another entry's data (a local header quoted
// there). Such entries would inflate the same compressed bytes more than once, so they
// are read as damaged. libzip does not expose where an entry lies, so the central
// directory is walked here once per archive.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct zip;

namespace quirelo {

// Fills `out` with the `length` bytes of the archive from `offset`; false when they are
// not all there (past the end, or a read error).
using ArchiveBytes = std::function<bool(std::uint64_t offset, std::uint64_t length, std::string& out)>;

// One flag per entry index of `archive`: true where the entry overlaps another. When the
// central directory found here is not the one libzip uses (a crafted archive), every
// entry is flagged.
std::vector<bool> find_overlapping_entries(zip* archive, std::uint64_t archive_size, const ArchiveBytes& bytes);

}  // namespace quirelo
