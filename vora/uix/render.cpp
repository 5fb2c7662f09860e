// render_default_html: an element's prepared pieces put into the markup of
// the default element template, exactly as the template engine writes it.
#include "common/args.hpp"
#include "common/text.hpp"
#include "containers.hpp"
#include "html.hpp"

namespace vora::html {

namespace {

// tagname, tagid, content: None means "", anything else must be an exact str.
PyObject* text_or_none(PyObject* o) noexcept
{
    if (o == Py_None)
        return Py_GetConstantBorrowed(Py_CONSTANT_EMPTY_STR);
    return expect_exact_str(o) ? o : nullptr;
}

// cls, style, attributes: any false value means "", a true one must be an
// exact str. The truth test may run Python code; the caller's argument array
// keeps o alive across it.
PyObject* text_if_true(PyObject* o) noexcept
{
    int present = truth(o);
    if (present < 0)
        return nullptr;
    if (!present)
        return Py_GetConstantBorrowed(Py_CONSTANT_EMPTY_STR);
    return expect_exact_str(o) ? o : nullptr;
}

// Text the template engine writes through {{ }}: escaped as html.escape does.
struct Escaped {
    PyObject* text;
    Py_ssize_t extra;
};

}  // namespace

PyObject* render_default_html_impl(PyObject* tagname, PyObject* tagid, PyObject* cls,
                                   PyObject* style, PyObject* attributes, PyObject* content)
{
    // Checked strictly in parameter order: the first offender is reported.
    PyObject* tag_s = text_or_none(tagname);
    if (!tag_s)
        return nullptr;
    PyObject* eid_s = text_or_none(tagid);
    if (!eid_s)
        return nullptr;
    PyObject* cls_s = text_if_true(cls);
    if (!cls_s)
        return nullptr;
    PyObject* style_s = text_if_true(style);
    if (!style_s)
        return nullptr;
    PyObject* attrs = text_if_true(attributes);
    if (!attrs)
        return nullptr;
    PyObject* inner = text_or_none(content);
    if (!inner)
        return nullptr;

    Escaped tag{tag_s, escape_extra(tag_s)};
    Escaped eid{eid_s, escape_extra(eid_s)};
    bool has_cls = PyUnicode_GET_LENGTH(cls_s) != 0;
    bool has_style = PyUnicode_GET_LENGTH(style_s) != 0;
    Escaped cls_e{cls_s, has_cls ? escape_extra(cls_s) : 0};
    Escaped style_e{style_s, has_style ? escape_extra(style_s) : 0};

    // <tag id="eid"  class="cls"  style="style"  attrs >content</tag>
    TextSize size;
    size.add(tag.text, tag.extra);
    size.add(tag.text, tag.extra);
    size.add(eid.text, eid.extra);
    size.add(1 + 5 + 2 + 1 + 2 + 2 + 1);  // < id=" "_ _ _> </ >
    if (has_cls) {
        size.add(cls_e.text, cls_e.extra);
        size.add(8 + 2);
    }
    if (has_style) {
        size.add(style_e.text, style_e.extra);
        size.add(8 + 2);
    }
    size.add(attrs);
    size.add(inner);

    TextBuilder out;
    if (out.open(size) < 0)
        return nullptr;
    // Opened at its measured size: the appends cannot fail.
    out.append_ascii('<');
    out.append_escaped(tag.text, tag.extra);
    out.append_ascii(" id=\"");
    out.append_escaped(eid.text, eid.extra);
    out.append_ascii("\" ");
    if (has_cls) {
        out.append_ascii(" class=\"");
        out.append_escaped(cls_e.text, cls_e.extra);
        out.append_ascii("\" ");
    }
    if (has_style) {
        out.append_ascii(" style=\"");
        out.append_escaped(style_e.text, style_e.extra);
        out.append_ascii("\" ");
    }
    out.append_ascii(' ');
    out.append(attrs);
    out.append_ascii(" >");
    out.append(inner);
    out.append_ascii("</");
    out.append_escaped(tag.text, tag.extra);
    out.append_ascii('>');
    return out.finish().release();
}

namespace {

const char* const render_params[] = {"tagname", "tagid", "cls", "style", "attributes", "content"};
const Signature render_sig{"render_default_html", render_params, 6, 6};

PyObject* render_default_html(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames)
{
    PyObject* v[6];
    if (parse_fastcall(render_sig, args, nargs, kwnames, v) < 0)
        return nullptr;
    return checked(render_default_html_impl(v[0], v[1], v[2], v[3], v[4], v[5]));
}

}  // namespace

PyMethodDef render_default_html_def = {
    "render_default_html",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(render_default_html)),
    METH_FASTCALL | METH_KEYWORDS,
    "render_default_html(tagname, tagid, cls, style, attributes, content)\n--\n\n"
    "Render the default Element ``html_tpl`` without Tornado.\n"
    "\n"
    "    Whitespace matches ``tornado.template.Template.generate`` for\n"
    "    :data:`DEFAULT_HTML_TPL` so markup stays byte-compatible with the\n"
    "    previous renderer.\n"
    "    ",
};

}  // namespace vora::html
