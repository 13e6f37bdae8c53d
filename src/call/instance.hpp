// Instance layout of the module's classes, their allocation, destruction and receiver check.
#pragma once

#include <Python.h>

#include <new>
#include <string_view>
#include <utility>

#include "call/guard.hpp"
#include "call/hold.hpp"
#include "call/pyref.hpp"
#include "call/python_error.hpp"

namespace zelk::call {

// The object header, the exclusively owned value, then the borrow counter.
// `constructed` is set once value and counter are built. The allocator zeroes
// the memory, so an instance made around the class's constructor (the class
// is mutable: its __new__ can be replaced) reads false and is never used.
template <class Value>
struct Instance {
    PyObject ob_base;
    Value value;
    BorrowCounter borrow;
    bool constructed;
};

// Allocates an instance of `type` and moves `value` in; on failure the
// interpreter's error is thrown and `value` stays with the caller.
template <class Value>
PyRef new_instance(PyTypeObject* type, Value& value)
{
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* object = (alloc != nullptr ? alloc : PyType_GenericAlloc)(type, 0);
    if (object == nullptr) throw_fetched_error();
    auto* instance = reinterpret_cast<Instance<Value>*>(object);
    new (&instance->value) Value(std::move(value));
    new (&instance->borrow) BorrowCounter(0);
    instance->constructed = true;
    return PyRef::steal(object);
}

template <class Value>
void dealloc_instance(PyObject* self)
{
    auto* instance = reinterpret_cast<Instance<Value>*>(self);
    if (instance->constructed) {
        guarded_unraisable(self, [instance] {
            instance->value.~Value();
            instance->borrow.~BorrowCounter();
        });
    }
    PyTypeObject* type = Py_TYPE(self);
    auto free = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free(self);
    Py_DECREF(type);  // instances of heap types own a reference to their type
}

[[noreturn]] void not_constructed(std::string_view class_name);

// `self` as an instance of `cls`, or the type-mismatch TypeError naming the
// class, or a TypeError for an instance that its constructor did not make.
template <class Value>
Instance<Value>& receiver(PyObject* self, PyObject* cls, std::string_view class_name)
{
    auto* type = reinterpret_cast<PyTypeObject*>(cls);
    if (Py_TYPE(self) != type && !PyType_IsSubtype(Py_TYPE(self), type)) throw_type_mismatch(self, class_name);
    auto& instance = *reinterpret_cast<Instance<Value>*>(self);
    if (!instance.constructed) [[unlikely]]
        not_constructed(class_name);
    return instance;
}

// The static definition of one of the module's classes: based on object, not
// subclassable, outside the cyclic GC, no instance dict, no weak references.
template <class Value>
class ClassDefinition {
public:
    ClassDefinition(const char* qualified_name, const char* doc, newfunc make, PyMethodDef* methods) noexcept
        : slots_{{Py_tp_doc, const_cast<char*>(doc)},
                 {Py_tp_base, &PyBaseObject_Type},
                 {Py_tp_new, reinterpret_cast<void*>(make)},
                 {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc_instance<Value>)},
                 {Py_tp_methods, methods},
                 {0, nullptr}},
          type_spec_{qualified_name, static_cast<int>(sizeof(Instance<Value>)), 0, Py_TPFLAGS_DEFAULT, slots_}
    {
    }
    ClassDefinition(const ClassDefinition&) = delete;
    ClassDefinition& operator=(const ClassDefinition&) = delete;

    PyType_Spec& type_spec() noexcept { return type_spec_; }

private:
    PyType_Slot slots_[6];
    PyType_Spec type_spec_;  // points into slots_
};

// Makes a class from its type record; a failure is RuntimeError "An error occurred
// while initializing class <name>" whose __cause__ is the creation error.
PyObject* create_class(PyType_Spec& definition, std::string_view name);

}  // namespace zelk::call
