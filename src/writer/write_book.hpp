#pragma once
// The one writing pipeline behind both public write functions.
#include "model/book.hpp"
#include "model/error.hpp"
#include "writer/archive_plan.hpp"
#include "writer/zip_sink.hpp"

namespace quirelo {

// The fixed container document naming "EPUB/content.opf".
extern const std::string CONTAINER_DOCUMENT;

// Writes the whole archive for a planned book to the sink: "mimetype" (stored), the
// container and package documents, every item (lazy items are loaded through their
// content cell; empty NCX and navigation items get generated documents), then the
// added navigation document. On a failure the entries completed so far still get a
// central directory when the sink allows it.
Result<void> write_book(const Book& book, const ArchivePlan& plan, ZipSink& sink);

}  // namespace quirelo
