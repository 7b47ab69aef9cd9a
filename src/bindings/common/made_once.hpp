#pragma once
// Process-wide objects of the binding (class objects, looked-up classes), made once and
// kept for the life of the process. The module runs without the interpreter lock, so two
// threads may race to make one: each makes its own, one publishes, the other drops its
// copy. No lock is held while Python code runs, and a failed attempt leaves nothing
// behind, so the next call tries again.
#include <Python.h>

#include <atomic>

namespace quirelo::py {

// The published object (borrowed), or null with the maker's exception set.
template <class Object, class Make>
Object* made_once(std::atomic<Object*>& cache, Make&& make) {
    Object* current = cache.load(std::memory_order_acquire);
    if (current != nullptr) return current;
    Object* made = make();
    if (made == nullptr) return nullptr;
    if (cache.compare_exchange_strong(current, made, std::memory_order_acq_rel)) return made;
    Py_DECREF(reinterpret_cast<PyObject*>(made));
    return current;
}

}  // namespace quirelo::py
