// The code page mappings built into the component, as stored texts (doc/table_format.md).
// The texts are made by tools/gen_tables.py; this interface only finds them. Turning a
// text into lookup tables is the conversion engine's business.
#pragma once

#include <cstdint>

// One stored text, cut into pieces because compilers limit the length of one string
// literal. The text is the pieces appended in order; each piece is NUL-terminated.
struct StoredTable {
  uint32_t codePage;
  const char* const* pieces;
  uint32_t numPieces;
};

// The full list a code page's tables are built from, or nullptr when the code page has no
// table. Code pages that share a list get the same pieces: 51936 those of 936, and 10001
// those of 932, which is its starting point (see findStoredPatch).
const StoredTable* findStoredTable(uint32_t codePage);

// The patch list applied on top of the full list when the UTF-16-to-code-page table is
// built; only 10001 has one. nullptr for every other code page.
const StoredTable* findStoredPatch(uint32_t codePage);

// Every code page that findStoredTable knows, ascending by code page; the count is
// stored in *count.
const StoredTable* storedTables(uint32_t* count);

// Filled in by the generated index (TablesIndex.cpp).
namespace stored_tables {
extern const StoredTable kStoredTables[];
extern const uint32_t kStoredTableCount;
extern const StoredTable kStoredPatches[];
extern const uint32_t kStoredPatchCount;
}  // namespace stored_tables
