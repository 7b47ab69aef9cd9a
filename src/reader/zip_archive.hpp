#pragma once
// An open ZIP archive (libzip), read from a file descriptor or in place from memory.
//
// Contract: a ZipArchive owns its libzip handle and (when opened from a descriptor) the
// descriptor; both are released by the destructor. It is movable, not copyable, and not
// synchronised: one thread at a time, since reading an entry moves libzip's file position
// and reuses scratch(). Failures are values (ErrorKind::Zip or Io), never exceptions.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "model/error.hpp"
#include "reader/entry_places.hpp"
#include "reader/read_budget.hpp"

struct zip;

namespace quirelo {

class ZipArchive {
public:
    // Takes the descriptor: it is closed with the archive, or at once when opening fails.
    // Entries are then streamed from the file.
    static Result<ZipArchive> open_descriptor(int descriptor, std::uint64_t file_size);
    // Over the caller's bytes, which must outlive the archive; nothing is copied.
    static Result<ZipArchive> open_memory(std::string_view bytes);

    ZipArchive(ZipArchive&&) noexcept = default;
    ZipArchive& operator=(ZipArchive&&) noexcept = default;
    ~ZipArchive() = default;

    // Borrowed; valid while the archive lives.
    zip* handle() const { return archive_.get(); }
    // Bytes in the whole archive: no entry's compressed data can be larger.
    std::uint64_t size() const { return size_; }
    // Whether the entry (as libzip states it) may be read: its bytes overlap no other
    // entry's, and the directory walk found the same entry at that index.
    bool stands_alone(std::uint64_t index, std::uint64_t comp_size, std::uint32_t crc) const {
        if (index >= places_.size()) return false;
        const EntryPlace& place = places_[index];
        return !place.overlapping && place.comp_size == comp_size && place.crc == crc;
    }
    // A buffer for compressed data, reused from one entry to the next.
    std::string& scratch() { return scratch_; }
    // The budget of the read this archive serves: its own, unless shared with the other
    // archives opened over the same image.
    ReadBudget& budget() { return *budget_; }
    const std::shared_ptr<ReadBudget>& shared_budget() const { return budget_; }
    void share_budget(std::shared_ptr<ReadBudget> budget) { budget_ = std::move(budget); }

private:
    struct Discard {
        void operator()(zip* archive) const;
    };
    ZipArchive(zip* archive, std::uint64_t size)
        : archive_(archive), size_(size), budget_(std::make_shared<ReadBudget>(size)) {}

    std::unique_ptr<zip, Discard> archive_;
    std::uint64_t size_ = 0;
    std::string scratch_;
    std::shared_ptr<ReadBudget> budget_;
    std::vector<EntryPlace> places_;
};

}  // namespace quirelo
