#include "reader/lenient_toc.hpp"

#include "reader/toc_parsing.hpp"
#include "text/html_entities.hpp"
#include "text/utf8.hpp"

namespace quirelo {

namespace {

constexpr std::string_view NCX_MEDIA_TYPE = "application/x-dtbncx+xml";
constexpr std::size_t MAX_NAME_BYTES = 40;

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != prefix[i]) return false;
    }
    return true;
}

// Where the prolog's document type declaration starts and ends (end past its ">"), or
// npos when the prolog has none. Quoted literals and an internal subset may hold ">".
std::pair<std::size_t, std::size_t> find_doctype(std::string_view bytes) {
    constexpr auto none = std::pair{std::string_view::npos, std::string_view::npos};
    std::size_t position = 0;
    while ((position = bytes.find('<', position)) != std::string_view::npos) {
        const std::string_view rest = bytes.substr(position);
        if (rest.starts_with("<?")) {
            position = bytes.find("?>", position + 2);
            if (position == std::string_view::npos) return none;
            position += 2;
        } else if (rest.starts_with("<!--")) {
            position = bytes.find("-->", position + 4);
            if (position == std::string_view::npos) return none;
            position += 3;
        } else if (starts_with_ignoring_case(rest, "<!DOCTYPE")) {
            char quote = 0;
            int subset = 0;
            for (std::size_t end = position + 9; end < bytes.size(); ++end) {
                const char c = bytes[end];
                if (quote != 0) {
                    if (c == quote) quote = 0;
                } else if (c == '"' || c == '\'') {
                    quote = c;
                } else if (c == '[') {
                    ++subset;
                } else if (c == ']') {
                    subset -= subset > 0 ? 1 : 0;
                } else if (c == '>' && subset == 0) {
                    return {position, end + 1};
                }
            }
            return none;
        } else {
            return none;  // the root element: the prolog is over
        }
    }
    return none;
}

bool is_xml_entity(std::string_view name) {
    return name == "amp" || name == "lt" || name == "gt" || name == "quot" || name == "apos";
}

void append_numeric_references(std::string& out, std::string_view text) {
    std::size_t position = 0;
    while (position < text.size()) {
        out.append("&#").append(std::to_string(static_cast<std::uint32_t>(next_code_point(text, position))));
        out.push_back(';');
    }
}

}  // namespace

std::string xml_from_html_markup(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    const auto [doctype_start, doctype_end] = find_doctype(bytes);
    std::string_view rest = bytes;
    if (doctype_start != std::string_view::npos) {
        out.append(bytes.substr(0, doctype_start));
        rest = bytes.substr(doctype_end);
    }
    std::size_t copied = 0;
    for (std::size_t ampersand = rest.find('&'); ampersand != std::string_view::npos;
         ampersand = rest.find('&', ampersand + 1)) {
        // No HTML name is longer than this: a farther ";" ends no reference (and is not
        // searched for, which keeps the pass linear).
        const std::size_t semicolon = rest.substr(0, ampersand + 1 + MAX_NAME_BYTES).find(';', ampersand + 1);
        if (semicolon == std::string_view::npos) continue;
        const std::string_view name = rest.substr(ampersand + 1, semicolon - ampersand - 1);
        if (name.empty() || name.front() == '#' || is_xml_entity(name)) continue;
        const auto text = find_named_reference(rest.substr(ampersand + 1, semicolon - ampersand));
        if (!text) continue;  // unknown to HTML too: left for the XML parser to refuse
        out.append(rest.substr(copied, ampersand - copied));
        append_numeric_references(out, *text);
        copied = semicolon + 1;
    }
    out.append(rest.substr(copied));
    return out;
}

std::vector<TocEntry> lenient_toc(std::span<const NavigationDocument> documents, const ReadOptions& options) {
    const NavigationDocument* nav = nullptr;
    const NavigationDocument* ncx = nullptr;
    for (const auto& document : documents) {
        const bool is_ncx = document.media_type == NCX_MEDIA_TYPE;
        if (is_ncx && ncx == nullptr) ncx = &document;
        if (!is_ncx && nav == nullptr) nav = &document;
    }
    if (nav != nullptr && !options.ignore_nav) {
        auto entries = parse_nav(xml_from_html_markup(nav->bytes));
        if (entries && !entries->empty()) return std::move(*entries);
    }
    if (ncx != nullptr && !options.ignore_ncx) {
        auto entries = parse_ncx(xml_from_html_markup(ncx->bytes));
        if (entries) return std::move(*entries);
    }
    return {};
}

std::vector<TocEntry> lenient_toc(const Book& book, const ReadOptions& options) {
    std::vector<NavigationDocument> documents;
    for (const auto& item : book.items) {
        if (item->item_type != ITEM_NAVIGATION) continue;
        documents.push_back(NavigationDocument{item->media_type, load_content(*item)});
    }
    return lenient_toc(documents, options);
}

}  // namespace quirelo
