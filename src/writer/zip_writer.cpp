#include "writer/zip_writer.hpp"

#include <libdeflate.h>

#include <string>

namespace quirelo {

namespace {

constexpr std::uint32_t LOCAL_HEADER_SIGNATURE = 0x04034b50;
constexpr std::uint32_t CENTRAL_HEADER_SIGNATURE = 0x02014b50;
constexpr std::uint32_t END_RECORD_SIGNATURE = 0x06054b50;
constexpr std::uint16_t METHOD_STORED = 0;
constexpr std::uint16_t METHOD_DEFLATE = 8;
constexpr std::uint16_t DOS_DATE_1980_01_01 = 0x0021;
constexpr std::uint16_t DOS_TIME_MIDNIGHT = 0;
constexpr std::uint16_t FLAG_UTF8_NAME = 1 << 11;
// Made by Unix, format 2.0; a regular file with permissions 0644.
constexpr std::uint16_t VERSION_MADE_BY = (3 << 8) | 20;
constexpr std::uint32_t EXTERNAL_ATTRIBUTES = 0100644u << 16;
constexpr std::size_t LOCAL_HEADER_SIZE = 30;
constexpr std::size_t CENTRAL_HEADER_SIZE = 46;
constexpr std::size_t END_RECORD_SIZE = 22;

void put16(std::string& out, std::uint16_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>(value >> 8));
}

void put32(std::string& out, std::uint32_t value) {
    put16(out, static_cast<std::uint16_t>(value & 0xFFFF));
    put16(out, static_cast<std::uint16_t>(value >> 16));
}

std::uint16_t version_needed(std::uint16_t method) { return method == METHOD_DEFLATE ? 20 : 10; }

std::uint16_t name_flags(std::string_view name) {
    for (char c : name) {
        if (static_cast<unsigned char>(c) >= 0x80) return FLAG_UTF8_NAME;
    }
    return 0;
}

std::unexpected<EpubError> too_large(std::string_view what) {
    std::string detail(what);
    detail += " does not fit in an archive without ZIP64";
    return fail(ErrorKind::Zip, std::move(detail));
}

}  // namespace

ZipWriter::ZipWriter(ZipSink& sink) : sink_(sink) { header_.reserve(LOCAL_HEADER_SIZE + 256); }

ZipWriter::~ZipWriter() {
    if (compressor_ != nullptr) libdeflate_free_compressor(compressor_);
}

Result<void> ZipWriter::write(std::string_view bytes) {
    auto written = sink_.write(bytes);
    if (!written) {
        sink_failed_ = true;
        return written;
    }
    offset_ += bytes.size();
    return {};
}

Result<void> ZipWriter::add_stored(std::string_view name, std::string_view data) {
    const std::uint32_t crc = libdeflate_crc32(0, data.data(), data.size());
    return add_entry(name, METHOD_STORED, crc, data.size(), data);
}

Result<void> ZipWriter::add_deflated(std::string_view name, std::string_view data) {
    if (data.size() >= ZIP32_LIMIT) return too_large("entry '" + std::string(name) + "'");
    if (compressor_ == nullptr) {
        compressor_ = libdeflate_alloc_compressor(ZIP_DEFLATE_LEVEL);
        if (compressor_ == nullptr) return fail(ErrorKind::Zip, "cannot allocate the DEFLATE compressor");
    }
    const std::size_t bound = libdeflate_deflate_compress_bound(compressor_, data.size());
    std::size_t compressed_size = 0;
    // The scratch buffer only grows; nothing in it needs zeroing first.
    if (compressed_.size() < bound) {
        compressed_.resize_and_overwrite(bound, [](char*, std::size_t size) { return size; });
    }
    compressed_size = libdeflate_deflate_compress(compressor_, data.data(), data.size(), compressed_.data(), bound);
    if (compressed_size == 0) return fail(ErrorKind::Zip, "DEFLATE output exceeded its bound");
    const std::uint32_t crc = libdeflate_crc32(0, data.data(), data.size());
    return add_entry(name, METHOD_DEFLATE, crc, data.size(), std::string_view(compressed_.data(), compressed_size));
}

Result<void> ZipWriter::add_entry(std::string_view name, std::uint16_t method, std::uint32_t crc, std::size_t size,
                                  std::string_view stored_bytes) {
    if (name.size() > ZIP_MAX_NAME_SIZE) {
        return fail(ErrorKind::Zip, "entry name of " + std::to_string(name.size()) + " bytes is longer than 65535");
    }
    if (size >= ZIP32_LIMIT || stored_bytes.size() >= ZIP32_LIMIT) {
        return too_large("entry '" + std::string(name) + "'");
    }
    if (offset_ >= ZIP32_LIMIT) return too_large("archive offset of entry '" + std::string(name) + "'");
    if (records_.size() >= ZIP32_MAX_ENTRIES) return too_large("entry count");

    const auto flags = name_flags(name);
    header_.clear();
    put32(header_, LOCAL_HEADER_SIGNATURE);
    put16(header_, version_needed(method));
    put16(header_, flags);
    put16(header_, method);
    put16(header_, DOS_TIME_MIDNIGHT);
    put16(header_, DOS_DATE_1980_01_01);
    put32(header_, crc);
    put32(header_, static_cast<std::uint32_t>(stored_bytes.size()));
    put32(header_, static_cast<std::uint32_t>(size));
    put16(header_, static_cast<std::uint16_t>(name.size()));
    put16(header_, 0);  // no extra field
    header_.append(name);

    const auto offset = static_cast<std::uint32_t>(offset_);
    if (auto written = write(header_); !written) return written;
    if (auto written = write(stored_bytes); !written) return written;
    records_.push_back({std::string(name), crc, static_cast<std::uint32_t>(stored_bytes.size()),
                        static_cast<std::uint32_t>(size), offset, method});
    return {};
}

Result<void> ZipWriter::finish() {
    if (sink_failed_) return fail(ErrorKind::Zip, "the archive is incomplete after a failed write");
    std::size_t directory_size = END_RECORD_SIZE;
    for (const CentralRecord& record : records_) directory_size += CENTRAL_HEADER_SIZE + record.name.size();
    const std::uint64_t directory_offset = offset_;
    if (directory_offset >= ZIP32_LIMIT || directory_size >= ZIP32_LIMIT) return too_large("central directory");

    std::string directory;
    directory.reserve(directory_size);
    for (const CentralRecord& record : records_) {
        put32(directory, CENTRAL_HEADER_SIGNATURE);
        put16(directory, VERSION_MADE_BY);
        put16(directory, version_needed(record.method));
        put16(directory, name_flags(record.name));
        put16(directory, record.method);
        put16(directory, DOS_TIME_MIDNIGHT);
        put16(directory, DOS_DATE_1980_01_01);
        put32(directory, record.crc);
        put32(directory, record.compressed_size);
        put32(directory, record.size);
        put16(directory, static_cast<std::uint16_t>(record.name.size()));
        put16(directory, 0);  // extra field
        put16(directory, 0);  // comment
        put16(directory, 0);  // disk number
        put16(directory, 0);  // internal attributes
        put32(directory, EXTERNAL_ATTRIBUTES);
        put32(directory, record.offset);
        directory.append(record.name);
    }
    const auto count = static_cast<std::uint16_t>(records_.size());
    put32(directory, END_RECORD_SIGNATURE);
    put16(directory, 0);  // this disk
    put16(directory, 0);  // disk of the central directory
    put16(directory, count);
    put16(directory, count);
    put32(directory, static_cast<std::uint32_t>(directory_size - END_RECORD_SIZE));
    put32(directory, static_cast<std::uint32_t>(directory_offset));
    put16(directory, 0);  // no comment
    return write(directory);
}

}  // namespace quirelo
