// Argument conversion shared by every function of the module.
#include "python/module.hpp"

namespace quillmere::python {

bool bind_arguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    PyObject** out) noexcept {
    if (nargs > sig.count) {
        PyErr_Format(PyExc_TypeError, "%s() takes at most %d argument%s (%zd given)", sig.function, sig.count,
                     sig.count == 1 ? "" : "s", nargs);
        return false;
    }
    for (int i = 0; i < sig.count; ++i) out[i] = i < nargs ? args[i] : nullptr;
    // The common call is positional only; keywords are matched by name.
    if (kwnames != nullptr) {
        const Py_ssize_t keyword_count = PyTuple_Size(kwnames);
        for (Py_ssize_t k = 0; k < keyword_count; ++k) {
            PyObject* key = PyTuple_GetItem(kwnames, k);
            int slot = -1;
            for (int i = 0; i < sig.count; ++i) {
                if (PyUnicode_CompareWithASCIIString(key, sig.names[i]) == 0) {
                    slot = i;
                    break;
                }
            }
            if (slot < 0) {
                PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", sig.function, key);
                return false;
            }
            if (out[slot] != nullptr) {
                PyErr_Format(PyExc_TypeError, "argument for %s() given by name ('%s') and position (%d)", sig.function,
                             sig.names[slot], slot + 1);
                return false;
            }
            out[slot] = args[nargs + k];
        }
    }
    for (int i = 0; i < sig.required; ++i) {
        if (out[i] == nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %d)", sig.function, sig.names[i],
                         i + 1);
            return false;
        }
    }
    return true;
}

void raise_must_be(const char* subject, const char* expected, PyObject* obj) noexcept {
    PyObject* name = PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__name__");
    if (name == nullptr) return;
    PyErr_Format(PyExc_TypeError, "%s must be %s, not %U", subject, expected, name);
    Py_DECREF(name);
}

namespace {

// Re-raises the pending exception, the interpreter's own TypeError for an
// object without the protocol, as the same type with "argument 'name': " in front.
void attribute_error_to(const char* argument) noexcept {
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    PyObject* message = value != nullptr ? PyObject_Str(value) : nullptr;
    if (message == nullptr) {
        PyErr_Restore(type, value, traceback);
        return;
    }
    PyErr_Format(type, "argument '%s': %U", argument, message);
    Py_DECREF(message);
    Py_XDECREF(type);
    Py_XDECREF(value);
    Py_XDECREF(traceback);
}

bool has_float_protocol(PyObject* obj) noexcept {
    return PyFloat_Check(obj) || PyType_GetSlot(Py_TYPE(obj), Py_nb_float) != nullptr || PyIndex_Check(obj);
}

Py_ssize_t first_lone_surrogate(PyObject* str) noexcept {
    const Py_ssize_t n = PyUnicode_GetLength(str);
    for (Py_ssize_t i = 0; i < n; ++i) {
        const Py_UCS4 c = PyUnicode_ReadChar(str, i);
        if (c >= 0xD800 && c <= 0xDFFF) return i;
    }
    return -1;
}

}  // namespace

bool to_u32(PyObject* obj, const char* argument, std::uint32_t& out) noexcept {
    // Reads an int (an IntEnum member included) in place, and anything else
    // through __index__, as PyNumber_Index would, without copying a subclass.
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(obj, &overflow);
    if (v == -1 && overflow == 0 && PyErr_Occurred()) {
        // Only the protocol's absence is the argument's fault; whatever an
        // __index__ raises (SystemExit included) is the caller's own.
        if (!PyIndex_Check(obj) && PyErr_ExceptionMatches(PyExc_TypeError)) attribute_error_to(argument);
        return false;
    }
    if (overflow < 0 || (overflow == 0 && v < 0)) {
        PyErr_SetString(PyExc_OverflowError, "number too small to fit in target type");
        return false;
    }
    if (overflow > 0 || v > 0xFFFFFFFFll) {
        PyErr_SetString(PyExc_OverflowError, "number too large to fit in target type");
        return false;
    }
    out = static_cast<std::uint32_t>(v);
    return true;
}

bool to_double(PyObject* obj, const char* argument, double& out) noexcept {
    out = PyFloat_AsDouble(obj);
    if (out == -1.0 && PyErr_Occurred()) {
        if (!has_float_protocol(obj) && PyErr_ExceptionMatches(PyExc_TypeError)) attribute_error_to(argument);
        return false;
    }
    return true;
}

bool classify_text(PyObject* obj, TextArg& out) noexcept {
    out.object = obj;
    if (PyUnicode_Check(obj)) {
        out.is_str = true;
        return true;
    }
    if (PyBytes_Check(obj)) {
        out.is_str = false;
        return true;
    }
    PyErr_SetString(PyExc_TypeError, "argument 'text': must be str or bytes");
    return false;
}

namespace {

// A str whose UTF-8 form failed: NO_UTF8 when it holds a lone surrogate. Kept
// out of line, off the path of every readable text.
[[gnu::cold, gnu::noinline]] TextLoad without_utf8(TextArg& text) noexcept {
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return TextLoad::FAILED;
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    text.first_surrogate = first_lone_surrogate(text.object);
    if (text.first_surrogate < 0) {  // not a surrogate after all: report what the encoder said
        PyErr_Restore(type, value, traceback);
        return TextLoad::FAILED;
    }
    Py_XDECREF(type);
    Py_XDECREF(value);
    Py_XDECREF(traceback);
    return TextLoad::NO_UTF8;
}

}  // namespace

TextLoad load_text(TextArg& text) noexcept {
    if (!text.is_str) {
        char* data = nullptr;
        if (PyBytes_AsStringAndSize(text.object, &data, &text.size) < 0) return TextLoad::FAILED;
        text.data = data;
        return TextLoad::READ;
    }
    text.data = PyUnicode_AsUTF8AndSize(text.object, &text.size);
    return text.data != nullptr ? TextLoad::READ : without_utf8(text);
}

}  // namespace quillmere::python
