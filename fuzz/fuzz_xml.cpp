// The XML tree and every document parser of the reader over the same arbitrary input.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "reader/container.hpp"
#include "reader/package_document.hpp"
#include "reader/refinements.hpp"
#include "reader/toc_parsing.hpp"
#include "reader/xml_tree.hpp"

volatile std::size_t walk_sink;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quirelo;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (auto document = parse_xml(bytes)) {
        const XmlNode top = document->document_node();
        std::size_t total = 0;
        for (XmlNode node = top.next_within(top); node; node = node.next_within(top)) {
            total += first_text(node).size() + child_text(node).size() + node.attributes().size();
            if (node.attribute("id")) ++total;
        }
        total += all_text(document->root_element()).size();
        walk_sink = total;  // keeps the walk from being optimised away
    }
    (void)parse_container(bytes);
    if (auto package = parse_package(bytes)) fold_refinements(package->metadata);
    (void)parse_nav(bytes);
    (void)parse_ncx(bytes);
    return 0;
}
