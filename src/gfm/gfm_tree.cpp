#include "gfm/gfm_tree.hpp"

namespace quirelo {

GfmTree::GfmTree() { clear(); }

void GfmTree::clear() {
    nodes.clear();
    pool.clear();
    links.clear();
    anchors.clear();
    notes.clear();
    first_inline_block = NO_GFM_NODE;
    start_anchor.clear();
    nodes.push_back(GfmNode{});
}

GfmNodeId GfmTree::add(GfmNodeId parent, GfmKind kind) {
    const auto id = static_cast<GfmNodeId>(nodes.size());
    GfmNode node;
    node.kind = kind;
    node.parent = parent;
    nodes.push_back(node);
    GfmNode& up = nodes[parent];
    if (up.last_child == NO_GFM_NODE) {
        up.first_child = id;
    } else {
        nodes[up.last_child].next = id;
    }
    up.last_child = id;
    return id;
}

PoolSpan GfmTree::store(std::string_view text) {
    const PoolSpan span{static_cast<std::uint32_t>(pool.size()), static_cast<std::uint32_t>(text.size())};
    pool.append(text);
    return span;
}

void GfmTree::append_text(GfmNodeId parent, std::string_view text) {
    const GfmNodeId last = nodes[parent].last_child;
    if (last != NO_GFM_NODE && nodes[last].kind == GfmKind::Text &&
        nodes[last].text.offset + nodes[last].text.size == pool.size()) {
        pool.append(text);
        nodes[last].text.size += static_cast<std::uint32_t>(text.size());
        return;
    }
    const GfmNodeId node = add(parent, GfmKind::Text);
    nodes[node].text = store(text);
}

void GfmTree::move_children(GfmNodeId from, GfmNodeId to) {
    GfmNode& source = nodes[from];
    if (source.first_child == NO_GFM_NODE) return;
    for (GfmNodeId child = source.first_child; child != NO_GFM_NODE; child = nodes[child].next) {
        nodes[child].parent = to;
    }
    GfmNode& target = nodes[to];
    if (target.last_child == NO_GFM_NODE) {
        target.first_child = source.first_child;
    } else {
        nodes[target.last_child].next = source.first_child;
    }
    target.last_child = source.last_child;
    source.first_child = source.last_child = NO_GFM_NODE;
}

}  // namespace quirelo
