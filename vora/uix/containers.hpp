// Reading the joiners' containers: exact dicts walked in place, anything else
// through its items()/values(), with the pair unpacking and the growable
// list of owned references that the joiners collect into.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstring>
#include <type_traits>

#include "common/errors.hpp"
#include "common/ref.hpp"
#include "common/sequence.hpp"

namespace vora::html {

// A vector of trivially copyable items kept inline up to N, then on the heap.
template <class T, std::size_t N>
class SmallVector {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    SmallVector() noexcept = default;
    SmallVector(const SmallVector&) = delete;
    SmallVector& operator=(const SmallVector&) = delete;
    ~SmallVector()
    {
        if (data_ != inline_)
            PyMem_Free(data_);
    }

    // Appends v; false with MemoryError set.
    bool push(const T& v) noexcept
    {
        if (size_ == capacity_) [[unlikely]] {
            if (!grow())
                return false;
        }
        data_[size_++] = v;
        return true;
    }

    Py_ssize_t size() const noexcept { return size_; }
    T& operator[](Py_ssize_t i) noexcept { return data_[i]; }
    const T& operator[](Py_ssize_t i) const noexcept { return data_[i]; }
    T* begin() noexcept { return data_; }
    T* end() noexcept { return data_ + size_; }

private:
    VORA_COLD bool grow() noexcept
    {
        Py_ssize_t capacity = capacity_ * 2;
        T* data = static_cast<T*>(data_ == inline_ ? PyMem_Malloc(sizeof(T) * capacity)
                                                   : PyMem_Realloc(data_, sizeof(T) * capacity));
        if (!data) {
            PyErr_NoMemory();
            return false;
        }
        if (data_ == inline_)
            std::memcpy(data, inline_, sizeof inline_);
        data_ = data;
        capacity_ = capacity;
        return true;
    }

    T inline_[N];
    T* data_ = inline_;
    Py_ssize_t size_ = 0;
    Py_ssize_t capacity_ = N;
};

// Owned references (nullptr allowed), released when the list goes.
template <std::size_t N>
class RefList {
public:
    RefList() noexcept = default;
    RefList(const RefList&) = delete;
    RefList& operator=(const RefList&) = delete;
    ~RefList()
    {
        for (PyObject* o : items_)
            Py_XDECREF(o);
    }

    // Takes over r (which may be empty); false with MemoryError set.
    bool push(Ref r) noexcept
    {
        PyObject* o = r.release();
        if (items_.push(o)) [[likely]]
            return true;
        Py_XDECREF(o);
        return false;
    }

    Py_ssize_t size() const noexcept { return items_.size(); }
    PyObject* operator[](Py_ssize_t i) const noexcept { return items_[i]; }

private:
    SmallVector<PyObject*, N> items_;
};

// Python truth test, with the common exact types answered inline. May run
// Python code (__bool__, __len__).
inline int truth(PyObject* o) noexcept
{
    if (PyUnicode_CheckExact(o))
        return PyUnicode_GET_LENGTH(o) != 0;
    return PyObject_IsTrue(o);
}

VORA_COLD void raise_dict_changed() noexcept;
VORA_COLD void raise_dict_keys_changed() noexcept;

// Splits one item of items() into key and value as `for key, value in ...`
// does, with the texts "too many values to unpack (expected 2)" and "need
// more than N value(s) to unpack". May run Python code (iteration).
int unpack_pair(PyObject* item, Ref& key, Ref& value) noexcept;

// Walks an exact dict in insertion order, calling f(key, value) with
// references held for the call, and ends as the dict iterator does when f
// changes the dict: a size change, checked before every step including the
// last, with "dictionary changed size during iteration"; an entry beyond the
// size the walk began with (keys replaced at the same size) with
// "dictionary keys changed during iteration".
template <class F>
int for_each_dict_entry(PyObject* dict, F&& f)
{
    Py_ssize_t size = PyDict_GET_SIZE(dict);
    Py_ssize_t left = size;
    Py_ssize_t pos = 0;
    PyObject* k;
    PyObject* v;
    for (;;) {
        if (PyDict_GET_SIZE(dict) != size) [[unlikely]] {
            raise_dict_changed();
            return -1;
        }
        if (!PyDict_Next(dict, &pos, &k, &v))
            return 0;
        if (left-- == 0) [[unlikely]] {
            raise_dict_keys_changed();
            return -1;
        }
        Ref key = Ref::borrow(k);
        Ref value = Ref::borrow(v);
        if (f(key.get(), value.get()) < 0)
            return -1;
    }
}

// Calls f(key, value) for every pair of a mapping container: an exact dict
// in place, anything else through container.items(). May run Python code.
template <class F>
int for_each_item(PyObject* container, PyObject* str_items, F&& f)
{
    if (PyDict_CheckExact(container)) [[likely]]
        return for_each_dict_entry(container, f);
    Ref items = Ref::steal(PyObject_CallMethodNoArgs(container, str_items));
    if (!items)
        return -1;
    return for_each_in(items.get(), [&](PyObject* item) {
        Ref key, value;
        if (unpack_pair(item, key, value) < 0)
            return -1;
        return f(key.get(), value.get());
    });
}

// Calls f(value) for every value of a mapping container: an exact dict in
// place, anything else through container.values(). May run Python code.
template <class F>
int for_each_value(PyObject* container, PyObject* str_values, F&& f)
{
    if (PyDict_CheckExact(container)) [[likely]]
        return for_each_dict_entry(container, [&](PyObject*, PyObject* value) { return f(value); });
    Ref values = Ref::steal(PyObject_CallMethodNoArgs(container, str_values));
    if (!values)
        return -1;
    return for_each_in(values.get(), f);
}

}  // namespace vora::html
