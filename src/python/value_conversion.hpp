// Conversion of core values into Python objects; each returns a new
// reference or null with an exception set (RuntimeError before _bind).
#pragma once

#include "core/values.hpp"
#include "python/module.hpp"

namespace quillmere::python {

// Prepares the direct constructions of the bound classes; called once, by the
// _bind that stored `types`. A class that cannot be built directly is left to
// the ordinary call.
void prepare_value_conversion(const BoundTypes& types) noexcept;

// `source` is the text the decimal was read from, if any.
PyObject* to_python(const core::ExactDecimal& v, const TextArg* source = nullptr);
PyObject* to_python(const core::Uuid& v);
PyObject* to_python(const core::CivilDate& v);
PyObject* to_python(const core::TimeOfDay& v);
PyObject* to_python(const core::CivilDateTime& v);
PyObject* to_python(const core::Instant& v);
PyObject* to_python(const core::SignedDuration& v);

// Values that need no binding.
inline PyObject* to_python(bool v) { return PyBool_FromLong(v); }
inline PyObject* to_python(char32_t v) { return PyUnicode_FromOrdinal(static_cast<int>(v)); }
inline PyObject* to_python(std::int8_t v) { return PyLong_FromLong(v); }
inline PyObject* to_python(std::int16_t v) { return PyLong_FromLong(v); }
inline PyObject* to_python(std::int32_t v) { return PyLong_FromLong(v); }
inline PyObject* to_python(std::int64_t v) { return PyLong_FromLongLong(v); }
inline PyObject* to_python(std::uint8_t v) { return PyLong_FromLong(v); }
inline PyObject* to_python(std::uint16_t v) { return PyLong_FromLong(v); }
inline PyObject* to_python(std::uint32_t v) { return PyLong_FromUnsignedLong(v); }
inline PyObject* to_python(std::uint64_t v) { return PyLong_FromUnsignedLongLong(v); }
inline PyObject* to_python(float v) { return PyFloat_FromDouble(static_cast<double>(v)); }
inline PyObject* to_python(double v) { return PyFloat_FromDouble(v); }

}  // namespace quillmere::python
