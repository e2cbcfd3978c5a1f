#include "charset/tables/StoredTables.h"

namespace {

// The index is sorted by code page, so a binary search finds an entry.
const StoredTable* findIn(const StoredTable* list, uint32_t n, uint32_t codePage) {
  uint32_t lo = 0;
  uint32_t hi = n;
  while (lo < hi) {
    uint32_t mid = lo + (hi - lo) / 2;
    if (list[mid].codePage < codePage) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo < n && list[lo].codePage == codePage ? &list[lo] : nullptr;
}

}  // namespace

const StoredTable* findStoredTable(uint32_t codePage) {
  return findIn(stored_tables::kStoredTables, stored_tables::kStoredTableCount, codePage);
}

const StoredTable* findStoredPatch(uint32_t codePage) {
  return findIn(stored_tables::kStoredPatches, stored_tables::kStoredPatchCount, codePage);
}

const StoredTable* storedTables(uint32_t* count) {
  *count = stored_tables::kStoredTableCount;
  return stored_tables::kStoredTables;
}
