#include "writer/navigation_documents.hpp"

#include <cstddef>
#include <string>
#include <unordered_map>

#include "model/epub_vocabulary.hpp"
#include "writer/xml_text.hpp"

namespace quirelo {

namespace {

void append_indent(std::string& out, std::size_t steps) {
    if (steps <= MAX_INDENT_STEPS) out.append(2 * steps, ' ');
}

void append_line(std::string& out, std::size_t steps, std::string_view text) {
    append_indent(out, steps);
    out.append(text);
    out.push_back('\n');
}

// One open list of the navigation document: its entries, the next one to write and the
// depth of its list element. Trees can be arbitrarily deep, so the walk keeps its own stack.
struct NavListFrame {
    const std::vector<TocEntry>* entries;
    std::size_t next;
    std::size_t depth;
};

void write_nav_list(std::string& out, const std::vector<TocEntry>& top, std::size_t top_depth) {
    if (top.empty()) return;
    std::vector<NavListFrame> stack;
    stack.push_back({&top, 0, top_depth});
    append_line(out, top_depth, "<ol>");
    while (!stack.empty()) {
        NavListFrame& frame = stack.back();
        if (frame.next == frame.entries->size()) {
            append_line(out, frame.depth, "</ol>");
            stack.pop_back();
            // The list just closed was the children of the parent's current entry.
            if (!stack.empty()) append_line(out, stack.back().depth + 1, "</li>");
            continue;
        }
        const TocEntry& entry = (*frame.entries)[frame.next++];
        const std::size_t depth = frame.depth;
        if (entry.children.empty()) {
            append_indent(out, depth + 1);
            out.append("<li><a href=\"");
            append_xml_attribute(out, entry.href);
            out.append("\">");
            append_xml_text(out, entry.title);
            out.append("</a></li>\n");
            continue;
        }
        append_line(out, depth + 1, "<li>");
        append_indent(out, depth + 2);
        if (entry.href.empty()) {
            out.append("<span>");
            append_xml_text(out, entry.title);
            out.append("</span>\n");
        } else {
            out.append("<a href=\"");
            append_xml_attribute(out, entry.href);
            out.append("\">");
            append_xml_text(out, entry.title);
            out.append("</a>\n");
        }
        append_line(out, depth + 2, "<ol>");
        stack.push_back({&entry.children, 0, depth + 2});  // invalidates frame
    }
}

// One list of entries being turned into navigation points. A list whose parent has no
// href shares the parent's depth and closes no navigation point.
struct NavPointFrame {
    const std::vector<TocEntry>* entries;
    std::size_t next;
    std::size_t depth;
    bool closes_nav_point;
};

// Navigation points that share a target share the play order of the first of them (a
// reading system reaches one place in one order); ids stay one per point.
void write_nav_points(std::string& out, const std::vector<TocEntry>& top, std::size_t top_depth) {
    std::size_t point_count = 0;
    std::unordered_map<std::string_view, std::size_t> play_orders;
    std::vector<NavPointFrame> stack;
    stack.push_back({&top, 0, top_depth, false});
    while (!stack.empty()) {
        NavPointFrame& frame = stack.back();
        if (frame.next == frame.entries->size()) {
            if (frame.closes_nav_point) append_line(out, frame.depth - 1, "</navPoint>");
            stack.pop_back();
            continue;
        }
        const TocEntry& entry = (*frame.entries)[frame.next++];
        const std::size_t depth = frame.depth;
        if (entry.href.empty()) {
            // No point of its own: its children stand in its place, numbered on.
            if (!entry.children.empty()) stack.push_back({&entry.children, 0, depth, false});
            continue;
        }
        const std::size_t play_order = play_orders.try_emplace(entry.href, play_orders.size() + 1).first->second;
        append_indent(out, depth);
        out.append("<navPoint id=\"np").append(std::to_string(++point_count));
        out.append("\" playOrder=\"").append(std::to_string(play_order)).append("\">\n");
        append_indent(out, depth + 1);
        out.append("<navLabel><text>");
        append_xml_text(out, entry.title);
        out.append("</text></navLabel>\n");
        append_indent(out, depth + 1);
        out.append("<content src=\"");
        append_xml_attribute(out, entry.href);
        out.append("\"/>\n");
        stack.push_back({&entry.children, 0, depth + 1, true});  // invalidates frame
    }
}

}  // namespace

std::string generate_nav(const std::vector<TocEntry>& toc) {
    std::string out;
    out.reserve(256 + 80 * toc.size());
    out.append(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<html xmlns=\"");
    out.append(XHTML_NAMESPACE_URI).append("\" xmlns:epub=\"").append(OPS_NAMESPACE_URI);
    out.append(
        "\">\n"
        "<head><title>Table of Contents</title></head>\n"
        "<body>\n"
        "  <nav epub:type=\"toc\">\n"
        "    <h1>Table of Contents</h1>\n");
    write_nav_list(out, toc, 2);
    out.append(
        "  </nav>\n"
        "</body>\n"
        "</html>\n");
    return out;
}

std::string generate_ncx(const Book& book, std::string_view unique_id) {
    std::string out;
    out.reserve(256 + 150 * book.toc.size());
    out.append(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ncx xmlns=\"");
    out.append(NCX_NAMESPACE_URI);
    out.append(
        "\" version=\"2005-1\">\n"
        "  <head>\n"
        "    <meta name=\"dtb:uid\" content=\"");
    append_xml_attribute(out, unique_id);
    out.append(
        "\"/>\n"
        "  </head>\n"
        "  <docTitle><text>");
    append_xml_text(out, first_dc_value(book, "title").value_or("Untitled"));
    out.append(
        "</text></docTitle>\n"
        "  <navMap>\n");
    write_nav_points(out, book.toc, 2);
    out.append(
        "  </navMap>\n"
        "</ncx>\n");
    return out;
}

}  // namespace quirelo
