#include "engine/filememory/mapping_registry.h"

#include <functional>
#include <map>

namespace kolvo {

namespace {

struct Mapping {
  size_t length;
  CFileMemory* owner;
};

// Keyed by base address; std::less over pointers gives a total order.
std::map<const unsigned char*, Mapping, std::less<>>& mappings() {
  static std::map<const unsigned char*, Mapping, std::less<>> all;
  return all;
}

}  // namespace

void registerMapping(const unsigned char* base, size_t length, CFileMemory* owner) {
  mappings()[base] = Mapping{length, owner};
}

void unregisterMapping(const unsigned char* base) { mappings().erase(base); }

CFileMemory* findMapping(const void* pointer, size_t length) {
  if (!pointer) return nullptr;
  auto at = static_cast<const unsigned char*>(pointer);
  auto& all = mappings();
  auto next = all.upper_bound(at);
  if (next == all.begin()) return nullptr;
  --next;
  const unsigned char* base = next->first;
  size_t offset = static_cast<size_t>(at - base);  // base <= at by the search
  if (offset > next->second.length || length > next->second.length - offset) return nullptr;
  return next->second.owner;
}

}  // namespace kolvo
