// The cost of calling a member of the Mime object through IDispatch, as a script host does
// (names resolved once, then Invoke with VARIANT arguments), beside the same call through
// the vtable. Items are member calls.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "component/IVorlundMime.h"
#include "component/ObjectFactory.h"

namespace {

const char16_t kMessage[] =
    u"From: a@example.com\r\nTo: b@example.com\r\nSubject: dispatch\r\n"
    u"Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
    u"--b1\r\nContent-Type: text/plain\r\n\r\none\r\n"
    u"--b1\r\nContent-Type: text/plain\r\n\r\ntwo\r\n--b1--\r\n";

// A loaded Mime object for one benchmark run.
class LoadedMime {
 public:
  LoadedMime() {
    if (FAILED(createVorlundMimeObject(IID_IVorlundMime, reinterpret_cast<void**>(&mime_)))) {
      std::fprintf(stderr, "createVorlundMimeObject failed\n");
      std::abort();
    }
    BSTR text = SysAllocString(kMessage);
    LONG ok = 0;
    mime_->LoadMime(text, &ok);
    SysFreeString(text);
  }
  ~LoadedMime() { mime_->Release(); }
  LoadedMime(const LoadedMime&) = delete;
  LoadedMime& operator=(const LoadedMime&) = delete;

  IVorlundMime* get() const { return mime_; }

  DISPID idOf(const char16_t* name) const {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = DISPID_UNKNOWN;
    if (mime_->GetIDsOfNames(IID_NULL, names, 1, 0, &id) != S_OK) {
      std::fprintf(stderr, "no DISPID for a benchmarked member\n");
      std::abort();
    }
    return id;
  }

 private:
  IVorlundMime* mime_ = nullptr;
};

void BM_NumPartsVtable(benchmark::State& state) {
  LoadedMime mime;
  for (auto _ : state) {
    LONG count = 0;
    mime.get()->get_NumParts(&count);
    benchmark::DoNotOptimize(count);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_NumPartsVtable);

void BM_NumPartsDispatch(benchmark::State& state) {
  LoadedMime mime;
  const DISPID id = mime.idOf(u"NumParts");
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  VARIANT check;
  VariantInit(&check);
  mime.get()->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &check, nullptr, nullptr);
  if (check.vt != VT_I4 || check.lVal != 2) state.SkipWithError("NumParts is not 2");
  for (auto _ : state) {
    VARIANT result;
    VariantInit(&result);
    mime.get()->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr);
    benchmark::DoNotOptimize(result.lVal);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_NumPartsDispatch);

void BM_GetHeaderFieldVtable(benchmark::State& state) {
  LoadedMime mime;
  BSTR name = SysAllocString(u"subject");
  for (auto _ : state) {
    BSTR value = nullptr;
    mime.get()->GetHeaderField(name, &value);
    benchmark::DoNotOptimize(value);
    SysFreeString(value);
  }
  SysFreeString(name);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GetHeaderFieldVtable);

// The argument as a script engine holds it: a BSTR variant, used without a copy.
void BM_GetHeaderFieldDispatch(benchmark::State& state) {
  LoadedMime mime;
  const DISPID id = mime.idOf(u"GetHeaderField");
  VARIANT arg;
  VariantInit(&arg);
  arg.vt = VT_BSTR;
  arg.bstrVal = SysAllocString(u"subject");
  DISPPARAMS params{&arg, nullptr, 1, 0};
  VARIANT check;
  VariantInit(&check);
  mime.get()->Invoke(id, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params, &check,
                     nullptr, nullptr);
  if (check.vt != VT_BSTR || std::u16string_view(check.bstrVal) != u"dispatch")
    state.SkipWithError("GetHeaderField(\"subject\") is not \"dispatch\"");
  VariantClear(&check);
  for (auto _ : state) {
    VARIANT result;
    VariantInit(&result);
    mime.get()->Invoke(id, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params, &result,
                       nullptr, nullptr);
    benchmark::DoNotOptimize(result.bstrVal);
    VariantClear(&result);
  }
  VariantClear(&arg);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GetHeaderFieldDispatch);

// A long given as text, as loosely typed scripts pass it: the coercion is part of the call.
void BM_GetHeaderFieldNameCoercedDispatch(benchmark::State& state) {
  LoadedMime mime;
  const DISPID id = mime.idOf(u"GetHeaderFieldName");
  VARIANT arg;
  VariantInit(&arg);
  arg.vt = VT_BSTR;
  arg.bstrVal = SysAllocString(u"1");
  DISPPARAMS params{&arg, nullptr, 1, 0};
  for (auto _ : state) {
    VARIANT result;
    VariantInit(&result);
    mime.get()->Invoke(id, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params, &result,
                       nullptr, nullptr);
    benchmark::DoNotOptimize(result.bstrVal);
    VariantClear(&result);
  }
  VariantClear(&arg);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GetHeaderFieldNameCoercedDispatch);

}  // namespace
