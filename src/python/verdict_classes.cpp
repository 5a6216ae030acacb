// Success and Fault: small immutable value classes for match statements and
// equality tests, and the conversion of a core fault into a Fault.
#include "python/module.hpp"

#include <structmember.h>

#include <cstddef>

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

template <class Object>
Object* as(PyObject* self) {
    return reinterpret_cast<Object*>(self);
}

bool is_verdict(PyObject* obj) {
    return Py_TYPE(obj) == module_state.success_class || Py_TYPE(obj) == module_state.fault_class;
}

// The one reference a verdict holds: a Success's value, a Fault's reason.
PyObject*& held_reference(PyObject* verdict) {
    return Py_TYPE(verdict) == module_state.success_class ? as<SuccessObject>(verdict)->value
                                                          : as<FaultObject>(verdict)->reason;
}

// Verdicts are made and dropped once per cell of a column, so a few freed ones
// of each class are kept for reuse. PyObject_Init gives a reused object back
// its type and the reference a heap-type instance owns to it; reinitialising
// memory the allocator handed out for an earlier object is outside the
// contract (test_reused_verdicts_keep_their_class_alive).
template <class Object>
Object* allocate(FreeList& free_list, PyTypeObject* type) {
    if (free_list.count > 0) {
        PyObject* self = free_list.items[--free_list.count];
        return as<Object>(PyObject_Init(self, type));
    }
    return as<Object>(PyType_GenericAlloc(type, 0));
}

// Gives back the memory of a verdict whose references are released.
void recycle(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    FreeList& free_list = type == module_state.success_class ? module_state.free_successes : module_state.free_faults;
    if (free_list.count < FreeList::capacity) {
        free_list.items[free_list.count++] = self;
    } else {
        reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free))(self);
    }
    Py_DECREF(type);  // the instance's reference to its heap type
}

void verdict_dealloc(PyObject* self) {
    PyObject* held = held_reference(self);
    held_reference(self) = nullptr;
    recycle(self);
    // A chain of verdicts, each holding the only reference to the next
    // (Success(Success(...))), is released here one link at a time: letting
    // each link drop the next would nest one dealloc per link and overflow
    // the C stack, and the limited API has no trashcan. A link held only by
    // us is emptied first, so its own dealloc nests no further
    // (test_deep_chains_are_freed_without_recursion).
    while (held != nullptr && is_verdict(held) && Py_REFCNT(held) == 1) {
        PyObject* next = held_reference(held);
        held_reference(held) = nullptr;
        Py_DECREF(held);
        held = next;
    }
    Py_XDECREF(held);
}

PyObject* allocate_success(PyObject* value) {
    auto* self = allocate<SuccessObject>(module_state.free_successes, module_state.success_class);
    if (self == nullptr) {
        Py_DECREF(value);
        return nullptr;
    }
    self->value = value;
    return reinterpret_cast<PyObject*>(self);
}

PyObject* allocate_fault(PyObject* reason, std::uint32_t offset, std::uint32_t length) {
    auto* self = allocate<FaultObject>(module_state.free_faults, module_state.fault_class);
    if (self == nullptr) return nullptr;
    self->reason = Py_NewRef(reason);
    self->offset = offset;
    self->length = length;
    return reinterpret_cast<PyObject*>(self);
}

// The truth value of Python's `a == b`: the rich comparison, then its truth
// test, with no shortcut for identical objects, so a value unequal to itself
// (a NaN) makes its verdict unequal to itself too.
int equal_values(PyObject* a, PyObject* b) {
    PyObject* equal = PyObject_RichCompare(a, b, Py_EQ);
    if (equal == nullptr) return -1;
    const int truth = PyObject_IsTrue(equal);
    Py_DECREF(equal);
    return truth;
}

// != is the negated truth of the full rich comparison ==, exceptions included.
PyObject* negate_equality(PyObject* self, PyObject* other) {
    const int equal = equal_values(self, other);
    if (equal < 0) return nullptr;
    return PyBool_FromLong(!equal);
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

PyObject* success_richcompare(PyObject* self, PyObject* other, int op) {
    if (op == Py_NE) return negate_equality(self, other);
    if (op != Py_EQ) return Py_NewRef(Py_NotImplemented);
    if (Py_TYPE(other) != module_state.success_class) return Py_NewRef(Py_False);
    const int equal = equal_values(as<SuccessObject>(self)->value, as<SuccessObject>(other)->value);
    if (equal < 0) return nullptr;
    return PyBool_FromLong(equal);
}

PyObject* success_class_getitem(PyObject* cls, PyObject* key) { return Py_GenericAlias(cls, key); }

// Pickles and copies as a call of the class; a deep copy copies the value.
PyObject* success_reduce(PyObject* self, PyObject*) {
    return Py_BuildValue("O(O)", reinterpret_cast<PyObject*>(Py_TYPE(self)), as<SuccessObject>(self)->value);
}

PyMemberDef success_members[] = {
    {"value", T_OBJECT_EX, offsetof(SuccessObject, value), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyMethodDef success_methods[] = {
    {"__class_getitem__", success_class_getitem, METH_O | METH_CLASS, "__class_getitem__($cls, key)\n--\n\n"},
    {"__reduce__", success_reduce, METH_NOARGS, "__reduce__($self, /)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot success_slots[] = {
    {Py_tp_doc, const_cast<char*>("Success(value)\n--\n\nThe success case of a verdict: a cast value.")},
    {Py_tp_new, reinterpret_cast<void*>(success_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(verdict_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(success_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(success_richcompare)},
    {Py_tp_members, success_members},
    {Py_tp_methods, success_methods},
    {0, nullptr},
};

PyType_Spec success_layout = {"quillmere.Success", sizeof(SuccessObject), 0,
                            Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, success_slots};

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
    if (op != Py_EQ) return Py_NewRef(Py_NotImplemented);
    if (Py_TYPE(other) != module_state.fault_class) return Py_NewRef(Py_False);
    auto* a = as<FaultObject>(self);
    auto* b = as<FaultObject>(other);
    // The span decides first, so reasons are compared only for equal spans.
    if (a->offset != b->offset || a->length != b->length) return Py_NewRef(Py_False);
    const int equal = equal_values(a->reason, b->reason);
    if (equal < 0) return nullptr;
    return PyBool_FromLong(equal);
}

PyObject* fault_offset(PyObject* self, void*) {
    return PyLong_FromUnsignedLong(reinterpret_cast<FaultObject*>(self)->offset);
}

PyObject* fault_length(PyObject* self, void*) {
    return PyLong_FromUnsignedLong(reinterpret_cast<FaultObject*>(self)->length);
}

PyObject* fault_reduce(PyObject* self, PyObject*) {
    auto* f = as<FaultObject>(self);
    return Py_BuildValue("O(Okk)", reinterpret_cast<PyObject*>(Py_TYPE(self)), f->reason,
                         static_cast<unsigned long>(f->offset), static_cast<unsigned long>(f->length));
}

PyMethodDef fault_methods[] = {
    {"__reduce__", fault_reduce, METH_NOARGS, "__reduce__($self, /)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

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
    {Py_tp_dealloc, reinterpret_cast<void*>(verdict_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(fault_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(fault_richcompare)},
    {Py_tp_members, fault_members},
    {Py_tp_getset, fault_getset},
    {Py_tp_methods, fault_methods},
    {0, nullptr},
};

PyType_Spec fault_layout = {"quillmere.Fault", sizeof(FaultObject), 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
                          fault_slots};

PyTypeObject* create_class(PyType_Spec& layout, PyObject* match_args) {
    if (match_args == nullptr) return nullptr;
    auto* type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&layout));
    if (type == nullptr) {
        Py_DECREF(match_args);
        return nullptr;
    }
    if (!set_class_attribute(type, "__match_args__", match_args)) Py_CLEAR(type);
    return type;
}

constexpr bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

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
    PyTypeObject*& cls = module_state.success_class;
    if (cls == nullptr) cls = create_class(success_layout, Py_BuildValue("(s)", "value"));
    return cls;
}

PyTypeObject* fault_type() noexcept {
    PyTypeObject*& cls = module_state.fault_class;
    if (cls == nullptr) cls = create_class(fault_layout, Py_BuildValue("(sss)", "reason", "offset", "length"));
    return cls;
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
            Py_ssize_t start = offset < static_cast<std::uint64_t>(n) ? Py_ssize_t{offset} : n;
            Py_ssize_t end = static_cast<std::uint64_t>(start) + length < static_cast<std::uint64_t>(n)
                                       ? start + Py_ssize_t{length}
                                       : n;
            // A few rules name a fixed byte ("the byte at 8", "the last byte"),
            // which in a str can be part of a longer character. The span then
            // grows to whole characters, so that slicing the string still
            // gives back the offending text instead of nothing.
            while (start > 0 && start < n && is_continuation(u[start])) {
                --start;
            }
            while (end > start && end < n && is_continuation(u[end])) {
                ++end;
            }
            offset = static_cast<std::uint32_t>(count_code_points(u, start));
            length = static_cast<std::uint32_t>(count_code_points(u + start, end - start));
        }
    }
    return allocate_fault(reason, offset, length);
}

PyObject* new_fault(core::FaultReason reason, std::uint64_t offset, std::uint64_t length) noexcept {
    PyObject* member = reason_member(static_cast<std::uint8_t>(reason));
    if (member == nullptr) return nullptr;
    return allocate_fault(member, core::saturate_u32(offset), core::saturate_u32(length));
}

}  // namespace quillmere::python
