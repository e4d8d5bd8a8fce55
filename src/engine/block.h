// Pixel blocks an engine allocates itself. Copies of an engine share its block,
// so each owned block carries a count of the engines drawing into it and is
// freed when the last of them lets go.
#ifndef TREL_ENGINE_BLOCK_H
#define TREL_ENGINE_BLOCK_H

#include <cstddef>

namespace trel::detail {

// Allocates `bytes` bytes of pixel storage held by one engine; null on failure.
void *allocblock(std::size_t bytes);
// One more engine draws into the block.
void retainblock(void *block);
// One engine lets go of the block; the last one frees it.
void releaseblock(void *block);

} // namespace trel::detail

#endif
