#include "xml/document.h"

namespace tessel {
namespace xml {
namespace {

// The idle chunks of this thread: at most kKept of them (1 MB) wait for the next document.
// The state is trivially destructible, so that a document freed late in the life of a thread
// (by a static object at exit, say) still finds it; the cleaner frees the chunks at thread
// exit and closes the cache.
constexpr size_t kKept = 16;

struct CacheState {
    unsigned char* chunks[kKept];
    size_t count;
    bool closed;
};
thread_local CacheState t_state{};

struct CacheCleaner {
    ~CacheCleaner() {
        for (size_t i = 0; i < t_state.count; ++i)
            delete[] t_state.chunks[i];
        t_state.count = 0;
        t_state.closed = true;
    }
};
thread_local CacheCleaner t_cleaner;

}  // namespace

unsigned char* Document::obtainChunk() {
    (void)&t_cleaner;  // registers the cleaner of this thread
    if (!t_state.closed && t_state.count > 0)
        return t_state.chunks[--t_state.count];
    return new unsigned char[kChunkSize];
}

void Document::releaseChunk(unsigned char* chunk) {
    if (!chunk)
        return;
    if (t_state.closed || t_state.count == kKept) {
        delete[] chunk;
        return;
    }
    (void)&t_cleaner;
    t_state.chunks[t_state.count++] = chunk;
}

}  // namespace xml
}  // namespace tessel
