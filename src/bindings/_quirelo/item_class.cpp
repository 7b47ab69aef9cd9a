// The EpubItem class: a wrapper around a shared item record, made only by the book's getters.
#include <string>

#include "bindings/common/arguments.hpp"
#include "bindings/common/errors.hpp"
#include "bindings/common/made_once.hpp"
#include "bindings/common/method_table.hpp"
#include "bindings/_quirelo/objects.hpp"
#include "bindings/common/py_ref.hpp"
#include "markdown/text_extraction.hpp"

namespace quirelo::py {

namespace {

ItemObject* as_item(PyObject* self) { return reinterpret_cast<ItemObject*>(self); }

template <class Body>
PyObject* reading(PyObject* self, const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                  PyObject* kwnames, Body&& body) {
    return call_with_borrow<SharedBorrow, ItemObject>(
        self, signature, args, nargs, kwnames,
        [&](ItemObject& object, ArgumentSlots&) { return body(*object.item); });
}

QUIRELO_METHOD(get_content) {
    static const Signature signature{"EpubItem.get_content()", {}, 0};
    return reading(self, signature, args, nargs, kwnames, [](const Item& item) {
        const std::string& bytes = load_content(item);
        return PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size()));
    });
}

QUIRELO_METHOD(get_type) {
    static const Signature signature{"EpubItem.get_type()", {}, 0};
    return reading(self, signature, args, nargs, kwnames,
                   [](const Item& item) { return PyLong_FromLong(item.item_type); });
}

QUIRELO_METHOD(get_name) {
    static const Signature signature{"EpubItem.get_name()", {}, 0};
    return reading(self, signature, args, nargs, kwnames, [](const Item& item) { return to_py_str(item.href); });
}

QUIRELO_METHOD(get_id) {
    static const Signature signature{"EpubItem.get_id()", {}, 0};
    return reading(self, signature, args, nargs, kwnames, [](const Item& item) { return to_py_str(item.id); });
}

QUIRELO_METHOD(get_media_type) {
    static const Signature signature{"EpubItem.get_media_type()", {}, 0};
    return reading(self, signature, args, nargs, kwnames,
                   [](const Item& item) { return to_py_str(item.media_type); });
}

QUIRELO_METHOD(get_text_method) {
    static const Signature signature{"EpubItem.get_text()", {}, 0};
    return reading(self, signature, args, nargs, kwnames, [](const Item& item) -> PyObject* {
        const auto text = get_text(item);
        if (!text) Py_RETURN_NONE;
        return to_py_str(*text);
    });
}

PyObject* item_repr(PyObject* self) {
    return panic_boundary([&]() -> PyObject* {
        SharedBorrow borrow(as_item(self)->borrow);
        if (!borrow) return nullptr;
        const Item& item = *as_item(self)->item;
        std::string text = "EpubItem(id='";
        text.append(item.id).append("', href='").append(item.href).append("', type=");
        text.append(std::to_string(item.item_type)).append(")");
        return to_py_str(text);
    });
}

PyMethodDef item_methods[] = {
    {"get_content", QUIRELO_FASTCALL(get_content), FASTCALL,
     "get_content($self)\n--\n\nReturn the raw content as bytes."},
    {"get_type", QUIRELO_FASTCALL(get_type), FASTCALL, "get_type($self)\n--\n\nReturn the item type as a u8 constant."},
    {"get_name", QUIRELO_FASTCALL(get_name), FASTCALL,
     "get_name($self)\n--\n\nReturn the item's href (file name within the EPUB)."},
    {"get_id", QUIRELO_FASTCALL(get_id), FASTCALL, "get_id($self)\n--\n\nReturn the item's manifest ID."},
    {"get_media_type", QUIRELO_FASTCALL(get_media_type), FASTCALL,
     "get_media_type($self)\n--\n\nReturn the item's media type."},
    {"get_text", QUIRELO_FASTCALL(get_text_method), FASTCALL,
     "get_text($self)\n--\n\nFor XHTML/HTML items, extract text content (strips tags)."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot item_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<ItemObject, &ItemObject::item>)},
    {Py_tp_repr, reinterpret_cast<void*>(item_repr)},
    {Py_tp_methods, item_methods},
    {0, nullptr},
};

PyType_Spec item_definition = {
    "_quirelo.EpubItem",
    sizeof(ItemObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    item_slots,
};

}  // namespace

PyTypeObject* item_class() {
    static std::atomic<PyTypeObject*> cache{nullptr};
    return type_made_once(cache, item_definition);
}

PyObject* new_item_object(ItemHandle item) {
    PyTypeObject* type = item_class();
    if (type == nullptr) return nullptr;
    return reinterpret_cast<PyObject*>(allocate(type, std::move(item), &ItemObject::item));
}

PyTypeObject* type_made_once(std::atomic<PyTypeObject*>& cache, PyType_Spec& definition) {
    return made_once(cache, [&] { return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&definition)); });
}

}  // namespace quirelo::py
