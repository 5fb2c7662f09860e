// Ref: the one owning reference type of the native modules.
#pragma once

#include <Python.h>

#include <utility>

// The calls that CPython 3.14 added, for 3.13; every source includes this
// header, directly or through another.
#include "python_compat.hpp"

namespace vora {

// Owns one strong reference, or nothing (the error value of functions that
// return a Ref). Made only by steal() or borrow(); never converts implicitly
// from PyObject*, so every place that takes ownership says so.
class Ref {
public:
    Ref() noexcept = default;
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : ptr_(other.ptr_) { other.ptr_ = nullptr; }
    Ref& operator=(Ref&& other) noexcept
    {
        PyObject* old = ptr_;
        ptr_ = other.ptr_;
        other.ptr_ = nullptr;
        Py_XDECREF(old);
        return *this;
    }
    ~Ref() { Py_XDECREF(ptr_); }

    // Takes over a new reference (or NULL, with an exception set).
    [[nodiscard]] static Ref steal(PyObject* p) noexcept { return Ref(p); }
    // Adds a reference to a borrowed one.
    [[nodiscard]] static Ref borrow(PyObject* p) noexcept { return Ref(Py_XNewRef(p)); }

    PyObject* get() const noexcept { return ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }

    // Gives the reference away to the caller.
    [[nodiscard]] PyObject* release() noexcept
    {
        PyObject* p = ptr_;
        ptr_ = nullptr;
        return p;
    }
    // A new reference for the caller; this Ref keeps its own.
    [[nodiscard]] PyObject* new_ref() const noexcept { return Py_XNewRef(ptr_); }

    void reset() noexcept { Py_CLEAR(ptr_); }

private:
    explicit Ref(PyObject* p) noexcept : ptr_(p) {}
    PyObject* ptr_ = nullptr;
};

// Replaces an owned object field (a struct member) by a new reference,
// releasing the old one only after the field holds the new value: the old
// object's finalizer may run Python code that reads the field.
inline void set_field(PyObject*& field, Ref value) noexcept
{
    PyObject* old = field;
    field = value.release();
    Py_XDECREF(old);
}

}  // namespace vora
