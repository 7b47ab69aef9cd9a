#include "text/resolve_path.hpp"

#include <vector>

#include "text/ascii.hpp"

namespace quirelo {

namespace {

template <class Visit>
void for_each_segment(std::string_view path, Visit&& visit) {
    while (true) {
        const auto slash = path.find('/');
        visit(path.substr(0, slash));
        if (slash == std::string_view::npos) return;
        path.remove_prefix(slash + 1);
    }
}

}  // namespace

std::string resolve_path(std::string_view base, std::string_view href) {
    std::vector<std::string_view> kept;
    for_each_segment(base, [&](std::string_view segment) {
        if (!segment.empty()) kept.push_back(segment);
    });
    for_each_segment(href, [&](std::string_view segment) {
        if (segment.empty() || segment == ".") return;
        if (segment == "..") {
            if (!kept.empty()) kept.pop_back();
            return;
        }
        kept.push_back(segment);
    });
    std::string joined;
    joined.reserve(base.size() + href.size());
    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (i != 0) joined += '/';
        joined += kept[i];
    }
    return joined;
}

std::string percent_decoded(std::string_view uri) {
    std::string decoded;
    decoded.reserve(uri.size());
    for (std::size_t i = 0; i < uri.size(); ++i) {
        if (uri[i] == '%' && i + 2 < uri.size()) {
            const int high = hex_value(uri[i + 1]);
            const int low = hex_value(uri[i + 2]);
            if (high >= 0 && low >= 0) {
                decoded.push_back(static_cast<char>(high * 16 + low));
                i += 2;
                continue;
            }
        }
        decoded.push_back(uri[i]);
    }
    return decoded;
}

}  // namespace quirelo
