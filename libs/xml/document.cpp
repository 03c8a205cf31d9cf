#include "xml/document.h"

namespace tessel {
namespace xml {
namespace {

// The idle chunks of this thread; at most kKept of them (1 MB) wait for the next document.
class ChunkCache {
public:
    static constexpr size_t kKept = 16;
    ~ChunkCache() {
        for (size_t i = 0; i < m_count; ++i) delete[] m_chunks[i];
    }
    unsigned char* take() { return m_count ? m_chunks[--m_count] : nullptr; }
    bool give(unsigned char* chunk) {
        if (m_count == kKept) return false;
        m_chunks[m_count++] = chunk;
        return true;
    }

private:
    unsigned char* m_chunks[kKept] = {};
    size_t m_count = 0;
};

thread_local ChunkCache t_cache;

}  // namespace

unsigned char* Document::obtainChunk() {
    unsigned char* chunk = t_cache.take();
    return chunk ? chunk : new unsigned char[kChunkSize];
}

void Document::releaseChunk(unsigned char* chunk) {
    if (chunk && !t_cache.give(chunk)) delete[] chunk;
}

}  // namespace xml
}  // namespace tessel
