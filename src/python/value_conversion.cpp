// Core values as the standard Python objects callers expect, built quickly:
// dates and times through their compact form (the bytes they pickle as),
// durations as a difference of two datetimes, UUIDs from their integer
// without running UUID.__init__, and the kept calls of module_state.hpp.
#include "python/value_conversion.hpp"

#include <cstdarg>
#include <cstring>

#include "core/civil.hpp"
#include "core/decimal.hpp"

namespace quillmere::python {

namespace {

// Seconds from 0001-01-01T00:00:00 to 9999-12-31T23:59:59: the widest span a
// naive datetime difference can express.
constexpr std::int64_t MAX_ANCHORED_SECONDS = 315'537'897'599;
constexpr std::int64_t DAY_OF_YEAR_ONE = core::days_from_civil(1, 1, 1);

struct ClockFields {
    unsigned hour, minute, second, microsecond;
};

ClockFields clock_of(std::uint64_t nanos_of_day) {
    const std::uint64_t seconds = nanos_of_day / core::NANOS_PER_SECOND;
    return ClockFields{static_cast<unsigned>(seconds / 3600), static_cast<unsigned>((seconds % 3600) / 60),
                       static_cast<unsigned>(seconds % 60),
                       static_cast<unsigned>((nanos_of_day % core::NANOS_PER_SECOND) / 1000)};
}

void put_clock(unsigned char* out, const ClockFields& c) {
    out[0] = static_cast<unsigned char>(c.hour);
    out[1] = static_cast<unsigned char>(c.minute);
    out[2] = static_cast<unsigned char>(c.second);
    out[3] = static_cast<unsigned char>(c.microsecond >> 16);
    out[4] = static_cast<unsigned char>((c.microsecond >> 8) & 0xFF);
    out[5] = static_cast<unsigned char>(c.microsecond & 0xFF);
}

void put_date(unsigned char* out, std::int64_t year, unsigned month, unsigned day) {
    out[0] = static_cast<unsigned char>(year >> 8);
    out[1] = static_cast<unsigned char>(year & 0xFF);
    out[2] = static_cast<unsigned char>(month);
    out[3] = static_cast<unsigned char>(day);
}

// The constructor of `cls` when calling the class does nothing but run it:
// the metaclass is type (so the call is type.__call__), __init__ is object's
// (so nothing runs after __new__), and __new__ is the class's own C
// constructor, not Python code. Then cls->tp_new(cls, args, NULL) is exactly
// cls(*args), whatever the class; anything else (a mock, a Python subclass)
// gives null. The standard classes qualify
// (test_standard_classes_are_built_by_their_own_constructor_alone).
newfunc own_constructor(PyObject* cls) {
    if (!PyType_Check(cls) || Py_TYPE(cls) != &PyType_Type) return nullptr;
    auto* type = reinterpret_cast<PyTypeObject*>(cls);
    if (PyType_GetSlot(type, Py_tp_init) != PyType_GetSlot(&PyBaseObject_Type, Py_tp_init)) return nullptr;
    PyObject* own = PyObject_GetAttrString(cls, "__dict__");
    PyObject* own_new = own != nullptr ? PyMapping_GetItemString(own, "__new__") : nullptr;
    const bool c_constructor = own_new != nullptr && PyCFunction_Check(own_new);
    Py_XDECREF(own_new);
    Py_XDECREF(own);
    PyErr_Clear();
    return c_constructor ? reinterpret_cast<newfunc>(PyType_GetSlot(type, Py_tp_new)) : nullptr;
}

// Prepares `kept` to call `cls` with `args` (consumed), whose compact-form
// bytes, if any, are `compact` (borrowed from args).
void prepare(KeptCall& kept, PyObject* cls, PyObject* args, PyObject* compact) {
    const newfunc construct = args != nullptr ? own_constructor(cls) : nullptr;
    if (construct == nullptr) {
        Py_XDECREF(args);
        PyErr_Clear();  // left to the ordinary call
        return;
    }
    kept = KeptCall{reinterpret_cast<PyTypeObject*>(cls), construct, args, compact,
                    compact != nullptr ? PyBytes_AsString(compact) : nullptr, false};
}

void prepare_compact_call(KeptCall& kept, PyObject* cls, Py_ssize_t size, PyObject* tzinfo) {
    PyObject* compact = PyBytes_FromStringAndSize(nullptr, size);
    if (compact == nullptr) return PyErr_Clear();
    PyObject* args = tzinfo ? PyTuple_Pack(2, compact, tzinfo) : PyTuple_Pack(1, compact);
    Py_DECREF(compact);  // args holds it
    prepare(kept, cls, args, compact);
}

// Drops a kept call whose constructor kept a reference to its arguments: they
// are no longer ours alone to refill.
void retire_if_kept_elsewhere(KeptCall& kept) {
    if (Py_REFCNT(kept.args) == 1 && (kept.compact == nullptr || Py_REFCNT(kept.compact) == 1)) return;
    Py_CLEAR(kept.args);
    kept.construct = nullptr;
}

// Calls `kept` with its arguments as they stand. The call holds its own
// reference to them and marks the kept call busy, so a call entered meanwhile
// neither refills nor releases them (test_kept_calls_are_not_refilled_while_in_use).
// Inlined into each conversion: as a call of its own it cost the decimal cast
// about 5%.
[[gnu::always_inline]] inline PyObject* call_kept(KeptCall& kept) {
    kept.busy = true;
    PyObject* args = Py_NewRef(kept.args);
    PyObject* result = kept.construct(kept.cls, args, nullptr);
    Py_DECREF(args);
    kept.busy = false;
    retire_if_kept_elsewhere(kept);
    return result;
}

// Calls `type` with its compact form (the bytes it pickles as) and an
// optional tzinfo.
//
// The kept call refills one bytes object in place, which bytes being
// immutable is outside the contract: it relies on the date classes reading
// their compact form in tp_new and copying the bytes out rather than keeping
// them (test_date_classes_read_their_compact_form_without_keeping_it). The
// object has never been seen by anyone else, so nothing, not even a cached
// hash, depends on its old contents.
PyObject* from_compact_form(KeptCall& kept, PyObject* type, const unsigned char* compact, Py_ssize_t size,
                            PyObject* tzinfo = nullptr) {
    if (kept.construct != nullptr && !kept.busy) {
        std::memcpy(kept.buffer, compact, static_cast<std::size_t>(size));
        return call_kept(kept);
    }
    PyObject* bytes = PyBytes_FromStringAndSize(reinterpret_cast<const char*>(compact), size);
    if (bytes == nullptr) return nullptr;
    PyObject* result = PyObject_CallFunctionObjArgs(type, bytes, tzinfo, nullptr);
    Py_DECREF(bytes);
    return result;
}

// Calls `type` with one str argument (consumed).
//
// The kept call puts the text into a tuple the constructor has already seen,
// which PyTuple_SetItem, meant for filling new tuples, accepts while the
// tuple's only reference is ours; should it ever refuse, the cast raises its
// SystemError (as every test of cast_decimal would show) rather than read a
// stale text.
PyObject* from_text(KeptCall& kept, PyObject* type, PyObject* text) {
    if (kept.construct != nullptr && !kept.busy) {
        // Releases the previous text, an exact str whose deallocation runs no
        // Python code; the call holds a reference of its own to this one.
        if (PyTuple_SetItem(kept.args, 0, Py_NewRef(text)) < 0) {
            Py_DECREF(text);
            return nullptr;
        }
        PyObject* result = call_kept(kept);
        Py_DECREF(text);
        return result;
    }
    PyObject* result = PyObject_CallFunctionObjArgs(type, text, nullptr);
    Py_DECREF(text);
    return result;
}

// The standard UUID's layout: a plain class over object whose instances hold
// nothing but slots, "int" and "is_safe" among them. An instance is then
// complete once those two are set, which is how a UUID is built without
// running UUID.__init__ (test_uuid_is_complete_once_its_two_slots_are_set);
// a class of any other layout takes the ordinary call.
bool has_uuid_layout(PyObject* cls) {
    if (!PyType_Check(cls) || Py_TYPE(cls) != &PyType_Type) return false;
    PyObject* bases = PyObject_GetAttrString(cls, "__bases__");
    PyObject* dict_offset = PyObject_GetAttrString(cls, "__dictoffset__");
    PyObject* own = PyObject_GetAttrString(cls, "__dict__");
    PyObject* slots = own != nullptr ? PyMapping_GetItemString(own, "__slots__") : nullptr;
    PyObject* int_name = PyUnicode_FromString("int");
    PyObject* is_safe_name = PyUnicode_FromString("is_safe");
    const bool standard = bases != nullptr && PyTuple_Check(bases) && PyTuple_Size(bases) == 1 &&
                          PyTuple_GetItem(bases, 0) == reinterpret_cast<PyObject*>(&PyBaseObject_Type) &&
                          dict_offset != nullptr && PyLong_Check(dict_offset) && PyLong_AsLong(dict_offset) == 0 &&
                          slots != nullptr && PyTuple_Check(slots) && int_name != nullptr && is_safe_name != nullptr &&
                          PySequence_Contains(slots, int_name) == 1 && PySequence_Contains(slots, is_safe_name) == 1;
    Py_XDECREF(bases);
    Py_XDECREF(dict_offset);
    Py_XDECREF(own);
    Py_XDECREF(slots);
    Py_XDECREF(int_name);
    Py_XDECREF(is_safe_name);
    PyErr_Clear();
    return standard;
}

// For a year the compact form cannot hold, the class's own range check raises.
PyObject* via_datetime_module(const char* class_name, const char* format, PyObject* kwargs, ...) {
    PyObject* module = PyImport_ImportModule("datetime");
    if (module == nullptr) return nullptr;
    PyObject* cls = PyObject_GetAttrString(module, class_name);
    Py_DECREF(module);
    if (cls == nullptr) return nullptr;
    va_list va;
    va_start(va, kwargs);
    PyObject* args = Py_VaBuildValue(format, va);
    va_end(va);
    PyObject* result = args ? PyObject_Call(cls, args, kwargs) : nullptr;
    Py_XDECREF(args);
    Py_DECREF(cls);
    return result;
}

PyObject* datetime_from_fields(const BoundTypes* types, std::int64_t year, unsigned month, unsigned day,
                               const ClockFields& c, PyObject* tzinfo) {
    if (year < 1 || year > 9999) {
        PyObject* kwargs = tzinfo ? Py_BuildValue("{sO}", "tzinfo", tzinfo) : nullptr;
        if (tzinfo && kwargs == nullptr) return nullptr;
        PyObject* result = via_datetime_module("datetime", "(LIIIIII)", kwargs, static_cast<long long>(year), month,
                                               day, c.hour, c.minute, c.second, c.microsecond);
        Py_XDECREF(kwargs);
        return result;
    }
    unsigned char compact[10];
    put_date(compact, year, month, day);
    put_clock(compact + 4, c);
    KeptCall& kept = tzinfo != nullptr ? module_state.kept.utc_datetime : module_state.kept.datetime;
    return from_compact_form(kept, types->datetime_type, compact, sizeof compact, tzinfo);
}

}  // namespace

void prepare_value_conversion(const BoundTypes& types) noexcept {
    auto& kept = module_state.kept;
    prepare_compact_call(kept.date, types.date_type, 4, nullptr);
    prepare_compact_call(kept.time, types.time_type, 6, nullptr);
    prepare_compact_call(kept.datetime, types.datetime_type, 10, nullptr);
    prepare_compact_call(kept.utc_datetime, types.datetime_type, 10, types.utc);
    PyObject* decimal_args = PyTuple_Pack(1, Py_None);
    prepare(kept.decimal, types.decimal_type, decimal_args, nullptr);
    module_state.uuid_int_name = PyUnicode_InternFromString("int");
    module_state.uuid_is_safe_name = PyUnicode_InternFromString("is_safe");
    module_state.uuid_direct = module_state.uuid_int_name != nullptr && module_state.uuid_is_safe_name != nullptr &&
                               has_uuid_layout(types.uuid_type);
    PyErr_Clear();
}

PyObject* to_python(const core::ExactDecimal& v, const TextArg* source) {
    const BoundTypes* types = bound_types();
    if (types == nullptr) return nullptr;
    char canonical[core::DECIMAL_TEXT_BUFFER];
    const std::size_t length = core::format_decimal(v, canonical);
    if (length > sizeof canonical) {
        PyErr_SetString(PyExc_ValueError, "quillmere: decimal text overflowed its buffer");
        return nullptr;
    }
    // Most column text is already canonical ("12.5", "-3"): the caller's own
    // str (an exact str, so no subclass reaches the class) then is the text.
    PyObject* str;
    if (source != nullptr && source->is_str && PyUnicode_CheckExact(source->object) &&
        static_cast<std::size_t>(source->size) == length &&
        std::memcmp(source->data, canonical, length) == 0) {
        str = Py_NewRef(source->object);
    } else {
        // The decoder is the UTF-8 guard: it reads the text once, where a
        // check of its own would read it again.
        str = PyUnicode_FromStringAndSize(canonical, static_cast<Py_ssize_t>(length));
    }
    if (str == nullptr) {
        if (PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) {
            PyErr_Clear();
            PyErr_SetString(PyExc_ValueError, "quillmere: decimal text was not UTF-8");
        }
        return nullptr;
    }
    return from_text(module_state.kept.decimal, types->decimal_type, str);
}

PyObject* to_python(const core::Uuid& v) {
    const BoundTypes* types = bound_types();
    if (types == nullptr) return nullptr;
    static constexpr char hex_digits[] = "0123456789abcdef";
    char hex[33];
    for (int i = 0; i < 16; ++i) {
        hex[2 * i] = hex_digits[v.bytes[i] >> 4];
        hex[2 * i + 1] = hex_digits[v.bytes[i] & 0xF];
    }
    hex[32] = '\0';
    PyObject* number = PyLong_FromString(hex, nullptr, 16);
    if (number == nullptr) return nullptr;
    PyObject* uuid;
    if (module_state.uuid_direct) {
        // UUID forbids assignment through its own __setattr__; object's setter
        // fills the slots directly, as unpickling does.
        uuid = PyType_GenericAlloc(reinterpret_cast<PyTypeObject*>(types->uuid_type), 0);
        if (uuid != nullptr && (PyObject_GenericSetAttr(uuid, module_state.uuid_int_name, number) < 0 ||
                                PyObject_GenericSetAttr(uuid, module_state.uuid_is_safe_name,
                                                        types->safe_uuid_unknown) < 0)) {
            Py_CLEAR(uuid);
        }
    } else {
        PyObject* no_args = PyTuple_New(0);
        PyObject* kwargs = no_args != nullptr ? Py_BuildValue("{sO}", "int", number) : nullptr;
        uuid = kwargs != nullptr ? PyObject_Call(types->uuid_type, no_args, kwargs) : nullptr;
        Py_XDECREF(kwargs);
        Py_XDECREF(no_args);
    }
    Py_DECREF(number);
    return uuid;
}

PyObject* to_python(const core::CivilDate& v) {
    const BoundTypes* types = bound_types();
    if (types == nullptr) return nullptr;
    if (v.year < 1 || v.year > 9999) {
        return via_datetime_module("date", "(III)", nullptr, unsigned{v.year}, unsigned{v.month}, unsigned{v.day});
    }
    unsigned char compact[4];
    put_date(compact, v.year, v.month, v.day);
    return from_compact_form(module_state.kept.date, types->date_type, compact, sizeof compact);
}

PyObject* to_python(const core::TimeOfDay& v) {
    const BoundTypes* types = bound_types();
    if (types == nullptr) return nullptr;
    unsigned char compact[6];
    put_clock(compact, clock_of(v.nanos));
    return from_compact_form(module_state.kept.time, types->time_type, compact, sizeof compact);
}

PyObject* to_python(const core::CivilDateTime& v) {
    const BoundTypes* types = bound_types();
    if (types == nullptr) return nullptr;
    return datetime_from_fields(types, v.date.year, v.date.month, v.date.day, clock_of(v.time.nanos), nullptr);
}

PyObject* to_python(const core::Instant& v) {
    const BoundTypes* types = bound_types();
    if (types == nullptr) return nullptr;
    const std::int64_t days = core::floor_div(v.seconds, 86400);
    const std::int64_t second_of_day = v.seconds - days * 86400;
    const core::CivilFields date = core::civil_from_days(days);
    const ClockFields clock{static_cast<unsigned>(second_of_day / 3600), static_cast<unsigned>(second_of_day % 3600 / 60),
                            static_cast<unsigned>(second_of_day % 60), v.nanos / 1000};
    return datetime_from_fields(types, date.year, date.month, date.day, clock, types->utc);
}

PyObject* to_python(const core::SignedDuration& v) {
    const BoundTypes* types = bound_types();
    if (types == nullptr) return nullptr;
    const bool negative = v.seconds < 0 || v.nanos < 0;
    const std::int64_t seconds = v.seconds < 0 ? -v.seconds : v.seconds;
    const std::int64_t nanos = v.nanos < 0 ? -std::int64_t{v.nanos} : v.nanos;
    if (seconds <= MAX_ANCHORED_SECONDS) {
        // The common case: one constructor call and one subtraction.
        const core::CivilFields date = core::civil_from_days(DAY_OF_YEAR_ONE + seconds / 86400);
        const std::int64_t second_of_day = seconds % 86400;
        const ClockFields clock{static_cast<unsigned>(second_of_day / 3600),
                                static_cast<unsigned>(second_of_day % 3600 / 60),
                                static_cast<unsigned>(second_of_day % 60), static_cast<unsigned>(nanos / 1000)};
        PyObject* moment = datetime_from_fields(types, date.year, date.month, date.day, clock, nullptr);
        if (moment == nullptr) return nullptr;
        PyObject* result = negative ? PyNumber_Subtract(types->anchor, moment) : PyNumber_Subtract(moment, types->anchor);
        Py_DECREF(moment);
        return result;
    }
    const std::int64_t days = core::floor_div(v.seconds, 86400);
    return via_datetime_module("timedelta", "(LLL)", nullptr, static_cast<long long>(days),
                               static_cast<long long>(v.seconds - days * 86400), static_cast<long long>(v.nanos / 1000));
}

}  // namespace quillmere::python
