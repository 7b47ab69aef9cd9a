// The module quirelo._pipeline: the conversion pipeline. It shares the core, the argument
// helpers and the PanicException class with _quirelo through their common library.
#include <Python.h>

#include <string>
#include <vector>

#include "bindings/common/arguments.hpp"
#include "bindings/common/errors.hpp"
#include "bindings/common/method_table.hpp"
#include "bindings/common/py_ref.hpp"
#include "bindings/common/unlocked_interpreter.hpp"
#include "pipeline/convert_many.hpp"

namespace quirelo::py {

namespace {

PyObject* optional_str(const std::optional<std::string>& text) {
    if (!text) Py_RETURN_NONE;
    return to_py_str(*text);
}

PyObject* size_list(std::span<const std::size_t> sizes) {
    PyRef list(PyList_New(static_cast<Py_ssize_t>(sizes.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        PyObject* size = PyLong_FromSize_t(sizes[i]);
        if (size == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), size);
    }
    return list.release();
}

// (identifier, title, authors, language, items, counts by type code, spine length, toc size)
PyObject* summary_tuple(const BookSummary& summary) {
    PyRef identifier(optional_str(summary.identifier)), title(optional_str(summary.title));
    PyRef authors(string_list(summary.authors)), language(optional_str(summary.language));
    PyRef counts(size_list(summary.items_by_type));
    if (!identifier || !title || !authors || !language || !counts) return nullptr;
    return Py_BuildValue("(OOOOnOnn)", identifier.get(), title.get(), authors.get(), language.get(),
                         static_cast<Py_ssize_t>(summary.items), counts.get(),
                         static_cast<Py_ssize_t>(summary.spine_length), static_cast<Py_ssize_t>(summary.toc_size));
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
        case FailureKind::Internal:
            break;
    }
    raise_panic(failure.message.c_str());
    return PyErr_GetRaisedException();
}

// (markdown, text, summary, issues, error): the outputs not asked for, and all of them
// for a failed book, are None.
PyObject* outcome_tuple(BookOutcome& outcome) {
    if (!outcome) {
        PyRef error(failure_exception(outcome.error()));
        if (!error) return nullptr;
        return Py_BuildValue("(OOOOO)", Py_None, Py_None, Py_None, Py_None, error.get());
    }
    BookOutputs outputs = std::move(*outcome);  // each book's bytes are freed once converted
    PyRef markdown(optional_str(outputs.markdown));
    PyRef text(optional_str(outputs.text));
    PyRef summary(outputs.summary ? summary_tuple(*outputs.summary) : Py_NewRef(Py_None));
    PyRef issues(outputs.issues ? string_list(*outputs.issues) : Py_NewRef(Py_None));
    if (!markdown || !text || !summary || !issues) return nullptr;
    return Py_BuildValue("(OOOOO)", markdown.get(), text.get(), summary.get(), issues.get(), Py_None);
}

bool convert_flags(ArgumentSlots& slots, std::size_t first, std::initializer_list<const char*> names,
                   std::initializer_list<bool*> targets) {
    auto target = targets.begin();
    std::size_t index = first;
    for (const char* name : names) {
        PyObject* flag = slots[index++];
        bool* out = *target++;
        if (flag != nullptr && !convert_argument(name, [&] { return convert_flag(flag, *out); })) return false;
    }
    return true;
}

PyObject* convert_many_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return panic_boundary([&]() -> PyObject* {
        static const Signature signature{
            "convert_many()", {"paths", "workers", "markdown", "text", "summary", "issues", "strict_toc"}, 1};
        ArgumentSlots slots;
        std::vector<std::string> paths;
        std::optional<std::uint64_t> workers;
        ConversionOptions options;
        bool strict_toc = false;
        if (!match_arguments(signature, args, nargs, kwnames, slots)) return nullptr;
        const bool converted =
            convert_argument("paths", [&] { return convert_str_sequence(slots[0], paths); }) &&
            convert_argument("workers", [&] { return convert_workers(slots[1], workers); }) &&
            convert_flags(slots, 2, {"markdown", "text", "summary", "issues", "strict_toc"},
                          {&options.markdown, &options.text, &options.summary, &options.issues, &strict_toc});
        if (!converted) return nullptr;
        options.lenient_toc = !strict_toc;

        PyRef list(PyList_New(static_cast<Py_ssize_t>(paths.size())));
        if (!list) return nullptr;
        bool made_all = true;
        Result<void> started;
        {
            // The workers touch no interpreter object; each outcome becomes Python values
            // under the lock, on this thread, while they go on with the next books.
            UnlockedInterpreter unlocked;
            started = convert_many_in_order(paths, workers, options, [&](std::size_t index, BookOutcome&& outcome) {
                if (!made_all) return;  // an exception is set: the rest are only drained
                UnlockedInterpreter::Relocked relocked(unlocked);
                PyObject* value = outcome_tuple(outcome);
                if (value == nullptr) {
                    made_all = false;
                    return;
                }
                PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(index), value);
            });
        }
        if (!started) {
            // The worker pool could not be started: a fault of the system, not of any book.
            PyErr_SetString(PyExc_RuntimeError, started.error().message().c_str());
            return nullptr;
        }
        if (!made_all) return nullptr;
        return list.release();
    });
}

PyMethodDef function_definitions[] = {
    {"convert_many", QUIRELO_FASTCALL(convert_many_function), FASTCALL,
     "convert_many(paths, workers=None, markdown=True, text=False, summary=False, issues=False, "
     "strict_toc=False)\n--\n\n"
     "Convert many books on worker threads with the interpreter lock released. One tuple\n"
     "(markdown, text, summary, issues, error) per path, in input order."},
    {nullptr, nullptr, 0, nullptr},
};

int execute(PyObject* module) {
    return panic_boundary([&]() -> int {
        // The class _quirelo raises too (one per process): made now, so that a later fault
        // never has to make it.
        PyObject* panic = panic_exception_type();
        return panic == nullptr ? -1 : PyModule_AddObjectRef(module, "PanicException", panic);
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
