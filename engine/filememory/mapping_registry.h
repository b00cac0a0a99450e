// Which backing file a pointer handed back by a caller points into. The C interface
// gives out raw record pointers (file records, word data); before it reads or writes
// through one it asks here, so a stale or foreign pointer is refused, not followed.
#pragma once

#include <cstddef>

class CFileMemory;

namespace kolvo {

void registerMapping(const unsigned char* base, size_t length, CFileMemory* owner);
void unregisterMapping(const unsigned char* base);
// The backing file whose mapping holds [pointer, pointer + length), or null.
CFileMemory* findMapping(const void* pointer, size_t length);

}  // namespace kolvo
