#include "bindings/common/arguments.hpp"

#include <cstring>

#include "bindings/common/made_once.hpp"
#include "bindings/common/py_ref.hpp"

namespace quirelo::py {

namespace {

const char* parameter_at(const Signature& signature, std::size_t index) { return signature.parameters.begin()[index]; }

std::string quoted_list(const std::vector<const char*>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i != 0) {
            if (names.size() > 2) text += ',';
            text += i == names.size() - 1 ? " and " : " ";
        }
        text += '\'';
        text += names[i];
        text += '\'';
    }
    return text;
}

bool too_many_positional(const Signature& signature, Py_ssize_t given) {
    const std::size_t maximum = signature.parameters.size();
    const char* verb = given == 1 ? "was" : "were";
    if (signature.required == maximum) {
        PyErr_Format(PyExc_TypeError, "%s takes %zu positional arguments but %zd %s given", signature.display_name,
                     maximum, given, verb);
    } else {
        PyErr_Format(PyExc_TypeError, "%s takes from %zu to %zu positional arguments but %zd %s given",
                     signature.display_name, signature.required, maximum, given, verb);
    }
    return false;
}

bool assign_keyword(const Signature& signature, PyObject* name, PyObject* value, ArgumentSlots& slots) {
    Py_ssize_t length = 0;
    const char* text = PyUnicode_Check(name) ? PyUnicode_AsUTF8AndSize(name, &length) : nullptr;
    if (text == nullptr) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "%s keywords must be strings", signature.display_name);
        return false;
    }
    for (std::size_t i = 0; i < signature.parameters.size(); ++i) {
        const char* parameter = parameter_at(signature, i);
        if (std::strlen(parameter) == static_cast<std::size_t>(length) && std::memcmp(parameter, text, length) == 0) {
            if (slots[i] != nullptr) {
                PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", signature.display_name,
                             parameter);
                return false;
            }
            slots[i] = value;
            return true;
        }
    }
    PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", signature.display_name, name);
    return false;
}

bool check_required(const Signature& signature, const ArgumentSlots& slots) {
    std::vector<const char*> missing;
    for (std::size_t i = 0; i < signature.required; ++i) {
        if (slots[i] == nullptr) missing.push_back(parameter_at(signature, i));
    }
    if (missing.empty()) return true;
    const std::string names = quoted_list(missing);
    PyErr_Format(PyExc_TypeError, "%s missing %zu required positional %s: %s", signature.display_name, missing.size(),
                 missing.size() == 1 ? "argument" : "arguments", names.c_str());
    return false;
}

}  // namespace

bool match_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                     ArgumentSlots& slots) {
    slots.fill(nullptr);
    if (nargs > static_cast<Py_ssize_t>(signature.parameters.size())) return too_many_positional(signature, nargs);
    for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = args[i];
    const Py_ssize_t keyword_count = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t i = 0; i < keyword_count; ++i) {
        if (!assign_keyword(signature, PyTuple_GET_ITEM(kwnames, i), args[nargs + i], slots)) return false;
    }
    return check_required(signature, slots);
}

bool match_arguments(const Signature& signature, PyObject* args, PyObject* kwargs, ArgumentSlots& slots) {
    slots.fill(nullptr);
    const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    if (nargs > static_cast<Py_ssize_t>(signature.parameters.size())) return too_many_positional(signature, nargs);
    for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = PyTuple_GET_ITEM(args, i);
    if (kwargs != nullptr) {
        Py_ssize_t position = 0;
        PyObject* name;
        PyObject* value;
        while (PyDict_Next(kwargs, &position, &name, &value)) {
            if (!assign_keyword(signature, name, value, slots)) return false;
        }
    }
    return check_required(signature, slots);
}

bool argument_error(const char* name) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;
    PyObject* original = PyErr_GetRaisedException();
    PyRef cause(PyException_GetCause(original));
    PyRef message(PyObject_Str(original));
    if (!message) {
        Py_DECREF(original);
        return false;
    }
    PyRef text(PyUnicode_FromFormat("argument '%s': %U", name, message.get()));
    Py_DECREF(original);
    if (!text) return false;
    PyRef replacement(PyObject_CallOneArg(PyExc_TypeError, text.get()));
    if (!replacement) return false;
    if (cause) PyException_SetCause(replacement.get(), cause.release());
    PyErr_SetRaisedException(replacement.release());
    return false;
}

std::string type_name(PyObject* object) {
    PyRef name(PyType_GetQualName(Py_TYPE(object)));
    Py_ssize_t length = 0;
    const char* text = name ? PyUnicode_AsUTF8AndSize(name.get(), &length) : nullptr;
    if (text == nullptr) {
        PyErr_Clear();
        return Py_TYPE(object)->tp_name;
    }
    return std::string(text, static_cast<std::size_t>(length));
}

void raise_type_mismatch(PyObject* object, const char* expected) {
    if (object == Py_None) {
        PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", expected);
        return;
    }
    const std::string name = type_name(object);
    PyErr_Format(PyExc_TypeError, "'%s' object is not an instance of '%s'", name.c_str(), expected);
}

void raise_str_to_sequence() { PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`"); }

bool convert_str(PyObject* object, std::string& out) {
    if (!PyUnicode_Check(object)) {
        raise_type_mismatch(object, "str");
        return false;
    }
    Py_ssize_t length = 0;
    const char* text = PyUnicode_AsUTF8AndSize(object, &length);
    if (text == nullptr) return false;
    out.assign(text, static_cast<std::size_t>(length));
    return true;
}

bool convert_optional_str(PyObject* object, std::optional<std::string>& out) {
    if (object == nullptr || object == Py_None) {
        out.reset();
        return true;
    }
    std::string value;
    if (!convert_str(object, value)) return false;
    out = std::move(value);
    return true;
}

namespace {
bool is_numpy_bool(PyObject* object) {
    PyTypeObject* type = Py_TYPE(object);
    PyRef name(PyType_GetName(type));
    PyRef module_name(PyType_GetModuleName(type));
    if (!name || !module_name) {
        PyErr_Clear();
        return false;
    }
    const char* type_text = PyUnicode_AsUTF8(name.get());
    const char* module_text = PyUnicode_AsUTF8(module_name.get());
    if (type_text == nullptr || module_text == nullptr) {
        PyErr_Clear();
        return false;
    }
    return std::strcmp(module_text, "numpy") == 0 &&
           (std::strcmp(type_text, "bool_") == 0 || std::strcmp(type_text, "bool") == 0);
}
}  // namespace

bool convert_flag(PyObject* object, bool& out) {
    if (object == Py_True || object == Py_False) {
        out = object == Py_True;
        return true;
    }
    if (is_numpy_bool(object)) {
        PyRef value(PyObject_CallMethod(object, "__bool__", nullptr));
        if (!value) return false;
        if (value.get() != Py_True && value.get() != Py_False) {
            raise_type_mismatch(value.get(), "bool");
            return false;
        }
        out = value.get() == Py_True;
        return true;
    }
    raise_type_mismatch(object, "bool");
    return false;
}

namespace {
void raise_out_of_range() {
    PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
}
}  // namespace

bool convert_u8(PyObject* object, std::uint8_t& out) {
    const long value = PyLong_AsLong(object);
    if (value == -1 && PyErr_Occurred()) {
        if (PyErr_ExceptionMatches(PyExc_OverflowError)) {
            PyErr_Clear();
            raise_out_of_range();
        }
        return false;
    }
    if (value < 0 || value > 255) {
        raise_out_of_range();
        return false;
    }
    out = static_cast<std::uint8_t>(value);
    return true;
}

int is_sequence(PyObject* object) {
    if (PySequence_Check(object)) return 1;
    static std::atomic<PyObject*> sequence_class{nullptr};
    PyObject* sequence = made_once(sequence_class, []() -> PyObject* {
        PyRef abc(PyImport_ImportModule("collections.abc"));
        return abc ? PyObject_GetAttrString(abc.get(), "Sequence") : nullptr;
    });
    if (sequence == nullptr) return -1;
    return PyObject_IsInstance(object, sequence);
}

bool convert_content(PyObject* object, std::string& out) {
    if (PyBytes_Check(object)) {
        out.assign(PyBytes_AS_STRING(object), static_cast<std::size_t>(PyBytes_GET_SIZE(object)));
        return true;
    }
    if (PyByteArray_Check(object)) {
        out.assign(PyByteArray_AS_STRING(object), static_cast<std::size_t>(PyByteArray_GET_SIZE(object)));
        return true;
    }
    const int sequence = PyUnicode_Check(object) ? 0 : is_sequence(object);
    if (sequence < 0) return false;
    // Only a size hint: a sequence without a length is still iterated below.
    Py_ssize_t length = sequence == 1 ? PySequence_Size(object) : 0;
    if (length < 0) {
        PyErr_Clear();
        length = 0;
    }
    out.clear();
    if (length > 0) out.reserve(static_cast<std::size_t>(length));
    return for_each_in_sequence(object, [&out](PyObject* element) {
        std::uint8_t byte = 0;
        if (!convert_u8(element, byte)) return false;
        out.push_back(static_cast<char>(byte));
        return true;
    });
}

bool convert_workers(PyObject* object, std::optional<std::uint64_t>& out) {
    if (object == nullptr || object == Py_None) {
        out.reset();
        return true;
    }
    PyRef index(PyNumber_Index(object));
    if (!index) return false;
    const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    out = value;
    return true;
}

bool convert_str_sequence(PyObject* object, std::vector<std::string>& out) {
    return for_each_in_sequence(object, [&](PyObject* element) {
        std::string text;
        if (!convert_str(element, text)) return false;
        out.push_back(std::move(text));
        return true;
    });
}

bool convert_flags(ArgumentSlots& slots, std::size_t first, std::initializer_list<const char*> names,
                   std::initializer_list<bool*> targets) {
    auto target = targets.begin();
    std::size_t index = first;
    for (const char* name : names) {
        PyObject* flag = slots[index++];
        bool* out = *target++;
        if (flag != nullptr && !convert_flag(flag, *out)) return argument_error(name);
    }
    return true;
}

PyObject* to_py_str(std::string_view text) {
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

PyObject* string_list(const std::vector<std::string>& texts) {
    return new_list(texts.size(), [&](std::size_t i) { return to_py_str(texts[i]); });
}

}  // namespace quirelo::py
