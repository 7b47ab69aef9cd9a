#pragma once
// Small ZIP archives and EPUB books built in memory for the reader's tests, with control
// over what the headers claim (sizes, CRC, method, flags) so damaged archives are easy.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quirelo::testing {

struct ZipEntryLayout {
    std::string name = {};
    std::string data = {};
    bool deflate = true;
    // Lies the headers may tell.
    std::optional<std::uint32_t> declared_size = std::nullopt;
    std::optional<std::uint32_t> crc = std::nullopt;
    std::optional<std::uint16_t> method = std::nullopt;
    std::uint16_t flags = 0;
};

std::string build_zip(const std::vector<ZipEntryLayout>& entries);

std::string container_xml(std::string_view full_path);

// A package document with the given version attribute, metadata, manifest and spine
// inner markup (spine_attributes go on the spine element).
std::string package_xml(std::string_view metadata, std::string_view manifest, std::string_view spine,
                        std::string_view spine_attributes = "");

// A navigation document whose toc nav holds the given list items.
std::string nav_xhtml(std::string_view list_items);
// An NCX whose navMap holds the given navPoints.
std::string ncx_xml(std::string_view nav_points);

// mimetype, container (naming OEBPS/content.opf), the package document, then the rest.
std::vector<ZipEntryLayout> book_entries(std::string opf, std::vector<ZipEntryLayout> files = {});

// What the action writes to file descriptor 2.
std::string capture_stderr(const std::function<void()>& action);

}  // namespace quirelo::testing
