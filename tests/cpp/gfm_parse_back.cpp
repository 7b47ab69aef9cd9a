#include "gfm_parse_back.hpp"

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm.h>

#include <algorithm>
#include <vector>

namespace quirelo::testing {

namespace {

void append_collapsed(std::string& out, std::string_view text) {
    for (const char c : text) {
        if (c != ' ' && c != '\n' && c != '\t' && c != '\r' && c != '\f') {
            out.push_back(c);
        } else if (!out.empty() && out.back() != ' ') {
            out.push_back(' ');
        }
    }
}

void trim(std::string& text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    if (!text.empty() && text.front() == ' ') text.erase(0, 1);
}

// Footnote definitions may come in another order: the flow, then the sorted definitions.
GfmShape join(GfmShape flow, std::vector<GfmShape> notes) {
    std::sort(notes.begin(), notes.end(), [](const GfmShape& a, const GfmShape& b) {
        return a.outline + a.text < b.outline + b.text;
    });
    for (auto& note : notes) {
        flow.outline += "F(" + note.outline + ")";
        append_collapsed(flow.text, " " + note.text + " ");
    }
    trim(flow.text);
    return flow;
}

// Our footnote definitions stand at the top level: each collects a shape of its own.
GfmShape walk_cmark(cmark_node* root, std::vector<GfmShape>& notes) {
    GfmShape flow;
    GfmShape* out = &flow;
    cmark_iter* iter = cmark_iter_new(root);
    for (cmark_event_type event; (event = cmark_iter_next(iter)) != CMARK_EVENT_DONE;) {
        cmark_node* node = cmark_iter_get_node(iter);
        const bool enter = event == CMARK_EVENT_ENTER;
        if (cmark_node_get_type(node) == CMARK_NODE_FOOTNOTE_DEFINITION) {
            if (enter) notes.emplace_back();
            if (!enter) trim(notes.back().text);
            out = enter ? &notes.back() : &flow;
            continue;
        }
        const std::string_view type = cmark_node_get_type_string(node);
        if (type == "block_quote" || type == "item") {
            out->outline += enter ? (type == "item" ? "I(" : "Q(") : ")";
        } else if (type == "list") {
            const bool ordered = cmark_node_get_list_type(node) == CMARK_ORDERED_LIST;
            const std::string start = std::to_string(cmark_node_get_list_start(node));
            out->outline += !enter ? ")" : ordered ? "L." + start + "(" : "L(";
        } else if (type == "paragraph" && enter) {
            const std::string_view parent = cmark_node_get_type_string(cmark_node_parent(node));
            if (parent != "table_cell") out->outline += "P";
        } else if (type == "heading" && enter) {
            out->outline += "H" + std::to_string(cmark_node_get_heading_level(node));
        } else if (type == "code_block") {
            out->outline += "K";
            append_collapsed(out->text, " ");
            append_collapsed(out->text, cmark_node_get_literal(node));
        } else if (type == "thematic_break") {
            out->outline += "R";
        } else if (type == "html_block") {
            out->outline += "HTML";
        } else if (type == "table" && enter) {
            int rows = 0;
            for (cmark_node* row = cmark_node_first_child(node); row != nullptr; row = cmark_node_next(row)) ++rows;
            const int columns = cmark_gfm_extensions_get_table_columns(node);
            out->outline += "T" + std::to_string(rows) + "x" + std::to_string(columns);
        } else if (type == "text" || type == "code") {
            append_collapsed(out->text, cmark_node_get_literal(node));
        } else if (type == "softbreak" || type == "linebreak" ||
                   (type == "html_inline" && std::string_view(cmark_node_get_literal(node)).starts_with("<br"))) {
            append_collapsed(out->text, " ");
        }
        if (enter && (type == "paragraph" || type == "heading" || type == "table_cell")) {
            append_collapsed(out->text, " ");
        }
    }
    cmark_iter_free(iter);
    trim(flow.text);
    return flow;
}

struct TreeWalker {
    const GfmTree& tree;
    GfmShape shape = {};

    const GfmNode& at(GfmNodeId id) const { return tree.nodes[id]; }

    void blocks(GfmNodeId parent) {
        for (GfmNodeId id = at(parent).first_child; id != NO_GFM_NODE; id = at(id).next) block(id, parent);
    }

    void container(const std::string& open, GfmNodeId id) {
        shape.outline += open;
        blocks(id);
        shape.outline += ")";
    }

    void block(GfmNodeId id, GfmNodeId parent) {
        const GfmNode& node = at(id);
        switch (node.kind) {
            case GfmKind::Paragraph: shape.outline += "P"; inlines(id); break;
            case GfmKind::Heading: shape.outline += "H" + std::to_string(node.number); inlines(id); break;
            case GfmKind::CodeBlock:
                shape.outline += "K";
                append_collapsed(shape.text, " ");
                append_collapsed(shape.text, tree.text(id));
                break;
            case GfmKind::Rule: shape.outline += "R"; break;
            case GfmKind::Quote: container("Q(", id); break;
            case GfmKind::List: {
                const std::size_t before = shape.outline.size();
                const std::string open = (node.flags & ORDERED) != 0 ? "L." + std::to_string(node.number) + "(" : "L(";
                container(open, id);
                // Only hoisted notes, which add nothing: no list at all.
                if (shape.outline.size() == before + open.size() + 1) shape.outline.resize(before);
                break;
            }
            case GfmKind::Item: container("I(", id); break;
            case GfmKind::Note:  // in place unless a footnote; in a list, as an item
                if (node.number != 0) break;
                if (at(parent).kind == GfmKind::List) container("I(", id); else blocks(id);
                break;
            case GfmKind::Table: table(id); break;
            default: break;
        }
    }

    void table(GfmNodeId id) {
        std::size_t rows = 0;
        std::size_t columns = 1;
        for (GfmNodeId row = at(id).first_child; row != NO_GFM_NODE; row = at(row).next) {
            if (at(row).kind != GfmKind::Row) continue;
            ++rows;
            std::size_t cells = 0;
            for (GfmNodeId cell = at(row).first_child; cell != NO_GFM_NODE; cell = at(cell).next) {
                if (at(cell).kind != GfmKind::Cell) continue;
                ++cells;
                append_collapsed(shape.text, " ");
                for (GfmNodeId p = at(cell).first_child; p != NO_GFM_NODE; p = at(p).next) {
                    if (at(p).kind == GfmKind::Paragraph) inlines(p);
                }
            }
            columns = std::max(columns, cells);
            for (; cells < columns; ++cells) append_collapsed(shape.text, " ");
        }
        shape.outline += "T" + std::to_string(rows) + "x" + std::to_string(columns);
    }

    void inlines(GfmNodeId parent) {
        append_collapsed(shape.text, " ");
        inline_children(parent);
    }

    void inline_children(GfmNodeId parent) {
        for (GfmNodeId id = at(parent).first_child; id != NO_GFM_NODE; id = at(id).next) {
            switch (at(id).kind) {
                case GfmKind::Text: case GfmKind::Code: case GfmKind::Image:
                    append_collapsed(shape.text, tree.text(id));
                    break;
                case GfmKind::Break: append_collapsed(shape.text, " "); break;
                case GfmKind::Link: if (at(id).number == 0) inline_children(id); break;
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
    std::vector<GfmShape> notes;
    GfmShape flow = walk_cmark(document, notes);
    cmark_node_free(document);
    cmark_parser_free(parser);
    return join(std::move(flow), std::move(notes));
}

GfmShape book_shape(const std::vector<const GfmTree*>& trees) {
    GfmShape flow;
    std::vector<GfmShape> notes;
    for (const GfmTree* tree : trees) {
        if (!flow.outline.empty()) flow.outline += "R";
        TreeWalker walker{*tree};
        walker.blocks(0);
        flow.outline += walker.shape.outline;
        append_collapsed(flow.text, " " + walker.shape.text + " ");
        for (const GfmNodeId note : tree->notes) {
            if (tree->nodes[note].number == 0) continue;
            TreeWalker note_walker{*tree};
            note_walker.blocks(note);
            trim(note_walker.shape.text);
            notes.push_back(std::move(note_walker.shape));
        }
    }
    return join(std::move(flow), std::move(notes));
}

}  // namespace quirelo::testing
