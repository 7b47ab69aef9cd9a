// The module quirelo._pipeline: the conversion pipeline. It shares the core, the argument
// helpers and the PanicException class with _quirelo through their common library.
#include <Python.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bindings/common/arguments.hpp"
#include "bindings/common/errors.hpp"
#include "bindings/common/method_table.hpp"
#include "bindings/common/py_ref.hpp"
#include "bindings/common/unlocked_interpreter.hpp"
#include "pipeline/conversion_stream.hpp"
#include "reader/allocator_policy.hpp"
#include "writer/replacing_file.hpp"

namespace quirelo::py {

namespace {

PyObject* optional_str(const std::optional<std::string>& text) {
    if (!text) Py_RETURN_NONE;
    return to_py_str(*text);
}

// The summary as one record, named as the dataset's columns: identifier, title, authors,
// language, items, items_<type> for every item type, spine_length, toc_size.
PyObject* summary_record(const BookSummary& summary) {
    PyRef record(PyDict_New());
    if (!record) return nullptr;
    const auto set = [&](const std::string& name, PyObject* value) {
        PyRef owned(value);
        return owned && PyDict_SetItemString(record.get(), name.c_str(), owned.get()) == 0;
    };
    if (!set("identifier", optional_str(summary.identifier)) || !set("title", optional_str(summary.title)) ||
        !set("authors", string_list(summary.authors)) || !set("language", optional_str(summary.language)) ||
        !set("items", PyLong_FromSize_t(summary.items))) {
        return nullptr;
    }
    for (std::uint8_t code = 0; code <= ITEM_TYPE_MAX; ++code) {
        std::string name = "items_";
        name.append(item_type_name(code));
        if (!set(name, PyLong_FromSize_t(summary.items_by_type[code]))) return nullptr;
    }
    if (!set("spine_length", PyLong_FromSize_t(summary.spine_length)) ||
        !set("toc_size", PyLong_FromSize_t(summary.toc_size))) {
        return nullptr;
    }
    return record.release();
}

// OSError(errno, strerror, file) as Python makes it, so the subclass (PermissionError,
// FileNotFoundError, ...) and the text are those of any other failed write.
PyObject* os_error(int error_number, const std::string& file) {
    PyRef name(to_py_str(file));
    if (!name) return nullptr;
    errno = error_number == 0 ? EINVAL : error_number;
    PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, name.get());
    return nullptr;
}

// The exception a failed book's outcome carries, as a value (never raised).
PyObject* failure_exception(const BookFailure& failure) {
    switch (failure.kind) {
        case FailureKind::Read: {
            PyRef message(to_py_str(failure.message));
            if (!message) return nullptr;
            return PyObject_CallOneArg(PyExc_ValueError, message.get());
        }
        case FailureKind::OutOfMemory:
            return PyObject_CallNoArgs(PyExc_MemoryError);
        case FailureKind::Write:
        case FailureKind::OutputFault:
            os_error(failure.os_error, failure.file);
            return PyErr_GetRaisedException();
        case FailureKind::Internal:
            break;
    }
    raise_panic(failure.message.c_str());
    return PyErr_GetRaisedException();
}

// Each chapter as one record, named as the ChapterRow members (and the dataset's columns).
PyObject* chapter_records(const std::vector<ChapterRow>& chapters) {
    return new_list(chapters.size(), [&](std::size_t i) -> PyObject* {
        const ChapterRow& chapter = chapters[i];
        PyRef record(PyDict_New());
        if (!record) return nullptr;
        const auto set = [&](const char* name, PyObject* value) {
            PyRef owned(value);
            return owned && PyDict_SetItemString(record.get(), name, owned.get()) == 0;
        };
        if (!set("position", PyLong_FromSize_t(chapter.position)) || !set("name", to_py_str(chapter.name)) ||
            !set("toc_title", to_py_str(chapter.toc_title)) || !set("markdown", to_py_str(chapter.markdown)) ||
            !set("text", to_py_str(chapter.text)) || !set("word_count", PyLong_FromSize_t(chapter.word_count)) ||
            !set("content_hash", to_py_str(chapter.content_hash))) {
            return nullptr;
        }
        return record.release();
    });
}

// The fields of an outcome tuple, in their order (quirelo.convert unpacks it, _pipeline.pyi
// types it): the outputs not asked for or written to files, and all of them for a failed
// book, are None.
enum OutcomeField : Py_ssize_t { Index, Markdown, Text, Summary, Issues, Chapters, Error, OUTCOME_FIELDS };

PyObject* outcome_tuple(IndexedOutcome& done) {
    PyRef fields[OUTCOME_FIELDS];
    fields[Index] = PyRef(PyLong_FromSize_t(done.index));
    BookOutcome& outcome = done.outcome;
    if (!outcome) {
        fields[Error] = PyRef(failure_exception(outcome.error()));
    } else {
        BookOutputs outputs = std::move(*outcome);  // each book's bytes are freed once converted
        fields[Markdown] = PyRef(optional_str(outputs.markdown));
        fields[Text] = PyRef(optional_str(outputs.text));
        fields[Summary] = PyRef(outputs.summary ? summary_record(*outputs.summary) : Py_NewRef(Py_None));
        fields[Issues] = PyRef(outputs.issues ? string_list(*outputs.issues) : Py_NewRef(Py_None));
        fields[Chapters] = PyRef(outputs.chapters ? chapter_records(*outputs.chapters) : Py_NewRef(Py_None));
        fields[Error] = PyRef(Py_NewRef(Py_None));
    }
    for (Py_ssize_t field = 0; field < OUTCOME_FIELDS; ++field) {
        if (!outcome && field != Index && field != Error) fields[field] = PyRef(Py_NewRef(Py_None));
        if (!fields[field]) return nullptr;
    }
    PyRef tuple(PyTuple_New(OUTCOME_FIELDS));
    if (!tuple) return nullptr;
    for (Py_ssize_t field = 0; field < OUTCOME_FIELDS; ++field) {
        PyTuple_SET_ITEM(tuple.get(), field, fields[field].release());
    }
    return tuple.release();
}

// "exact" (the default) or "gfm"; any other name is a ValueError naming the choices.
bool convert_flavor(PyObject* object, MarkdownFlavor& flavor) {
    if (object == nullptr) return true;
    std::string name;
    if (!convert_argument("flavor", [&] { return convert_str(object, name); })) return false;
    if (const auto named = markdown_flavor_named(name)) {
        flavor = *named;
        return true;
    }
    PyErr_Format(PyExc_ValueError, "unknown Markdown flavor %R: expected one of exact, gfm", object);
    return false;
}

// One target path per book, or None for none at all.
bool convert_targets(PyObject* object, std::size_t count, std::vector<BookFiles>& files, std::string BookFiles::*member) {
    if (object == nullptr || object == Py_None) return true;
    std::vector<std::string> targets;
    if (!convert_str_sequence(object, targets)) return false;
    if (targets.size() != count) {
        PyErr_SetString(PyExc_ValueError, "one file per path is needed");
        return false;
    }
    files.resize(count);
    for (std::size_t i = 0; i < count; ++i) files[i].*member = std::move(targets[i]);
    return true;
}

// The iterator over a running ConversionStream. The stream is deleted only with the
// object, when no other thread can be waiting in it; closing just stops it.
struct StreamObject {
    PyObject_HEAD
    ConversionStream* stream;  // owned
    std::atomic<bool> closed;
};

// Stops the stream and waits, with the lock released, for the books in progress.
void close_stream(StreamObject* self) {
    self->closed.store(true);
    if (self->stream == nullptr) return;
    UnlockedInterpreter unlocked;
    self->stream->finish();
}

void stream_dealloc(PyObject* object) {
    auto* self = reinterpret_cast<StreamObject*>(object);
    PyTypeObject* type = Py_TYPE(object);
    close_stream(self);
    delete std::exchange(self->stream, nullptr);
    type->tp_free(object);
    Py_DECREF(type);
}

PyObject* stream_next(PyObject* object) {
    return panic_boundary([&]() -> PyObject* {
        auto* self = reinterpret_cast<StreamObject*>(object);
        IndexedOutcome done;
        for (;;) {
            if (self->closed.load() || self->stream == nullptr) return nullptr;  // StopIteration
            ConversionStream::Status status;
            {
                UnlockedInterpreter unlocked;
                // Short waits, so that Ctrl-C reaches the main thread while books convert.
                status = self->stream->next(done, std::chrono::milliseconds(100));
            }
            if (status == ConversionStream::Status::Ready) break;
            if (status == ConversionStream::Status::Finished) {
                close_stream(self);
                return nullptr;
            }
            if (PyErr_CheckSignals() < 0) return nullptr;
        }
        if (!done.outcome && done.outcome.error().kind == FailureKind::OutputFault) {
            // The run's fault, not the book's: raised once the books in progress are done.
            close_stream(self);
            return os_error(done.outcome.error().os_error, done.outcome.error().file);
        }
        return outcome_tuple(done);
    });
}

PyObject* stream_close(PyObject* object, PyObject*) {
    close_stream(reinterpret_cast<StreamObject*>(object));
    Py_RETURN_NONE;
}

PyObject* stream_window(PyObject* object, void*) {
    const auto* self = reinterpret_cast<StreamObject*>(object);
    if (self->stream == nullptr || self->closed.load()) Py_RETURN_NONE;
    return PyLong_FromSize_t(self->stream->window());
}

PyMethodDef stream_methods[] = {
    {"close", stream_close, METH_NOARGS,
     "close()\n--\n\nStart no further book and wait for those in progress."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef stream_getset[] = {
    {"window", stream_window, nullptr, "Books in flight at most (None once closed).", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot stream_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(stream_dealloc)},
    {Py_tp_iter, reinterpret_cast<void*>(PyObject_SelfIter)},
    {Py_tp_iternext, reinterpret_cast<void*>(stream_next)},
    {Py_tp_methods, stream_methods},
    {Py_tp_getset, stream_getset},
    {Py_tp_doc, const_cast<char*>("Outcomes of a conversion, in the order the books finish.")},
    {0, nullptr},
};

PyType_Spec stream_spec = {
    "quirelo._pipeline.ConversionStream", sizeof(StreamObject), 0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE, stream_slots,
};

PyObject* convert_stream_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return panic_boundary([&]() -> PyObject* {
        static const Signature signature{"convert_stream()",
                                         {"paths", "workers", "window", "markdown", "text", "summary", "issues",
                                          "strict_toc", "markdown_files", "text_files", "flavor", "chapters"},
                                         1};
        ArgumentSlots slots;
        std::vector<std::string> paths;
        std::vector<BookFiles> files;
        StreamSettings settings;
        ConversionOptions options;
        OutputSelection& wanted = options.outputs;
        bool strict_toc = false;
        std::optional<std::uint64_t> window;
        if (!match_arguments(signature, args, nargs, kwnames, slots)) return nullptr;
        const bool converted =
            convert_argument("paths", [&] { return convert_str_sequence(slots[0], paths); }) &&
            convert_argument("workers", [&] { return convert_workers(slots[1], settings.workers); }) &&
            convert_argument("window", [&] { return convert_workers(slots[2], window); }) &&
            convert_flags(slots, 3, {"markdown", "text", "summary", "issues", "strict_toc"},
                          {&wanted.markdown, &wanted.text, &wanted.summary, &wanted.issues, &strict_toc}) &&
            convert_argument("markdown_files",
                             [&] { return convert_targets(slots[8], paths.size(), files, &BookFiles::markdown); }) &&
            convert_argument("text_files",
                             [&] { return convert_targets(slots[9], paths.size(), files, &BookFiles::text); }) &&
            convert_flavor(slots[10], options.markdown_flavor) &&
            convert_flags(slots, 11, {"chapters"}, {&wanted.chapters});
        if (!converted) return nullptr;
        options.lenient_toc = !strict_toc;
        settings.window = static_cast<std::size_t>(std::min<std::uint64_t>(window.value_or(0), SIZE_MAX));

        PyObject* type = PyObject_GetAttrString(module, "ConversionStream");
        if (type == nullptr) return nullptr;
        PyRef type_ref(type);
        PyRef object(PyType_GenericAlloc(reinterpret_cast<PyTypeObject*>(type), 0));
        if (!object) return nullptr;
        Result<std::unique_ptr<ConversionStream>> started;
        {
            UnlockedInterpreter unlocked;
            started = ConversionStream::start(std::move(paths), std::move(files), std::move(options),
                                              std::move(settings));
        }
        if (!started) return raise_epub_error(started.error());
        reinterpret_cast<StreamObject*>(object.get())->stream = started->release();
        return object.release();
    });
}

PyObject* write_file_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return panic_boundary([&]() -> PyObject* {
        static const Signature signature{"write_file()", {"path", "data"}, 2};
        ArgumentSlots slots;
        std::string path;
        if (!match_arguments(signature, args, nargs, kwnames, slots)) return nullptr;
        if (!convert_argument("path", [&] { return convert_str(slots[0], path); })) return nullptr;
        // Written straight from the caller's buffer; an exported buffer cannot be resized
        // by another thread meanwhile.
        Py_buffer view;
        if (PyObject_GetBuffer(slots[1], &view, PyBUF_SIMPLE) != 0) {
            argument_error("data");
            return nullptr;
        }
        const std::unique_ptr<Py_buffer, decltype(&PyBuffer_Release)> release(&view, &PyBuffer_Release);
        Result<void> written;
        {
            UnlockedInterpreter unlocked;
            written = write_whole_file(path, {static_cast<const char*>(view.buf), static_cast<std::size_t>(view.len)});
        }
        if (!written) return os_error(written.error().os_error, path);
        Py_RETURN_NONE;
    });
}

PyMethodDef function_definitions[] = {
    {"convert_stream", QUIRELO_FASTCALL(convert_stream_function), FASTCALL,
     "convert_stream(paths, workers=None, window=None, markdown=True, text=False, summary=False, issues=False, "
     "strict_toc=False, markdown_files=None, text_files=None, flavor=\"exact\", chapters=False)\n--\n\n"
     "Convert many books on worker threads with the interpreter lock released, at most\n"
     "`window` books in flight. An iterator of (index, markdown, text, summary, issues, chapters,\n"
     "error) in the order the books finish; outputs given a file are written there by the workers.\n"
     "`flavor` (\"exact\" or \"gfm\") is that of the Markdown, its files and the chapters'.\n"
     "A fault of the whole output (a full disk) raises OSError once the books in progress end."},
    {"write_file", QUIRELO_FASTCALL(write_file_function), FASTCALL,
     "write_file(path, data)\n--\n\n"
     "Write bytes to path whole or not at all (a temporary file, flushed, then renamed)."},
    {nullptr, nullptr, 0, nullptr},
};

int execute(PyObject* module) {
    return panic_boundary([&]() -> int {
        keep_freed_memory_for_reuse();
        // The class _quirelo raises too (one per process): made now, so that a later fault
        // never has to make it.
        PyObject* panic = panic_exception_type();
        if (panic == nullptr || PyModule_AddObjectRef(module, "PanicException", panic) < 0) return -1;
        PyObject* type = PyType_FromModuleAndSpec(module, &stream_spec, nullptr);
        if (type == nullptr) return -1;
        return PyModule_Add(module, "ConversionStream", type);
    });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(execute)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "_pipeline", "", 0, function_definitions, module_slots, nullptr, nullptr, nullptr,
};

}  // namespace

}  // namespace quirelo::py

PyMODINIT_FUNC PyInit__pipeline() { return PyModuleDef_Init(&quirelo::py::module_definition); }
