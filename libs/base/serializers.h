// Generic serialisers for lists and shared pointers. Lists read into an emptied container;
// keyed forms use one entry per element under `elementKey`, sequential forms an unsigned
// count followed by the elements.
#pragma once

#include <list>
#include <vector>

#include "base/array.h"
#include "base/serialize.h"

namespace tessel {

namespace detail {

template <class T, class Container>
void readElements(IKeyReader& reader, const String& elementKey, Container& into) {
    int n = reader.count(elementKey);
    for (int i = 0; i < n; ++i) {
        T value{};
        reader.getKey(elementKey)->read(value);
        into.push_back(value);
    }
}

template <class T, class Container>
void readElements(IReader& reader, Container& into) {
    unsigned int n = 0;
    reader.read(n);
    for (unsigned int i = 0; i < n; ++i) {
        T value{};
        reader.read(value);
        into.push_back(value);
    }
}

template <class Container>
void writeElements(IKeyWriter& writer, const String& elementKey, Container& from) {
    for (auto& element : from)
        writer.writeKey(elementKey)->write(element);
}

template <class Container>
void writeElements(IWriter& writer, Container& from) {
    writer.write(static_cast<unsigned int>(from.size()));
    for (auto& element : from)
        writer.write(element);
}

// Adapts Array's append to the push_back the helpers above use.
template <class T, class MutexType>
struct ArrayAppender {
    Array<T, MutexType>& array;
    void push_back(const T& value) { array.append(value); }
};

}  // namespace detail

template <class T, class MutexType = NoMutex>
class SerializeArray : public Array<T, MutexType>, public ISerialize {
public:
    explicit SerializeArray(const String& elementKey = "element") : m_elementKey(elementKey) {}

    void read(IKeyReader& reader) override {
        this->clear();
        detail::ArrayAppender<T, MutexType> into{*this};
        detail::readElements<T>(reader, m_elementKey, into);
    }
    void read(IReader& reader) override {
        this->clear();
        detail::ArrayAppender<T, MutexType> into{*this};
        detail::readElements<T>(reader, into);
    }
    void write(IKeyWriter& writer) override {
        for (T& element : *this)
            writer.writeKey(m_elementKey)->write(element);
    }
    void write(IWriter& writer) override {
        writer.write(static_cast<unsigned int>(this->count()));
        for (T& element : *this)
            writer.write(element);
    }

    String m_elementKey;
};

class Strings : public SerializeArray<String, NoMutex> {
public:
    Strings() : SerializeArray<String, NoMutex>("element") {}
};

template <class T>
class Vector : public std::vector<T>, public ISerialize {
public:
    explicit Vector(const String& elementKey = "element") : m_elementKey(elementKey) {}

    void read(IKeyReader& reader) override {
        this->clear();
        detail::readElements<T>(reader, m_elementKey, *this);
    }
    void read(IReader& reader) override {
        this->clear();
        detail::readElements<T>(reader, *this);
    }
    void write(IKeyWriter& writer) override { detail::writeElements(writer, m_elementKey, *this); }
    void write(IWriter& writer) override { detail::writeElements(writer, *this); }

    String m_elementKey;
};

template <class T>
class List : public std::list<T>, public ISerialize {
public:
    explicit List(const String& elementKey = "element") : m_elementKey(elementKey) {}

    void read(IKeyReader& reader) override {
        this->clear();
        detail::readElements<T>(reader, m_elementKey, *this);
    }
    void read(IReader& reader) override {
        this->clear();
        detail::readElements<T>(reader, *this);
    }
    void write(IKeyWriter& writer) override { detail::writeElements(writer, m_elementKey, *this); }
    void write(IWriter& writer) override { detail::writeElements(writer, *this); }

    String m_elementKey;
};

// Serialises the object behind a shared pointer, creating it on read when empty. The keyed
// form nests it under the key "gc"; an empty pointer writes nothing.
template <class T>
class SerializePointer : public ISerialize {
public:
    explicit SerializePointer(gc::Pointer<T>& pointer) : m_pointer(pointer) {}

    void read(IKeyReader& reader) override {
        if (!m_pointer)
            m_pointer = new T();
        reader.getKey("gc")->read(static_cast<ISerialize&>(*m_pointer));
    }
    void read(IReader& reader) override {
        if (!m_pointer)
            m_pointer = new T();
        reader.read(static_cast<ISerialize&>(*m_pointer));
    }
    void write(IKeyWriter& writer) override {
        if (!m_pointer)
            return;
        writer.writeKey("gc")->write(static_cast<ISerialize&>(*m_pointer));
    }
    void write(IWriter& writer) override {
        if (!m_pointer)
            return;
        writer.write(static_cast<ISerialize&>(*m_pointer));
    }

private:
    gc::Pointer<T>& m_pointer;
};

}  // namespace tessel
