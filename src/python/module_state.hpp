// Everything the Python frames keep between calls, in one record.
//
// The module is initialised once per process and refuses a second
// interpreter, so its state is process-wide; nothing in it is torn down, and
// every reference it holds lives until the process ends.
//
// Two disciplines keep it consistent:
// - Set-once cells (the atomics): empty until their first successful store,
//   full for good afterwards; a later store keeps the old value and drops the
//   new one.
// - Everything else is read and written only while the interpreter lock is
//   held. A call can still be entered again while it runs (a finaliser run by
//   an allocation, a signal handler, another thread while Python code runs),
//   so each cache below says what keeps it consistent then.
//
// Shortcuts that lean on CPython beyond its documented contract say at their
// place what they rely on and name the test (most in
// tests/python/test_interpreter_assumptions.py) that fails the day it
// changes: the kept calls and UUIDs built from their slots
// (value_conversion.cpp), class attributes of the immutable classes
// (module.cpp), reused verdict memory (verdict_classes.cpp).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <cstdint>

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

// A constructor call prepared once and repeated: the class's own tp_new with
// an argument tuple kept between calls and refilled in place, which skips the
// generic call machinery and every allocation but the result's. _bind
// prepares one only for a class whose call does nothing but run its tp_new,
// so the kept call and the ordinary one give the same result.
//
// `busy` is set for the length of a call: a call entered again meanwhile
// takes the ordinary route rather than refill what the outer call is still
// reading. A constructor that keeps a reference to its arguments retires the
// kept call for good (they are then no longer ours to refill).
struct KeptCall {
    PyTypeObject* cls;
    newfunc construct;  // null: no kept call, take the ordinary route
    PyObject* args;     // (compact,), (compact, tzinfo) or (text,)
    PyObject* compact;  // the bytes inside args, for a compact-form call
    char* buffer;       // their contents
    bool busy;
};

// Freed verdict objects kept for reuse instead of going back to the allocator.
// A free pushes after the object's references are released and an allocation
// pops before any are set, so no Python code runs between a read of `count`
// and its update.
struct FreeList {
    static constexpr int capacity = 64;
    PyObject* items[capacity];
    int count;
};

struct ModuleState {
    // --- Set once, by module start-up and _bind ---
    std::atomic<std::int64_t> owning_interpreter{-1};
    std::atomic<PyObject*> reason_members[3]{};  // EMPTY, MALFORMED, OUT_OF_RANGE
    std::atomic<BoundTypes*> bound_types{nullptr};

    // --- Under the interpreter lock ---
    PyObject* module_object = nullptr;  // returned again by a second import

    // The classes, created at first need.
    PyTypeObject* success_class = nullptr;
    PyTypeObject* fault_class = nullptr;
    PyTypeObject* num_format_class = nullptr;
    // NumFormat.INVARIANT and NumFormat.DETECT, which pickle by name.
    PyObject* invariant_format = nullptr;
    PyObject* detect_format = nullptr;

    FreeList free_successes{};
    FreeList free_faults{};

    // One kept call per shape of value, prepared by _bind from the bound
    // classes; the compact forms are the bytes the classes pickle as.
    struct {
        KeptCall date;          // date(compact4)
        KeptCall time;          // time(compact6)
        KeptCall datetime;      // datetime(compact10)
        KeptCall utc_datetime;  // datetime(compact10, utc)
        KeptCall decimal;       // Decimal(text)
    } kept{};

    // A UUID is built by the generic allocator with its two slots set, when
    // _bind found the bound class to have the standard UUID's layout.
    bool uuid_direct = false;
    PyObject* uuid_int_name = nullptr;      // "int", interned
    PyObject* uuid_is_safe_name = nullptr;  // "is_safe", interned
};

extern constinit ModuleState module_state;

}  // namespace quillmere::python
