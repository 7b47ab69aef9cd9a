#include "reader/read_entry.hpp"

#include <libdeflate.h>
#include <zip.h>

#include <algorithm>
#include <memory>
#include <new>

#include "reader/read_epub.hpp"
#include "reader/warning.hpp"

namespace quirelo {

namespace {

// DEFLATE cannot expand one input byte into more than 1032 output bytes; an entry whose
// declared size is beyond that bound is lying, and its buffer need not be that large.
constexpr std::uint64_t DEFLATE_MAX_RATIO = 1032;
constexpr std::uint64_t DEFLATE_SLACK = 4096;

struct DecompressorDeleter {
    void operator()(libdeflate_decompressor* decompressor) const { libdeflate_free_decompressor(decompressor); }
};

libdeflate_decompressor* thread_decompressor() {
    thread_local std::unique_ptr<libdeflate_decompressor, DecompressorDeleter> decompressor;
    if (!decompressor) {
        decompressor.reset(libdeflate_alloc_decompressor());
        if (!decompressor) throw std::bad_alloc();
    }
    return decompressor.get();
}

struct FileCloser {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};
using ZipFile = std::unique_ptr<zip_file_t, FileCloser>;

// An entry that libzip cannot open for want of memory is not damaged: the read fails as
// every other allocation does.
ZipFile open_entry(zip_t* archive, zip_uint64_t index, zip_flags_t flags) {
    ZipFile file(zip_fopen_index(archive, index, flags));
    if (!file && zip_error_code_zip(zip_get_error(archive)) == ZIP_ER_MEMORY) throw std::bad_alloc();
    return file;
}

std::unexpected<EntryError> entry_failure(EntryFailure failure, std::string message,
                                          std::uint64_t declared_size = 0) {
    return std::unexpected(EntryError{failure, declared_size, std::move(message)});
}

// Reads up to size bytes; returns how many arrived, or -1 on a read error.
std::int64_t read_up_to(zip_file_t* file, char* out, std::uint64_t size) {
    std::uint64_t total = 0;
    while (total < size) {
        const zip_int64_t got = zip_fread(file, out + total, size - total);
        if (got < 0) return -1;
        if (got == 0) break;
        total += static_cast<std::uint64_t>(got);
    }
    return static_cast<std::int64_t>(total);
}

enum class Outcome { Ok, Damaged };

// Raw (still compressed) bytes of the entry into buffer; all comp_size of them must arrive.
Outcome read_raw(zip_t* archive, zip_uint64_t index, std::string& buffer, std::uint64_t comp_size) {
    ZipFile file = open_entry(archive, index, ZIP_FL_COMPRESSED);
    if (!file) return Outcome::Damaged;
    Outcome outcome = Outcome::Ok;
    buffer.resize_and_overwrite(comp_size, [&](char* out, std::size_t size) {
        const auto got = read_up_to(file.get(), out, size);
        if (got != static_cast<std::int64_t>(size)) outcome = Outcome::Damaged;
        return got < 0 ? std::size_t{0} : static_cast<std::size_t>(got);
    });
    return outcome;
}

Outcome inflate_deflate(std::string_view compressed, std::string& out, std::uint64_t declared_size) {
    libdeflate_decompressor* decompressor = thread_decompressor();
    const std::uint64_t capacity =
        std::min(declared_size, compressed.size() * DEFLATE_MAX_RATIO + DEFLATE_SLACK);
    Outcome outcome = Outcome::Ok;
    out.resize_and_overwrite(capacity, [&](char* buffer, std::size_t size) {
        std::size_t produced = 0;
        // With actual_out given, a short stream is fine and one that would overrun the
        // buffer stops with LIBDEFLATE_INSUFFICIENT_SPACE.
        const auto result =
            libdeflate_deflate_decompress(decompressor, compressed.data(), compressed.size(), buffer, size, &produced);
        if (result != LIBDEFLATE_SUCCESS) {
            outcome = Outcome::Damaged;
            return std::size_t{0};
        }
        return produced;
    });
    return outcome;
}

// Any other method libzip can decompress: its own stream, capped at the declared size.
Outcome inflate_with_libzip(zip_t* archive, zip_uint64_t index, std::string& out, std::uint64_t declared_size) {
    ZipFile file = open_entry(archive, index, 0);
    if (!file) return Outcome::Damaged;
    Outcome outcome = Outcome::Ok;
    out.resize_and_overwrite(declared_size, [&](char* buffer, std::size_t size) {
        const auto got = read_up_to(file.get(), buffer, size);
        if (got < 0) {
            outcome = Outcome::Damaged;
            return std::size_t{0};
        }
        return static_cast<std::size_t>(got);
    });
    if (outcome == Outcome::Ok && out.size() == declared_size) {
        char extra;
        if (zip_fread(file.get(), &extra, 1) != 0) outcome = Outcome::Damaged;  // more than declared, or an error
    }
    return outcome;
}

}  // namespace

std::expected<std::string, EntryError> read_entry(ZipArchive& archive, std::string_view name, EntryUse use) {
    zip_t* handle = archive.handle();
    if (name.find('\0') != std::string_view::npos) return entry_failure(EntryFailure::NotFound, "not found");
    const std::string terminated(name);
    const zip_int64_t found = zip_name_locate(handle, terminated.c_str(), 0);
    if (found < 0) return entry_failure(EntryFailure::NotFound, "not found");
    const auto index = static_cast<zip_uint64_t>(found);

    zip_stat_t stat;
    zip_stat_init(&stat);
    constexpr zip_uint64_t NEEDED = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_CRC;
    if (zip_stat_index(handle, index, 0, &stat) != 0 || (stat.valid & NEEDED) != NEEDED) {
        return entry_failure(EntryFailure::Damaged, "unreadable entry header");
    }
    if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE) {
        return entry_failure(EntryFailure::Unsupported, "encrypted entry");
    }
    const bool ours = stat.comp_method == ZIP_CM_STORE || stat.comp_method == ZIP_CM_DEFLATE;
    if (!ours && !zip_compression_method_supported(stat.comp_method, 0)) {
        return entry_failure(EntryFailure::Unsupported, "unsupported compression method");
    }
    if (stat.size > MAX_ENTRY_SIZE) {
        return entry_failure(EntryFailure::Oversized,
                             "ZIP entry '" + terminated + "' exceeds maximum size (" + std::to_string(stat.size) +
                                 " bytes > " + std::to_string(MAX_ENTRY_SIZE) + " bytes)",
                             stat.size);
    }
    // Compressed data larger than the archive itself is a lie told by the directory.
    if (stat.comp_size > archive.size()) return entry_failure(EntryFailure::Damaged, "damaged entry");
    if (!archive.stands_alone(index, stat.comp_size, stat.crc)) {
        return entry_failure(EntryFailure::Damaged, "entry overlaps another");
    }

    // The buffer each method fills, taken from the budget before anything is inflated,
    // so that a spent budget costs no decompression either.
    std::uint64_t buffer_size = stat.size;
    if (stat.comp_method == ZIP_CM_STORE) buffer_size = std::min<std::uint64_t>(stat.comp_size, stat.size);
    if (stat.comp_method == ZIP_CM_DEFLATE) {
        buffer_size = std::min(stat.size, stat.comp_size * DEFLATE_MAX_RATIO + DEFLATE_SLACK);
    }
    ReadBudget& budget = archive.budget();
    const std::uint64_t charged = use == EntryUse::Kept ? buffer_size : 0;
    if (!budget.take(charged)) {
        return entry_failure(EntryFailure::OverBudget,
                             "skipping item '" + terminated + "' (" + std::to_string(stat.size) +
                                 " bytes): the book has used its read budget of " + std::to_string(budget.limit()) +
                                 " bytes",
                             stat.size);
    }
    struct Unused {
        ReadBudget& budget;
        std::uint64_t taken;
        std::uint64_t kept = 0;  // stays 0 on every failure
        ~Unused() { budget.give_back(taken - std::min(taken, kept)); }
    };
    Unused unused{budget, charged};
    std::string content;

    Outcome outcome;
    if (stat.comp_method == ZIP_CM_STORE) {
        outcome = stat.comp_size > stat.size ? Outcome::Damaged : read_raw(handle, index, content, stat.comp_size);
    } else if (stat.comp_method == ZIP_CM_DEFLATE && stat.size == 0) {
        // An empty file deflated (two bytes of data): libzip hands out none of its raw
        // bytes, and there is nothing to inflate. The checksum below still has its say.
        outcome = Outcome::Ok;
    } else if (stat.comp_method == ZIP_CM_DEFLATE) {
        std::string& compressed = archive.scratch();
        outcome = read_raw(handle, index, compressed, stat.comp_size);
        if (outcome == Outcome::Ok) outcome = inflate_deflate(compressed, content, stat.size);
    } else {
        outcome = inflate_with_libzip(handle, index, content, stat.size);
    }
    if (outcome != Outcome::Ok) return entry_failure(EntryFailure::Damaged, "damaged entry");

    if (libdeflate_crc32(0, content.data(), content.size()) != stat.crc) {
        return entry_failure(EntryFailure::ChecksumMismatch, "Invalid checksum");
    }
    // Only an entry shorter than its declared size leaves spare capacity; give it back.
    if (content.capacity() - content.size() > 4096) content.shrink_to_fit();
    unused.kept = content.size();
    return content;
}

void warn_over_budget(const EntryError& error) {
    if (error.failure == EntryFailure::OverBudget) write_warning_line("Warning: " + error.message + "\n");
}

}  // namespace quirelo
