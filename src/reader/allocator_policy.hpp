#pragma once
// How the C allocator treats the memory of a book once it is freed.
namespace quirelo {

// Keeps freed memory in the process for the next book instead of handing it back to the
// system. glibc's defaults return a freed book's entries (and mmap any large one), so the
// next read faults all of its pages in again: on this project's machines that is half the
// cost of an eager read. Sets glibc's trim threshold to 64 MiB and its mmap threshold to
// 32 MiB (the largest it takes), unless the environment already chose either. Once per
// process; does nothing with another C library. The Python modules call it when imported.
void keep_freed_memory_for_reuse() noexcept;

}  // namespace quirelo
