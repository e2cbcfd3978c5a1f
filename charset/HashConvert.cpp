#include "charset/HashConvert.h"

#include <cstring>

#include "foundation/Memory.h"

HashConvert::HashConvert(uint32_t bucketCount) { init(bucketCount); }

HashConvert::~HashConvert() { freeBuckets(); }

void HashConvert::freeBuckets() {
  for (uint32_t i = 0; i < bucketCount_; ++i) vorlundFree(buckets_[i]);
  vorlundFree(buckets_);
  vorlundFree(bucketUsed_);
  buckets_ = nullptr;
  bucketUsed_ = nullptr;
}

void HashConvert::init(uint32_t bucketCount) {
  freeBuckets();
  bucketCount_ = bucketCount == 0 ? 1 : bucketCount;
  buckets_ = static_cast<unsigned char**>(vorlundAlloc(sizeof(unsigned char*) * bucketCount_));
  bucketUsed_ = static_cast<uint32_t*>(vorlundAlloc(sizeof(uint32_t) * bucketCount_));
  std::memset(buckets_, 0, sizeof(unsigned char*) * bucketCount_);
  std::memset(bucketUsed_, 0, sizeof(uint32_t) * bucketCount_);
  std::memset(leadBytes_, 0, sizeof leadBytes_);
  numEntries_ = 0;
  maxKeyLength_ = 0;
}

uint32_t HashConvert::bucketOf(const unsigned char* key, uint32_t keyLen) const {
  uint32_t h = 0;
  for (uint32_t i = 0; i < keyLen && i < 4; ++i) h |= static_cast<uint32_t>(key[i]) << (8 * i);
  return h % bucketCount_;
}

void HashConvert::insert(const unsigned char* key, uint32_t keyLen, const unsigned char* value,
                         uint32_t valueLen) {
  if (key == nullptr || keyLen == 0 || keyLen > 255 || valueLen > 255) return;
  const uint32_t b = bucketOf(key, keyLen);
  const uint32_t used = bucketUsed_[b];
  const uint32_t grown = used + 2 + keyLen + valueLen;
  buckets_[b] = static_cast<unsigned char*>(vorlundRealloc(buckets_[b], grown + 1));
  unsigned char* p = buckets_[b] + used;
  *p++ = static_cast<unsigned char>(keyLen);
  std::memcpy(p, key, keyLen);
  p += keyLen;
  *p++ = static_cast<unsigned char>(valueLen);
  if (valueLen > 0) std::memcpy(p, value, valueLen);
  p += valueLen;
  *p = 0;
  bucketUsed_[b] = grown;
  ++numEntries_;
  if (keyLen > maxKeyLength_) maxKeyLength_ = keyLen;
  if (keyLen > 1) leadBytes_[key[0] >> 5] |= 1u << (key[0] & 31);
}

const unsigned char* HashConvert::lookup(const unsigned char* key, uint32_t keyLen,
                                         uint32_t* valueLen) const {
  *valueLen = 0;
  if (key == nullptr || keyLen == 0) return nullptr;
  const unsigned char* p = buckets_[bucketOf(key, keyLen)];
  if (p == nullptr) return nullptr;
  while (*p != 0) {
    const uint32_t klen = p[0];
    const uint32_t vlen = p[1 + klen];
    if (klen == keyLen && std::memcmp(p + 1, key, keyLen) == 0) {
      *valueLen = vlen;
      return p + 2 + klen;
    }
    p += 2 + klen + vlen;
  }
  return nullptr;
}

void HashConvert::remove(const unsigned char* key, uint32_t keyLen) {
  if (key == nullptr || keyLen == 0) return;
  const uint32_t b = bucketOf(key, keyLen);
  unsigned char* block = buckets_[b];
  if (block == nullptr) return;
  // Rebuilt in place: kept entries slide down over removed ones.
  uint32_t read = 0;
  uint32_t write = 0;
  while (block[read] != 0) {
    const uint32_t klen = block[read];
    const uint32_t entry = 2 + klen + block[read + 1 + klen];
    if (klen == keyLen && std::memcmp(block + read + 1, key, keyLen) == 0) {
      --numEntries_;
    } else {
      std::memmove(block + write, block + read, entry);
      write += entry;
    }
    read += entry;
  }
  block[write] = 0;
  bucketUsed_[b] = write;
}

void HashConvert::invertInto(HashConvert& other) const {
  forEach([&other](const unsigned char* key, uint32_t klen, const unsigned char* value,
                   uint32_t vlen) { other.insert(value, vlen, key, klen); });
}
