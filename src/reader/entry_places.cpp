#include "reader/entry_places.hpp"

#include <zip.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <string_view>

namespace quirelo {

namespace {

constexpr std::uint64_t END_RECORD_SIZE = 22;
constexpr std::uint64_t MAX_COMMENT = 0xFFFF;
constexpr std::uint64_t ZIP64_LOCATOR_SIZE = 20;
constexpr std::uint64_t ZIP64_END_RECORD_SIZE = 56;
constexpr std::uint64_t CENTRAL_RECORD_SIZE = 46;
constexpr std::uint64_t LOCAL_HEADER_SIZE = 30;

std::uint64_t little_endian(std::string_view bytes, std::size_t at, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = width; i-- > 0;) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

struct Extent {
    std::uint64_t start;
    std::uint64_t end;  // start + local header + compressed size: the least the entry covers
};

struct CentralDirectory {
    std::uint64_t count = 0;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

// The directory the end record names (ZIP64 records included), found the way writers place it.
bool locate_directory(std::uint64_t archive_size, const ArchiveBytes& bytes, CentralDirectory& out) {
    if (archive_size < END_RECORD_SIZE) return false;
    const std::uint64_t tail_start = archive_size - std::min(archive_size, END_RECORD_SIZE + MAX_COMMENT);
    std::string tail;
    if (!bytes(tail_start, archive_size - tail_start, tail) || tail.size() < END_RECORD_SIZE) return false;
    // The end record whose comment reaches exactly to the end of the archive; failing
    // that, the last one (a comment may itself hold the signature).
    std::size_t at = std::string::npos;
    for (std::size_t candidate = tail.size() - END_RECORD_SIZE + 1; candidate-- > 0;) {
        if (std::memcmp(tail.data() + candidate, "PK\x05\x06", 4) != 0) continue;
        if (at == std::string::npos) at = candidate;
        if (candidate + END_RECORD_SIZE + little_endian(tail, candidate + 20, 2) == tail.size()) {
            at = candidate;
            break;
        }
    }
    if (at == std::string::npos) return false;
    const std::string_view record(tail.data() + at, END_RECORD_SIZE);
    out = {little_endian(record, 10, 2), little_endian(record, 16, 4), little_endian(record, 12, 4)};

    const std::uint64_t end_record = tail_start + at;
    if (end_record < ZIP64_LOCATOR_SIZE) return true;
    std::string locator;
    if (!bytes(end_record - ZIP64_LOCATOR_SIZE, ZIP64_LOCATOR_SIZE, locator) || locator.size() < ZIP64_LOCATOR_SIZE ||
        std::memcmp(locator.data(), "PK\x06\x07", 4) != 0) {
        return true;
    }
    std::string zip64;
    const std::uint64_t zip64_at = little_endian(locator, 8, 8);
    if (!bytes(zip64_at, ZIP64_END_RECORD_SIZE, zip64) || zip64.size() < ZIP64_END_RECORD_SIZE ||
        std::memcmp(zip64.data(), "PK\x06\x06", 4) != 0) {
        return false;
    }
    out = {little_endian(zip64, 32, 8), little_endian(zip64, 48, 8), little_endian(zip64, 40, 8)};
    return true;
}

// The extent of every central record; false when the directory is not whole.
bool read_extents(const CentralDirectory& directory, const ArchiveBytes& bytes, std::vector<Extent>& extents,
                  std::vector<EntryPlace>& places) {
    std::string records;
    if (!bytes(directory.offset, directory.size, records)) return false;
    extents.reserve(directory.count);
    places.reserve(directory.count);
    std::size_t at = 0;
    for (std::uint64_t index = 0; index < directory.count; ++index) {
        if (records.size() - at < CENTRAL_RECORD_SIZE || std::memcmp(records.data() + at, "PK\x01\x02", 4) != 0) {
            return false;
        }
        const std::string_view record(records.data() + at, records.size() - at);
        const auto crc = static_cast<std::uint32_t>(little_endian(record, 16, 4));
        std::uint64_t comp_size = little_endian(record, 20, 4);
        const std::uint64_t size = little_endian(record, 24, 4);
        const std::size_t name_length = little_endian(record, 28, 2);
        const std::size_t extra_length = little_endian(record, 30, 2);
        const std::size_t comment_length = little_endian(record, 32, 2);
        std::uint64_t local_offset = little_endian(record, 42, 4);
        if (record.size() < CENTRAL_RECORD_SIZE + name_length + extra_length + comment_length) return false;

        // ZIP64: the fields saturated in the record follow, in order, in extra field 1.
        std::string_view extra = record.substr(CENTRAL_RECORD_SIZE + name_length, extra_length);
        while (extra.size() >= 4) {
            const std::size_t id = little_endian(extra, 0, 2);
            const std::size_t length = std::min<std::size_t>(little_endian(extra, 2, 2), extra.size() - 4);
            if (id == 1) {
                std::string_view fields = extra.substr(4, length);
                auto next = [&](std::uint64_t& field) {
                    if (field != 0xFFFFFFFF || fields.size() < 8) return;
                    field = little_endian(fields, 0, 8);
                    fields.remove_prefix(8);
                };
                std::uint64_t ignored_size = size;
                next(ignored_size);
                next(comp_size);
                next(local_offset);
            }
            extra.remove_prefix(4 + length);
        }

        const std::uint64_t least = LOCAL_HEADER_SIZE + comp_size;
        extents.push_back({local_offset, local_offset + std::min(least, ~std::uint64_t{0} - local_offset)});
        places.push_back({comp_size, crc, false});
        at += CENTRAL_RECORD_SIZE + name_length + extra_length + comment_length;
    }
    return true;
}

}  // namespace

std::vector<EntryPlace> find_entry_places(zip* archive, std::uint64_t archive_size, const ArchiveBytes& bytes) {
    CentralDirectory directory;
    std::vector<Extent> extents;
    std::vector<EntryPlace> places;
    const zip_int64_t entries = zip_get_num_entries(archive, 0);
    if (entries < 0 || !locate_directory(archive_size, bytes, directory) ||
        directory.count != static_cast<std::uint64_t>(entries) || !read_extents(directory, bytes, extents, places)) {
        return {};
    }
    // Sorted by start, an entry overlaps an earlier one when the furthest end before it
    // passes its start, and a later one exactly when the next start falls before its end.
    std::vector<std::size_t> order(extents.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::ranges::sort(order, {}, [&](std::size_t index) { return extents[index].start; });
    std::uint64_t furthest_end = 0;
    for (std::size_t position = 0; position < order.size(); ++position) {
        const Extent& extent = extents[order[position]];
        const bool after_earlier = position > 0 && furthest_end > extent.start;
        const bool before_later = position + 1 < order.size() && extents[order[position + 1]].start < extent.end;
        places[order[position]].overlapping = after_earlier || before_later || extent.end > archive_size;
        furthest_end = std::max(furthest_end, extent.end);
    }
    return places;
}

}  // namespace quirelo
