#pragma once
// The fixed words of the EPUB format that the reader, the writer and validation share:
// media types, namespace URIs, fixed archive entry names, refinement properties and the
// required metadata. Spelled here once; the media-type table for file names and the
// item-type rules are data in model/epub_rules.def.
#include <array>
#include <string_view>

#include "model/error.hpp"

namespace quirelo {

// Media types.
inline constexpr std::string_view EPUB_MIMETYPE = "application/epub+zip";
inline constexpr std::string_view PACKAGE_MEDIA_TYPE = "application/oebps-package+xml";
inline constexpr std::string_view XHTML_MEDIA_TYPE = "application/xhtml+xml";
inline constexpr std::string_view NCX_MEDIA_TYPE = "application/x-dtbncx+xml";

// Namespace URIs.
inline constexpr std::string_view CONTAINER_NAMESPACE_URI = "urn:oasis:names:tc:opendocument:xmlns:container";
inline constexpr std::string_view OPF_NAMESPACE_URI = "http://www.idpf.org/2007/opf";
inline constexpr std::string_view DC_NAMESPACE_URI = "http://purl.org/dc/elements/1.1/";
inline constexpr std::string_view OPS_NAMESPACE_URI = "http://www.idpf.org/2007/ops";
inline constexpr std::string_view XHTML_NAMESPACE_URI = "http://www.w3.org/1999/xhtml";
inline constexpr std::string_view NCX_NAMESPACE_URI = "http://www.daisy.org/z3986/2005/ncx/";
inline constexpr std::string_view XML_NAMESPACE_URI = "http://www.w3.org/XML/1998/namespace";
inline constexpr std::string_view XML_ENCRYPTION_NAMESPACE_URI = "http://www.w3.org/2001/04/xmlenc#";

// Archive entries whose names the format fixes.
inline constexpr std::string_view MIMETYPE_ENTRY = "mimetype";
inline constexpr std::string_view CONTAINER_ENTRY = "META-INF/container.xml";
inline constexpr std::string_view ENCRYPTION_ENTRY = "META-INF/encryption.xml";

// The EPUB 3 refinement: a meta element's "refines" attribute names the entry it refines
// ("#id"). These refining properties become attributes of the refined entry.
inline constexpr std::string_view REFINES_ATTRIBUTE = "refines";
inline constexpr std::array<std::string_view, 4> FOLDED_PROPERTIES = {"role", "file-as", "display-seq",
                                                                      "group-position"};

// The Dublin Core entries a book needs, in the order they are checked, with the error a
// refused write reports (validation reports "Missing required metadata: DC:<name>").
struct RequiredMetadata {
    std::string_view name;
    ErrorKind missing;
};
inline constexpr std::array<RequiredMetadata, 3> REQUIRED_METADATA = {{
    {"identifier", ErrorKind::MissingIdentifier},
    {"title", ErrorKind::MissingTitle},
    {"language", ErrorKind::MissingLanguage},
}};

}  // namespace quirelo
