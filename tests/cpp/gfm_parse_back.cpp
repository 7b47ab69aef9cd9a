#include "gfm_parse_back.hpp"

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace quirelo::testing {

namespace {

void append_collapsed(std::string& out, std::string_view text) {
    for (const char c : text) {
        const bool space = c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '\f';
        if (space) {
            if (!out.empty() && out.back() != ' ') out.push_back(' ');
        } else {
            out.push_back(c);
        }
    }
}

void trim(std::string& text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    if (!text.empty() && text.front() == ' ') text.erase(0, 1);
}

// Footnote definitions may come in another order: the flow, then the sorted definitions.
GfmShape join(std::string flow_outline, std::string flow_text, std::vector<GfmShape> notes) {
    std::sort(notes.begin(), notes.end(), [](const GfmShape& a, const GfmShape& b) {
        return a.outline + a.text < b.outline + b.text;
    });
    GfmShape shape{std::move(flow_outline), std::move(flow_text)};
    for (auto& note : notes) {
        shape.outline += "F(" + note.outline + ")";
        append_collapsed(shape.text, " " + note.text + " ");
    }
    trim(shape.text);
    return shape;
}

struct CmarkWalk {
    std::string outline;
    std::string text;
};

void walk_cmark(cmark_node* root, CmarkWalk& walk, std::vector<GfmShape>& notes) {
    cmark_iter* iter = cmark_iter_new(root);
    cmark_event_type event;
    std::vector<CmarkWalk*> stack{&walk};
    std::vector<CmarkWalk> note_walks;
    note_walks.reserve(1024);
    while ((event = cmark_iter_next(iter)) != CMARK_EVENT_DONE) {
        cmark_node* node = cmark_iter_get_node(iter);
        const bool footnote = cmark_node_get_type(node) == CMARK_NODE_FOOTNOTE_DEFINITION;
        const std::string_view type = footnote ? "footnote_definition" : cmark_node_get_type_string(node);
        CmarkWalk& out = *stack.back();
        const bool enter = event == CMARK_EVENT_ENTER;
        if (type == "footnote_definition") {
            if (enter) {
                note_walks.emplace_back();
                stack.push_back(&note_walks.back());
            } else {
                CmarkWalk note = *stack.back();
                stack.pop_back();
                trim(note.text);
                notes.push_back({note.outline, note.text});
            }
            continue;
        }
        if (type == "block_quote" || type == "item") {
            out.outline += enter ? (type == "item" ? "I(" : "Q(") : ")";
        } else if (type == "list") {
            if (enter) {
                out.outline += cmark_node_get_list_type(node) == CMARK_ORDERED_LIST
                                   ? "L." + std::to_string(cmark_node_get_list_start(node)) + "("
                                   : "L(";
            } else {
                out.outline += ")";
            }
        } else if (type == "paragraph" && enter) {
            if (std::string_view(cmark_node_get_type_string(cmark_node_parent(node))) != "table_cell") out.outline += "P";
        } else if (type == "heading" && enter) {
            out.outline += "H" + std::to_string(cmark_node_get_heading_level(node));
        } else if (type == "code_block") {
            out.outline += "K";
            append_collapsed(out.text, " ");
            append_collapsed(out.text, cmark_node_get_literal(node));
        } else if (type == "thematic_break") {
            out.outline += "R";
        } else if (type == "html_block") {
            out.outline += "HTML";
        } else if (type == "table" && enter) {
            int rows = 0;
            for (cmark_node* row = cmark_node_first_child(node); row != nullptr; row = cmark_node_next(row)) ++rows;
            out.outline += "T" + std::to_string(rows) + "x" +
                           std::to_string(cmark_gfm_extensions_get_table_columns(node));
        } else if (type == "text" || type == "code") {
            append_collapsed(out.text, cmark_node_get_literal(node));
        } else if (type == "html_inline" && std::string_view(cmark_node_get_literal(node)).starts_with("<br")) {
            append_collapsed(out.text, " ");
        } else if (type == "softbreak" || type == "linebreak") {
            append_collapsed(out.text, " ");
        }
        if (enter && (type == "paragraph" || type == "heading" || type == "table_cell")) append_collapsed(out.text, " ");
    }
    cmark_iter_free(iter);
}

struct TreeWalker {
    const GfmTree& tree;
    std::string outline;
    std::string text;

    void blocks(GfmNodeId parent) {
        for (GfmNodeId id = tree.nodes[parent].first_child; id != NO_GFM_NODE; id = tree.nodes[id].next) block(id, parent);
    }

    void block(GfmNodeId id, GfmNodeId parent) {
        const GfmNode& node = tree.nodes[id];
        switch (node.kind) {
            case GfmKind::Paragraph: outline += "P"; inlines(id); break;
            case GfmKind::Heading: outline += "H" + std::to_string(node.number); inlines(id); break;
            case GfmKind::CodeBlock:
                outline += "K";
                append_collapsed(text, " ");
                append_collapsed(text, tree.text(id));
                break;
            case GfmKind::Rule: outline += "R"; break;
            case GfmKind::Quote: outline += "Q("; blocks(id); outline += ")"; break;
            case GfmKind::List:
                if (!has_rendered_item(id)) break;  // only hoisted notes: no list at all
                outline += (node.flags & ORDERED) != 0 ? "L." + std::to_string(node.number) + "(" : "L(";
                blocks(id);
                outline += ")";
                break;
            case GfmKind::Item: outline += "I("; blocks(id); outline += ")"; break;
            case GfmKind::Note:
                if (node.number != 0) break;
                if (tree.nodes[parent].kind == GfmKind::List) {
                    outline += "I(";
                    blocks(id);
                    outline += ")";
                } else {
                    blocks(id);
                }
                break;
            case GfmKind::Table: table(id); break;
            default: break;
        }
    }

    bool has_rendered_item(GfmNodeId list) const {
        for (GfmNodeId id = tree.nodes[list].first_child; id != NO_GFM_NODE; id = tree.nodes[id].next) {
            const GfmNode& node = tree.nodes[id];
            if (node.kind == GfmKind::Item || (node.kind == GfmKind::Note && node.number == 0)) return true;
        }
        return false;
    }

    void table(GfmNodeId id) {
        std::size_t rows = 0;
        std::size_t columns = 1;
        for (GfmNodeId row = tree.nodes[id].first_child; row != NO_GFM_NODE; row = tree.nodes[row].next) {
            if (tree.nodes[row].kind != GfmKind::Row) continue;
            ++rows;
            std::size_t cells = 0;
            for (GfmNodeId cell = tree.nodes[row].first_child; cell != NO_GFM_NODE; cell = tree.nodes[cell].next) {
                if (tree.nodes[cell].kind != GfmKind::Cell) continue;
                ++cells;
                append_collapsed(text, " ");
                for (GfmNodeId p = tree.nodes[cell].first_child; p != NO_GFM_NODE; p = tree.nodes[p].next) {
                    if (tree.nodes[p].kind == GfmKind::Paragraph) inlines(p);
                }
            }
            columns = std::max(columns, cells);
            for (; cells < columns; ++cells) append_collapsed(text, " ");
        }
        outline += "T" + std::to_string(rows) + "x" + std::to_string(columns);
    }

    void inlines(GfmNodeId parent) {
        append_collapsed(text, " ");
        inline_children(parent);
    }

    void inline_children(GfmNodeId parent) {
        for (GfmNodeId id = tree.nodes[parent].first_child; id != NO_GFM_NODE; id = tree.nodes[id].next) {
            const GfmNode& node = tree.nodes[id];
            switch (node.kind) {
                case GfmKind::Text: case GfmKind::Code: append_collapsed(text, tree.text(id)); break;
                case GfmKind::Image: append_collapsed(text, tree.text(id)); break;
                case GfmKind::Break: append_collapsed(text, " "); break;
                case GfmKind::Link: if (node.number == 0) inline_children(id); break;
                case GfmKind::Emphasis: case GfmKind::Strong: inline_children(id); break;
                default: break;
            }
        }
    }
};

}  // namespace

GfmShape parsed_shape(std::string_view markdown) {
    cmark_gfm_core_extensions_ensure_registered();
    cmark_parser* parser = cmark_parser_new(CMARK_OPT_FOOTNOTES);
    cmark_parser_attach_syntax_extension(parser, cmark_find_syntax_extension("table"));
    cmark_parser_feed(parser, markdown.data(), markdown.size());
    cmark_node* document = cmark_parser_finish(parser);
    CmarkWalk walk;
    std::vector<GfmShape> notes;
    walk_cmark(document, walk, notes);
    cmark_node_free(document);
    cmark_parser_free(parser);
    trim(walk.text);
    return join(walk.outline, walk.text, std::move(notes));
}

GfmShape tree_shape(const GfmTree& tree) { return book_shape({&tree}); }

GfmShape book_shape(const std::vector<const GfmTree*>& trees) {
    std::string outline;
    std::string text;
    std::vector<GfmShape> notes;
    for (const GfmTree* tree : trees) {
        if (!outline.empty()) outline += "R";
        TreeWalker flow{*tree, {}, {}};
        flow.blocks(0);
        outline += flow.outline;
        append_collapsed(text, " " + flow.text + " ");
        for (const GfmNodeId note : tree->notes) {
            if (tree->nodes[note].number == 0) continue;
            TreeWalker walker{*tree, {}, {}};
            walker.blocks(note);
            trim(walker.text);
            notes.push_back({walker.outline, walker.text});
        }
    }
    trim(text);
    return join(outline, text, std::move(notes));
}

}  // namespace quirelo::testing
