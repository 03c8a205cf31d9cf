// Internal to libs/xml: the storage of a parsed tree. The element on which parsing started owns
// one Document: the source texts (kept alive for the tree), an arena from which the parser
// allocates nodes and attributes, and the namespace prefix declarations. Names, texts and
// values of parsed nodes are views into a source (no reference counting while parsing); the
// public accessors turn them into owning slices with own().
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "base/string.h"
#include "xml/element.h"

namespace tessel {
namespace xml {

// A prefix declaration ("xmlns:" + prefix = uri) linked to the declarations in scope around it.
// An element points at the newest declaration in its scope; its children share the chain and
// add their own in front, so each declaration is stored once however many elements it reaches.
struct NamespaceScope {
    String declaration;  // "xmlns:" + prefix; a view into the source, like the rest of the tree
    String uri;
    NamespaceScope* outer;  // the next declaration in scope, or null
    uint32_t inScope;       // declarations in scope from this one outwards
    // While parsing: the declaration of the same prefix that this one hides, and whether the
    // element being resolved already carries this declaration as an attribute.
    NamespaceScope* hidden = nullptr;
    bool carried = false;

    std::string_view prefix() const {
        return std::string_view(declaration.data() + 6, declaration.length() - 6);
    }
};

class Document {
public:
    Document() = default;
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    // Keeps `text` (which must have storage) for the life of the tree; returns the kept copy.
    const String& keep(const String& text) {
        if (m_sources.empty() || m_sources.back().data() != text.data() ||
            m_sources.back().length() != text.length()) {
            m_sources.push_back(text);
        }
        return m_sources.back();
    }

    // An owning String with the bytes of `view`: a slice of the source it points into, or
    // `view` itself when it is not a view into a source.
    String own(const String& view) const {
        if (view.isEmpty())
            return String();
        if (view.hasStorage())
            return view;
        for (const String& source : m_sources) {
            const char* begin = source.data();
            if (view.data() >= begin && view.data() + view.length() <= begin + source.length()) {
                return source.substring(static_cast<uint32_t>(view.data() - begin), view.length());
            }
        }
        return view;
    }

    // A node or attribute in the arena, marked as such so that it is destroyed, never deleted.
    template <class T, class... Args>
    T* make(Args&&... args) {
        static_assert(alignof(T) <= kAlign, "arena objects need at most pointer alignment");
        void* memory = allocate(sizeof(T));
        // Without arguments, default-initialised: value-initialising would clear the object
        // byte by byte before its constructor sets every member anyway.
        T* object;
        if constexpr (sizeof...(Args) == 0) {
            object = new (memory) T;
        } else {
            object = new (memory) T(std::forward<Args>(args)...);
        }
        object->m_document = this;
        object->m_inArena = true;
        if (holdsStorage(*object))
            m_plain = false;
        return object;
    }

    // True while every object of the arena holds views only and no object from elsewhere was
    // linked into the tree: the tree can then go with the arena without visiting its nodes.
    bool plain() const noexcept { return m_plain; }
    // Records that an object of the arena now holds `text`: a text with storage of its own
    // means that the tree has to be released node by node.
    void noteStored(const String& text) noexcept {
        if (text.hasStorage())
            m_plain = false;
    }
    void noteForeign() noexcept { m_plain = false; }

    // A new declaration in front of the chain `outer`, owned by the document.
    NamespaceScope* declare(const String& declaration, const String& uri, NamespaceScope* outer) {
        uint32_t inScope = outer ? outer->inScope + 1 : 1;
        m_scopes.push_back(
            std::unique_ptr<NamespaceScope>(new NamespaceScope{declaration, uri, outer, inScope}));
        return m_scopes.back().get();
    }

private:
    static bool holdsStorage(const Text& text) { return text.textView().hasStorage(); }
    static bool holdsStorage(const Comment& comment) { return comment.textView().hasStorage(); }
    static bool holdsStorage(const Element& element) { return element.nameView().hasStorage(); }
    static bool holdsStorage(const Attribute& attribute) {
        return attribute.m_name.hasStorage() || attribute.m_value.text().hasStorage();
    }

    static constexpr size_t kAlign = alignof(void*);

    // Chunks of kChunkSize bytes are recycled through a per-thread cache, so that parsing
    // one document after another neither grows and trims the heap nor faults pages in anew.
    static constexpr size_t kChunkSize = 64 * 1024;
    static unsigned char* obtainChunk();
    static void releaseChunk(unsigned char* chunk);

    struct ChunkRelease {
        void operator()(unsigned char* chunk) const { releaseChunk(chunk); }
    };
    using Chunk = std::unique_ptr<unsigned char[], ChunkRelease>;

    void* allocate(size_t size) {
        size = (size + kAlign - 1) / kAlign * kAlign;
        if (size > m_left) {
            if (size > kChunkSize) {
                m_large.push_back(std::unique_ptr<unsigned char[]>(new unsigned char[size]));
                return m_large.back().get();
            }
            m_chunks.push_back(Chunk(obtainChunk()));
            m_at = m_chunks.back().get();
            m_left = kChunkSize;
        }
        void* result = m_at;
        m_at += size;
        m_left -= size;
        return result;
    }

    bool m_plain = true;
    std::vector<String> m_sources;
    std::vector<Chunk> m_chunks;
    std::vector<std::unique_ptr<unsigned char[]>> m_large;
    unsigned char* m_at = nullptr;
    size_t m_left = 0;
    std::vector<std::unique_ptr<NamespaceScope>> m_scopes;
};

}  // namespace xml
}  // namespace tessel
