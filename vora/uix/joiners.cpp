// join_style, join_cls and join_attributes: an element's style, class and
// attribute containers joined into the text of its markup.
#include "common/args.hpp"
#include "common/dict.hpp"
#include "common/text.hpp"
#include "containers.hpp"
#include "html.hpp"

namespace vora::html {

namespace {

// The text str.format gives a field without a format spec: an exact str as
// it is, anything else format(o, ''). May run Python code (__format__).
Ref format_field(PyObject* o) noexcept
{
    if (PyUnicode_CheckExact(o)) [[likely]]
        return Ref::borrow(o);
    return Ref::steal(PyObject_Format(o, Py_GetConstantBorrowed(Py_CONSTANT_EMPTY_STR)));
}

}  // namespace

VORA_COLD void raise_not_str_piece(Py_ssize_t index, PyObject* piece) noexcept
{
    PyErr_Format(PyExc_TypeError, "sequence item %zd: expected str instance, %.80s found", index,
                 Py_TYPE(piece)->tp_name);
}

// ---------------------------------------------------------------- join_style

PyObject* join_style_impl(PyObject* container) noexcept
{
    int present = truth(container);
    if (present <= 0)
        return present < 0 ? nullptr : new_empty_str();

    RefList<32> texts;  // key text, value text per kept entry
    TextSize size;
    int status = for_each_item(container, g_state.str_items, [&](PyObject* key, PyObject* value) {
        int keep = truth(value);
        if (keep <= 0)
            return keep;
        Ref key_text = format_field(key);
        if (!key_text)
            return -1;
        Ref value_text = format_field(value);
        if (!value_text)
            return -1;
        size.add(key_text.get());
        size.add(value_text.get());
        return texts.push(std::move(key_text)) && texts.push(std::move(value_text)) ? 0 : -1;
    });
    if (status < 0)
        return nullptr;

    Py_ssize_t entries = texts.size() / 2;
    if (entries == 0)
        return new_empty_str();
    size.add(3 * entries - 1);  // ": " in each entry, ";" between entries
    TextBuilder out;
    if (out.open(size) < 0)
        return nullptr;
    // Opened at its measured size: the appends cannot fail.
    for (Py_ssize_t i = 0; i < entries; ++i) {
        if (i > 0)
            out.append_ascii(';');
        out.append(texts[2 * i]);
        out.append_ascii(": ");
        out.append(texts[2 * i + 1]);
    }
    return out.finish().release();
}

namespace {

// ------------------------------------------------------------------ join_cls

template <std::size_t N>
int push_items(RefList<N>& pieces, PyObject* seq) noexcept
{
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq); ++i) {
        if (!pieces.push(Ref::borrow(PySequence_Fast_GET_ITEM(seq, i))))
            return -1;
    }
    return 0;
}

}  // namespace

PyObject* join_cls_impl(PyObject* default_cls, PyObject* container) noexcept
{
    RefList<16> pieces;
    int present = truth(default_cls);
    if (present < 0)
        return nullptr;
    if (present) {
        // list(default_cls): a snapshot, the caller's object is left alone.
        if (PyList_CheckExact(default_cls) || PyTuple_CheckExact(default_cls)) [[likely]] {
            if (push_items(pieces, default_cls) < 0)
                return nullptr;
        } else {
            Ref list = Ref::steal(PySequence_List(default_cls));
            if (!list || push_items(pieces, list.get()) < 0)
                return nullptr;
        }
    }
    present = truth(container);
    if (present < 0)
        return nullptr;
    if (present) {
        int status = for_each_value(container, g_state.str_values, [&](PyObject* value) {
            int keep = truth(value);
            if (keep <= 0)
                return keep;
            return pieces.push(Ref::borrow(value)) ? 0 : -1;
        });
        if (status < 0)
            return nullptr;
    }

    // Every piece is checked only now, after all of them were collected, as
    // a join of the finished list would.
    Py_ssize_t count = pieces.size();
    TextSize size;
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (!PyUnicode_Check(pieces[i])) [[unlikely]] {
            raise_not_str_piece(i, pieces[i]);
            return nullptr;
        }
        size.add(pieces[i]);
    }
    if (count == 0)
        return new_empty_str();
    if (count == 1 && PyUnicode_CheckExact(pieces[0]))
        return Py_NewRef(pieces[0]);
    size.add(count - 1);
    TextBuilder out;
    if (out.open(size) < 0)
        return nullptr;
    // Opened at its measured size: the appends cannot fail.
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (i > 0)
            out.append_ascii(' ');
        out.append(pieces[i]);
    }
    return out.finish().release();
}

// ----------------------------------------------------------- join_attributes

Ref lookup_html_escape(PyObject* globals) noexcept
{
    return lookup_global(globals, g_state.str_html_escape, g_state.builtins);
}

Ref call_html_escape(PyObject* escape, PyObject* text) noexcept
{
    PyObject* args[] = {nullptr, text, Py_True};
    Ref result = Ref::steal(PyObject_Vectorcall(escape, args + 1,
                                                1 | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                                g_state.kwnames_quote));
    if (!result || result.get() == Py_None)
        return result;
    if (!expect_exact_str(result.get()))
        return Ref();
    return result;
}

namespace {

// key == value as Python evaluates it (no identity shortcut). May run Python
// code (__eq__, __bool__).
int equals(PyObject* key, PyObject* value) noexcept
{
    if (PyUnicode_CheckExact(key)) [[likely]] {
        if (PyUnicode_CheckExact(value))
            return PyUnicode_Equal(key, value);
        // Built-in numbers never equal a str.
        if (PyLong_CheckExact(value) || PyBool_Check(value) || PyFloat_CheckExact(value))
            return 0;
    }
    Ref result = Ref::steal(PyObject_RichCompare(key, value, Py_EQ));
    if (!result)
        return -1;
    return PyObject_IsTrue(result.get());
}

}  // namespace

PyObject* join_attributes_impl(PyObject* module, PyObject* container) noexcept
{
    int present = truth(container);
    if (present <= 0)
        return present < 0 ? nullptr : new_empty_str();

    PyObject* globals = PyModule_GetDict(module);
    RefList<32> texts;  // key text (nullptr for a bare word), value text per kept entry
    SmallVector<Py_ssize_t, 16> extras;  // what escaping adds to each value text
    TextSize size;
    int status = for_each_item(container, g_state.str_items, [&](PyObject* key, PyObject* value) {
        int keep = truth(value);
        if (keep <= 0)
            return keep;
        // The html_escape that the module's own code would call now.
        Ref escape = lookup_global(globals, g_state.str_html_escape, g_state.builtins);
        if (!escape)
            return -1;
        Ref text = PyUnicode_CheckExact(value) ? Ref::borrow(value) : Ref::steal(PyObject_Str(value));
        if (!text)
            return -1;
        Py_ssize_t extra = 0;
        if (escape.get() == g_state.std_escape) [[likely]] {
            extra = escape_extra(text.get());
        } else {
            text = call_html_escape(escape.get(), text.get());
            if (!text)
                return -1;
        }
        int bare = equals(key, value);
        if (bare < 0)
            return -1;
        Ref key_text;
        if (!bare) {
            key_text = format_field(key);
            if (!key_text)
                return -1;
            size.add(key_text.get());
            size.add(3);  // ="..."
            // A replaced escape may give None, which the format writes as "None".
            if (text.get() == Py_None && !(text = format_field(text.get())))
                return -1;
        }
        // A bare None stays None, for the join below to refuse.
        if (text.get() != Py_None) [[likely]]
            size.add(text.get(), extra);
        return texts.push(std::move(key_text)) && texts.push(std::move(text)) &&
                       extras.push(extra)
                   ? 0
                   : -1;
    });
    if (status < 0)
        return nullptr;

    Py_ssize_t entries = extras.size();
    for (Py_ssize_t i = 0; i < entries; ++i) {
        if (texts[2 * i + 1] == Py_None) [[unlikely]] {
            raise_not_str_piece(i, Py_None);
            return nullptr;
        }
    }
    if (entries == 0)
        return new_empty_str();
    size.add(entries - 1);  // the spaces between entries
    TextBuilder out;
    if (out.open(size) < 0)
        return nullptr;
    // Opened at its measured size: the appends cannot fail.
    for (Py_ssize_t i = 0; i < entries; ++i) {
        if (i > 0)
            out.append_ascii(' ');
        PyObject* key_text = texts[2 * i];
        if (key_text) {
            out.append(key_text);
            out.append_ascii("=\"");
            out.append_escaped(texts[2 * i + 1], extras[i]);
            out.append_ascii('"');
        } else {
            out.append_escaped(texts[2 * i + 1], extras[i]);
        }
    }
    return out.finish().release();
}

namespace {

// ------------------------------------------------------------ entry points

const char* const style_params[] = {"style_container"};
const Signature style_sig{"join_style", style_params, 1, 1};

PyObject* join_style(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
{
    PyObject* values[1];
    if (parse_fastcall(style_sig, args, nargs, kwnames, values) < 0)
        return nullptr;
    return checked(join_style_impl(values[0]));
}

const char* const cls_params[] = {"default_cls", "cls_container"};
const Signature cls_sig{"join_cls", cls_params, 2, 2};

PyObject* join_cls(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
{
    PyObject* values[2];
    if (parse_fastcall(cls_sig, args, nargs, kwnames, values) < 0)
        return nullptr;
    return checked(join_cls_impl(values[0], values[1]));
}

const char* const attributes_params[] = {"attr_container"};
const Signature attributes_sig{"join_attributes", attributes_params, 1, 1};

PyObject* join_attributes(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames)
{
    PyObject* values[1];
    if (parse_fastcall(attributes_sig, args, nargs, kwnames, values) < 0)
        return nullptr;
    return checked(join_attributes_impl(module, values[0]));
}

}  // namespace

// The signature lines before "--" become __text_signature__; __doc__ is the
// text after them.
PyMethodDef join_style_def = {
    "join_style",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(join_style)),
    METH_FASTCALL | METH_KEYWORDS,
    "join_style(style_container)\n--\n\n"
    "Join ``style_container`` into a CSS style attribute value.",
};

PyMethodDef join_cls_def = {
    "join_cls",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(join_cls)),
    METH_FASTCALL | METH_KEYWORDS,
    "join_cls(default_cls, cls_container)\n--\n\n"
    "Join default classes and ``cls_container`` values into a class string.",
};

PyMethodDef join_attributes_def = {
    "join_attributes",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(join_attributes)),
    METH_FASTCALL | METH_KEYWORDS,
    "join_attributes(attr_container)\n--\n\n"
    "Join ``attr_container`` into an HTML attribute string.",
};

}  // namespace vora::html
