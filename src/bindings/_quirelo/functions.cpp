// The module functions: reading, writing, batch reading and the structured Markdown flavour.
#include <string>
#include <vector>

#include "batch/read_many.hpp"
#include "bindings/common/arguments.hpp"
#include "bindings/common/errors.hpp"
#include "bindings/_quirelo/functions.hpp"
#include "bindings/_quirelo/objects.hpp"
#include "bindings/common/py_ref.hpp"
#include "bindings/common/unlocked_interpreter.hpp"
#include "reader/read_epub.hpp"
#include "writer/write_epub.hpp"

namespace quirelo::py {

namespace {

bool convert_read_flags(ArgumentSlots& slots, std::size_t first, ReadOptions& options, bool with_lazy) {
    if (!with_lazy) return convert_flags(slots, first, {"ignore_ncx", "ignore_nav"}, {&options.ignore_ncx, &options.ignore_nav});
    return convert_flags(slots, first, {"ignore_ncx", "ignore_nav", "lazy"},
                         {&options.ignore_ncx, &options.ignore_nav, &options.lazy});
}

PyObject* book_or_error(Result<Book>&& result) {
    if (!result) return raise_epub_error(result.error());
    return new_book_object(std::move(*result));
}

bool convert_book_argument(PyObject* object, BookObject*& out) {
    PyTypeObject* type = book_class();
    if (type == nullptr) return false;
    if (!PyObject_TypeCheck(object, type)) {
        raise_type_mismatch(object, "EpubBook");
        return false;
    }
    out = reinterpret_cast<BookObject*>(object);
    return true;
}

}  // namespace

PyObject* read_epub_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return panic_boundary([&]() -> PyObject* {
        static const Signature signature{"_read_epub()", {"path", "ignore_ncx", "ignore_nav", "lazy"}, 1};
        ArgumentSlots slots;
        std::string path;
        ReadOptions options;
        if (!match_arguments(signature, args, nargs, kwnames, slots) ||
            !convert_argument("path", [&] { return convert_str(slots[0], path); }) ||
            !convert_read_flags(slots, 1, options, true)) {
            return nullptr;
        }
        return book_or_error(read_epub_path(path, options));
    });
}

PyObject* read_epub_bytes_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return panic_boundary([&]() -> PyObject* {
        static const Signature signature{"_read_epub_bytes()", {"data", "ignore_ncx", "ignore_nav", "lazy"}, 1};
        ArgumentSlots slots;
        ReadOptions options;
        if (!match_arguments(signature, args, nargs, kwnames, slots)) return nullptr;
        PyObject* data = slots[0];
        if (!PyBytes_Check(data)) {
            raise_type_mismatch(data, "bytes");
            argument_error("data");  // names the argument in the TypeError just set
            return nullptr;
        }
        if (!convert_read_flags(slots, 1, options, true)) return nullptr;
        // Read in place: the bytes object is immutable and held by the caller for the call.
        const std::string_view image(PyBytes_AS_STRING(data), static_cast<std::size_t>(PyBytes_GET_SIZE(data)));
        return book_or_error(read_epub_bytes(image, options));
    });
}

PyObject* write_epub_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return panic_boundary([&]() -> PyObject* {
        static const Signature signature{"_write_epub()", {"path", "book"}, 2};
        ArgumentSlots slots;
        std::string path;
        BookObject* book = nullptr;
        if (!match_arguments(signature, args, nargs, kwnames, slots) ||
            !convert_argument("path", [&] { return convert_str(slots[0], path); }) ||
            !convert_argument("book", [&] { return convert_book_argument(slots[1], book); })) {
            return nullptr;
        }
        SharedBorrow borrow(book->borrow);
        if (!borrow) return nullptr;
        auto written = write_epub_file(book->book, path);
        if (!written) return raise_epub_error(written.error());
        Py_RETURN_NONE;
    });
}

PyObject* write_epub_bytes_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return panic_boundary([&]() -> PyObject* {
        static const Signature signature{"_write_epub_bytes()", {"book"}, 1};
        ArgumentSlots slots;
        BookObject* book = nullptr;
        if (!match_arguments(signature, args, nargs, kwnames, slots) ||
            !convert_argument("book", [&] { return convert_book_argument(slots[0], book); })) {
            return nullptr;
        }
        SharedBorrow borrow(book->borrow);
        if (!borrow) return nullptr;
        auto written = write_epub_bytes(book->book);
        if (!written) return raise_epub_error(written.error());
        return PyBytes_FromStringAndSize(written->data(), static_cast<Py_ssize_t>(written->size()));
    });
}

PyObject* read_epubs_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return panic_boundary([&]() -> PyObject* {
        static const Signature signature{"_read_epubs()", {"paths", "workers", "ignore_ncx", "ignore_nav"}, 1};
        ArgumentSlots slots;
        std::vector<std::string> paths;
        std::optional<std::uint64_t> workers;
        ReadOptions options;
        if (!match_arguments(signature, args, nargs, kwnames, slots)) return nullptr;
        const bool converted =
            convert_argument("paths", [&] { return convert_str_sequence(slots[0], paths); }) &&
            convert_argument("workers", [&] { return convert_workers(slots[1], workers); }) &&
            convert_read_flags(slots, 2, options, false);
        if (!converted) return nullptr;

        Result<std::vector<Result<Book>>> outcome;
        {
            UnlockedInterpreter unlocked;  // the workers touch no interpreter object
            outcome = read_epubs(paths, workers, options);
        }
        if (!outcome) return raise_epub_error(outcome.error());
        for (auto& slot : *outcome) {
            if (!slot) return raise_epub_error(slot.error());
        }
        return new_list(outcome->size(), [&](std::size_t i) { return new_book_object(std::move(*(*outcome)[i])); });
    });
}

}  // namespace quirelo::py
