// A growable byte array that is never treated as text.
#pragma once

#include <cstdint>

#include "platform/OleAuto.h"
#include "platform/WinTypes.h"

class LogBase;

class DataBuffer {
 public:
  DataBuffer();
  // Allocates `size` zero bytes of room; nothing is in use yet.
  explicit DataBuffer(uint32_t size);
  // Adopts a block from the component's allocator without copying; the buffer frees it.
  DataBuffer(unsigned char* bytes, uint32_t n);
  DataBuffer(const DataBuffer&) = delete;
  DataBuffer& operator=(const DataBuffer&) = delete;
  virtual ~DataBuffer();

  // Appends n bytes; when they do not fit the capacity becomes size + max(n, 20000).
  void append(const void* bytes, uint32_t n);
  // Appends, growing to exactly size + n when needed.
  void appendExact(const void* bytes, uint32_t n);
  void appendByte(unsigned char b);
  // Appends the UTF-16 units and a two-byte terminator (only the terminator for null).
  void appendWideString(const OLECHAR* s);
  // Grows to exactly n bytes of room when smaller, keeping the contents.
  void ensureCapacity(uint32_t n);
  // Replaces the contents with a copy.
  void setData(const void* bytes, uint32_t n);
  // Refers to the caller's block, which is never freed here.
  void borrowData(unsigned char* bytes, uint32_t n);
  // Owns the caller's block (from the component's allocator).
  void takeData(unsigned char* bytes, uint32_t n);
  // Moves the other buffer's block here and leaves the other empty.
  void takeFrom(DataBuffer& other);
  // Hands the block to the caller (free it with vorlundFree), with its size and room; a
  // borrowed block is copied first. Null when there is none; continues empty.
  unsigned char* takeBlock(uint32_t* size, uint32_t* capacity);
  // Frees the block: empty, no room.
  void clear();
  // Sets the size in use, within the capacity; used after writing into reserved room.
  void setSize(uint32_t n);
  // Drops the last n bytes.
  void shorten(uint32_t n);
  // Moves the bytes into a block of exactly their size (none when empty), so a buffer that
  // is kept long after it was filled holds no growth room.
  void minimizeMemory();

  const unsigned char* getData() const;
  unsigned char* getData();
  uint32_t getSize() const;
  uint32_t capacity() const;
  bool isBorrowed() const;
  bool equals(const DataBuffer& other) const;

  // A VT_ARRAY | VT_UI1 vector holding a copy; VT_NULL when empty.
  void toVariant(VARIANT* v) const;
  // The bytes read as text in the ANSI code page, as UTF-16.
  BSTR createBSTR() const;

  // Replaces the contents with a whole file (UTF-8 or UTF-16 name). No byte-order mark is
  // examined. False with the reason in the log.
  bool loadFile(const char* utf8Path, LogBase* log);
  bool loadFile(const OLECHAR* widePath, LogBase* log);

 private:
  void check() const;
  void grow(uint32_t newCapacity);
  void releaseBlock();

  unsigned char marker_;
  bool borrowed_ = false;
  unsigned char* data_ = nullptr;
  uint32_t size_ = 0;
  uint32_t capacity_ = 0;
};
