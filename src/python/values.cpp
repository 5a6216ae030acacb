// Core values as the standard Python objects callers expect, built quickly:
// dates and times through their compact state form, durations as a difference
// of two datetimes, UUIDs from their integer without running UUID.__init__.
#include "python/values.hpp"

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

// What a direct construction of one shape of arguments needs, looked up once.
struct KeptCall {
    PyTypeObject* cls;
    newfunc construct;
    PyObject* args;   // (argument,) or (state, tzinfo)
    PyObject* state;  // the bytes inside args, for a state call
    char* buffer;     // its contents
};

// Calls `type` with one positional bytes argument (its pickle state) and an
// optional tzinfo.
//
// The standard classes are static types whose construction is all in
// tp_new, which copies the state out of the bytes. So for them the call goes
// straight to tp_new with an argument tuple and a state object kept from the
// last call of the same shape, refilled in place: neither has ever been seen
// by anyone else (both are checked to be held by us alone), so no allocation
// is needed but the new object's. Anything else (a patched-in Python
// subclass, a tuple or state someone still holds) takes the ordinary call.
PyObject* from_state(PyObject* type, const unsigned char* state, Py_ssize_t size, PyObject* tzinfo = nullptr) {
    auto* cls = reinterpret_cast<PyTypeObject*>(type);
    // One kept call per shape: date (4), time (6), datetime (10), aware datetime (10 + tzinfo).
    static KeptCall kept[4] = {};
    KeptCall& k = kept[size == 4 ? 0 : size == 6 ? 1 : tzinfo == nullptr ? 2 : 3];
    if (k.cls != cls && (PyType_GetFlags(cls) & Py_TPFLAGS_HEAPTYPE) == 0) {
        PyObject* fresh = PyBytes_FromStringAndSize(nullptr, size);
        PyObject* args = fresh ? (tzinfo ? PyTuple_Pack(2, fresh, tzinfo) : PyTuple_Pack(1, fresh)) : nullptr;
        if (args == nullptr) {
            Py_XDECREF(fresh);
            return nullptr;
        }
        Py_XDECREF(k.args);
        k = KeptCall{cls, reinterpret_cast<newfunc>(PyType_GetSlot(cls, Py_tp_new)), args, fresh,
                     PyBytes_AsString(fresh)};
        Py_DECREF(fresh);  // args holds it
    }
    if (k.cls == cls && Py_REFCNT(k.args) == 1 && Py_REFCNT(k.state) == 1 &&
        (tzinfo == nullptr || PyTuple_GetItem(k.args, 1) == tzinfo)) {
        std::memcpy(k.buffer, state, static_cast<std::size_t>(size));
        return k.construct(cls, k.args, nullptr);
    }
    PyObject* bytes = PyBytes_FromStringAndSize(reinterpret_cast<const char*>(state), size);
    if (bytes == nullptr) return nullptr;
    PyObject* result = PyObject_CallFunctionObjArgs(type, bytes, tzinfo, nullptr);
    Py_DECREF(bytes);
    return result;
}

// For a year the state form cannot hold, the class's own range check raises.
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
    unsigned char state[10];
    put_date(state, year, month, day);
    put_clock(state + 4, c);
    return from_state(types->datetime_type, state, sizeof state, tzinfo);
}

PyObject* interned(const char* text, PyObject*& cache) {
    if (cache == nullptr) cache = PyUnicode_InternFromString(text);
    return cache;
}

}  // namespace

PyObject* to_python(const core::ExactDecimal& v, const TextArg* source) {
    const BoundTypes* types = bound_types();
    if (types == nullptr) return nullptr;
    char text[core::DECIMAL_TEXT_BUFFER];
    const std::size_t length = core::format_decimal(v, text);
    if (length > sizeof text) {
        PyErr_SetString(PyExc_ValueError, "quillmere: decimal text overflowed its buffer");
        return nullptr;
    }
    // Most column text is already canonical ("12.5", "-3"): the caller's own
    // str (an exact str, so no subclass reaches the class) then is the text.
    PyObject* str;
    if (source != nullptr && source->is_str && PyUnicode_CheckExact(source->object) &&
        static_cast<std::size_t>(source->size) == length &&
        std::memcmp(source->data, text, length) == 0) {
        str = Py_NewRef(source->object);
    } else {
        // The decoder is the UTF-8 guard: it reads the text once, where a
        // check of its own would read it again.
        str = PyUnicode_FromStringAndSize(text, static_cast<Py_ssize_t>(length));
    }
    if (str == nullptr) {
        if (PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) {
            PyErr_Clear();
            PyErr_SetString(PyExc_ValueError, "quillmere: decimal text was not UTF-8");
        }
        return nullptr;
    }
    // As for dates: a static Decimal class is built through its tp_new with a
    // kept one-element tuple, which skips the generic call machinery.
    auto* cls = reinterpret_cast<PyTypeObject*>(types->decimal_type);
    static KeptCall kept{};
    if (kept.cls != cls && (PyType_GetFlags(cls) & Py_TPFLAGS_HEAPTYPE) == 0) {
        PyObject* args = PyTuple_New(1);
        if (args == nullptr) {
            Py_DECREF(str);
            return nullptr;
        }
        Py_XDECREF(kept.args);
        kept = KeptCall{cls, reinterpret_cast<newfunc>(PyType_GetSlot(cls, Py_tp_new)), args, nullptr, nullptr};
    }
    if (kept.cls == cls && Py_REFCNT(kept.args) == 1) {
        PyTuple_SetItem(kept.args, 0, str);  // steals str and releases the previous text
        return kept.construct(cls, kept.args, nullptr);
    }
    PyObject* result = PyObject_CallFunctionObjArgs(types->decimal_type, str, nullptr);
    Py_DECREF(str);
    return result;
}

PyObject* to_python(const core::Uuid& v) {
    const BoundTypes* types = bound_types();
    if (types == nullptr) return nullptr;
    static PyObject* int_name = nullptr;
    static PyObject* is_safe_name = nullptr;
    if (interned("int", int_name) == nullptr || interned("is_safe", is_safe_name) == nullptr) return nullptr;

    static constexpr char hex_digits[] = "0123456789abcdef";
    char hex[33];
    for (int i = 0; i < 16; ++i) {
        hex[2 * i] = hex_digits[v.bytes[i] >> 4];
        hex[2 * i + 1] = hex_digits[v.bytes[i] & 0xF];
    }
    hex[32] = '\0';
    PyObject* number = PyLong_FromString(hex, nullptr, 16);
    if (number == nullptr) return nullptr;
    // UUID forbids assignment through its own __setattr__; object's setter
    // fills the slots directly, as unpickling does.
    PyObject* uuid = PyType_GenericAlloc(reinterpret_cast<PyTypeObject*>(types->uuid_type), 0);
    if (uuid == nullptr || PyObject_GenericSetAttr(uuid, int_name, number) < 0 ||
        PyObject_GenericSetAttr(uuid, is_safe_name, types->safe_uuid_unknown) < 0) {
        Py_XDECREF(uuid);
        uuid = nullptr;
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
    unsigned char state[4];
    put_date(state, v.year, v.month, v.day);
    return from_state(types->date_type, state, sizeof state);
}

PyObject* to_python(const core::TimeOfDay& v) {
    const BoundTypes* types = bound_types();
    if (types == nullptr) return nullptr;
    unsigned char state[6];
    put_clock(state, clock_of(v.nanos));
    return from_state(types->time_type, state, sizeof state);
}

PyObject* to_python(const core::CivilDateTime& v) {
    const BoundTypes* types = bound_types();
    if (types == nullptr) return nullptr;
    return datetime_from_fields(types, v.date.year, v.date.month, v.date.day, clock_of(v.time.nanos), nullptr);
}

PyObject* to_python(const core::Instant& v) {
    const BoundTypes* types = bound_types();
    if (types == nullptr) return nullptr;
    const std::int64_t days = core::detail::floor_div(v.seconds, 86400);
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
    const std::int64_t days = core::detail::floor_div(v.seconds, 86400);
    return via_datetime_module("timedelta", "(LLL)", nullptr, static_cast<long long>(days),
                               static_cast<long long>(v.seconds - days * 86400), static_cast<long long>(v.nanos / 1000));
}

}  // namespace quillmere::python
