// The column casts' native frame: reads the source (Arrow capsules or a
// sequence of cells), runs the column layer with the interpreter lock
// released, and wraps the shared result arrays in _ArrowData objects that
// export fresh capsules on every call. The Python API lives in
// quillmere.columns; these names are its private backend.
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "columns/cast_column.hpp"
#include "python/module.hpp"

namespace quillmere::python {

namespace columns = quillmere::columns;

namespace {

// --- _ArrowData: shared, immutable chunks ---

struct ArrowDataObject {
    PyObject_HEAD
    columns::Chunks* chunks;
};

PyTypeObject* arrow_data_class = nullptr;

PyTypeObject* arrow_data_type() noexcept;

PyObject* wrap_chunks(columns::Chunks* chunks) {
    if (chunks == nullptr) return nullptr;
    PyTypeObject* type = arrow_data_type();
    auto* self = type ? reinterpret_cast<ArrowDataObject*>(PyType_GenericAlloc(type, 0)) : nullptr;
    if (self == nullptr) {
        columns::release(chunks);
        return nullptr;
    }
    self->chunks = chunks;  // takes the caller's reference
    return reinterpret_cast<PyObject*>(self);
}

columns::Chunks* chunks_of(PyObject* obj) {
    if (Py_TYPE(obj) != arrow_data_class) {
        raise_must_be("argument", "_ArrowData", obj);
        return nullptr;
    }
    return reinterpret_cast<ArrowDataObject*>(obj)->chunks;
}

void arrow_data_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    columns::release(reinterpret_cast<ArrowDataObject*>(self)->chunks);
    auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_slot(self);
    Py_DECREF(type);
}

// Capsule destructors: release what the consumer did not take.
void schema_capsule_destructor(PyObject* capsule) {
    auto* schema = static_cast<ArrowSchema*>(PyCapsule_GetPointer(capsule, "arrow_schema"));
    if (schema == nullptr) return PyErr_Clear();
    if (schema->release != nullptr) schema->release(schema);
    PyMem_Free(schema);
}

void array_capsule_destructor(PyObject* capsule) {
    auto* array = static_cast<ArrowArray*>(PyCapsule_GetPointer(capsule, "arrow_array"));
    if (array == nullptr) return PyErr_Clear();
    if (array->release != nullptr) array->release(array);
    PyMem_Free(array);
}

void stream_capsule_destructor(PyObject* capsule) {
    auto* stream = static_cast<ArrowArrayStream*>(PyCapsule_GetPointer(capsule, "arrow_array_stream"));
    if (stream == nullptr) return PyErr_Clear();
    if (stream->release != nullptr) stream->release(stream);
    PyMem_Free(stream);
}

template <class Struct>
PyObject* new_capsule(const char* name, PyCapsule_Destructor destructor, bool (*fill)(Struct*, void*), void* what) {
    auto* out = static_cast<Struct*>(PyMem_Malloc(sizeof(Struct)));
    if (out == nullptr) return PyErr_NoMemory();
    if (!fill(out, what)) {
        PyMem_Free(out);
        return PyErr_NoMemory();
    }
    PyObject* capsule = PyCapsule_New(out, name, destructor);
    if (capsule == nullptr) {
        out->release(out);
        PyMem_Free(out);
    }
    return capsule;
}

PyObject* schema_capsule(columns::Chunks* chunks) {
    return new_capsule<ArrowSchema>(
        "arrow_schema", schema_capsule_destructor,
        [](ArrowSchema* out, void* c) { return columns::export_schema(static_cast<columns::Chunks*>(c)->type, out); },
        chunks);
}

PyObject* arrow_data_schema(PyObject* self, PyObject*) {
    return schema_capsule(reinterpret_cast<ArrowDataObject*>(self)->chunks);
}

// The requested schema is a hint a producer may ignore; ours has one layout per type.
bool ignore_requested_schema(const char* name, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const names[] = {"requested_schema"};
    PyObject* requested;
    return bind_arguments(Signature{name, names, 1, 0}, args, nargs, kwnames, &requested);
}

PyObject* arrow_data_array(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    if (!ignore_requested_schema("__arrow_c_array__", args, nargs, kwnames)) return nullptr;
    columns::Chunks* chunks = reinterpret_cast<ArrowDataObject*>(self)->chunks;
    if (chunks->chunks.size() != 1) {
        PyErr_Format(PyExc_TypeError, "a column of %zu chunks exports as a stream (__arrow_c_stream__), not one array",
                     chunks->chunks.size());
        return nullptr;
    }
    PyObject* schema = schema_capsule(chunks);
    PyObject* array = schema ? new_capsule<ArrowArray>(
                                   "arrow_array", array_capsule_destructor,
                                   [](ArrowArray* out, void* c) {
                                       return columns::export_array(static_cast<columns::Chunks*>(c)->chunks[0], out);
                                   },
                                   chunks)
                             : nullptr;
    if (array == nullptr) {
        Py_XDECREF(schema);
        return nullptr;
    }
    PyObject* pair = PyTuple_Pack(2, schema, array);
    Py_DECREF(schema);
    Py_DECREF(array);
    return pair;
}

PyObject* arrow_data_stream(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    if (!ignore_requested_schema("__arrow_c_stream__", args, nargs, kwnames)) return nullptr;
    return new_capsule<ArrowArrayStream>(
        "arrow_array_stream", stream_capsule_destructor,
        [](ArrowArrayStream* out, void* c) { return columns::export_stream(static_cast<columns::Chunks*>(c), out); },
        reinterpret_cast<ArrowDataObject*>(self)->chunks);
}

PyObject* arrow_data_chunk(PyObject* self, PyObject* arg) {
    columns::Chunks* chunks = reinterpret_cast<ArrowDataObject*>(self)->chunks;
    const Py_ssize_t i = PyLong_AsSsize_t(arg);
    if (i == -1 && PyErr_Occurred()) return nullptr;
    if (i < 0 || static_cast<std::size_t>(i) >= chunks->chunks.size()) {
        PyErr_SetString(PyExc_IndexError, "chunk index out of range");
        return nullptr;
    }
    auto* one = new (std::nothrow) columns::Chunks;
    if (one == nullptr) return PyErr_NoMemory();
    one->type = chunks->chunks[i];
    columns::retain(one->type);
    one->chunks.push_back(one->type);
    columns::retain(one->type);
    return wrap_chunks(one);
}

PyObject* arrow_data_to_bytes(PyObject* self, PyObject*) {
    const std::string bytes = columns::encode(*reinterpret_cast<ArrowDataObject*>(self)->chunks);
    return PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size()));
}

PyObject* arrow_data_format(PyObject* self, void*) {
    return PyUnicode_FromString(reinterpret_cast<ArrowDataObject*>(self)->chunks->type->format.c_str());
}

PyObject* arrow_data_chunk_lengths(PyObject* self, void*) {
    const columns::Chunks* chunks = reinterpret_cast<ArrowDataObject*>(self)->chunks;
    PyObject* out = PyTuple_New(static_cast<Py_ssize_t>(chunks->chunks.size()));
    for (std::size_t i = 0; out != nullptr && i < chunks->chunks.size(); ++i) {
        PyObject* n = PyLong_FromLongLong(chunks->chunks[i]->length);
        if (n == nullptr || PyTuple_SetItem(out, static_cast<Py_ssize_t>(i), n) < 0) Py_CLEAR(out);
    }
    return out;
}

PyObject* arrow_data_null_count(PyObject* self, void*) {
    long long total = 0;
    for (const columns::ArrayNode* chunk : reinterpret_cast<ArrowDataObject*>(self)->chunks->chunks) {
        total += chunk->null_count;
    }
    return PyLong_FromLongLong(total);
}

PyMethodDef arrow_data_methods[] = {
    {"__arrow_c_schema__", arrow_data_schema, METH_NOARGS,
     "__arrow_c_schema__($self, /)\n--\n\nThe Arrow type as an \"arrow_schema\" capsule."},
    {"__arrow_c_array__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(arrow_data_array)),
     METH_FASTCALL | METH_KEYWORDS,
     "__arrow_c_array__($self, /, requested_schema=None)\n--\n\nThe single chunk as \"arrow_schema\" and "
     "\"arrow_array\" capsules; each call exports afresh."},
    {"__arrow_c_stream__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(arrow_data_stream)),
     METH_FASTCALL | METH_KEYWORDS,
     "__arrow_c_stream__($self, /, requested_schema=None)\n--\n\nEvery chunk as an \"arrow_array_stream\" capsule."},
    {"chunk", arrow_data_chunk, METH_O, "chunk($self, index, /)\n--\n\nChunk `index` on its own, sharing its buffers."},
    {"to_bytes", arrow_data_to_bytes, METH_NOARGS,
     "to_bytes($self, /)\n--\n\nA self-contained byte form, read back by `_arrow_data_from_bytes`."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef arrow_data_getset[] = {
    {"format", arrow_data_format, nullptr, "The Arrow format string of the type.", nullptr},
    {"chunk_lengths", arrow_data_chunk_lengths, nullptr, "The length of each chunk.", nullptr},
    {"null_count", arrow_data_null_count, nullptr, "Null cells over all chunks.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot arrow_data_slots[] = {
    {Py_tp_doc, const_cast<char*>("Arrow chunks owned by quillmere, exported without a copy.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(arrow_data_dealloc)},
    {Py_tp_methods, arrow_data_methods},
    {Py_tp_getset, arrow_data_getset},
    {0, nullptr},
};

PyType_Spec arrow_data_layout = {"quillmere._ArrowData", sizeof(ArrowDataObject), 0, Py_TPFLAGS_DEFAULT,
                               arrow_data_slots};

// --- sources ---

// Arrow structs this call owns (read from a stream), released at the end.
struct OwnedStream {
    ArrowSchema schema{};
    std::vector<ArrowArray> arrays;
    ~OwnedStream() {
        for (ArrowArray& a : arrays) {
            if (a.release != nullptr) a.release(&a);
        }
        if (schema.release != nullptr) schema.release(&schema);
    }
};

bool raise_column_error(const columns::Error& error) {
    switch (error.problem) {
        case columns::Problem::UNSUPPORTED_TYPE: PyErr_SetString(PyExc_TypeError, error.message); break;
        case columns::Problem::NO_MEMORY: PyErr_NoMemory(); break;
        default: PyErr_SetString(PyExc_ValueError, error.message); break;
    }
    return false;
}

template <class T>
T* capsule_pointer(PyObject* capsule, const char* name) {
    auto* p = static_cast<T*>(PyCapsule_GetPointer(capsule, name));
    if (p == nullptr) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "expected an \"%s\" capsule", name);
    }
    return p;
}

// The Arrow structs a call reads: pointers only, taken with the lock held and
// checked (a pass over every offset) after it is released.
using ArrowPairs = std::vector<std::pair<const ArrowSchema*, const ArrowArray*>>;

bool read_array_pair(PyObject* pair, ArrowPairs& arrays) {
    if (!PyTuple_Check(pair) || PyTuple_Size(pair) != 2) {
        PyErr_SetString(PyExc_TypeError, "__arrow_c_array__ must return a (schema, array) pair of capsules");
        return false;
    }
    auto* schema = capsule_pointer<ArrowSchema>(PyTuple_GetItem(pair, 0), "arrow_schema");
    auto* array = schema ? capsule_pointer<ArrowArray>(PyTuple_GetItem(pair, 1), "arrow_array") : nullptr;
    if (array == nullptr) return false;
    arrays.emplace_back(schema, array);
    return true;
}

bool stream_failed(ArrowArrayStream* stream, int code) {
    const char* message = stream->get_last_error ? stream->get_last_error(stream) : nullptr;
    PyErr_Format(PyExc_ValueError, "reading the Arrow stream failed (error %d): %s", code,
                 message ? message : "no message");
    return false;
}

bool read_stream(PyObject* capsule, OwnedStream& owned, ArrowPairs& arrays) {
    auto* stream = capsule_pointer<ArrowArrayStream>(capsule, "arrow_array_stream");
    if (stream == nullptr) return false;
    if (stream->release == nullptr) {
        PyErr_SetString(PyExc_ValueError, "the Arrow stream was already released");
        return false;
    }
    int code = stream->get_schema(stream, &owned.schema);
    if (code != 0) return stream_failed(stream, code);
    for (;;) {
        ArrowArray next{};
        code = stream->get_next(stream, &next);
        if (code != 0) return stream_failed(stream, code);
        if (next.release == nullptr) break;
        owned.arrays.push_back(next);
    }
    for (const ArrowArray& a : owned.arrays) arrays.emplace_back(&owned.schema, &a);
    if (owned.arrays.empty()) {
        // No chunk: the type is still checked.
        ArrowArray empty{};
        const void* buffers[3] = {nullptr, nullptr, nullptr};
        empty.n_buffers = 3;
        empty.buffers = buffers;
        empty.release = [](ArrowArray* a) { a->release = nullptr; };
        columns::Input probe;
        columns::Error error;
        if (!columns::read_arrow(&owned.schema, &empty, probe, error) && error.problem == columns::Problem::UNSUPPORTED_TYPE) {
            return raise_column_error(error);
        }
    }
    return true;
}

// A sequence of str, bytes and None. Every item is held by a strong reference
// of ours for the whole call, taken in the same pass that reads it, so that
// nothing the loop reads can be freed while the lock is released, and each
// object is visited twice (here and at the end) rather than three times.
struct SequenceCells {
    PyObject* sequence = nullptr;  // a list or tuple
    columns::Buffer items, pointers, sizes, kinds;
    Py_ssize_t held = 0;
    ~SequenceCells() {
        auto* objects = items.as<PyObject*>();
        for (Py_ssize_t i = 0; i < held; ++i) Py_DECREF(objects[i]);
        Py_XDECREF(sequence);
    }
};

bool read_sequence(PyObject* source, SequenceCells& cells_held, columns::Input& input) {
    const bool is_list = PyList_Check(source);
    cells_held.sequence = is_list || PyTuple_Check(source) ? Py_NewRef(source) : PySequence_Tuple(source);
    if (cells_held.sequence == nullptr) return false;
    PyObject* sequence = cells_held.sequence;
    const Py_ssize_t n = is_list ? PyList_Size(sequence) : PyTuple_Size(sequence);
    const auto count = static_cast<std::size_t>(n);
    if (!cells_held.items.allocate(count * sizeof(PyObject*)) ||
        !cells_held.pointers.allocate(count * sizeof(const char*)) ||
        !cells_held.sizes.allocate(count * sizeof(std::size_t)) || !cells_held.kinds.allocate(count)) {
        PyErr_NoMemory();
        return false;
    }
    auto* items = cells_held.items.as<PyObject*>();
    auto* pointers = cells_held.pointers.as<const char*>();
    auto* sizes = cells_held.sizes.as<std::size_t>();
    auto* kinds = cells_held.kinds.as<std::uint8_t>();
    bool any_str = false;
    // Nothing below runs Python code, so a list cannot change under this loop.
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = is_list ? PyList_GetItem(sequence, i) : PyTuple_GetItem(sequence, i);
        items[i] = Py_NewRef(item);
        cells_held.held = i + 1;
        pointers[i] = nullptr;
        sizes[i] = 0;
        if (item == Py_None) {
            kinds[i] = columns::CELL_NULL;
        } else if (PyUnicode_Check(item)) {
            any_str = true;
            Py_ssize_t size;
            const char* data = PyUnicode_AsUTF8AndSize(item, &size);
            if (data != nullptr) {
                kinds[i] = columns::CELL_STR;
                pointers[i] = data;
                sizes[i] = static_cast<std::size_t>(size);
                continue;
            }
            if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return false;
            PyErr_Clear();
            // A lone surrogate has no UTF-8 form: the cell is MALFORMED at the first one.
            const Py_ssize_t length = PyUnicode_GetLength(item);
            Py_ssize_t at = 0;
            while (at < length) {
                const Py_UCS4 c = PyUnicode_ReadChar(item, at);
                if (c >= 0xD800 && c <= 0xDFFF) break;
                ++at;
            }
            kinds[i] = columns::CELL_UNENCODABLE;
            sizes[i] = static_cast<std::size_t>(at);
        } else if (PyBytes_Check(item)) {
            char* data;
            Py_ssize_t size;
            if (PyBytes_AsStringAndSize(item, &data, &size) < 0) return false;
            kinds[i] = columns::CELL_BYTES;
            pointers[i] = data;
            sizes[i] = static_cast<std::size_t>(size);
        } else {
            PyObject* name = PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(item)), "__name__");
            if (name != nullptr) {
                PyErr_Format(PyExc_TypeError, "cells must be str, bytes or None; cell %zd is %U", i, name);
                Py_DECREF(name);
            }
            return false;
        }
    }
    columns::Cells& cells = input.cells;
    cells.layout = columns::Layout::POINTERS;
    cells.code_points = any_str;
    cells.length = n;
    cells.pointers = pointers;
    cells.sizes = sizes;
    cells.kinds = kinds;
    return true;
}

// A sequence of numbers and None for the casts from a double, read into a
// float64 column of our own.
struct DoubleCells {
    columns::Buffer values, validity;
};

bool read_double_sequence(PyObject* source, DoubleCells& held, columns::Input& input) {
    PyObject* sequence = PySequence_Tuple(source);
    if (sequence == nullptr) return false;
    const Py_ssize_t n = PyTuple_Size(sequence);
    const auto count = static_cast<std::size_t>(n);
    bool ok = held.values.allocate(count * sizeof(double)) && held.validity.allocate((count + 7) / 8);
    if (!ok) PyErr_NoMemory();
    auto* values = held.values.as<double>();
    auto* validity = held.validity.as<std::uint8_t>();
    if (ok) std::memset(validity, 0xFF, (count + 7) / 8);
    for (Py_ssize_t i = 0; ok && i < n; ++i) {
        PyObject* item = PyTuple_GetItem(sequence, i);
        values[i] = 0.0;
        if (item == Py_None) {
            validity[i >> 3] &= static_cast<std::uint8_t>(~(1u << (i & 7)));
        } else if (PyUnicode_Check(item) || PyBytes_Check(item)) {
            PyErr_Format(PyExc_TypeError, "the casts from a float read numbers and None; cell %zd is text", i);
            ok = false;
        } else {
            values[i] = PyFloat_AsDouble(item);
            if (values[i] == -1.0 && PyErr_Occurred()) ok = false;
        }
    }
    Py_DECREF(sequence);
    if (!ok) return false;
    columns::Cells& cells = input.cells;
    cells.layout = columns::Layout::FLOAT64;
    cells.length = n;
    cells.doubles = values;
    cells.validity = validity;
    return true;
}

// --- the cast ---

enum SourceKind { SOURCE_ARRAY = 0, SOURCE_STREAM = 1, SOURCE_SEQUENCE = 2 };

bool read_tokens(PyObject* nulls, std::vector<columns::NullToken>& tokens, PyObject*& held) {
    held = PySequence_Tuple(nulls);
    if (held == nullptr) return false;
    const Py_ssize_t n = PyTuple_Size(held);
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PyTuple_GetItem(held, i);
        Py_ssize_t size;
        const char* data;
        if (PyUnicode_Check(item)) {
            data = PyUnicode_AsUTF8AndSize(item, &size);
            if (data == nullptr) return false;  // no UTF-8 form: the UnicodeEncodeError stands
        } else if (PyBytes_Check(item)) {
            char* bytes;
            if (PyBytes_AsStringAndSize(item, &bytes, &size) < 0) return false;
            data = bytes;
        } else {
            raise_must_be("null tokens", "str or bytes", item);
            return false;
        }
        tokens.push_back(columns::NullToken{data, static_cast<std::size_t>(size)});
    }
    return true;
}

PyObject* build_result(columns::ColumnCast& cast, bool chunked) {
    PyObject* values = wrap_chunks(cast.values);
    cast.values = nullptr;
    PyObject* faults = wrap_chunks(cast.faults);
    cast.faults = nullptr;
    if (values == nullptr || faults == nullptr) {
        Py_XDECREF(values);
        Py_XDECREF(faults);
        return nullptr;
    }
    return Py_BuildValue("(NNLO)", values, faults, static_cast<long long>(cast.fault_count),
                         chunked ? Py_True : Py_False);
}

// _cast_column(target, source_kind, source, notation, fmt, nanoseconds, scale, spans, row_base, nulls)
PyObject* cast_column_py(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 10) {
        PyErr_SetString(PyExc_TypeError, "_cast_column() takes 10 arguments");
        return nullptr;
    }
    const long target = PyLong_AsLong(args[0]);
    const long kind = PyLong_AsLong(args[1]);
    const long notation = PyLong_AsLong(args[3]);
    const int nanoseconds = PyObject_IsTrue(args[5]);
    const long scale = PyLong_AsLong(args[6]);
    const long spans = PyLong_AsLong(args[7]);
    const long long row_base = PyLong_AsLongLong(args[8]);
    if (PyErr_Occurred() || nanoseconds < 0) return nullptr;
    if (target < 0 || target >= columns::TARGET_COUNT || kind < 0 || kind > 2 || spans < 0 || spans > 2 ||
        notation < 0 || notation > 4) {
        PyErr_SetString(PyExc_ValueError, "_cast_column: argument out of range");
        return nullptr;
    }
    columns::Options options;
    options.target = static_cast<columns::Target>(target);
    options.notation = static_cast<std::uint32_t>(notation);
    options.nanoseconds = nanoseconds != 0;
    options.scale = static_cast<int>(scale);
    options.spans = static_cast<columns::SpanUnit>(spans);
    options.row_base = row_base;
    if (args[4] != Py_None) {
        const core::NumFormat* format = num_format_of(args[4]);
        if (format == nullptr) {
            raise_must_be("argument 'fmt'", "NumFormat", args[4]);
            return nullptr;
        }
        options.format = *format;
    }
    std::vector<columns::NullToken> tokens;
    PyObject* held_tokens = nullptr;
    if (!read_tokens(args[9], tokens, held_tokens)) {
        Py_XDECREF(held_tokens);
        return nullptr;
    }
    options.nulls = tokens.data();
    options.null_count = tokens.size();

    std::vector<columns::Input> inputs;
    ArrowPairs arrays;
    OwnedStream stream;
    SequenceCells sequence;
    DoubleCells doubles;
    bool ok;
    switch (kind) {
        case SOURCE_ARRAY: ok = read_array_pair(args[2], arrays); break;
        case SOURCE_STREAM: ok = read_stream(args[2], stream, arrays); break;
        default:
            inputs.emplace_back();
            ok = columns::reads_doubles(options.target) ? read_double_sequence(args[2], doubles, inputs.back())
                                                        : read_sequence(args[2], sequence, inputs.back());
            break;
    }
    PyObject* result = nullptr;
    if (ok) {
        columns::ColumnCast cast;
        columns::Error error;
        // Everything the loop reads is held by this frame: capsules by the
        // caller's arguments, stream chunks and the sequence's tuple here.
        // Arrays are checked here too, so that another thread's cast can
        // start while this one checks its offsets.
        Py_BEGIN_ALLOW_THREADS
        if (!arrays.empty()) {
            inputs.resize(arrays.size());
            for (std::size_t i = 0; ok && i < arrays.size(); ++i) {
                ok = columns::read_arrow(arrays[i].first, arrays[i].second, inputs[i], error);
            }
        }
        ok = ok && columns::cast_column(options, inputs.data(), inputs.size(), cast, error);
        Py_END_ALLOW_THREADS
        result = ok ? build_result(cast, kind == SOURCE_STREAM) : (raise_column_error(error), nullptr);
    }
    Py_XDECREF(held_tokens);
    return result;
}

PyObject* fault_columns_py(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 3) {
        PyErr_SetString(PyExc_TypeError, "_fault_columns() takes 3 arguments");
        return nullptr;
    }
    columns::Chunks* faults = chunks_of(args[0]);
    if (faults == nullptr) return nullptr;
    PyObject* lengths = PySequence_Tuple(args[1]);
    if (lengths == nullptr) return nullptr;
    std::vector<std::int64_t> values(static_cast<std::size_t>(PyTuple_Size(lengths)));
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = PyLong_AsLongLong(PyTuple_GetItem(lengths, static_cast<Py_ssize_t>(i)));
    }
    Py_DECREF(lengths);
    const long long row_base = PyLong_AsLongLong(args[2]);
    if (PyErr_Occurred()) return nullptr;
    columns::Error error;
    columns::Chunks* spread = nullptr;
    Py_BEGIN_ALLOW_THREADS
    spread = columns::fault_columns(*faults, values.data(), values.size(), row_base, error);
    Py_END_ALLOW_THREADS
    if (spread == nullptr) return raise_column_error(error), nullptr;
    return wrap_chunks(spread);
}

PyObject* arrow_data_from_bytes(PyObject*, PyObject* arg) {
    char* data;
    Py_ssize_t size;
    if (PyBytes_AsStringAndSize(arg, &data, &size) < 0) return nullptr;
    const char* why = nullptr;
    columns::Chunks* chunks = columns::decode(reinterpret_cast<const unsigned char*>(data), static_cast<std::size_t>(size), why);
    if (chunks == nullptr) {
        PyErr_Format(PyExc_ValueError, "not a quillmere column: %s", why ? why : "malformed");
        return nullptr;
    }
    return wrap_chunks(chunks);
}

// The class, created at first need and kept for the life of the process.
PyTypeObject* arrow_data_type() noexcept {
    if (arrow_data_class == nullptr) {
        arrow_data_class = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&arrow_data_layout));
    }
    return arrow_data_class;
}

}  // namespace

PyMethodDef column_methods[] = {
    {"_cast_column", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(cast_column_py)), METH_FASTCALL,
     "_cast_column(target, source_kind, source, notation, fmt, nanoseconds, scale, spans, row_base, nulls, /)\n--\n\n"
     "The backend of quillmere.columns: (values, faults, fault_count, chunked)."},
    {"_fault_columns", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fault_columns_py)), METH_FASTCALL,
     "_fault_columns(faults, lengths, row_base, /)\n--\n\nThe fault table spread over rows, one struct chunk per "
     "chunk length."},
    {"_arrow_data_from_bytes", arrow_data_from_bytes, METH_O,
     "_arrow_data_from_bytes(data, /)\n--\n\nThe _ArrowData whose to_bytes() gave `data`."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace quillmere::python
