#include "reader_test_archive.hpp"

#include <libdeflate.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

namespace quirelo::testing {

namespace {

void put16(std::string& out, std::uint32_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>((value >> 8) & 0xFF));
}
void put32(std::string& out, std::uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

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
        const std::uint32_t method = entry.method.value_or(entry.deflate ? 8 : 0);
        const std::uint32_t crc = entry.crc.value_or(libdeflate_crc32(0, entry.data.data(), entry.data.size()));
        const std::uint32_t size = entry.declared_size.value_or(static_cast<std::uint32_t>(entry.data.size()));
        const auto offset = static_cast<std::uint32_t>(archive.size());
        auto common = [&](std::string& out) {
            put16(out, 20);  // version needed
            put16(out, entry.flags);
            put16(out, method);
            put16(out, 0);       // time
            put16(out, 0x21);    // date: 1980-01-01
            put32(out, crc);
            put32(out, static_cast<std::uint32_t>(stored.size()));
            put32(out, size);
            put16(out, static_cast<std::uint32_t>(entry.name.size()));
            put16(out, 0);  // extra length
        };
        put32(archive, 0x04034b50);
        common(archive);
        archive += entry.name;
        archive += stored;

        put32(directory, 0x02014b50);
        put16(directory, 20);  // version made by
        common(directory);
        put16(directory, 0);  // comment length
        put16(directory, 0);  // disk
        put16(directory, 0);  // internal attributes
        put32(directory, 0);  // external attributes
        put32(directory, offset);
        directory += entry.name;
    }
    const auto directory_offset = static_cast<std::uint32_t>(archive.size());
    archive += directory;
    put32(archive, 0x06054b50);
    put16(archive, 0);
    put16(archive, 0);
    put16(archive, static_cast<std::uint32_t>(entries.size()));
    put16(archive, static_cast<std::uint32_t>(entries.size()));
    put32(archive, static_cast<std::uint32_t>(directory.size()));
    put32(archive, directory_offset);
    put16(archive, 0);
    return archive;
}

std::string container_xml(std::string_view full_path) {
    std::string xml =
        "<?xml version=\"1.0\"?>\n"
        "<container version=\"1.0\" xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">"
        "<rootfiles><rootfile full-path=\"";
    xml += full_path;
    xml += "\" media-type=\"application/oebps-package+xml\"/></rootfiles></container>";
    return xml;
}

std::string package_xml(std::string_view metadata, std::string_view manifest, std::string_view spine,
                        std::string_view spine_attributes) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\" "
        "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><metadata>";
    xml += metadata;
    xml += "</metadata><manifest>";
    xml += manifest;
    xml += "</manifest><spine";
    if (!spine_attributes.empty()) {
        xml += ' ';
        xml += spine_attributes;
    }
    xml += '>';
    xml += spine;
    xml += "</spine></package>";
    return xml;
}

std::string nav_xhtml(std::string_view list_items) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<html xmlns=\"http://www.w3.org/1999/xhtml\" xmlns:epub=\"http://www.idpf.org/2007/ops\"><body>"
        "<nav epub:type=\"toc\"><ol>";
    xml += list_items;
    xml += "</ol></nav></body></html>";
    return xml;
}

std::string ncx_xml(std::string_view nav_points) {
    std::string xml =
        "<?xml version=\"1.0\"?>\n<ncx xmlns=\"http://www.daisy.org/z3986/2005/ncx/\" version=\"2005-1\">"
        "<navMap>";
    xml += nav_points;
    xml += "</navMap></ncx>";
    return xml;
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

std::string capture_stderr(const std::function<void()>& action) {
    std::fflush(stderr);
    struct Closer {
        void operator()(FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<FILE, Closer> sink(std::tmpfile());
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(::fileno(sink.get()), STDERR_FILENO);
    action();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    std::string captured;
    std::rewind(sink.get());
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, sink.get())) > 0) captured.append(buffer, got);
    return captured;
}

}  // namespace quirelo::testing
