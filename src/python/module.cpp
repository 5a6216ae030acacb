// Module start-up: the one-interpreter rule, the attribute list, and the
// set-once cells that _bind fills.
#include <atomic>
#include <cstdio>

#include "capi/quillmere.h"
#include "python/module.hpp"
#include "python/value_conversion.hpp"

namespace quillmere::python {

constinit ModuleState module_state;

namespace {

// Stores `value` (a new reference) unless the cell is already full, in
// which case the new value is dropped.
void store_once(std::atomic<PyObject*>& cell, PyObject* value) {
    PyObject* expected = nullptr;
    if (!cell.compare_exchange_strong(expected, value)) Py_DECREF(value);
}

PyObject* import_attr(PyObject* module, const char* name) { return PyObject_GetAttrString(module, name); }

PyObject* native_version(PyObject*, PyObject*) {
    const std::uint32_t packed = quillmere_version();
    return PyUnicode_FromFormat("%u.%u.%u", static_cast<unsigned>(packed >> 16), static_cast<unsigned>((packed >> 8) & 0xFF),
                                static_cast<unsigned>(packed & 0xFF));
}

PyMethodDef tail_methods[] = {
    {"native_version", native_version, METH_NOARGS,
     "native_version()\n--\n\nThis library's version as ``\"major.minor.patch\"``, decoded from the same packed\n"
     "``quillmere_version`` export every other binding probes."},
    {"_bind", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(bind)), METH_FASTCALL | METH_KEYWORDS,
     "_bind(cast_failure)\n--\n\nHands the package's own `CastFailure` IntEnum (plus `uuid.UUID` and `decimal.Decimal`)\n"
     "to this backend so faults carry the exact members callers compare with `is`."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "_native", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

// Adds one attribute and appends its name to __all__ (unless all is null:
// the column backend's functions are the package's private business).
bool add_attribute(PyObject* module, PyObject* all, const char* name, PyObject* value) {
    if (value == nullptr) return false;
    int failed = PyModule_AddObjectRef(module, name, value);
    Py_DECREF(value);
    if (failed) return false;
    if (all == nullptr) return true;
    PyObject* key = PyUnicode_FromString(name);
    if (key == nullptr) return false;
    failed = PyList_Append(all, key);
    Py_DECREF(key);
    return failed == 0;
}

bool add_functions(PyObject* module, PyObject* all, PyObject* module_name, PyMethodDef* defs) {
    for (PyMethodDef* def = defs; def->ml_name != nullptr; ++def) {
        if (!add_attribute(module, all, def->ml_name, PyCFunction_NewEx(def, module, module_name))) return false;
    }
    return true;
}

PyObject* build_module() {
    PyObject* module = PyModule_Create(&module_definition);
    if (module == nullptr) return nullptr;
    PyObject* all = PyObject_GetAttrString(module, "__all__");
    if (all == nullptr) {
        PyErr_Clear();
        all = PyList_New(0);
        if (all == nullptr || PyModule_AddObjectRef(module, "__all__", all) < 0) {
            Py_XDECREF(all);
            Py_DECREF(module);
            return nullptr;
        }
    }
    PyObject* module_name = PyModule_GetNameObject(module);
    bool ok = module_name != nullptr &&
              add_attribute(module, all, "Success", reinterpret_cast<PyObject*>(success_type())) &&
              add_attribute(module, all, "Fault", reinterpret_cast<PyObject*>(fault_type())) &&
              add_attribute(module, all, "NumFormat", reinterpret_cast<PyObject*>(num_format_type())) &&
              add_functions(module, all, module_name, cast_methods) &&
              add_functions(module, all, module_name, tail_methods) &&
              add_functions(module, nullptr, module_name, column_methods);
    Py_XDECREF(module_name);
    Py_DECREF(all);
    if (!ok) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}

}  // namespace

const BoundTypes* bound_types() noexcept {
    const BoundTypes* types = module_state.bound_types.load(std::memory_order_acquire);
    if (types == nullptr) PyErr_SetString(PyExc_RuntimeError, "quillmere._native used before _bind");
    return types;
}

PyObject* reason_member(std::uint8_t code) noexcept {
    PyObject* member =
        code >= 1 && code <= 3 ? module_state.reason_members[code - 1].load(std::memory_order_acquire) : nullptr;
    if (member == nullptr) PyErr_SetString(PyExc_RuntimeError, "quillmere._native used before _bind");
    return member;
}

PyObject* bind(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const names[] = {"cast_failure"};
    PyObject* cast_failure = nullptr;
    if (!bind_arguments(Signature{"_bind", names, 1, 1}, args, nargs, kwnames, &cast_failure)) return nullptr;

    // Each reason cell is stored on its own: a member found stays bound even
    // when a later lookup fails.
    static const char* const members[] = {"EMPTY", "MALFORMED", "OUT_OF_RANGE"};
    for (int i = 0; i < 3; ++i) {
        PyObject* member = PyObject_GetAttrString(cast_failure, members[i]);
        if (member == nullptr) return nullptr;
        store_once(module_state.reason_members[i], member);
    }

    BoundTypes found{};
    PyObject* datetime_module = PyImport_ImportModule("datetime");
    PyObject* uuid_module = datetime_module ? PyImport_ImportModule("uuid") : nullptr;
    PyObject* timezone = nullptr;
    PyObject* safe_uuid = nullptr;
    PyObject* decimal_module = nullptr;
    PyObject* datetime_again = nullptr;
    bool ok = uuid_module != nullptr && (found.datetime_type = import_attr(datetime_module, "datetime")) &&
              (found.date_type = import_attr(datetime_module, "date")) &&
              (found.time_type = import_attr(datetime_module, "time")) &&
              (timezone = import_attr(datetime_module, "timezone")) && (found.utc = import_attr(timezone, "utc")) &&
              (datetime_again = import_attr(datetime_module, "datetime")) &&
              (found.anchor = PyObject_CallFunction(datetime_again, "iii", 1, 1, 1)) &&
              (found.uuid_type = import_attr(uuid_module, "UUID")) && (safe_uuid = import_attr(uuid_module, "SafeUUID")) &&
              (found.safe_uuid_unknown = import_attr(safe_uuid, "unknown")) &&
              (decimal_module = PyImport_ImportModule("decimal")) &&
              (found.decimal_type = import_attr(decimal_module, "Decimal"));
    Py_XDECREF(datetime_module);
    Py_XDECREF(uuid_module);
    Py_XDECREF(timezone);
    Py_XDECREF(safe_uuid);
    Py_XDECREF(decimal_module);
    Py_XDECREF(datetime_again);

    PyObject** fields = reinterpret_cast<PyObject**>(&found);
    constexpr int field_count = sizeof(BoundTypes) / sizeof(PyObject*);
    if (!ok) {
        for (int i = 0; i < field_count; ++i) Py_XDECREF(fields[i]);
        return nullptr;
    }
    auto* record = static_cast<BoundTypes*>(PyMem_Malloc(sizeof(BoundTypes)));
    if (record == nullptr) {
        for (int i = 0; i < field_count; ++i) Py_DECREF(fields[i]);
        return PyErr_NoMemory();
    }
    *record = found;
    BoundTypes* expected = nullptr;
    if (!module_state.bound_types.compare_exchange_strong(expected, record, std::memory_order_acq_rel)) {
        for (int i = 0; i < field_count; ++i) Py_DECREF(fields[i]);
        PyMem_Free(record);
        return Py_NewRef(Py_None);
    }
    prepare_value_conversion(*record);
    return Py_NewRef(Py_None);
}

bool set_class_attribute(PyTypeObject* cls, const char* name, PyObject* value) noexcept {
    if (value == nullptr) return false;
    // type.__setattr__ refuses every assignment to an immutable type, so the
    // value goes into the class's dict through the generic setter (a type's
    // attributes live in its __dict__ like any object's), and PyType_Modified
    // drops what the attribute cache held, as the C API asks after a change
    // made by hand. test_classes_are_immutable_and_keep_their_attributes
    // fails the day either stops holding.
    PyObject* key = PyUnicode_InternFromString(name);
    const int failed = key != nullptr ? PyObject_GenericSetAttr(reinterpret_cast<PyObject*>(cls), key, value) : -1;
    Py_XDECREF(key);
    Py_DECREF(value);
    if (failed) return false;
    PyType_Modified(cls);
    return true;
}

}  // namespace quillmere::python

PyMODINIT_FUNC PyInit__native(void) {
    using namespace quillmere::python;
    PyInterpreterState* interpreter = PyInterpreterState_Get();
    if (interpreter == nullptr) return nullptr;
    const std::int64_t id = PyInterpreterState_GetID(interpreter);
    if (id < 0) return nullptr;
    std::int64_t expected = -1;
    if (!module_state.owning_interpreter.compare_exchange_strong(expected, id) && expected != id) {
        PyErr_SetString(PyExc_ImportError,
                        "quillmere._native does not support sub-interpreters; import it in the main interpreter only");
        return nullptr;
    }
    if (module_state.module_object != nullptr) return Py_NewRef(module_state.module_object);
    PyObject* module = build_module();
    if (module == nullptr) return nullptr;
    module_state.module_object = Py_NewRef(module);
    return module;
}
