// The cast functions: each converts its arguments, hands the core the bytes
// and the notation, and turns the verdict into a Success or a Fault.
#include "core/casts.hpp"
#include "python/module.hpp"
#include "python/value_conversion.hpp"

#include <type_traits>

namespace quillmere::python {

namespace {

// The Success or Fault of a core verdict; `text` is the input of a text cast.
template <class T>
PyObject* verdict_object(const core::Verdict<T>& verdict, const TextArg* text) {
    if (!verdict.ok()) return new_fault_from(static_cast<std::uint8_t>(verdict.status), verdict.span, text);
    if constexpr (std::is_same_v<T, core::ExactDecimal>) {
        return new_success(to_python(verdict.value, text));
    } else {
        return new_success(to_python(verdict.value));
    }
}

const core::NumFormat* format_argument(PyObject* obj) {
    const core::NumFormat* format = num_format_of(obj);
    if (format == nullptr) {
        raise_must_be("argument 'fmt'", "NumFormat", obj);
    }
    return format;
}

// An enumeration argument: any integer in range stands for the member with that value.
bool notation_argument(PyObject* obj, const char* argument, bool (*valid)(std::uint32_t) noexcept,
                       const char* message, std::uint32_t& out) {
    if (!to_u32(obj, argument, out)) return false;
    if (!valid(out)) {
        PyErr_SetString(PyExc_ValueError, message);
        return false;
    }
    return true;
}

bool order_argument(PyObject* obj, std::uint32_t& out) {
    return notation_argument(obj, "order", core::is_valid_date_order, "order must be a DateOrder", out);
}
bool precision_argument(PyObject* obj, std::uint32_t& out) {
    return notation_argument(obj, "precision", core::is_valid_unix_precision, "precision must be a UnixPrecision", out);
}
bool epoch_argument(PyObject* obj, std::uint32_t& out) {
    return notation_argument(obj, "epoch", core::is_valid_excel_epoch, "epoch must be an ExcelEpoch", out);
}

bool value_argument(PyObject* obj, double& out) { return to_double(obj, "value", out); }

// The result of a call whose text has no bytes to cast: a str with no UTF-8
// form is MALFORMED at its first lone surrogate (a span already in code
// points); a failed load has raised.
[[gnu::cold]] PyObject* unread_text(TextLoad loaded, const TextArg& text) {
    if (loaded != TextLoad::NO_UTF8) return nullptr;
    return new_fault(core::FaultReason::MALFORMED, static_cast<std::uint64_t>(text.first_surrogate), 1);
}

std::size_t size_of(const TextArg& text) { return static_cast<std::size_t>(text.size); }

const char* const text_names[] = {"text"};
const char* const text_fmt_names[] = {"text", "fmt"};
const char* const text_order_names[] = {"text", "order"};
const char* const text_precision_names[] = {"text", "precision"};
const char* const text_epoch_names[] = {"text", "epoch"};
const char* const value_names[] = {"value"};
const char* const value_epoch_names[] = {"value", "epoch"};

// cast_x(text)
template <auto Cast>
PyObject* text_cast(const char* name, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* arg;
    TextArg text;
    if (!bind_arguments(Signature{name, text_names, 1, 1}, args, nargs, kwnames, &arg) || !classify_text(arg, text)) {
        return nullptr;
    }
    const TextLoad loaded = load_text(text);
    if (loaded != TextLoad::READ) return unread_text(loaded, text);
    return verdict_object(Cast(text.data, size_of(text)), &text);
}

// cast_x(text, fmt)
template <auto Cast>
PyObject* numeric_cast(const char* name, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* argv[2];
    TextArg text;
    if (!bind_arguments(Signature{name, text_fmt_names, 2, 2}, args, nargs, kwnames, argv) ||
        !classify_text(argv[0], text)) {
        return nullptr;
    }
    const core::NumFormat* format = format_argument(argv[1]);
    if (format == nullptr) return nullptr;
    const TextLoad loaded = load_text(text);
    if (loaded != TextLoad::READ) return unread_text(loaded, text);
    return verdict_object(Cast(text.data, size_of(text), *format), &text);
}

// cast_x(text, notation)
template <auto Cast, class Notation>
PyObject* notation_cast(const char* name, const char* const* names, bool (*convert)(PyObject*, std::uint32_t&),
                        PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* argv[2];
    TextArg text;
    std::uint32_t notation;
    if (!bind_arguments(Signature{name, names, 2, 2}, args, nargs, kwnames, argv) || !classify_text(argv[0], text) ||
        !convert(argv[1], notation)) {
        return nullptr;
    }
    const TextLoad loaded = load_text(text);
    if (loaded != TextLoad::READ) return unread_text(loaded, text);
    return verdict_object(Cast(text.data, size_of(text), Notation{notation}), &text);
}

// cast_x(value)
template <auto Cast>
PyObject* double_cast(const char* name, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* arg;
    double value;
    if (!bind_arguments(Signature{name, value_names, 1, 1}, args, nargs, kwnames, &arg) || !value_argument(arg, value)) {
        return nullptr;
    }
    return verdict_object(Cast(value), nullptr);
}

using Args = PyObject* const*;

#define QUILLMERE_TEXT_CAST(name) \
    PyObject* py_##name(PyObject*, Args a, Py_ssize_t n, PyObject* k) { return text_cast<core::name>(#name, a, n, k); }
#define QUILLMERE_NUMERIC_CAST(name) \
    PyObject* py_##name(PyObject*, Args a, Py_ssize_t n, PyObject* k) { return numeric_cast<core::name>(#name, a, n, k); }

QUILLMERE_TEXT_CAST(cast_bool)
QUILLMERE_TEXT_CAST(cast_char)
QUILLMERE_NUMERIC_CAST(cast_i8)
QUILLMERE_NUMERIC_CAST(cast_i16)
QUILLMERE_NUMERIC_CAST(cast_i32)
QUILLMERE_NUMERIC_CAST(cast_i64)
QUILLMERE_NUMERIC_CAST(cast_u8)
QUILLMERE_NUMERIC_CAST(cast_u16)
QUILLMERE_NUMERIC_CAST(cast_u32)
QUILLMERE_NUMERIC_CAST(cast_u64)
QUILLMERE_NUMERIC_CAST(cast_f32)
QUILLMERE_NUMERIC_CAST(cast_f64)
QUILLMERE_NUMERIC_CAST(cast_decimal)
QUILLMERE_TEXT_CAST(cast_uuid)
QUILLMERE_TEXT_CAST(cast_timestamp)
QUILLMERE_TEXT_CAST(cast_time)
QUILLMERE_TEXT_CAST(cast_duration)

#undef QUILLMERE_TEXT_CAST
#undef QUILLMERE_NUMERIC_CAST

PyObject* py_cast_unix(PyObject*, Args a, Py_ssize_t n, PyObject* k) {
    return notation_cast<core::cast_unix, core::UnixPrecision>("cast_unix", text_precision_names, precision_argument, a,
                                                                n, k);
}

PyObject* py_cast_excel_serial(PyObject*, Args a, Py_ssize_t n, PyObject* k) {
    return notation_cast<core::cast_excel_serial, core::ExcelEpoch>("cast_excel_serial", text_epoch_names,
                                                                    epoch_argument, a, n, k);
}

PyObject* py_cast_datetime(PyObject*, Args a, Py_ssize_t n, PyObject* k) {
    return notation_cast<core::cast_datetime, core::DateOrder>("cast_datetime", text_order_names, order_argument, a, n,
                                                               k);
}

// cast_date(text, order=None): the strict ISO form without an order.
PyObject* py_cast_date(PyObject*, Args args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* argv[2];
    TextArg text;
    if (!bind_arguments(Signature{"cast_date", text_order_names, 2, 1}, args, nargs, kwnames, argv) ||
        !classify_text(argv[0], text)) {
        return nullptr;
    }
    const bool iso = argv[1] == nullptr || argv[1] == Py_None;
    std::uint32_t order = 0;
    if (!iso && !order_argument(argv[1], order)) return nullptr;
    const TextLoad loaded = load_text(text);
    if (loaded != TextLoad::READ) return unread_text(loaded, text);
    if (iso) return verdict_object(core::cast_date(text.data, size_of(text)), &text);
    return verdict_object(core::cast_date_ordered(text.data, size_of(text), core::DateOrder{order}), &text);
}

PyObject* py_cast_decimal_from_float(PyObject*, Args a, Py_ssize_t n, PyObject* k) {
    return double_cast<core::decimal_from_double>("cast_decimal_from_float", a, n, k);
}
PyObject* py_cast_excel_time(PyObject*, Args a, Py_ssize_t n, PyObject* k) {
    return double_cast<core::cast_excel_time>("cast_excel_time", a, n, k);
}
PyObject* py_cast_excel_duration(PyObject*, Args a, Py_ssize_t n, PyObject* k) {
    return double_cast<core::cast_excel_duration>("cast_excel_duration", a, n, k);
}

PyObject* py_cast_excel_serial_from_float(PyObject*, Args args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* argv[2];
    double value;
    std::uint32_t epoch;
    if (!bind_arguments(Signature{"cast_excel_serial_from_float", value_epoch_names, 2, 2}, args, nargs, kwnames, argv) ||
        !value_argument(argv[0], value) || !epoch_argument(argv[1], epoch)) {
        return nullptr;
    }
    return verdict_object(core::cast_excel_serial_from_f64(core::ExcelEpoch{epoch}, value), nullptr);
}

constexpr int FASTCALL = METH_FASTCALL | METH_KEYWORDS;

template <PyObject* (*F)(PyObject*, Args, Py_ssize_t, PyObject*)>
PyCFunction as_cfunction() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(F));
}

}  // namespace

#define QUILLMERE_SIG(sig, text) sig "\n--\n\n" text
#define QUILLMERE_INTEGER_DOC(name, kind, bits) \
    QUILLMERE_SIG(#name "(text, fmt)", "Casts integer text to " kind " " bits " value under the declared format.")

PyMethodDef cast_methods[] = {
    {"cast_bool", as_cfunction<py_cast_bool>(), FASTCALL,
     QUILLMERE_SIG("cast_bool(text)", "Casts boolean text under the natural-language lexicon.")},
    {"cast_char", as_cfunction<py_cast_char>(), FASTCALL,
     QUILLMERE_SIG("cast_char(text)",
                   "Casts one character \u2014 the text verbatim when it is exactly one scalar, otherwise a declared\n"
                   "code point (``65``, ``U+0041``, ``0x41``, ``&H41``, ``&#65;``, ``&#x41;``) \u2014 to a\n"
                   "one-character ``str``. Past ``U+10FFFF`` or a surrogate is ``OUT_OF_RANGE``.")},
    {"cast_i8", as_cfunction<py_cast_i8>(), FASTCALL, QUILLMERE_INTEGER_DOC(cast_i8, "a signed", "8-bit")},
    {"cast_i16", as_cfunction<py_cast_i16>(), FASTCALL, QUILLMERE_INTEGER_DOC(cast_i16, "a signed", "16-bit")},
    {"cast_i32", as_cfunction<py_cast_i32>(), FASTCALL, QUILLMERE_INTEGER_DOC(cast_i32, "a signed", "32-bit")},
    {"cast_i64", as_cfunction<py_cast_i64>(), FASTCALL, QUILLMERE_INTEGER_DOC(cast_i64, "a signed", "64-bit")},
    {"cast_u8", as_cfunction<py_cast_u8>(), FASTCALL, QUILLMERE_INTEGER_DOC(cast_u8, "an unsigned", "8-bit")},
    {"cast_u16", as_cfunction<py_cast_u16>(), FASTCALL, QUILLMERE_INTEGER_DOC(cast_u16, "an unsigned", "16-bit")},
    {"cast_u32", as_cfunction<py_cast_u32>(), FASTCALL, QUILLMERE_INTEGER_DOC(cast_u32, "an unsigned", "32-bit")},
    {"cast_u64", as_cfunction<py_cast_u64>(), FASTCALL,
     QUILLMERE_SIG("cast_u64(text, fmt)",
                   "Casts integer text to an unsigned 64-bit value \u2014 the true unsigned value, ``int``\n"
                   "being unbounded \u2014 under the declared format.")},
    {"cast_f32", as_cfunction<py_cast_f32>(), FASTCALL,
     QUILLMERE_SIG("cast_f32(text, fmt)",
                   "Casts real text to an IEEE single (widened losslessly) under the declared format.")},
    {"cast_f64", as_cfunction<py_cast_f64>(), FASTCALL,
     QUILLMERE_SIG("cast_f64(text, fmt)", "Casts real text to an IEEE double under the declared format.")},
    {"cast_decimal", as_cfunction<py_cast_decimal>(), FASTCALL,
     QUILLMERE_SIG("cast_decimal(text, fmt)",
                   "Casts decimal text under the declared format to an exact, canonical\n"
                   "``decimal.Decimal`` \u2014 trailing fraction zeros trimmed, so ``\"1.10\"`` is "
                   "``Decimal('1.1')``;\nnever rounded.")},
    {"cast_uuid", as_cfunction<py_cast_uuid>(), FASTCALL,
     QUILLMERE_SIG("cast_uuid(text)",
                   "Casts UUID text \u2014 every .NET ``Guid`` form plus ``urn:uuid:``-style prefixes \u2014 to a\n"
                   "``uuid.UUID``.")},
    {"cast_timestamp", as_cfunction<py_cast_timestamp>(), FASTCALL,
     QUILLMERE_SIG("cast_timestamp(text)",
                   "Casts an RFC 3339 instant to an aware UTC ``datetime`` (microsecond truncation).")},
    {"cast_unix", as_cfunction<py_cast_unix>(), FASTCALL,
     QUILLMERE_SIG("cast_unix(text, precision)",
                   "Casts an integer Unix-epoch value under the declared ``UnixPrecision``.")},
    {"cast_excel_serial", as_cfunction<py_cast_excel_serial>(), FASTCALL,
     QUILLMERE_SIG("cast_excel_serial(text, epoch)", "Casts an Excel date serial under the declared ``ExcelEpoch``.")},
    {"cast_date", as_cfunction<py_cast_date>(), FASTCALL,
     QUILLMERE_SIG("cast_date(text, order=None)",
                   "Casts a calendar date: strict ISO ``yyyy-MM-dd`` with no order, the separated forms\n"
                   "under a declared ``DateOrder``.")},
    {"cast_datetime", as_cfunction<py_cast_datetime>(), FASTCALL,
     QUILLMERE_SIG("cast_datetime(text, order)",
                   "Casts a zone-less civil date-time under a declared ``DateOrder`` to a naive\n``datetime``.")},
    {"cast_time", as_cfunction<py_cast_time>(), FASTCALL,
     QUILLMERE_SIG("cast_time(text)", "Casts an ISO 24-hour time-of-day to a ``time`` (microsecond truncation).")},
    {"cast_duration", as_cfunction<py_cast_duration>(), FASTCALL,
     QUILLMERE_SIG("cast_duration(text)",
                   "Casts a duration (ISO 8601, invariant colon form, or protobuf JSON seconds) to a\n"
                   "``timedelta`` (microsecond truncation toward zero).")},
    {"cast_decimal_from_float", as_cfunction<py_cast_decimal_from_float>(), FASTCALL,
     QUILLMERE_SIG("cast_decimal_from_float(value)",
                   "Reads a ``float`` as the exact ``decimal.Decimal`` it names: the shortest decimal that\n"
                   "rounds back to it, the digits a spreadsheet writes for it \u2014 ``0.1`` is\n"
                   "``Decimal('0.1')``, not the binary fraction ``Decimal(0.1)`` spells out. NaN is\n"
                   "``MALFORMED``; an infinity, past 96 bits or more than 28 places is ``OUT_OF_RANGE``.")},
    {"cast_excel_serial_from_float", as_cfunction<py_cast_excel_serial_from_float>(), FASTCALL,
     QUILLMERE_SIG("cast_excel_serial_from_float(value, epoch)",
                   "Reads an Excel serial ``float`` under the declared ``ExcelEpoch`` as the naive\n"
                   "``datetime`` it names \u2014 the twin of ``cast_excel_serial`` for a number a workbook reader\n"
                   "already holds. Zone-less, as the cell is.")},
    {"cast_excel_time", as_cfunction<py_cast_excel_time>(), FASTCALL,
     QUILLMERE_SIG("cast_excel_time(value)",
                   "Reads the fraction of an Excel serial ``float`` as a ``time`` of day (microsecond\ntruncation).")},
    {"cast_excel_duration", as_cfunction<py_cast_excel_duration>(), FASTCALL,
     QUILLMERE_SIG("cast_excel_duration(value)",
                   "Reads a ``float`` count of days as a ``timedelta`` (microsecond truncation toward zero).")},
    {nullptr, nullptr, 0, nullptr},
};

#undef QUILLMERE_SIG
#undef QUILLMERE_INTEGER_DOC

}  // namespace quillmere::python
