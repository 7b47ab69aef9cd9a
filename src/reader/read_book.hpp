#pragma once
// The reading sequence shared by every way of opening an archive.
#include "model/book.hpp"
#include "model/error.hpp"
#include "model/item.hpp"
#include "reader/read_epub.hpp"
#include "reader/zip_archive.hpp"

namespace quirelo {

// With a shared_image the items are left to load lazily from it; without one every item
// is read now from the archive.
Result<Book> read_book(ZipArchive& archive, const ReadOptions& options, const ArchiveImage& shared_image);

}  // namespace quirelo
