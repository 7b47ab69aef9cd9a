#pragma once
// A ZIP archive written entry by entry. Each entry arrives as one whole buffer, so its
// CRC-32 and sizes are known before its local header is written: no data descriptors,
// no extra fields, no ZIP64, no comment. Every entry is dated 1980-01-01 00:00:00.
//
// Contract: the writer borrows the sink (which must outlive it) and writes to it only,
// in order: each add_* writes one local header and the entry's bytes, finish writes the
// central directory. The name and data are read during the call and not kept. It owns its
// compressor and buffers; one thread at a time. Failures are values (ErrorKind::Zip for
// what the format cannot hold, the sink's error for a failed write), never exceptions.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/error.hpp"
#include "writer/zip_sink.hpp"

struct libdeflate_compressor;

namespace quirelo {

// DEFLATE level of every compressed entry (zlib's default).
inline constexpr int ZIP_DEFLATE_LEVEL = 6;
// Without ZIP64, sizes and offsets must stay below this and entry counts below 0xFFFF.
inline constexpr std::uint64_t ZIP32_LIMIT = 0xFFFFFFFF;
inline constexpr std::size_t ZIP32_MAX_ENTRIES = 0xFFFE;
inline constexpr std::size_t ZIP_MAX_NAME_SIZE = 0xFFFF;

class ZipWriter {
public:
    explicit ZipWriter(ZipSink& sink);
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // Stores the bytes uncompressed.
    Result<void> add_stored(std::string_view name, std::string_view data);
    // Compresses the bytes with raw DEFLATE at ZIP_DEFLATE_LEVEL.
    Result<void> add_deflated(std::string_view name, std::string_view data);
    // Writes the central directory of the entries completed so far and the end record.
    // Refused once a write to the sink has failed, as the archive's end is then unknown.
    Result<void> finish();

private:
    struct CentralRecord {
        std::string name;
        std::uint32_t crc;
        std::uint32_t compressed_size;
        std::uint32_t size;
        std::uint32_t offset;
        std::uint16_t method;
    };

    Result<void> add_entry(std::string_view name, std::uint16_t method, std::uint32_t crc, std::size_t size,
                           std::string_view stored_bytes);
    Result<void> write(std::string_view bytes);

    ZipSink& sink_;
    std::uint64_t offset_ = 0;
    bool sink_failed_ = false;
    std::vector<CentralRecord> records_;
    libdeflate_compressor* compressor_ = nullptr;
    std::string compressed_;  // reused for every entry
    std::string header_;
};

}  // namespace quirelo
