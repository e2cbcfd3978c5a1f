// The keys and values of one hive in memory, and the text form of a hive file.
//
// Hive file format (version 1): lines of printable ASCII ended by LF, no other bytes.
//
//   vorlund-registry 1
//   generation 12
//   value "" sz "a default value of the hive's root key"
//   key 1 "CLSID"
//   key 2 "{0A83AD29-EFD3-4BD1-997D-63C4EAF39418}"
//   value "" sz "VorlundMime Class"
//   key 3 "InprocServer32"
//   value "ThreadingModel" sz "Apartment"
//   value "Count" dword 0x0000002a
//   value "Blob" binary x00ff10
//   value "Names" 7 x610000
//   end 3 4
//
// - Line 1 names the format; line 2 counts the commits of this hive (a reader compares it to
//   the one it holds to see whether the hive changed).
// - `key D "NAME"` is a key at depth D (1 for a key directly below the root), child of the
//   nearest key line above it of depth D-1. Keys are written in pre-order, siblings in name
//   order; every key has its line, empty or not.
// - `value "NAME" TYPE DATA` belongs to the nearest key line above it, or to the root when
//   there is none; values are in the order they were first set. TYPE is `sz` (REG_SZ) or
//   `expand_sz` (REG_EXPAND_SZ) with DATA a quoted string, the bytes before the terminating
//   NUL; `binary` (REG_BINARY) with DATA in hex; `dword` (REG_DWORD of 4 bytes) with DATA
//   `0x` and 8 hex digits, the number; or, for any other type or length, the type number in
//   decimal with DATA in hex. Hex is `x` and two digits per byte (`x` alone for no bytes).
// - Quoted strings escape `\` as `\\`, `"` as `\"`, and every byte outside 0x20-0x7E as
//   `\xHH`.
// - `end K V` closes the file with the number of key lines and value lines; a file without
//   it, or with anything after it, is truncated or damaged.
// Anything else (a blank line, an unknown word, a name too long, a key deeper than its parent
// allows, the same key or value twice, more than the entry limit) makes the whole file
// unreadable: a reader never takes part of a hive for all of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/WinTypes.h"

namespace registry {

constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;
constexpr size_t kMaxDepth = 512;
constexpr size_t kMaxValueSize = size_t(1) << 20;
// Bounds on what one hive may hold, so a hostile file costs bounded memory and time.
constexpr size_t kMaxHiveFileSize = size_t(64) << 20;
constexpr size_t kMaxEntries = 1000000;  // keys and values together

// The form under which a name is looked up and sorted: ASCII letters folded to upper case, as
// the system orders subkeys.
std::string foldName(std::string_view name);

struct RegValue {
  std::string name;
  DWORD type = 0;
  std::string data;
};

// One key: its name as created, its subkeys by folded name, its values in setting order.
class RegKey {
 public:
  explicit RegKey(std::string name) : name_(std::move(name)) {}
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;

  const std::string& name() const { return name_; }

  RegKey* child(std::string_view name) const;
  // The existing child of that name, or a new one with the name as given.
  RegKey* addChild(std::string_view name, bool* created);
  // Detaches the child; null when there is none.
  std::unique_ptr<RegKey> removeChild(std::string_view name);
  size_t childCount() const { return children_.size(); }
  // Children in name order; index below childCount().
  const RegKey* childAt(size_t index) const;
  void clear();

  const RegValue* value(std::string_view name) const;
  // Replaces the data of an existing value (keeping its name and place) or appends one.
  // False when the value already held exactly this.
  bool setValue(std::string_view name, DWORD type, std::string data);
  bool removeValue(std::string_view name);
  size_t valueCount() const { return values_.size(); }
  const RegValue& valueAt(size_t index) const { return values_[index]; }

 private:
  const std::vector<const RegKey*>& order() const;

  std::string name_;
  std::map<std::string, std::unique_ptr<RegKey>> children_;  // by folded name
  // The children in name order for enumeration by index, rebuilt after a change.
  mutable std::vector<const RegKey*> order_;
  mutable bool orderValid_ = true;
  std::vector<RegValue> values_;
  std::map<std::string, size_t> valueIndex_;  // folded name -> position in values_
};

struct Hive {
  std::unique_ptr<RegKey> root = std::make_unique<RegKey>("");
  uint64_t generation = 0;
};

// Reads a whole hive file; false with *why set (a line number and the fault) when the text
// is not a complete, well-formed hive.
bool parseHive(std::string_view text, Hive* hive, std::string* why);
// The file text of a tree; false with *why set when it exceeds the hive bounds.
bool serializeHive(const RegKey& root, uint64_t generation, std::string* text, std::string* why);
// The generation of a hive file from its first bytes; false when they are not a hive header.
bool peekGeneration(std::string_view head, uint64_t* generation);

}  // namespace registry
