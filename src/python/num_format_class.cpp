// NumFormat: the Python face of the core's numeric format. Each instance
// holds the validated core record inline, so a cast reads it without conversion.
#include "python/module.hpp"

namespace quillmere::python {

namespace {

struct NumFormatObject {
    PyObject_HEAD
    core::NumFormat format;
};

void num_format_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_slot(self);
    Py_DECREF(type);
}

// Builds the record through the core's validating constructor and raises the
// interface errors it reports. `currency_text` is the symbol as the caller wrote it.
PyObject* build_instance(PyTypeObject* type, char32_t decimal_sep, char32_t group_sep, std::uint32_t flags,
                         PyObject* currency_text) {
    const char* symbol = "";
    Py_ssize_t symbol_len = 0;
    if (currency_text != nullptr) {
        symbol = PyUnicode_AsUTF8AndSize(currency_text, &symbol_len);
        if (symbol == nullptr) return nullptr;
    }
    // A symbol too long to hold fails as invalid, after the separators are checked.
    const std::size_t stored_len = symbol_len > 255 ? 255 : static_cast<std::size_t>(symbol_len);
    const core::FormatResult built = core::make_num_format(
        decimal_sep, group_sep, flags, reinterpret_cast<const unsigned char*>(symbol), stored_len);
    switch (built.error) {
        case core::FormatError::NONE:
            break;
        case core::FormatError::INVALID_SEPARATOR:
            PyErr_SetString(PyExc_ValueError, "Separators must be Unicode scalar values");
            return nullptr;
        case core::FormatError::EQUAL_SEPARATORS: {
            PyObject* sep = PyUnicode_FromOrdinal(static_cast<int>(decimal_sep));
            if (sep == nullptr) return nullptr;
            PyErr_Format(PyExc_ValueError, "Decimal and group separators must differ; both are \"%U\"", sep);
            Py_DECREF(sep);
            return nullptr;
        }
        case core::FormatError::INVALID_CURRENCY:
            PyErr_Format(PyExc_ValueError,
                         "Currency symbol must be 1 to 16 UTF-8 bytes with no ASCII digit or whitespace; got \"%U\"",
                         currency_text);
            return nullptr;
    }
    auto* self = reinterpret_cast<NumFormatObject*>(PyType_GenericAlloc(type, 0));
    if (self == nullptr) return nullptr;
    self->format = built.format;
    return reinterpret_cast<PyObject*>(self);
}

bool require_str(PyObject* obj, const char* argument) {
    if (PyUnicode_Check(obj)) return true;
    PyObject* subject = PyUnicode_FromFormat("argument '%s'", argument);
    if (subject == nullptr) return false;
    const char* text = PyUnicode_AsUTF8AndSize(subject, nullptr);
    if (text != nullptr) raise_must_be(text, "str", obj);
    Py_DECREF(subject);
    return false;
}

// The separator's only character, or -1 with ValueError set.
long single_character(PyObject* text) {
    if (PyUnicode_GetLength(text) != 1) {
        PyErr_SetString(PyExc_ValueError, "Separators must be single characters");
        return -1;
    }
    return static_cast<long>(PyUnicode_ReadChar(text, 0));
}

// The constructor's checks and construction, in its order; `currency_arg` may be null.
PyObject* construct(PyTypeObject* type, PyObject* decimal_arg, PyObject* group_arg, PyObject* flags_arg,
                    PyObject* currency_arg) {
    Py_ssize_t ignored;
    if (!require_str(decimal_arg, "decimal_sep") || PyUnicode_AsUTF8AndSize(decimal_arg, &ignored) == nullptr) return nullptr;
    if (!require_str(group_arg, "group_sep") || PyUnicode_AsUTF8AndSize(group_arg, &ignored) == nullptr) return nullptr;
    std::uint32_t flags;
    if (!to_u32(flags_arg, "flags", flags)) return nullptr;
    if (currency_arg != nullptr && !require_str(currency_arg, "currency")) return nullptr;
    const long decimal_sep = single_character(decimal_arg);
    if (decimal_sep < 0) return nullptr;
    const long group_sep = single_character(group_arg);
    if (group_sep < 0) return nullptr;
    return build_instance(type, static_cast<char32_t>(decimal_sep), static_cast<char32_t>(group_sep), flags,
                          currency_arg);
}

PyObject* num_format_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"decimal_sep", "group_sep", "flags", "currency", nullptr};
    PyObject *decimal_arg, *group_arg, *flags_arg, *currency_arg = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOO|O:NumFormat", const_cast<char**>(keywords), &decimal_arg,
                                     &group_arg, &flags_arg, &currency_arg)) {
        return nullptr;
    }
    return construct(type, decimal_arg, group_arg, flags_arg, currency_arg);
}

const core::NumFormat& record_of(PyObject* self) { return reinterpret_cast<NumFormatObject*>(self)->format; }

PyObject* currency_of(const core::NumFormat& f) {
    return PyUnicode_DecodeUTF8(reinterpret_cast<const char*>(f.currency), f.currency_len, nullptr);
}

PyObject* get_decimal_sep(PyObject* self, void*) { return PyUnicode_FromOrdinal(static_cast<int>(record_of(self).decimal_sep)); }
PyObject* get_group_sep(PyObject* self, void*) { return PyUnicode_FromOrdinal(static_cast<int>(record_of(self).group_sep)); }
PyObject* get_flags(PyObject* self, void*) { return PyLong_FromUnsignedLong(record_of(self).flags); }
PyObject* get_currency(PyObject* self, void*) { return currency_of(record_of(self)); }

PyObject* get_packed(PyObject* self, void*) {
    unsigned char packed[core::PACKED_FORMAT_SIZE];
    core::encode_packed_format(record_of(self), packed);
    return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(packed), sizeof packed);
}

PyObject* num_format_repr(PyObject* self) {
    const core::NumFormat& f = record_of(self);
    PyObject* decimal_sep = PyUnicode_FromOrdinal(static_cast<int>(f.decimal_sep));
    PyObject* group_sep = decimal_sep ? PyUnicode_FromOrdinal(static_cast<int>(f.group_sep)) : nullptr;
    PyObject* currency = group_sep ? currency_of(f) : nullptr;
    PyObject* repr = currency ? PyUnicode_FromFormat("NumFormat(%R, %R, %lu, %R)", decimal_sep, group_sep,
                                                     static_cast<unsigned long>(f.flags), currency)
                              : nullptr;
    Py_XDECREF(decimal_sep);
    Py_XDECREF(group_sep);
    Py_XDECREF(currency);
    return repr;
}

// One entry of the conventions: a new reference to a str, or null when the
// entry is missing. A dict (or subclass) is read by the dict's own lookup,
// with no __missing__; any other mapping by its item lookup, a KeyError
// meaning missing. Returns false with an exception set otherwise.
bool read_convention(PyObject* conv, const char* key, PyObject*& out) {
    out = nullptr;
    if (PyDict_Check(conv)) {
        PyObject* name = PyUnicode_FromString(key);
        if (name == nullptr) return false;
        out = Py_XNewRef(PyDict_GetItemWithError(conv, name));
        Py_DECREF(name);
        if (out == nullptr) return !PyErr_Occurred();
    } else {
        out = PyMapping_GetItemString(conv, key);
        if (out == nullptr) {
            if (!PyErr_ExceptionMatches(PyExc_KeyError)) return false;
            PyErr_Clear();
            return true;
        }
    }
    if (!PyUnicode_Check(out)) {
        raise_must_be(key, "str", out);
        Py_CLEAR(out);
        return false;
    }
    return true;
}

// A separator entry's first character, -1 when the entry is missing or empty.
long first_character(PyObject* entry) {
    if (entry == nullptr || PyUnicode_GetLength(entry) == 0) return -1;
    return static_cast<long>(PyUnicode_ReadChar(entry, 0));
}

// The conventions to read: `conv` itself when it is a mapping, else the locale's.
PyObject* conventions(PyObject* conv) {
    if (conv == nullptr || conv == Py_None) {
        PyObject* locale = PyImport_ImportModule("locale");
        if (locale == nullptr) return nullptr;
        PyObject* found = PyObject_CallMethod(locale, "localeconv", nullptr);
        Py_DECREF(locale);
        if (found != nullptr && !PyDict_Check(found)) {
            raise_must_be("locale.localeconv()", "dict", found);
            Py_CLEAR(found);
        }
        return found;
    }
    if (PyDict_Check(conv)) return Py_NewRef(conv);
    // Any Mapping, as the signature says (a MappingProxyType included).
    PyObject* abc = PyImport_ImportModule("collections.abc");
    PyObject* mapping = abc != nullptr ? PyObject_GetAttrString(abc, "Mapping") : nullptr;
    const int is_mapping = mapping != nullptr ? PyObject_IsInstance(conv, mapping) : -1;
    Py_XDECREF(mapping);
    Py_XDECREF(abc);
    if (is_mapping < 0) return nullptr;
    if (is_mapping == 0) {
        raise_must_be("argument 'conv'", "a mapping", conv);
        return nullptr;
    }
    return Py_NewRef(conv);
}

PyObject* from_localeconv(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const names[] = {"conv"};
    PyObject* conv_arg = nullptr;
    if (!bind_arguments(Signature{"from_localeconv", names, 1, 0}, args, nargs, kwnames, &conv_arg)) return nullptr;
    PyObject* conv = conventions(conv_arg);
    if (conv == nullptr) return nullptr;

    PyObject *decimal_entry = nullptr, *group_entry = nullptr, *currency_entry = nullptr;
    PyObject* result = nullptr;
    if (read_convention(conv, "decimal_point", decimal_entry) && read_convention(conv, "thousands_sep", group_entry) &&
        read_convention(conv, "currency_symbol", currency_entry)) {
        long d = first_character(decimal_entry);
        long g = first_character(group_entry);
        // A missing separator takes its invariant default unless the other
        // already holds it, then the other of the pair.
        if (d < 0) {
            if (g == '.') {
                d = ',';
            } else {
                d = '.';
                if (g < 0) g = ',';
            }
        } else if (g < 0) {
            g = d == ',' ? '.' : ',';
        }
        // The constructor itself, so every refusal is the constructor's own.
        PyObject* decimal_sep = PyUnicode_FromOrdinal(static_cast<int>(d));
        PyObject* group_sep = decimal_sep != nullptr ? PyUnicode_FromOrdinal(static_cast<int>(g)) : nullptr;
        PyObject* flags = group_sep != nullptr ? PyLong_FromUnsignedLong(core::NumFormat::ALL) : nullptr;
        if (flags != nullptr) {
            result = construct(module_state.num_format_class, decimal_sep, group_sep, flags, currency_entry);
        }
        Py_XDECREF(decimal_sep);
        Py_XDECREF(group_sep);
        Py_XDECREF(flags);
    }
    Py_XDECREF(decimal_entry);
    Py_XDECREF(group_entry);
    Py_XDECREF(currency_entry);
    Py_DECREF(conv);
    return result;
}

// NumFormat.INVARIANT and NumFormat.DETECT pickle by name, so they come back
// as the same objects; any other format as a call of the class.
PyObject* num_format_reduce(PyObject* self, PyObject*) {
    if (self == module_state.invariant_format) return PyUnicode_FromString("NumFormat.INVARIANT");
    if (self == module_state.detect_format) return PyUnicode_FromString("NumFormat.DETECT");
    const core::NumFormat& f = record_of(self);
    PyObject* decimal_sep = PyUnicode_FromOrdinal(static_cast<int>(f.decimal_sep));
    PyObject* group_sep = decimal_sep ? PyUnicode_FromOrdinal(static_cast<int>(f.group_sep)) : nullptr;
    PyObject* currency = group_sep ? currency_of(f) : nullptr;
    PyObject* reduced = currency ? Py_BuildValue("O(OOkO)", reinterpret_cast<PyObject*>(Py_TYPE(self)), decimal_sep,
                                                 group_sep, static_cast<unsigned long>(f.flags), currency)
                                 : nullptr;
    Py_XDECREF(decimal_sep);
    Py_XDECREF(group_sep);
    Py_XDECREF(currency);
    return reduced;
}

// A format never changes and compares by identity: its only equal copy is itself.
PyObject* num_format_copy(PyObject* self, PyObject*) { return Py_NewRef(self); }

PyGetSetDef num_format_getset[] = {
    {"decimal_sep", get_decimal_sep, nullptr, "The declared decimal separator.", nullptr},
    {"group_sep", get_group_sep, nullptr, "The declared digit-group separator.", nullptr},
    {"flags", get_flags, nullptr, "The bitwise OR of the lenience flags.", nullptr},
    {"currency", get_currency, nullptr, "The declared currency symbol \u2014 ``\"\"`` when none is declared.", nullptr},
    {"packed", get_packed, nullptr,
     "The 32 bytes this format crosses a C ABI as: decimal and group separators as code\n"
     "points, the flags and the symbol's length as little-endian ``u32``\\ s, then the\n"
     "symbol's UTF-8, zero-padded to 16 \u2014 for a library that declares numeric columns\n"
     "across a C ABI of its own.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef num_format_methods[] = {
    {"from_localeconv", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(from_localeconv)),
     METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
     "from_localeconv(conv=None)\n--\n\n"
     "Bridges ``locale.localeconv()`` (or a dict shaped like it) to a declared format \u2014\n"
     "``decimal_point``, ``thousands_sep``, and ``currency_symbol``.\n\n"
     "A field the locale leaves empty takes its invariant default (``.`` decimal, ``,``\n"
     "group) unless the other separator already holds that character, in which case it\n"
     "takes the other of the pair \u2014 so a comma-decimal locale with no thousands separator\n"
     "groups on ``.`` rather than colliding. Two separators the locale itself declares\n"
     "equal are still the ``ValueError`` the constructor raises.\n\n"
     "Only the separators and the currency symbol carry over; the native format has no field\n"
     "for the rest. The core reads ASCII ``+`` and ``-`` only, so a locale whose\n"
     "``negative_sign`` is something else (U+2212 for Estonian and Basque, for instance) faults\n"
     "on its own negative numbers; a currency amount is read with the number separators, not\n"
     "``mon_decimal_point`` and ``mon_thousands_sep``, which differ in some locales; and\n"
     "percent is an ASCII ``%``. Every lenience is on, radix prefixes and percent included;\n"
     "narrow the flags, or construct a ``NumFormat`` outright, for anything stricter."},
    {"__reduce__", num_format_reduce, METH_NOARGS, "__reduce__($self, /)\n--\n\n"},
    {"__copy__", num_format_copy, METH_NOARGS, "__copy__($self, /)\n--\n\n"},
    {"__deepcopy__", num_format_copy, METH_O, "__deepcopy__($self, memo, /)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot num_format_slots[] = {
    {Py_tp_doc, const_cast<char*>("NumFormat(decimal_sep, group_sep, flags, currency=\"\")\n--\n\n"
                                  "Caller-declared numeric notation, held pre-resolved as the core's `NumFormat` so "
                                  "the\nhot path pays zero conversion.")},
    {Py_tp_new, reinterpret_cast<void*>(num_format_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(num_format_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(num_format_repr)},
    {Py_tp_getset, num_format_getset},
    {Py_tp_methods, num_format_methods},
    {0, nullptr},
};

PyType_Spec num_format_layout = {"quillmere.NumFormat", sizeof(NumFormatObject), 0,
                               Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, num_format_slots};

PyObject* preset(PyTypeObject* type, const core::NumFormat& format) {
    auto* self = reinterpret_cast<NumFormatObject*>(PyType_GenericAlloc(type, 0));
    if (self != nullptr) self->format = format;
    return reinterpret_cast<PyObject*>(self);
}

}  // namespace

PyTypeObject* num_format_type() noexcept {
    if (module_state.num_format_class != nullptr) return module_state.num_format_class;
    auto* cls = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&num_format_layout));
    if (cls == nullptr) return nullptr;
    using F = core::NumFormat;
    PyObject* invariant = preset(cls, core::INVARIANT_FORMAT);
    PyObject* detect = preset(cls, core::DETECT_FORMAT);
    const bool ok = invariant != nullptr && detect != nullptr &&
                    set_class_attribute(cls, "GROUPING", PyLong_FromLong(F::GROUPING)) &&
                    set_class_attribute(cls, "PARENTHESES", PyLong_FromLong(F::PARENTHESES)) &&
                    set_class_attribute(cls, "EXPONENT", PyLong_FromLong(F::EXPONENT)) &&
                    set_class_attribute(cls, "RADIX_PREFIXES", PyLong_FromLong(F::RADIX_PREFIXES)) &&
                    set_class_attribute(cls, "PERCENT", PyLong_FromLong(F::PERCENT)) &&
                    set_class_attribute(cls, "CURRENCY", PyLong_FromLong(F::CURRENCY)) &&
                    set_class_attribute(cls, "ALL", PyLong_FromLong(F::ALL)) &&
                    set_class_attribute(cls, "SEPARATOR_DETECT", PyLong_FromLong(F::SEPARATOR_DETECT)) &&
                    set_class_attribute(cls, "INVARIANT", Py_NewRef(invariant)) &&
                    set_class_attribute(cls, "DETECT", Py_NewRef(detect));
    if (!ok) {
        Py_XDECREF(invariant);
        Py_XDECREF(detect);
        Py_DECREF(cls);
        return nullptr;
    }
    module_state.invariant_format = invariant;
    module_state.detect_format = detect;
    module_state.num_format_class = cls;
    return cls;
}

const core::NumFormat* num_format_of(PyObject* obj) noexcept {
    if (Py_TYPE(obj) != module_state.num_format_class) return nullptr;
    return &reinterpret_cast<NumFormatObject*>(obj)->format;
}

}  // namespace quillmere::python
