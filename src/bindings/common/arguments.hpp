#pragma once
// Matching of positional and keyword arguments against a parameter list, and the
// conversions every entry point shares, with the exact texts of their errors.
#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bindings/common/py_ref.hpp"

namespace quirelo::py {

struct Signature {
    const char* display_name;  // "_read_epub()" or "EpubBook.add_author()"
    std::initializer_list<const char*> parameters;
    std::size_t required;
};

inline constexpr std::size_t MAX_PARAMETERS = 12;
using ArgumentSlots = std::array<PyObject*, MAX_PARAMETERS>;  // borrowed; null when omitted

// Vectorcall-style arguments. Returns false with a TypeError set on a mismatch.
bool match_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                     ArgumentSlots& slots);
// tuple/dict-style arguments (constructors).
bool match_arguments(const Signature& signature, PyObject* args, PyObject* kwargs, ArgumentSlots& slots);

// Rewrites a pending TypeError as "argument '<name>': <message>", keeping its cause.
// Other exception types pass unchanged. Always returns false.
bool argument_error(const char* name);

// "'<type>' object is not an instance of '<expected>'" (or the None form).
void raise_type_mismatch(PyObject* object, const char* expected);
// "Can't extract `str` to `Vec`".
void raise_str_to_sequence();

// Type names as Python shows them.
std::string type_name(PyObject* object);

// Conversions; each returns false with an (unprefixed) exception set.
bool convert_str(PyObject* object, std::string& out);
bool convert_optional_str(PyObject* object, std::optional<std::string>& out);  // null/None = absent
bool convert_flag(PyObject* object, bool& out);
// The optional flags slots[first], slots[first + 1], ... into targets, each named in its error.
bool convert_flags(ArgumentSlots& slots, std::size_t first, std::initializer_list<const char*> names,
                   std::initializer_list<bool*> targets);
bool convert_u8(PyObject* object, std::uint8_t& out);
bool convert_content(PyObject* object, std::string& out);  // bytes-like, errors never prefixed
bool convert_workers(PyObject* object, std::optional<std::uint64_t>& out);

// Iterates a sequence argument (not a str), calling each(element) -> bool.
template <class Each>
bool for_each_in_sequence(PyObject* object, Each&& each);
// 1 for the sequence protocol or a collections.abc.Sequence, 0 for neither, -1 with an
// exception set when the check itself failed.
int is_sequence(PyObject* object);
// Every element of a sequence as a str (paths of a batch, for example), appended to out.
bool convert_str_sequence(PyObject* object, std::vector<std::string>& out);

// Helpers that make Python values; null with an exception set on failure.
PyObject* to_py_str(std::string_view text);
PyObject* string_list(const std::vector<std::string>& texts);

// Same shape for every entry point: the argument's conversion, prefixed on TypeError.
template <class Convert>
bool convert_argument(const char* name, Convert&& convert) {
    return convert() || argument_error(name);
}

template <class Each>
bool for_each_in_sequence(PyObject* object, Each&& each) {
    if (PyUnicode_Check(object)) {
        raise_str_to_sequence();
        return false;
    }
    const int sequence = is_sequence(object);
    if (sequence < 0) return false;
    if (sequence == 0) {
        raise_type_mismatch(object, "Sequence");
        return false;
    }
    // Owned handles: `each` may throw (an allocation), and the references still go.
    PyRef iterator(PyObject_GetIter(object));
    if (!iterator) return false;
    while (PyRef element{PyIter_Next(iterator.get())}) {
        if (!each(element.get())) return false;
    }
    return !PyErr_Occurred();
}

}  // namespace quirelo::py
