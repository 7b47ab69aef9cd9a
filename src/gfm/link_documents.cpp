#include "gfm/link_documents.hpp"

#include <string>
#include <unordered_map>
#include <vector>

#include "gfm/anchor_name.hpp"
#include "model/book.hpp"
#include "text/resolve_path.hpp"

namespace quirelo {

namespace {

bool has_scheme(std::string_view href) {
    if (href.starts_with("//")) return true;
    if (href.empty() || !((href[0] | 0x20) >= 'a' && (href[0] | 0x20) <= 'z')) return false;
    for (std::size_t i = 1; i < href.size(); ++i) {
        const char c = href[i];
        if (c == ':') return true;
        const bool scheme_char = ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
                                 c == '-' || c == '.';
        if (!scheme_char) return false;
    }
    return false;
}

std::string_view folder_of(std::string_view href) {
    const std::size_t slash = href.rfind('/');
    return slash == std::string_view::npos ? std::string_view{} : href.substr(0, slash + 1);
}

// A relative reference resolved against the document: the book's path (percent-decoded,
// without query) and the fragment (decoded). Empty `path` with `internal` false: external.
struct Reference {
    bool internal = false;
    std::string path;
    std::string fragment;
};

Reference resolve_reference(std::string_view document_href, std::string_view href) {
    Reference reference;
    if (has_scheme(href)) return reference;
    std::string_view path = href;
    std::string_view fragment;
    if (const std::size_t hash = path.find('#'); hash != std::string_view::npos) {
        fragment = path.substr(hash + 1);
        path = path.substr(0, hash);
    }
    if (const std::size_t query = path.find('?'); query != std::string_view::npos) path = path.substr(0, query);
    reference.internal = true;
    reference.fragment = percent_decoded(fragment);
    reference.path = path.empty() ? percent_decoded(document_href)
                                  : percent_decoded(resolve_path(folder_of(document_href), path));
    return reference;
}

// Keys are copies: the pass appends anchor names to the trees' pools, which may move.
struct DocumentIndex {
    std::unordered_map<std::string, GfmNodeId> anchors;  // element id -> first Anchor
    std::unordered_map<std::string, GfmNodeId> notes;    // element id -> first Note
};

bool has_content(const GfmTree& tree, GfmNodeId id) {
    for (GfmNodeId child = tree.nodes[id].first_child; child != NO_GFM_NODE; child = tree.nodes[child].next) {
        if (tree.nodes[child].kind != GfmKind::Skip) return true;
    }
    return false;
}

}  // namespace

void link_gfm_documents(const Book* book, std::span<GfmDocument> documents) {
    std::unordered_map<std::string, std::size_t> by_path;
    std::vector<DocumentIndex> indexes(documents.size());
    for (std::size_t d = 0; d < documents.size(); ++d) {
        by_path.try_emplace(percent_decoded(documents[d].href), d);
        GfmTree& tree = documents[d].tree;
        for (const GfmNodeId anchor : tree.anchors) indexes[d].anchors.try_emplace(std::string(tree.text(anchor)), anchor);
        for (const GfmNodeId note : tree.notes) {
            if (has_content(tree, note)) indexes[d].notes.try_emplace(std::string(tree.text(note)), note);
        }
    }

    std::uint32_t footnotes = 0;
    for (std::size_t d = 0; d < documents.size(); ++d) {
        GfmTree& tree = documents[d].tree;
        for (const GfmNodeId link : tree.links) {
            const Reference reference = resolve_reference(documents[d].href, tree.text(link));
            if (!reference.internal) continue;
            const auto found = by_path.find(reference.path);
            if (found == by_path.end()) continue;
            const std::size_t target = found->second;
            GfmTree& target_tree = documents[target].tree;
            if ((tree.nodes[link].flags & NOTE_REFERENCE) != 0) {
                const auto note = indexes[target].notes.find(reference.fragment);
                if (note != indexes[target].notes.end()) {
                    GfmNode& note_node = target_tree.nodes[note->second];
                    if (note_node.number == 0) note_node.number = ++footnotes;
                    tree.nodes[link].number = note_node.number;
                    continue;
                }
            }
            std::string name;
            const auto anchor = reference.fragment.empty() ? indexes[target].anchors.end()
                                                           : indexes[target].anchors.find(reference.fragment);
            if (anchor != indexes[target].anchors.end()) {
                name = element_anchor_name(target, reference.fragment);
                GfmNode& anchor_node = target_tree.nodes[anchor->second];
                if ((anchor_node.flags & ANCHOR_SHOWN) == 0) {
                    anchor_node.flags |= ANCHOR_SHOWN;
                    anchor_node.target = target_tree.store(name);
                }
            } else if (target_tree.first_inline_block != NO_GFM_NODE) {
                name = document_anchor_name(target);
                target_tree.start_anchor = name;
            } else {
                continue;  // nothing of that document shows: the link keeps its href
            }
            name.insert(0, 1, '#');
            tree.nodes[link].target = tree.store(name);
        }
        if (book == nullptr) continue;
        // Images: the href of the item they name, when the book has it.
        for (GfmNodeId id = 0; id < tree.nodes.size(); ++id) {
            if (tree.nodes[id].kind != GfmKind::Image) continue;
            const Reference reference = resolve_reference(documents[d].href, tree.target(id));
            if (!reference.internal || reference.path.empty()) continue;
            const ItemHandle* item = item_with_href(*book, reference.path);
            if (item != nullptr) tree.nodes[id].target = tree.store((*item)->href);
        }
    }
}

}  // namespace quirelo
