// The lookup structures that the conversion tables are built into: a hash table from short
// byte strings to short byte strings, and the 256-entry forward table of a single-byte code
// page.
#pragma once

#include <cstdint>

class HashConvert {
 public:
  explicit HashConvert(uint32_t bucketCount);
  HashConvert(const HashConvert&) = delete;
  HashConvert& operator=(const HashConvert&) = delete;
  virtual ~HashConvert();

  // Discards every entry and starts over with `bucketCount` buckets.
  void init(uint32_t bucketCount);
  // Appends an entry; an existing entry with the same key is not looked for, so the first
  // inserted one keeps winning lookups. Keys and values are 1 to 255 bytes.
  void insert(const unsigned char* key, uint32_t keyLen, const unsigned char* value,
              uint32_t valueLen);
  // The value of the first entry with this key; *valueLen is 0 when there is none.
  const unsigned char* lookup(const unsigned char* key, uint32_t keyLen, uint32_t* valueLen) const;
  // Removes every entry with this key.
  void remove(const unsigned char* key, uint32_t keyLen);
  // Inserts every entry of this table into `other` with key and value swapped.
  void invertInto(HashConvert& other) const;
  // Calls fn(key, keyLen, value, valueLen) for every entry; entries with the same key come
  // in the order they were inserted.
  template <typename Fn>
  void forEach(Fn fn) const {
    for (uint32_t b = 0; b < bucketCount_; ++b) {
      const unsigned char* p = buckets_[b];
      if (p == nullptr) continue;
      while (*p != 0) {
        const uint32_t klen = p[0];
        const uint32_t vlen = p[1 + klen];
        fn(p + 1, klen, p + 2 + klen, vlen);
        p += 2 + klen + vlen;
      }
    }
  }
  // The longest key inserted since the last init.
  uint32_t maxKeyLength() const { return maxKeyLength_; }

  bool asciiTransparent() const { return asciiTransparent_; }
  void setAsciiTransparent(bool on) { asciiTransparent_ = on; }
  uint32_t bucketCount() const { return bucketCount_; }
  uint32_t numEntries() const { return numEntries_; }
  // True when some key of more than one byte begins with `lead`; lets the decoder skip
  // lookups that cannot match.
  bool isLeadByte(unsigned char lead) const { return (leadBytes_[lead >> 5] >> (lead & 31)) & 1; }

 private:
  uint32_t bucketOf(const unsigned char* key, uint32_t keyLen) const;
  void freeBuckets();

  bool asciiTransparent_ = false;
  uint32_t bucketCount_ = 0;
  // Each bucket: entries of (key length, key, value length, value), ended by a zero key
  // length. bucketUsed_ is the bytes before that terminator.
  unsigned char** buckets_ = nullptr;
  uint32_t* bucketUsed_ = nullptr;
  uint32_t numEntries_ = 0;
  uint32_t maxKeyLength_ = 0;
  uint32_t leadBytes_[8] = {};
};

// The forward table of a single-byte code page: the UTF-16 unit of every byte, 0 where the
// byte is unmapped (entry 0 is U+0000).
class UnicodeLookup {
 public:
  UnicodeLookup() = default;
  virtual ~UnicodeLookup() = default;
  uint16_t units[256] = {};
  // Made with the units, so that a conversion has nothing to prepare: each byte's unit in
  // UTF-8 (utf8Length[b] bytes of utf8[b]; length 0 where the byte is unmapped), and whether
  // bytes 0x01-0x7F are the ASCII characters of their number.
  unsigned char utf8[256][4] = {};
  unsigned char utf8Length[256] = {};
  bool asciiRuns = false;
};
