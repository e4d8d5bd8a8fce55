#include "block.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace trel::detail {
namespace {

// The share count sits in a header in front of the pixels, so engines need no
// field beyond their own and the pixels keep the allocator's alignment.
using sharecount = std::atomic<std::size_t>;
constexpr std::size_t headerbytes = alignof(std::max_align_t) > sizeof(sharecount)
                                        ? alignof(std::max_align_t)
                                        : sizeof(sharecount);

sharecount *countof(void *block) {
    return std::launder(reinterpret_cast<sharecount *>(static_cast<char *>(block) - headerbytes));
}

} // namespace

void *allocblock(std::size_t bytes) {
    void *raw = std::malloc(headerbytes + bytes);
    if (raw == nullptr) {
        return nullptr;
    }
    new (raw) sharecount(1);
    return static_cast<char *>(raw) + headerbytes;
}

void retainblock(void *block) { countof(block)->fetch_add(1, std::memory_order_relaxed); }

void releaseblock(void *block) {
    sharecount *count = countof(block);
    if (count->fetch_sub(1, std::memory_order_acq_rel) == 1) {
        count->~sharecount();
        std::free(static_cast<char *>(block) - headerbytes);
    }
}

} // namespace trel::detail
