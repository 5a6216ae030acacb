// Shared pieces of the extension module: the process-wide binding cells, the
// three classes, argument conversion and verdict conversion.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>

#include "core/num_format.hpp"
#include "core/verdict.hpp"

namespace quillmere::python {

// Standard-library objects captured by _bind, stored once as a whole.
struct BoundTypes {
    PyObject* datetime_type;
    PyObject* date_type;
    PyObject* time_type;
    PyObject* utc;
    PyObject* anchor;  // datetime(1, 1, 1): durations are differences from it
    PyObject* uuid_type;
    PyObject* safe_uuid_unknown;
    PyObject* decimal_type;
};

// Null until _bind has stored it; raises "used before _bind" then.
const BoundTypes* bound_types() noexcept;

// The bound CastFailure member for a reason code 1..3, borrowed; null (with
// RuntimeError set) when that cell is still empty.
PyObject* reason_member(std::uint8_t code) noexcept;

PyObject* bind(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// The classes, created at first need and kept for the life of the process.
PyTypeObject* success_type() noexcept;
PyTypeObject* fault_type() noexcept;
PyTypeObject* num_format_type() noexcept;

// New Success holding `value` (a new reference, consumed; null passes through).
PyObject* new_success(PyObject* value) noexcept;

// The held core format of a NumFormat instance, or null if obj is not one.
const core::NumFormat* num_format_of(PyObject* obj) noexcept;

// A text argument: its kind travels with the call to the fault conversion.
struct TextArg {
    PyObject* object;
    bool is_str;
    const char* data;
    Py_ssize_t size;
};

// Decides the kind of `text` or raises "argument 'text': must be str or bytes".
bool classify_text(PyObject* obj, TextArg& out) noexcept;
// Obtains the bytes (the cached UTF-8 form of a str); may raise UnicodeEncodeError.
bool load_text(TextArg& text) noexcept;

// A new Fault for a core fault, with the span in code points for str input.
PyObject* new_fault_from(std::uint8_t status, core::Span span, const TextArg* text) noexcept;

// Positional-or-keyword binding for the fast-call convention.
struct Signature {
    const char* function;
    const char* const* names;
    int count;
    int required;
};
bool bind_arguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    PyObject** out) noexcept;

// Python's integer protocol into a u32, with the overflow messages callers see;
// a non-integer is a TypeError attributed to `argument`.
bool to_u32(PyObject* obj, const char* argument, std::uint32_t& out) noexcept;

// Raises TypeError "<subject> must be <expected>, not <type name of obj>".
void raise_must_be(const char* subject, const char* expected, PyObject* obj) noexcept;

// Re-raises the pending exception of the same type with "argument 'name': " in front.
void attribute_error_to(const char* argument) noexcept;

// The module's cast functions and their table, in attribute order.
extern PyMethodDef cast_methods[];

}  // namespace quillmere::python
