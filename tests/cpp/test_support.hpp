#pragma once
// The C++ tests' one support library: ZIP archives and EPUB books built in memory, small
// model books for the writer, temporary folders and the corpus of real books.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/book.hpp"

namespace quirelo::testing {

struct ZipEntryLayout {
    std::string name = {};
    std::string data = {};
    bool deflate = true;
    std::optional<std::uint32_t> crc = std::nullopt;  // a lie the headers may tell
};

std::string build_zip(const std::vector<ZipEntryLayout>& entries);

// Documents around the given inner markup: a version 3.0 package document (spine_attributes
// go on the spine element), a navigation document's toc list and an NCX's navMap.
std::string container_xml(std::string_view full_path);
std::string package_xml(std::string_view metadata, std::string_view manifest, std::string_view spine,
                        std::string_view spine_attributes = "");
std::string nav_xhtml(std::string_view list_items);
std::string ncx_xml(std::string_view nav_points);
// mimetype, container (naming OEBPS/content.opf), the package document, then the rest.
std::vector<ZipEntryLayout> book_entries(std::string opf, std::vector<ZipEntryLayout> files = {});
// A whole book: identifier, title and language; chapter c (in the spine, "<p>title</p>"),
// navigation n, image i and style s.
std::string small_book(const std::string& title);

// A fresh folder, removed with everything in it at the end of the scope. write() gives the
// path of the file it wrote.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    std::string file(std::string_view name) const { return (path_ / name).string(); }
    std::string write(std::string_view name, std::string_view bytes) const;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// The .epub files of ../shared/corpus, sorted; empty when it is absent.
std::vector<std::filesystem::path> corpus_books();

// Model books for the writer.
AttributeMap attributes(std::initializer_list<std::pair<const char*, const char*>> pairs);
struct ItemFields {
    std::string id, href, media_type, content;
    ItemType type = ITEM_DOCUMENT;
    std::optional<std::string> properties = std::nullopt;
};
void add(Book& book, ItemFields fields);
// Identifier urn:x, title T, language en, chapter ch1 ("<html/>") in the spine.
Book minimal_book(std::string version = "3.0");
// 2024-02-29T13:05:09.700Z: a leap day, with a fraction that must be dropped.
std::chrono::system_clock::time_point fixed_time();

}  // namespace quirelo::testing
