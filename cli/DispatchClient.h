// The host's side of IDispatch: calling a Mime object's members by name with VARIANT
// arguments, as a script host does, and reading their results and their log.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "platform/Com.h"

// A VARIANT that frees what it holds.
class Variant {
 public:
  Variant() { VariantInit(&v_); }
  ~Variant() { VariantClear(&v_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  Variant(Variant&& other) noexcept : v_(other.v_) { VariantInit(&other.v_); }
  Variant& operator=(Variant&& other) noexcept;

  // A VT_BSTR holding `bytes` read as text in `codePage`.
  static Variant text(const std::string& bytes, int32_t codePage);
  static Variant number(LONG n);

  VARIANT* get() { return &v_; }
  const VARIANT& operator*() const { return v_; }
  VARTYPE type() const { return v_.vt; }

 private:
  VARIANT v_;
};

// A BSTR's UTF-16 converted to `codePage`; characters the code page lacks are dropped.
std::string bytesFromBstr(BSTR s, int32_t codePage);
// Text bytes in the UTF-8 form, converted from the ANSI form when they are not valid UTF-8.
std::string utf8FromAnsiOrUtf8(const std::string& bytes);
bool isValidUtf8(const std::string& bytes);
// The length of the UTF-8 sequence starting at bytes[i] (i < size) with its code point in
// `cp`; 0 when no valid sequence starts there.
size_t utf8SequenceAt(const std::string& bytes, size_t i, uint32_t& cp);

// A text for an HRESULT a call through IDispatch returned ("no member named ...").
std::string describeDispatchError(HRESULT hr, const std::string& member);

// One reference to an object's IDispatch; members are called by name, their DISPIDs looked
// up once and kept.
class DispatchClient {
 public:
  // Takes over one reference.
  explicit DispatchClient(IDispatch* object) : object_(object) {}
  ~DispatchClient();
  DispatchClient(const DispatchClient&) = delete;
  DispatchClient& operator=(const DispatchClient&) = delete;
  DispatchClient(DispatchClient&& other) noexcept;
  DispatchClient& operator=(DispatchClient&& other) noexcept;

  // A new Mime object, created by its ProgID "VorlundMime.VorlundMime" from the registered
  // component module, which is registered first (with a line saying so on `notices`) when
  // it is not. On failure an invalid client and `error` says why. The one place the host
  // creates the object.
  static DispatchClient createMime(std::string& error, FILE* notices = stderr);
  // A new object of another registered class by its ProgID (the sibling certificate and
  // provider objects), after the same registration check.
  static DispatchClient create(const char* progId, std::string& error, FILE* notices = stderr);

  bool valid() const { return object_ != nullptr; }

  // Calls a method or reads a property (`args` in the order the member declares them).
  // The member's own failure shows in its result, not here: a failed HRESULT means the
  // call could not be made (unknown name, wrong count or type of arguments). `argErr`
  // receives the index, in `args`, of an argument that could not be coerced.
  HRESULT call(const std::string& member, std::vector<Variant>& args, Variant& result,
               int* argErr = nullptr);
  // Sets a property.
  HRESULT put(const std::string& member, Variant& value);
  HRESULT put(const std::string& member, Variant&& value) { return put(member, value); }

  // Shorthands for members without arguments or with one, the result converted; false
  // when the call failed or gave another type.
  bool callLong(const std::string& member, std::vector<Variant> args, LONG& out);
  bool callText(const std::string& member, std::vector<Variant> args, int32_t codePage,
                std::string& out);
  // GetPart's part object; an invalid client when there is none.
  DispatchClient getPart(LONG index);
  // The byte count and bytes of a byte-array result (VT_NULL is an empty body).
  bool callBytes(const std::string& member, std::string& out);

  // LastErrorText, in the ANSI code page; empty when it cannot be read.
  std::string lastErrorText();

  IDispatch* get() const { return object_; }

 private:
  HRESULT dispIdOf(const std::string& member, DISPID& id);

  IDispatch* object_ = nullptr;
  std::vector<std::pair<std::string, DISPID>> ids_;
};

// The bytes a byte array VARIANT holds; false for other types.
bool bytesFromArray(const VARIANT& v, std::string& out);
