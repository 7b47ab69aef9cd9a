#include "text/xml_escape.hpp"

#include <cstring>

namespace quirelo {

void escape_xml(std::string& out, std::string_view text) {
    std::size_t run_start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char* entity;
        switch (text[i]) {
            case '&': entity = "&amp;"; break;
            case '<': entity = "&lt;"; break;
            case '>': entity = "&gt;"; break;
            case '"': entity = "&quot;"; break;
            case '\'': entity = "&apos;"; break;
            default: continue;
        }
        out.append(text.substr(run_start, i - run_start));
        out.append(entity);
        run_start = i + 1;
    }
    out.append(text.substr(run_start));
}

}  // namespace quirelo
