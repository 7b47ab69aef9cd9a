// The EpubBook class.
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "bindings/common/arguments.hpp"
#include "bindings/_quirelo/critical_section.hpp"
#include "bindings/common/errors.hpp"
#include "bindings/common/method_table.hpp"
#include "bindings/_quirelo/objects.hpp"
#include "bindings/common/py_ref.hpp"
#include "bindings/common/unlocked_interpreter.hpp"
#include "gfm/gfm_book.hpp"
#include "markdown/markdown.hpp"
#include "reader/lenient_toc.hpp"
#include "model/validate.hpp"

namespace quirelo::py {

namespace {

BookObject* as_book(PyObject* self) { return reinterpret_cast<BookObject*>(self); }

PyObject* item_list(const std::vector<ItemHandle>& items) {
    return new_list(items.size(), [&](std::size_t i) { return new_item_object(items[i]); });
}

PyObject* optional_item(const ItemHandle* item) {
    if (item == nullptr) Py_RETURN_NONE;
    return new_item_object(*item);
}

PyObject* metadata_tuple_list(const std::vector<MetadataEntry>* entries) {
    return new_list(entries == nullptr ? 0 : entries->size(), [&](std::size_t i) -> PyObject* {
        const MetadataEntry& entry = (*entries)[i];
        PyRef attributes(PyDict_New());
        if (!attributes) return nullptr;
        for (const auto& [key, value] : entry.attributes) {
            PyRef key_object(to_py_str(key));
            PyRef value_object(to_py_str(value));
            if (!key_object || !value_object ||
                PyDict_SetItem(attributes.get(), key_object.get(), value_object.get()) < 0) {
                return nullptr;
            }
        }
        PyRef value(to_py_str(entry.value));
        if (!value) return nullptr;
        return PyTuple_Pack(2, value.get(), attributes.get());
    });
}

// Reading methods take a shared borrow of the book, mutating ones the exclusive one.
template <class Body>
PyObject* reading(PyObject* self, const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                  PyObject* kwnames, Body&& body) {
    return call_with_borrow<SharedBorrow, BookObject>(
        self, signature, args, nargs, kwnames,
        [&](BookObject& object, ArgumentSlots& slots) { return body(object.book, slots); });
}

template <class Body>
PyObject* mutating(PyObject* self, const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames, Body&& body) {
    return call_with_borrow<ExclusiveBorrow, BookObject>(
        self, signature, args, nargs, kwnames,
        [&](BookObject& object, ArgumentSlots& slots) { return body(object.book, slots); });
}

QUIRELO_METHOD(get_items) {
    static const Signature signature{"EpubBook.get_items()", {}, 0};
    return reading(self, signature, args, nargs, kwnames,
                   [](const Book& book, ArgumentSlots&) { return item_list(book.items); });
}

QUIRELO_METHOD(get_items_of_type) {
    static const Signature signature{"EpubBook.get_items_of_type()", {"item_type"}, 1};
    return reading(self, signature, args, nargs, kwnames, [](const Book& book, ArgumentSlots& slots) -> PyObject* {
        std::uint8_t code = 0;
        if (!convert_argument("item_type", [&] { return convert_u8(slots[0], code); })) return nullptr;
        return item_list(items_of_type(book, code));
    });
}

QUIRELO_METHOD(get_item_with_id) {
    static const Signature signature{"EpubBook.get_item_with_id()", {"item_id"}, 1};
    return reading(self, signature, args, nargs, kwnames, [](const Book& book, ArgumentSlots& slots) -> PyObject* {
        std::string id;
        if (!convert_argument("item_id", [&] { return convert_str(slots[0], id); })) return nullptr;
        return optional_item(item_with_id(book, id));
    });
}

QUIRELO_METHOD(get_item_with_href) {
    static const Signature signature{"EpubBook.get_item_with_href()", {"href"}, 1};
    return reading(self, signature, args, nargs, kwnames, [](const Book& book, ArgumentSlots& slots) -> PyObject* {
        std::string href;
        if (!convert_argument("href", [&] { return convert_str(slots[0], href); })) return nullptr;
        return optional_item(item_with_href(book, href));
    });
}

QUIRELO_METHOD(get_metadata) {
    static const Signature signature{"EpubBook.get_metadata()", {"namespace", "name"}, 2};
    return reading(self, signature, args, nargs, kwnames, [](const Book& book, ArgumentSlots& slots) -> PyObject* {
        std::string name_space, name;
        if (!convert_argument("namespace", [&] { return convert_str(slots[0], name_space); }) ||
            !convert_argument("name", [&] { return convert_str(slots[1], name); })) {
            return nullptr;
        }
        return metadata_tuple_list(metadata_list(book, name_space, name));
    });
}

QUIRELO_METHOD(get_spine) {
    static const Signature signature{"EpubBook.get_spine()", {}, 0};
    return reading(self, signature, args, nargs, kwnames, [](const Book& book, ArgumentSlots&) -> PyObject* {
        return new_list(book.spine.size(), [&](std::size_t i) -> PyObject* {
            PyRef idref(to_py_str(book.spine[i].idref));
            if (!idref) return nullptr;
            return PyTuple_Pack(2, idref.get(), book.spine[i].linear ? Py_True : Py_False);
        });
    });
}

QUIRELO_METHOD(to_markdown_method) {
    static const Signature signature{"EpubBook.to_markdown()", {}, 0};
    return reading(self, signature, args, nargs, kwnames, [](const Book& book, ArgumentSlots&) -> PyObject* {
        const std::string markdown = to_markdown(book);
        return to_py_str(markdown);
    });
}

// GitHub Flavored Markdown, with the book's structure; the lock is released meanwhile, the
// shared borrow keeping the book unchanged.
QUIRELO_METHOD(to_gfm_method) {
    static const Signature signature{"EpubBook._to_gfm()", {}, 0};
    return reading(self, signature, args, nargs, kwnames, [](const Book& book, ArgumentSlots&) -> PyObject* {
        std::string markdown;
        {
            UnlockedInterpreter unlocked;
            markdown = to_gfm(book);
        }
        return to_py_str(markdown);
    });
}

QUIRELO_METHOD(enter) {
    static const Signature signature{"EpubBook.__enter__()", {}, 0};
    return reading(self, signature, args, nargs, kwnames, [self](const Book&, ArgumentSlots&) -> PyObject* {
        return Py_NewRef(self);
    });
}

QUIRELO_METHOD(exit) {
    static const Signature signature{"EpubBook.__exit__()", {"_exc_type", "_exc_val", "_exc_tb"}, 3};
    return reading(self, signature, args, nargs, kwnames,
                   [](const Book&, ArgumentSlots&) -> PyObject* { Py_RETURN_FALSE; });
}

QUIRELO_METHOD(validate) {
    static const Signature signature{"EpubBook.validate()", {}, 0};
    return reading(self, signature, args, nargs, kwnames,
                   [](const Book& book, ArgumentSlots&) { return string_list(validate_book(book)); });
}

template <std::size_t N>
PyObject* set_dc_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                        const Signature& signature, const char* parameter, const char (&dc_name)[N]) {
    return mutating(self, signature, args, nargs, kwnames, [&](Book& book, ArgumentSlots& slots) -> PyObject* {
        std::string value;
        if (!convert_argument(parameter, [&] { return convert_str(slots[0], value); })) return nullptr;
        set_dc_value(book, dc_name, std::move(value));
        Py_RETURN_NONE;
    });
}

QUIRELO_METHOD(set_identifier) {
    static const Signature signature{"EpubBook.set_identifier()", {"identifier"}, 1};
    return set_dc_method(self, args, nargs, kwnames, signature, "identifier", "identifier");
}

QUIRELO_METHOD(get_package_prefix) {
    static const Signature signature{"EpubBook.get_package_prefix()", {}, 0};
    return reading(self, signature, args, nargs, kwnames, [](const Book& book, ArgumentSlots&) -> PyObject* {
        if (!book.package_prefix) Py_RETURN_NONE;
        return to_py_str(*book.package_prefix);
    });
}

// The package element's prefix attribute, which declares the prefixes that metas use
// ("my: http://example.org/my#"); None writes none.
QUIRELO_METHOD(set_package_prefix) {
    static const Signature signature{"EpubBook.set_package_prefix()", {"prefix"}, 1};
    return mutating(self, signature, args, nargs, kwnames, [](Book& book, ArgumentSlots& slots) -> PyObject* {
        std::optional<std::string> prefix;
        if (!convert_argument("prefix", [&] { return convert_optional_str(slots[0], prefix); })) return nullptr;
        book.package_prefix = std::move(prefix);
        Py_RETURN_NONE;
    });
}

QUIRELO_METHOD(set_title) {
    static const Signature signature{"EpubBook.set_title()", {"title"}, 1};
    return set_dc_method(self, args, nargs, kwnames, signature, "title", "title");
}

QUIRELO_METHOD(set_language) {
    static const Signature signature{"EpubBook.set_language()", {"lang"}, 1};
    return set_dc_method(self, args, nargs, kwnames, signature, "lang", "language");
}

QUIRELO_METHOD(add_author_method) {
    static const Signature signature{"EpubBook.add_author()", {"name", "file_as", "role", "uid"}, 1};
    return mutating(self, signature, args, nargs, kwnames, [](Book& book, ArgumentSlots& slots) -> PyObject* {
        std::string name;
        std::optional<std::string> file_as, role, uid;
        if (!convert_argument("name", [&] { return convert_str(slots[0], name); }) ||
            !convert_argument("file_as", [&] { return convert_optional_str(slots[1], file_as); }) ||
            !convert_argument("role", [&] { return convert_optional_str(slots[2], role); }) ||
            !convert_argument("uid", [&] { return convert_optional_str(slots[3], uid); })) {
            return nullptr;
        }
        add_author(book, std::move(name), std::move(file_as), std::move(role), std::move(uid));
        Py_RETURN_NONE;
    });
}

bool convert_attributes(PyObject* object, AttributeMap& out) {
    if (object == nullptr || object == Py_None) return true;
    if (!PyDict_Check(object)) {
        raise_type_mismatch(object, "dict");
        return false;
    }
    const Py_ssize_t size = PyDict_Size(object);
    out.reserve(static_cast<std::size_t>(size));
    Py_ssize_t position = 0;
    PyObject* key;
    PyObject* value;
    bool ok = true;
    // A guard, not the macros: the conversions and the insertion below may throw, and the
    // section must end on that way out too.
    CriticalSection section(object);
    while (PyDict_Next(object, &position, &key, &value)) {
        std::string key_text, value_text;
        if (!convert_str(key, key_text) || !convert_str(value, value_text)) {
            ok = false;
            break;
        }
        out.insert_or_assign(key_text, std::move(value_text));
        if (PyDict_Size(object) != size) {
            // Another thread changed the dict under us: an internal fault, not a user error.
            raise_panic("dictionary changed size during iteration");
            ok = false;
            break;
        }
    }
    return ok;
}

QUIRELO_METHOD(add_metadata) {
    static const Signature signature{"EpubBook.add_metadata()", {"namespace", "name", "value", "others"}, 3};
    return mutating(self, signature, args, nargs, kwnames, [](Book& book, ArgumentSlots& slots) -> PyObject* {
        std::string name_space, name, value;
        AttributeMap attributes;
        if (!convert_argument("namespace", [&] { return convert_str(slots[0], name_space); }) ||
            !convert_argument("name", [&] { return convert_str(slots[1], name); }) ||
            !convert_argument("value", [&] { return convert_str(slots[2], value); }) ||
            !convert_argument("others", [&] { return convert_attributes(slots[3], attributes); })) {
            return nullptr;
        }
        append_metadata(book, name_space, name, std::move(value), std::move(attributes));
        Py_RETURN_NONE;
    });
}

QUIRELO_METHOD(add_item_raw_method) {
    static const Signature signature{
        "EpubBook.add_item_raw()", {"id", "href", "media_type", "content", "item_type", "properties"}, 5};
    return mutating(self, signature, args, nargs, kwnames, [](Book& book, ArgumentSlots& slots) -> PyObject* {
        std::string id, href, media_type, content;
        std::uint8_t code = 0;
        std::optional<std::string> properties;
        if (!convert_argument("id", [&] { return convert_str(slots[0], id); }) ||
            !convert_argument("href", [&] { return convert_str(slots[1], href); }) ||
            !convert_argument("media_type", [&] { return convert_str(slots[2], media_type); }) ||
            !convert_content(slots[3], content) ||
            !convert_argument("item_type", [&] { return convert_u8(slots[4], code); }) ||
            !convert_argument("properties", [&] { return convert_optional_str(slots[5], properties); })) {
            return nullptr;
        }
        add_item_raw(book, std::move(id), std::move(href), std::move(media_type), std::move(content), code,
                     std::move(properties));
        Py_RETURN_NONE;
    });
}

QUIRELO_METHOD(set_cover_method) {
    static const Signature signature{"EpubBook.set_cover()", {"file_name", "content"}, 2};
    return mutating(self, signature, args, nargs, kwnames, [](Book& book, ArgumentSlots& slots) -> PyObject* {
        std::string file_name, content;
        if (!convert_argument("file_name", [&] { return convert_str(slots[0], file_name); }) ||
            !convert_content(slots[1], content)) {
            return nullptr;
        }
        set_cover(book, std::move(file_name), std::move(content));
        Py_RETURN_NONE;
    });
}

QUIRELO_METHOD(set_toc_from_entries) {
    static const Signature signature{"EpubBook._set_toc_from_entries()", {"entries"}, 1};
    return mutating(self, signature, args, nargs, kwnames, [](Book& book, ArgumentSlots& slots) -> PyObject* {
        std::vector<TocEntry> entries;
        if (!convert_argument("entries", [&] { return convert_toc_entries(slots[0], entries); })) return nullptr;
        book.toc = std::move(entries);  // already private copies
        Py_RETURN_NONE;
    });
}

bool convert_spine_pair(PyObject* element, std::vector<std::pair<std::string, bool>>& out) {
    if (!PyTuple_Check(element)) {
        raise_type_mismatch(element, "tuple");
        return false;
    }
    if (PyTuple_GET_SIZE(element) != 2) {
        PyErr_Format(PyExc_ValueError, "expected tuple of length 2, but got tuple of length %zd",
                     PyTuple_GET_SIZE(element));
        return false;
    }
    std::string idref;
    bool linear = true;
    if (!convert_str(PyTuple_GET_ITEM(element, 0), idref) || !convert_flag(PyTuple_GET_ITEM(element, 1), linear)) {
        return false;
    }
    out.emplace_back(std::move(idref), linear);
    return true;
}

// An empty table of contents filled from a navigation document or NCX written as HTML,
// read from the book's own items without their bytes passing through Python.
QUIRELO_METHOD(fill_lenient_toc) {
    static const Signature signature{"EpubBook._fill_lenient_toc()", {"ignore_ncx", "ignore_nav"}, 0};
    return mutating(self, signature, args, nargs, kwnames, [](Book& book, ArgumentSlots& slots) -> PyObject* {
        ReadOptions options;
        if (!convert_flags(slots, 0, {"ignore_ncx", "ignore_nav"}, {&options.ignore_ncx, &options.ignore_nav})) {
            return nullptr;
        }
        if (book.toc.empty()) book.toc = lenient_toc(book, options);
        Py_RETURN_NONE;
    });
}

QUIRELO_METHOD(set_spine_from_entries) {
    static const Signature signature{"EpubBook._set_spine_from_entries()", {"entries"}, 1};
    return mutating(self, signature, args, nargs, kwnames, [](Book& book, ArgumentSlots& slots) -> PyObject* {
        std::vector<std::pair<std::string, bool>> pairs;
        if (!convert_argument("entries", [&] {
                return for_each_in_sequence(slots[0],
                                            [&](PyObject* element) { return convert_spine_pair(element, pairs); });
            })) {
            return nullptr;
        }
        set_spine(book, pairs);
        Py_RETURN_NONE;
    });
}

PyObject* get_toc(PyObject* self, void*) {
    return panic_boundary([&]() -> PyObject* {
        SharedBorrow borrow(as_book(self)->borrow);
        if (!borrow) return nullptr;
        return toc_entry_list(as_book(self)->book.toc);
    });
}

PyObject* book_repr(PyObject* self) {
    return panic_boundary([&]() -> PyObject* {
        SharedBorrow borrow(as_book(self)->borrow);
        if (!borrow) return nullptr;
        const auto title = first_dc_value(as_book(self)->book, "title");
        std::string text = "EpubBook(title='";
        text += title ? *title : std::string_view("<untitled>");
        text += "')";
        return to_py_str(text);
    });
}

PyObject* book_new_object(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return panic_boundary([&]() -> PyObject* {
        // A subclass may take arguments of its own in __init__; EpubBook itself takes none.
        if (type == book_class()) {
            static const Signature signature{"EpubBook.__new__()", {}, 0};
            ArgumentSlots slots;
            if (!match_arguments(signature, args, kwargs, slots)) return nullptr;
        }
        return reinterpret_cast<PyObject*>(allocate(type, book_new(), &BookObject::book));
    });
}

PyMethodDef book_methods[] = {
    {"get_items", QUIRELO_FASTCALL(get_items), FASTCALL, "get_items($self)\n--\n\nReturn all items in the book."},
    {"get_items_of_type", QUIRELO_FASTCALL(get_items_of_type), FASTCALL,
     "get_items_of_type($self, item_type)\n--\n\n"
     "Return items matching the given type constant (e.g., ITEM_IMAGE = 1)."},
    {"get_item_with_id", QUIRELO_FASTCALL(get_item_with_id), FASTCALL,
     "get_item_with_id($self, item_id)\n--\n\nGet an item by its manifest ID."},
    {"get_item_with_href", QUIRELO_FASTCALL(get_item_with_href), FASTCALL,
     "get_item_with_href($self, href)\n--\n\nGet an item by its href."},
    {"get_metadata", QUIRELO_FASTCALL(get_metadata), FASTCALL,
     "get_metadata($self, namespace, name)\n--\n\n"
     "Get metadata values for a given namespace and field.\nReturns list of (value, attributes_dict) tuples."},
    {"_to_gfm", QUIRELO_FASTCALL(to_gfm_method), FASTCALL,
     "_to_gfm($self)\n--\n\nConvert the book to GitHub Flavored Markdown: YAML front matter, then the spine\n"
     "documents with their structure (lists, quotations, tables, code, footnotes, links between documents)."},
    {"get_spine", QUIRELO_FASTCALL(get_spine), FASTCALL,
     "get_spine($self)\n--\n\nGet the spine as a list of (idref, linear) tuples."},
    {"to_markdown", QUIRELO_FASTCALL(to_markdown_method), FASTCALL,
     "to_markdown($self)\n--\n\nConvert the book to a single Markdown string (spine order)."},
    {"__enter__", QUIRELO_FASTCALL(enter), FASTCALL, "__enter__($self)\n--\n\n"},
    {"__exit__", QUIRELO_FASTCALL(exit), FASTCALL, "__exit__($self, _exc_type, _exc_val, _exc_tb)\n--\n\n"},
    {"validate", QUIRELO_FASTCALL(validate), FASTCALL,
     "validate($self)\n--\n\n"
     "Validate the book against EPUB spec requirements.\nReturns a list of issue descriptions (empty = valid)."},
    {"set_identifier", QUIRELO_FASTCALL(set_identifier), FASTCALL,
     "set_identifier($self, identifier)\n--\n\nSet the book's unique identifier (DC:identifier)."},
    {"get_package_prefix", QUIRELO_FASTCALL(get_package_prefix), FASTCALL,
     "get_package_prefix($self)\n--\n\nThe package's prefix attribute (declared metadata prefixes), or None."},
    {"set_package_prefix", QUIRELO_FASTCALL(set_package_prefix), FASTCALL,
     "set_package_prefix($self, prefix)\n--\n\n"
     "Declare metadata prefixes for EPUB 3, e.g. 'my: http://example.org/my#'; None for none."},
    {"set_title", QUIRELO_FASTCALL(set_title), FASTCALL, "set_title($self, title)\n--\n\nSet the book's title (DC:title)."},
    {"set_language", QUIRELO_FASTCALL(set_language), FASTCALL,
     "set_language($self, lang)\n--\n\nSet the book's language (DC:language)."},
    {"add_author", QUIRELO_FASTCALL(add_author_method), FASTCALL,
     "add_author($self, name, file_as=None, role=None, uid=None)\n--\n\n"
     "Add an author (DC:creator). Appends, does not replace."},
    {"add_metadata", QUIRELO_FASTCALL(add_metadata), FASTCALL,
     "add_metadata($self, namespace, name, value, others=None)\n--\n\nAdd arbitrary metadata."},
    {"add_item_raw", QUIRELO_FASTCALL(add_item_raw_method), FASTCALL,
     "add_item_raw($self, id, href, media_type, content, item_type, properties=None)\n--\n\n"
     "Add a raw item to the book (called from Python convenience classes)."},
    {"set_cover", QUIRELO_FASTCALL(set_cover_method), FASTCALL,
     "set_cover($self, file_name, content)\n--\n\nSet the cover image."},
    {"_set_toc_from_entries", QUIRELO_FASTCALL(set_toc_from_entries), FASTCALL,
     "_set_toc_from_entries($self, entries)\n--\n\n"
     "Set table of contents from normalized TocEntry list (called from Python)."},
    {"_fill_lenient_toc", QUIRELO_FASTCALL(fill_lenient_toc), FASTCALL,
     "_fill_lenient_toc($self, ignore_ncx=False, ignore_nav=False)\n--\n\n"
     "Fill an empty table of contents from a navigation document or NCX written as HTML."},
    {"_set_spine_from_entries", QUIRELO_FASTCALL(set_spine_from_entries), FASTCALL,
     "_set_spine_from_entries($self, entries)\n--\n\n"
     "Set spine from normalized (idref, linear) list (called from Python)."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef book_getset[] = {
    {"toc", get_toc, nullptr, "Table of contents entries (getter).", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot book_slots[] = {
    {Py_tp_doc, const_cast<char*>("EpubBook()\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(book_new_object)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<BookObject, &BookObject::book>)},
    {Py_tp_repr, reinterpret_cast<void*>(book_repr)},
    {Py_tp_methods, book_methods},
    {Py_tp_getset, book_getset},
    {0, nullptr},
};

PyType_Spec book_definition = {
    "_quirelo.EpubBook",
    sizeof(BookObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE,
    book_slots,
};

}  // namespace

PyTypeObject* book_class() {
    static std::atomic<PyTypeObject*> cache{nullptr};
    return type_made_once(cache, book_definition);
}

PyObject* new_book_object(Book&& book) {
    PyTypeObject* type = book_class();
    if (type == nullptr) return nullptr;
    return reinterpret_cast<PyObject*>(allocate(type, std::move(book), &BookObject::book));
}

}  // namespace quirelo::py
