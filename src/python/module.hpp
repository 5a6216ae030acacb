// What the files of the extension module share: access to the binding cells,
// the three classes, argument conversion and verdict conversion. The state
// they keep between calls is all in module_state.hpp.
//
// None, True, False and NotImplemented are returned as Py_NewRef(...), never
// through the Py_RETURN_* macros: the 3.12 and later headers expand some of
// those without a new reference even for the 3.10 stable ABI, and on 3.10 and
// 3.11, where these objects are counted, that frees them in the end.
#pragma once

#include <cstdint>

#include "core/num_format.hpp"
#include "core/verdict.hpp"
#include "python/module_state.hpp"

namespace quillmere::python {

// Null until _bind has stored it; raises "used before _bind" then.
const BoundTypes* bound_types() noexcept;

// The bound CastFailure member for a reason code 1..3, borrowed; null (with
// RuntimeError set) when that cell is still empty.
PyObject* reason_member(std::uint8_t code) noexcept;

// Sets a class attribute of one of our immutable classes while it is being
// created; consumes `value` (null passes through as a failure).
bool set_class_attribute(PyTypeObject* cls, const char* name, PyObject* value) noexcept;

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
    Py_ssize_t first_surrogate;  // set when load_text finds no UTF-8 form
};

// Decides the kind of `text` or raises "argument 'text': must be str or bytes".
bool classify_text(PyObject* obj, TextArg& out) noexcept;

enum class TextLoad { READ, NO_UTF8, FAILED };
// Obtains the bytes: the buffer of a bytes object, the cached UTF-8 form of a
// str. A str with no UTF-8 form holds a lone surrogate (what surrogateescape
// decoding leaves for a bad byte); that is bad data, not misuse: NO_UTF8, with
// the first one's index in code points. FAILED has an exception set.
TextLoad load_text(TextArg& text) noexcept;

// A new Fault for a core fault, with the span in code points for str input.
PyObject* new_fault_from(std::uint8_t status, core::Span span, const TextArg* text) noexcept;
// A new Fault whose span is already in the caller's units.
PyObject* new_fault(core::FaultReason reason, std::uint64_t offset, std::uint64_t length) noexcept;

// Positional-or-keyword binding for the fast-call convention.
struct Signature {
    const char* function;
    const char* const* names;
    int count;
    int required;
};
bool bind_arguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    PyObject** out) noexcept;

// Python's integer protocol into a u32, with the overflow messages callers see.
// An object with no __index__ is the interpreter's TypeError attributed to
// `argument`; an exception raised by an __index__ propagates unchanged.
bool to_u32(PyObject* obj, const char* argument, std::uint32_t& out) noexcept;

// Python's float protocol into a double; errors as for to_u32, with __float__
// or __index__.
bool to_double(PyObject* obj, const char* argument, double& out) noexcept;

// Raises TypeError "<subject> must be <expected>, not <type name of obj>".
void raise_must_be(const char* subject, const char* expected, PyObject* obj) noexcept;


// The module's cast functions and their table, in attribute order.
extern PyMethodDef cast_methods[];

// The column casts' private backend (quillmere.columns).
extern PyMethodDef column_methods[];

}  // namespace quillmere::python
