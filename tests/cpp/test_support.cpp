#include "test_support.hpp"

#include <libdeflate.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <format>
#include <fstream>
#include <memory>

namespace quirelo::testing {

namespace {

// Little-endian fields, as every number in an archive: (value, width in bytes) pairs.
void put(std::string& out, std::initializer_list<std::pair<std::uint32_t, int>> fields) {
    for (const auto& [value, bytes] : fields)
        for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> 8 * i));
}

std::uint32_t size32(std::string_view bytes) { return static_cast<std::uint32_t>(bytes.size()); }

std::string deflate(std::string_view data) {
    auto* compressor = libdeflate_alloc_compressor(6);
    std::string out(libdeflate_deflate_compress_bound(compressor, data.size()), '\0');
    out.resize(libdeflate_deflate_compress(compressor, data.data(), data.size(), out.data(), out.size()));
    libdeflate_free_compressor(compressor);
    return out;
}

}  // namespace

std::string build_zip(const std::vector<ZipEntryLayout>& entries) {
    std::string archive;
    std::string directory;
    for (const auto& entry : entries) {
        const std::string stored = entry.deflate ? deflate(entry.data) : entry.data;
        const std::uint32_t crc = entry.crc.value_or(libdeflate_crc32(0, entry.data.data(), entry.data.size()));
        const std::uint32_t offset = size32(archive);
        // Version needed, flags, method, time, date (1980-01-01), CRC, sizes, name and extra lengths.
        const auto common = [&](std::string& out) {
            put(out, {{20, 2}, {0, 2}, {entry.deflate ? 8u : 0u, 2}, {0, 2}, {0x21, 2}, {crc, 4}, {size32(stored), 4},
                      {size32(entry.data), 4}, {size32(entry.name), 2}, {0, 2}});
        };
        put(archive, {{0x04034b50, 4}});
        common(archive);
        archive += entry.name + stored;
        put(directory, {{0x02014b50, 4}, {20, 2}});  // then the version made by
        common(directory);
        // Comment length, disk, internal and external attributes, the local header's offset.
        put(directory, {{0, 2}, {0, 2}, {0, 2}, {0, 4}, {offset, 4}});
        directory += entry.name;
    }
    const std::uint32_t directory_offset = size32(archive), count = static_cast<std::uint32_t>(entries.size());
    archive += directory;
    put(archive, {{0x06054b50, 4}, {0, 2}, {0, 2}, {count, 2}, {count, 2}, {size32(directory), 4},
                  {directory_offset, 4}, {0, 2}});
    return archive;
}

std::string container_xml(std::string_view full_path) {
    return std::format("<?xml version=\"1.0\"?>\n<container version=\"1.0\" "
                       "xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\"><rootfiles><rootfile "
                       "full-path=\"{}\" media-type=\"application/oebps-package+xml\"/></rootfiles></container>",
                       full_path);
}

std::string package_xml(std::string_view metadata, std::string_view manifest, std::string_view spine,
                        std::string_view spine_attributes) {
    return std::format("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<package xmlns=\"http://www.idpf.org/2007/opf\" "
                       "version=\"3.0\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><metadata>{}</metadata>"
                       "<manifest>{}</manifest><spine{}{}>{}</spine></package>",
                       metadata, manifest, spine_attributes.empty() ? "" : " ", spine_attributes, spine);
}

std::string nav_xhtml(std::string_view list_items) {
    return std::format("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" "
                       "xmlns:epub=\"http://www.idpf.org/2007/ops\"><body><nav epub:type=\"toc\"><ol>{}</ol></nav>"
                       "</body></html>",
                       list_items);
}

std::string ncx_xml(std::string_view nav_points) {
    return std::format("<?xml version=\"1.0\"?>\n<ncx xmlns=\"http://www.daisy.org/z3986/2005/ncx/\" "
                       "version=\"2005-1\"><navMap>{}</navMap></ncx>",
                       nav_points);
}

std::vector<ZipEntryLayout> book_entries(std::string opf, std::vector<ZipEntryLayout> files) {
    std::vector<ZipEntryLayout> entries{
        {.name = "mimetype", .data = "application/epub+zip", .deflate = false},
        {.name = "META-INF/container.xml", .data = container_xml("OEBPS/content.opf")},
        {.name = "OEBPS/content.opf", .data = std::move(opf)},
    };
    for (auto& file : files) entries.push_back(std::move(file));
    return entries;
}

std::string small_book(const std::string& title) {
    const std::string opf = package_xml(
        "<dc:identifier id='uid'>u</dc:identifier><dc:title>" + title + "</dc:title><dc:language>en</dc:language>",
        "<item id='c' href='c.xhtml' media-type='application/xhtml+xml'/>"
        "<item id='n' href='n.xhtml' media-type='application/xhtml+xml' properties='nav'/>"
        "<item id='i' href='i.png' media-type='image/png'/><item id='s' href='s.css' media-type='text/css'/>",
        "<itemref idref='c'/>");
    return build_zip(book_entries(opf, {{.name = "OEBPS/c.xhtml", .data = "<p>" + title + "</p>"},
                                        {.name = "OEBPS/n.xhtml", .data = nav_xhtml("")},
                                        {.name = "OEBPS/i.png", .data = "png"},
                                        {.name = "OEBPS/s.css", .data = "p {}"}}));
}

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("quirelo_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    std::filesystem::remove_all(path_);  // left by an earlier process of the same id
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::write(std::string_view name, std::string_view bytes) const {
    const std::string path = file(name);
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

std::vector<std::filesystem::path> corpus_books() {
    std::vector<std::filesystem::path> books;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(QUIRELO_CORPUS_DIR, error))
        if (entry.path().extension() == ".epub") books.push_back(entry.path());
    std::sort(books.begin(), books.end());
    return books;
}

AttributeMap attributes(std::initializer_list<std::pair<const char*, const char*>> pairs) {
    AttributeMap map;
    for (const auto& [key, value] : pairs) map.insert_or_assign(key, value);
    return map;
}

void add(Book& book, ItemFields fields) {
    auto item = std::make_shared<Item>(std::move(fields.id), std::move(fields.href), std::move(fields.media_type),
                                       std::move(fields.content), fields.type);
    item->properties = std::move(fields.properties);
    add_item(book, std::move(item));
}

Book minimal_book(std::string version) {
    Book book = book_new();
    book.version = std::move(version);
    set_dc_value(book, "identifier", "urn:x");
    set_dc_value(book, "title", "T");
    set_dc_value(book, "language", "en");
    add(book, {"ch1", "ch1.xhtml", "application/xhtml+xml", "<html/>"});
    book.spine.push_back({"ch1", std::nullopt, true});
    return book;
}

std::chrono::system_clock::time_point fixed_time() {
    using namespace std::chrono;
    return sys_days{2024y / February / 29} + 13h + 5min + 9s + 700ms;
}

}  // namespace quirelo::testing
