// The heap of a process about to answer searches, laid out for answers of many
// megabytes: a stretch of it is reserved at once and backed by large pages, so a listing
// of a hundred thousand lines costs a few page faults rather than thousands. kolvocmd
// prepares it at its first search, the server's child for a connection as it starts.
#pragma once

#include <cstddef>

namespace kolvo::limits {

// The stretch of heap reserved at start-up and given large pages: room for the result
// set, the records and the text of a listing of a few hundred thousand files.
inline constexpr std::size_t heapLargePagesBytes = std::size_t{64} << 20;
// Blocks below this come from the heap (so from the stretch above) rather than from a
// mapping of their own, which would start with fresh pages on every allocation.
inline constexpr std::size_t heapMappedBlockBytes = std::size_t{32} << 20;

}  // namespace kolvo::limits

// Reserves the stretch and asks for large pages on it, once per process (a forked child
// prepares its own); where the system refuses, the heap simply stays as it was. A build
// or a watch that never searches keeps the allocator's usual, smaller heap. Call it
// from one thread, while no other allocates.
void qvPrepareHeap();
