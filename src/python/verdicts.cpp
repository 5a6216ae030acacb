// Success and Fault: small immutable value classes for match statements and
// equality tests, and the conversion of a core fault into a Fault.
#include "python/module.hpp"

#include <structmember.h>

#include <cstddef>
#include <type_traits>

namespace quillmere::python {

namespace {

struct SuccessObject {
    PyObject_HEAD
    PyObject* value;
};

struct FaultObject {
    PyObject_HEAD
    PyObject* reason;
    std::uint32_t offset;
    std::uint32_t length;
};

PyTypeObject* success_class = nullptr;
PyTypeObject* fault_class = nullptr;

// Verdicts are made and dropped once per cell of a column; a few freed
// objects of each class are kept for reuse instead of going back to the allocator.
template <class Object>
struct FreeList {
    static constexpr int capacity = 64;
    Object* items[capacity];
    int count = 0;
};
FreeList<SuccessObject> free_successes;
FreeList<FaultObject> free_faults;

template <class Object>
Object* allocate(FreeList<Object>& free_list, PyTypeObject* type) {
    if (free_list.count > 0) {
        Object* self = free_list.items[--free_list.count];
        PyObject_Init(reinterpret_cast<PyObject*>(self), type);  // takes a reference to the type
        return self;
    }
    return reinterpret_cast<Object*>(PyType_GenericAlloc(type, 0));
}

// Heap-type instances own a reference to their type.
template <class Object, PyObject* Object::*Field>
void dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    Py_XDECREF(reinterpret_cast<Object*>(self)->*Field);
    auto& free_list = [] () -> FreeList<Object>& {
        if constexpr (std::is_same_v<Object, SuccessObject>) return free_successes; else return free_faults;
    }();
    if (free_list.count < FreeList<Object>::capacity) {
        free_list.items[free_list.count++] = reinterpret_cast<Object*>(self);
    } else {
        auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
        free_slot(self);
    }
    Py_DECREF(type);
}

PyObject* allocate_success(PyObject* value) {
    auto* self = allocate(free_successes, success_class);
    if (self == nullptr) {
        Py_DECREF(value);
        return nullptr;
    }
    self->value = value;
    return reinterpret_cast<PyObject*>(self);
}

PyObject* allocate_fault(PyObject* reason, std::uint32_t offset, std::uint32_t length) {
    auto* self = allocate(free_faults, fault_class);
    if (self == nullptr) return nullptr;
    self->reason = Py_NewRef(reason);
    self->offset = offset;
    self->length = length;
    return reinterpret_cast<PyObject*>(self);
}

// --- Success ---

PyObject* success_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"value", nullptr};
    PyObject* value = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:Success", const_cast<char**>(keywords), &value)) return nullptr;
    return allocate_success(Py_NewRef(value));
}

PyObject* success_repr(PyObject* self) {
    return PyUnicode_FromFormat("Success(value=%R)", reinterpret_cast<SuccessObject*>(self)->value);
}

// != is the negated truth of the full rich comparison ==, exceptions included.
PyObject* negate_equality(PyObject* self, PyObject* other) {
    PyObject* equal = PyObject_RichCompare(self, other, Py_EQ);
    if (equal == nullptr) return nullptr;
    const int truth = PyObject_IsTrue(equal);
    Py_DECREF(equal);
    if (truth < 0) return nullptr;
    return PyBool_FromLong(!truth);
}

PyObject* success_richcompare(PyObject* self, PyObject* other, int op) {
    if (op == Py_NE) return negate_equality(self, other);
    if (op != Py_EQ) Py_RETURN_NOTIMPLEMENTED;
    if (Py_TYPE(other) != success_class) Py_RETURN_FALSE;
    const int equal = PyObject_RichCompareBool(reinterpret_cast<SuccessObject*>(self)->value,
                                               reinterpret_cast<SuccessObject*>(other)->value, Py_EQ);
    if (equal < 0) return nullptr;
    return PyBool_FromLong(equal);
}

PyObject* success_class_getitem(PyObject* cls, PyObject* key) { return Py_GenericAlias(cls, key); }

PyMemberDef success_members[] = {
    {"value", T_OBJECT_EX, offsetof(SuccessObject, value), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyMethodDef success_methods[] = {
    {"__class_getitem__", success_class_getitem, METH_O | METH_CLASS, "__class_getitem__($cls, key)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot success_slots[] = {
    {Py_tp_doc, const_cast<char*>("Success(value)\n--\n\nThe success case of a verdict: a cast value.")},
    {Py_tp_new, reinterpret_cast<void*>(success_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<SuccessObject, &SuccessObject::value>)},
    {Py_tp_repr, reinterpret_cast<void*>(success_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(success_richcompare)},
    {Py_tp_members, success_members},
    {Py_tp_methods, success_methods},
    {0, nullptr},
};

PyType_Spec success_spec = {"quillmere.Success", sizeof(SuccessObject), 0, Py_TPFLAGS_DEFAULT, success_slots};

// --- Fault ---

PyObject* fault_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"reason", "offset", "length", nullptr};
    PyObject *reason, *offset_arg, *length_arg;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOO:Fault", const_cast<char**>(keywords), &reason, &offset_arg,
                                     &length_arg)) {
        return nullptr;
    }
    std::uint32_t offset, length;
    if (!to_u32(offset_arg, "offset", offset) || !to_u32(length_arg, "length", length)) return nullptr;
    return allocate_fault(reason, offset, length);
}

PyObject* fault_repr(PyObject* self) {
    auto* f = reinterpret_cast<FaultObject*>(self);
    return PyUnicode_FromFormat("Fault(reason=%R, offset=%lu, length=%lu)", f->reason,
                                static_cast<unsigned long>(f->offset), static_cast<unsigned long>(f->length));
}

PyObject* fault_richcompare(PyObject* self, PyObject* other, int op) {
    if (op == Py_NE) return negate_equality(self, other);
    if (op != Py_EQ) Py_RETURN_NOTIMPLEMENTED;
    if (Py_TYPE(other) != fault_class) Py_RETURN_FALSE;
    auto* a = reinterpret_cast<FaultObject*>(self);
    auto* b = reinterpret_cast<FaultObject*>(other);
    // The span decides first, so reasons are compared only for equal spans.
    if (a->offset != b->offset || a->length != b->length) Py_RETURN_FALSE;
    const int equal = PyObject_RichCompareBool(a->reason, b->reason, Py_EQ);
    if (equal < 0) return nullptr;
    return PyBool_FromLong(equal);
}

PyObject* fault_offset(PyObject* self, void*) {
    return PyLong_FromUnsignedLong(reinterpret_cast<FaultObject*>(self)->offset);
}

PyObject* fault_length(PyObject* self, void*) {
    return PyLong_FromUnsignedLong(reinterpret_cast<FaultObject*>(self)->length);
}

PyMemberDef fault_members[] = {
    {"reason", T_OBJECT_EX, offsetof(FaultObject, reason), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef fault_getset[] = {
    {"offset", fault_offset, nullptr, nullptr, nullptr},
    {"length", fault_length, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot fault_slots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "Fault(reason, offset, length)\n--\n\nThe failure case: a closed reason plus the offending span, "
                    "in the caller's own units \u2014\nbyte offsets for `bytes` input, code-point offsets for `str` "
                    "input \u2014 so slicing the\noffending text back out of what you passed "
                    "(`text[offset:offset + length]`) needs no\nmapping.")},
    {Py_tp_new, reinterpret_cast<void*>(fault_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<FaultObject, &FaultObject::reason>)},
    {Py_tp_repr, reinterpret_cast<void*>(fault_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(fault_richcompare)},
    {Py_tp_members, fault_members},
    {Py_tp_getset, fault_getset},
    {0, nullptr},
};

PyType_Spec fault_spec = {"quillmere.Fault", sizeof(FaultObject), 0, Py_TPFLAGS_DEFAULT, fault_slots};

PyTypeObject* create_class(PyType_Spec& spec, PyObject* match_args) {
    if (match_args == nullptr) return nullptr;
    PyObject* type = PyType_FromSpec(&spec);
    if (type != nullptr && PyObject_SetAttrString(type, "__match_args__", match_args) < 0) Py_CLEAR(type);
    Py_DECREF(match_args);
    return reinterpret_cast<PyTypeObject*>(type);
}

// Code points of UTF-8 bytes: every byte that is not a continuation byte.
Py_ssize_t count_code_points(const unsigned char* p, Py_ssize_t n) {
    Py_ssize_t count = 0;
    Py_ssize_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t word;
        __builtin_memcpy(&word, p + i, 8);
        // A continuation byte is 10xxxxxx: bit 7 set and bit 6 clear.
        const std::uint64_t continuation = word & ~(word << 1) & 0x8080808080808080ull;
        count += 8 - __builtin_popcountll(continuation);
    }
    for (; i < n; ++i) count += (p[i] & 0xC0) != 0x80;
    return count;
}

}  // namespace

PyTypeObject* success_type() noexcept {
    if (success_class == nullptr) success_class = create_class(success_spec, Py_BuildValue("(s)", "value"));
    return success_class;
}

PyTypeObject* fault_type() noexcept {
    if (fault_class == nullptr) fault_class = create_class(fault_spec, Py_BuildValue("(sss)", "reason", "offset", "length"));
    return fault_class;
}

PyObject* new_success(PyObject* value) noexcept {
    if (value == nullptr) return nullptr;
    return allocate_success(value);
}

PyObject* new_fault_from(std::uint8_t status, core::Span span, const TextArg* text) noexcept {
    PyObject* reason = reason_member(status);
    if (reason == nullptr) return nullptr;
    std::uint32_t offset = span.offset;
    std::uint32_t length = span.length;
    if (text != nullptr && text->is_str) {
        // Every character is one byte unless the UTF-8 form is longer than the string.
        const Py_ssize_t n = text->size;
        if (n != PyUnicode_GetLength(text->object)) {
            const auto* u = reinterpret_cast<const unsigned char*>(text->data);
            const Py_ssize_t start = offset < static_cast<std::uint64_t>(n) ? Py_ssize_t{offset} : n;
            const Py_ssize_t end = static_cast<std::uint64_t>(start) + length < static_cast<std::uint64_t>(n)
                                       ? start + Py_ssize_t{length}
                                       : n;
            offset = static_cast<std::uint32_t>(count_code_points(u, start));
            length = static_cast<std::uint32_t>(count_code_points(u + start, end - start));
        }
    }
    return allocate_fault(reason, offset, length);
}

}  // namespace quillmere::python
