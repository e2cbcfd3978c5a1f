#include "foundation/DataBuffer.h"

#include <cstring>

#include "foundation/Conversion.h"
#include "foundation/Fatal.h"
#include "foundation/FileAccess.h"
#include "foundation/LogBase.h"
#include "foundation/Memory.h"
#include "foundation/StringBuffer.h"
#include "foundation/XString.h"
#include "platform/Errors.h"

namespace {
constexpr unsigned char kLive = 0xDB;
constexpr uint32_t kMinGrowth = 20000;
}  // namespace

void DataBuffer::check() const {
  if (marker_ != kLive) fatalError("DataBuffer used after destruction or never constructed");
}

DataBuffer::DataBuffer() : marker_(kLive) {}

DataBuffer::DataBuffer(uint32_t size) : marker_(kLive) {
  if (size == 0) return;
  data_ = static_cast<unsigned char*>(vorlundAlloc(size));
  std::memset(data_, 0, size);
  capacity_ = size;
}

DataBuffer::DataBuffer(unsigned char* bytes, uint32_t n)
    : marker_(kLive), data_(bytes), size_(bytes != nullptr ? n : 0), capacity_(size_) {}

DataBuffer::~DataBuffer() {
  check();
  releaseBlock();
  // A volatile store, so the compiler cannot drop it as a write to a dying object.
  *const_cast<volatile unsigned char*>(&marker_) = 0;
}

void DataBuffer::releaseBlock() {
  if (!borrowed_) vorlundFree(data_);
  data_ = nullptr;
  size_ = 0;
  capacity_ = 0;
  borrowed_ = false;
}

void DataBuffer::grow(uint32_t newCapacity) {
  if (newCapacity <= capacity_) return;
  if (borrowed_) {
    // A borrowed block is never resized: the bytes move into a block of our own.
    auto* own = static_cast<unsigned char*>(vorlundAlloc(newCapacity));
    if (size_ > 0) std::memcpy(own, data_, size_);
    data_ = own;
    borrowed_ = false;
  } else {
    data_ = static_cast<unsigned char*>(vorlundRealloc(data_, newCapacity));
  }
  capacity_ = newCapacity;
}

void DataBuffer::append(const void* bytes, uint32_t n) {
  check();
  if (bytes == nullptr || n == 0) return;
  if (static_cast<uint64_t>(size_) + n > capacity_) {
    const uint64_t wanted = static_cast<uint64_t>(size_) + (n > kMinGrowth ? n : kMinGrowth);
    if (wanted > 0xFFFFFFF0ULL) fatalError("DataBuffer larger than 4 GB");
    // The bytes may lie inside this buffer, which the growth can move.
    const auto* src = static_cast<const unsigned char*>(bytes);
    if (data_ != nullptr && src >= data_ && src < data_ + capacity_) {
      const size_t offset = static_cast<size_t>(src - data_);
      grow(static_cast<uint32_t>(wanted));
      bytes = data_ + offset;
    } else {
      grow(static_cast<uint32_t>(wanted));
    }
  }
  std::memmove(data_ + size_, bytes, n);
  size_ += n;
}

void DataBuffer::appendExact(const void* bytes, uint32_t n) {
  check();
  if (bytes == nullptr || n == 0) return;
  if (static_cast<uint64_t>(size_) + n > capacity_) {
    if (static_cast<uint64_t>(size_) + n > 0xFFFFFFF0ULL) fatalError("DataBuffer larger than 4 GB");
    DataBuffer copy;
    const auto* src = static_cast<const unsigned char*>(bytes);
    if (data_ != nullptr && src >= data_ && src < data_ + capacity_) {
      copy.setData(bytes, n);
      bytes = copy.data_;
    }
    grow(size_ + n);
    std::memcpy(data_ + size_, bytes, n);
    size_ += n;
    return;
  }
  std::memmove(data_ + size_, bytes, n);
  size_ += n;
}

void DataBuffer::appendByte(unsigned char b) {
  check();
  if (size_ >= capacity_) grow(size_ + kMinGrowth);
  data_[size_++] = b;
}

void DataBuffer::appendWideString(const OLECHAR* s) {
  check();
  uint32_t units = 0;
  if (s != nullptr)
    while (s[units] != 0) ++units;
  append(s, units * 2);
  const unsigned char terminator[2] = {0, 0};
  append(terminator, 2);
}

void DataBuffer::ensureCapacity(uint32_t n) {
  check();
  grow(n);
}

void DataBuffer::setData(const void* bytes, uint32_t n) {
  check();
  if (borrowed_) releaseBlock();
  size_ = 0;
  if (bytes == nullptr || n == 0) return;
  grow(n);
  std::memcpy(data_, bytes, n);
  size_ = n;
}

void DataBuffer::borrowData(unsigned char* bytes, uint32_t n) {
  check();
  releaseBlock();
  data_ = bytes;
  size_ = capacity_ = bytes != nullptr ? n : 0;
  borrowed_ = true;
}

void DataBuffer::takeData(unsigned char* bytes, uint32_t n) {
  check();
  releaseBlock();
  data_ = bytes;
  size_ = capacity_ = bytes != nullptr ? n : 0;
}

unsigned char* DataBuffer::takeBlock(uint32_t* size, uint32_t* capacity) {
  check();
  unsigned char* block = data_;
  if (borrowed_ && data_ != nullptr) {
    block = static_cast<unsigned char*>(vorlundAlloc(size_ > 0 ? size_ : 1));
    if (size_ > 0) std::memcpy(block, data_, size_);
    capacity_ = size_;
  }
  borrowed_ = false;
  *size = size_;
  *capacity = capacity_;
  data_ = nullptr;
  size_ = capacity_ = 0;
  return block;
}

void DataBuffer::takeFrom(DataBuffer& other) {
  check();
  other.check();
  if (&other == this) return;
  releaseBlock();
  data_ = other.data_;
  size_ = other.size_;
  capacity_ = other.capacity_;
  borrowed_ = other.borrowed_;
  other.data_ = nullptr;
  other.size_ = other.capacity_ = 0;
  other.borrowed_ = false;
}

void DataBuffer::clear() {
  check();
  releaseBlock();
}

void DataBuffer::setSize(uint32_t n) {
  check();
  if (n > capacity_) fatalError("DataBuffer size beyond its block");
  size_ = n;
}

void DataBuffer::shorten(uint32_t n) {
  check();
  size_ = n >= size_ ? 0 : size_ - n;
}

void DataBuffer::minimizeMemory() {
  check();
  if (borrowed_ || size_ == capacity_) return;
  if (size_ == 0) {
    releaseBlock();
    return;
  }
  data_ = static_cast<unsigned char*>(vorlundRealloc(data_, size_));
  capacity_ = size_;
}

const unsigned char* DataBuffer::getData() const {
  check();
  return data_;
}

unsigned char* DataBuffer::getData() {
  check();
  return data_;
}

uint32_t DataBuffer::getSize() const {
  check();
  return size_;
}

uint32_t DataBuffer::capacity() const {
  check();
  return capacity_;
}

bool DataBuffer::isBorrowed() const {
  check();
  return borrowed_;
}

bool DataBuffer::equals(const DataBuffer& other) const {
  check();
  other.check();
  return size_ == other.size_ && (size_ == 0 || std::memcmp(data_, other.data_, size_) == 0);
}

void DataBuffer::toVariant(VARIANT* v) const {
  check();
  VariantInit(v);
  if (size_ == 0) {
    v->vt = VT_NULL;
    return;
  }
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, size_);
  if (array == nullptr) {
    v->vt = VT_NULL;
    return;
  }
  void* dest = nullptr;
  SafeArrayAccessData(array, &dest);
  std::memcpy(dest, data_, size_);
  SafeArrayUnaccessData(array);
  v->vt = VT_ARRAY | VT_UI1;
  v->parray = array;
}

BSTR DataBuffer::createBSTR() const {
  check();
  return bstrFromCodePage(ansiCodePage(), reinterpret_cast<const char*>(data_), size_);
}

// --- whole-file loading: one size query, one read into reserved room

namespace {

void logSystemError(LogBase& log) {
  StringBuffer osText;
  osText.appendLastWindowsError();
  log.logError(osText.getString());
}

bool loadIntoDataBuffer(DataBuffer& out, XString& name, LogBase* log) {
  out.clear();
  LogBase& l = logOrNull(log);
  const bool ansi = name.isAnsiCompatible();
  HANDLE h = ansi ? openFileAnsi(name.getAnsi(), FileOpenMode::kRead, log)
                  : openFileWide(name, FileOpenMode::kRead, log);
  if (h == INVALID_HANDLE_VALUE) return false;
  const DWORD size = GetFileSize(h, nullptr);
  if (size == INVALID_FILE_SIZE) {
    logSystemError(l);
    closeFile(h);
    return false;
  }
  if (size == 0) {
    closeFile(h);
    return true;
  }
  auto* block = static_cast<unsigned char*>(vorlundAlloc(size + 4));
  std::memset(block, 0, size + 4);
  out.takeData(block, size);
  DWORD got = 0;
  const BOOL read = ReadFile(h, block, size, &got, nullptr);
  if (!read || got != size) {
    if (!read)
      logSystemError(l);
    else
      l.logError("Failed to read the entire file");
    if (ansi) {
      XString dir;
      getCurrentDirectory(dir);
      l.logData("filename", name.getAnsi());
      l.logData("current_dir", dir.getUtf8());
      if (!read) l.logError("Failed to read the entire file");
    }
    out.clear();
    closeFile(h);
    return false;
  }
  closeFile(h);
  return true;
}

}  // namespace

bool DataBuffer::loadFile(const char* utf8Path, LogBase* log) {
  check();
  XString name;
  name.setFromUtf8(utf8Path);
  return loadIntoDataBuffer(*this, name, log);
}

bool DataBuffer::loadFile(const OLECHAR* widePath, LogBase* log) {
  check();
  XString name;
  name.setFromUnicode(widePath);
  return loadIntoDataBuffer(*this, name, log);
}
