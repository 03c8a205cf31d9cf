// Intrusive reference counting: gc::Object carries the count, gc::Pointer<T> holds one
// reference, and an object disposes of itself when its last reference is released.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

namespace tessel {
namespace gc {

// Base of every counted object. The count starts at 0; the first Pointer that takes the
// object makes it 1. Counts change atomically, so handles may be copied and released from
// any thread; the object itself is not synchronised.
class Object {
public:
    Object() = default;
    Object(const Object&) : m_refs(0) {}
    Object& operator=(const Object&) { return *this; }

    // Called once, when the count falls to 0.
    virtual void dispose() = 0;
    // A constant text naming the class, for diagnostics.
    virtual const char* className() const = 0;
    virtual ~Object() = default;

    void addRef() noexcept { m_refs.fetch_add(1, std::memory_order_relaxed); }
    // Returns the count after the decrement.
    int32_t release() noexcept { return m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1; }
    int32_t refCount() const noexcept { return m_refs.load(std::memory_order_acquire); }

private:
    std::atomic<int32_t> m_refs{0};
};

// The usual counted object: disposing of it deletes it.
class ObjectDelete : public Object {
public:
    void dispose() override { delete this; }
    const char* className() const override { return "ObjectDelete"; }
};

// Raises NullException (kept out of line so that this header stays light).
[[noreturn]] void throwNullPointer();

// A handle holding one reference to a gc::Object, or null.
template <class T>
class Pointer {
public:
    Pointer() noexcept = default;
    Pointer(T* object) noexcept : m_object(object) {  // NOLINT: implicit on purpose
        if (m_object)
            m_object->addRef();
    }
    Pointer(const Pointer& other) noexcept : Pointer(other.m_object) {}
    template <class U>
    Pointer(const Pointer<U>& other) noexcept : Pointer(other.get()) {}
    Pointer(Pointer&& other) noexcept : m_object(other.m_object) { other.m_object = nullptr; }
    ~Pointer() { reset(); }

    Pointer& operator=(const Pointer& other) noexcept { return assign(other.m_object); }
    Pointer& operator=(T* object) noexcept { return assign(object); }
    Pointer& operator=(Pointer&& other) noexcept {
        if (this != &other) {
            // The old object goes last: it may be what keeps `other` alive.
            T* old = m_object;
            m_object = other.m_object;
            other.m_object = nullptr;
            release(old);
        }
        return *this;
    }

    // Releases the object: the handle becomes null first, then the object is disposed of
    // when this was its last reference.
    void reset() noexcept {
        T* old = m_object;
        m_object = nullptr;
        release(old);
    }

    T* get() const noexcept { return m_object; }
    T* operator->() const {
        if (!m_object)
            throwNullPointer();
        return m_object;
    }
    T& operator*() const {
        if (!m_object)
            throwNullPointer();
        return *m_object;
    }
    explicit operator bool() const noexcept { return m_object != nullptr; }
    bool isNull() const noexcept { return m_object == nullptr; }
    bool operator==(const Pointer& other) const noexcept { return m_object == other.m_object; }
    bool operator!=(const Pointer& other) const noexcept { return m_object != other.m_object; }

    // Number of holders of the object, 0 for a null handle.
    int32_t refCount() const noexcept { return m_object ? m_object->refCount() : 0; }

private:
    // Assigning the object already held does nothing. Otherwise the new object is taken
    // before the old one is released: the old one may be the only holder of the new one
    // (p = p->next).
    Pointer& assign(T* object) noexcept {
        if (object == m_object)
            return *this;
        if (object)
            object->addRef();
        T* old = m_object;
        m_object = object;
        release(old);
        return *this;
    }
    static void release(T* object) noexcept {
        if (object && static_cast<Object*>(object)->release() == 0) {
            static_cast<Object*>(object)->dispose();
        }
    }

    T* m_object = nullptr;
};

}  // namespace gc
}  // namespace tessel
