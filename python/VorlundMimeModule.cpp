// The Python module vorlundmime: a script host for the registered components. Dispatch(progId)
// creates an object by its ProgID and wraps its IDispatch; attribute reads and calls reach the
// members by name through GetIDsOfNames and Invoke, as a Windows script engine does.
//
//   m = vorlundmime.Dispatch("VorlundMime.VorlundMime")
//   m.LoadMimeFile("a.eml")          # 1 or 0, the member's success flag
//   m.NumParts                       # a property read
//   m.GetPart(0).GetBodyDecoded()    # part objects come back wrapped
//   m.Charset = "utf-8"              # a property put
//
// Strings cross in the form each member reads and writes them: the members that take file
// names, bodies and header fields in the UTF-8 form get the text as it is; the others hold
// the UTF-8 bytes read in the ANSI code page the platform reports, which the host program
// does the same way, so that text survives the round trip whatever the code page.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "charset/EncodingConvert.h"
#include "cli/DispatchClient.h"
#include "cli/MemberForms.h"
#include "foundation/Conversion.h"
#include "platform/ComActivation.h"

namespace {

PyObject* g_error = nullptr;  // vorlundmime.Error

struct DispatchObject {
  PyObject_HEAD IDispatch* dispatch;
};

// A member found by name and waiting for its arguments: what `m.LoadMimeFile` is before the
// call.
struct BoundMember {
  PyObject_HEAD DispatchObject* owner;
  DISPID id;
  PyObject* name;
};

PyTypeObject* g_dispatchType = nullptr;  // vorlundmime.Object
PyTypeObject* g_memberType = nullptr;    // vorlundmime.Member

std::u16string utf16Of(PyObject* text) {
  PyObject* encoded = PyUnicode_AsEncodedString(text, "utf-16-le", "surrogatepass");
  if (encoded == nullptr) return std::u16string();
  const std::u16string out(reinterpret_cast<const char16_t*>(PyBytes_AS_STRING(encoded)),
                           static_cast<size_t>(PyBytes_GET_SIZE(encoded)) / 2);
  Py_DECREF(encoded);
  return out;
}

PyObject* strFromUtf16(const OLECHAR* s, UINT n) {
  return PyUnicode_DecodeUTF16(reinterpret_cast<const char*>(s), static_cast<Py_ssize_t>(n) * 2,
                               "surrogatepass", nullptr);
}

// The object's LastErrorText, when it has one: the log of the member that just failed.
std::string lastErrorLog(IDispatch* object) {
  DispatchClient client(object);
  object->AddRef();  // the client releases its reference when it goes
  return utf8FromAnsiOrUtf8(client.lastErrorText());
}

// Raises vorlundmime.Error(message) with .hresult and .log set.
void raiseError(HRESULT hr, const std::string& message, IDispatch* object) {
  PyObject* text = PyUnicode_DecodeUTF8(message.data(), Py_ssize_t(message.size()), "replace");
  PyObject* error = text != nullptr ? PyObject_CallOneArg(g_error, text) : nullptr;
  Py_XDECREF(text);
  if (error == nullptr) return;
  PyObject* code = PyLong_FromUnsignedLong(static_cast<unsigned long>(static_cast<uint32_t>(hr)));
  const std::string log = object != nullptr ? lastErrorLog(object) : std::string();
  PyObject* logText = PyUnicode_DecodeUTF8(log.data(), Py_ssize_t(log.size()), "replace");
  if (code != nullptr) PyObject_SetAttrString(error, "hresult", code);
  if (logText != nullptr) PyObject_SetAttrString(error, "log", logText);
  Py_XDECREF(code);
  Py_XDECREF(logText);
  PyErr_SetObject(g_error, error);
  Py_DECREF(error);
}

PyObject* wrap(IDispatch* dispatch) {  // takes over one reference
  auto* self = PyObject_New(DispatchObject, g_dispatchType);
  if (self == nullptr) {
    dispatch->Release();
    return nullptr;
  }
  self->dispatch = dispatch;
  return reinterpret_cast<PyObject*>(self);
}

// A Python value as the VARIANT argument of `member`; false with a Python error set when the
// value has no VARIANT form.
bool toVariant(PyObject* value, const std::string& member, Variant& out) {
  VARIANT* v = out.get();
  if (value == Py_None) {
    v->vt = VT_NULL;
  } else if (PyBool_Check(value)) {
    v->vt = VT_BOOL;
    v->boolVal = value == Py_True ? VARIANT_TRUE : VARIANT_FALSE;
  } else if (PyLong_Check(value)) {
    const long n = PyLong_AsLong(value);
    if (PyErr_Occurred()) return false;
    if (n < INT32_MIN || n > INT32_MAX) {
      PyErr_Format(PyExc_OverflowError, "%s: %ld does not fit a 32-bit argument", member.c_str(),
                   n);
      return false;
    }
    out = Variant::number(static_cast<LONG>(n));
  } else if (PyFloat_Check(value)) {
    v->vt = VT_R8;
    v->dblVal = PyFloat_AS_DOUBLE(value);
  } else if (PyUnicode_Check(value)) {
    if (takesUtf8Text(member)) {
      const std::u16string text = utf16Of(value);
      if (PyErr_Occurred()) return false;
      v->vt = VT_BSTR;
      v->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    } else {
      Py_ssize_t n = 0;
      const char* utf8 = PyUnicode_AsUTF8AndSize(value, &n);
      if (utf8 == nullptr) return false;
      out = Variant::text(std::string(utf8, static_cast<size_t>(n)), ansiCodePage());
    }
  } else if (PyBytes_Check(value) || PyByteArray_Check(value)) {
    Py_buffer view;
    if (PyObject_GetBuffer(value, &view, PyBUF_SIMPLE) != 0) return false;
    SAFEARRAYBOUND bound{static_cast<ULONG>(view.len), 0};
    SAFEARRAY* array = SafeArrayCreate(VT_UI1, 1, &bound);
    void* data = nullptr;
    if (array != nullptr && SUCCEEDED(SafeArrayAccessData(array, &data))) {
      if (view.len > 0) std::memcpy(data, view.buf, static_cast<size_t>(view.len));
      SafeArrayUnaccessData(array);
      v->vt = VT_ARRAY | VT_UI1;
      v->parray = array;
    }
    PyBuffer_Release(&view);
    if (v->vt == VT_EMPTY) {
      PyErr_NoMemory();
      return false;
    }
  } else if (PyObject_TypeCheck(value, g_dispatchType)) {
    IDispatch* d = reinterpret_cast<DispatchObject*>(value)->dispatch;
    d->AddRef();
    v->vt = VT_DISPATCH;
    v->pdispVal = d;
  } else {
    PyErr_Format(PyExc_TypeError, "%s: a %s cannot be passed to a member", member.c_str(),
                 Py_TYPE(value)->tp_name);
    return false;
  }
  return true;
}

// A member's result as a Python value: flags and counts as int, strings as str, byte arrays
// as bytes, objects wrapped.
PyObject* fromVariant(const VARIANT& v, const std::string& member) {
  switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL:
      Py_RETURN_NONE;
    case VT_I2:
      return PyLong_FromLong(v.iVal);
    case VT_I4:
    case VT_INT:
      return PyLong_FromLong(v.lVal);
    case VT_UI1:
      return PyLong_FromLong(v.bVal);
    case VT_UI4:
    case VT_UINT:
      return PyLong_FromUnsignedLong(v.ulVal);
    case VT_BOOL:
      return PyBool_FromLong(v.boolVal != VARIANT_FALSE);
    case VT_R8:
      return PyFloat_FromDouble(v.dblVal);
    case VT_R4:
      return PyFloat_FromDouble(v.fltVal);
    case VT_BSTR: {
      if (v.bstrVal == nullptr) return PyUnicode_FromString("");
      if (givesUtf8Text(member)) return strFromUtf16(v.bstrVal, SysStringLen(v.bstrVal));
      const std::string text = utf8FromAnsiOrUtf8(bytesFromBstr(v.bstrVal, ansiCodePage()));
      return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
    }
    case VT_DISPATCH:
      if (v.pdispVal == nullptr) Py_RETURN_NONE;
      v.pdispVal->AddRef();
      return wrap(v.pdispVal);
    case VT_ARRAY | VT_UI1: {
      std::string bytes;
      bytesFromArray(v, bytes);
      return PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size()));
    }
    default:
      PyErr_Format(PyExc_TypeError, "%s returned a VARIANT of type 0x%x, which has no Python form",
                   member.c_str(), static_cast<unsigned>(v.vt));
      return nullptr;
  }
}

std::string utf8Name(PyObject* name) {
  const char* s = PyUnicode_AsUTF8(name);
  return s != nullptr ? s : std::string();
}

// The member's DISPID; false when the object has no such member (`hr` says how it answered).
bool lookUp(IDispatch* object, PyObject* name, DISPID& id, HRESULT& hr) {
  std::u16string wide = utf16Of(name);
  if (PyErr_Occurred()) return false;
  LPOLESTR names[] = {wide.data()};
  id = DISPID_UNKNOWN;
  hr = object->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
  return SUCCEEDED(hr);
}

// Invoke with the arguments in declaration order; the result, or null with an error raised.
PyObject* invoke(IDispatch* object, DISPID id, const std::string& member, WORD flags,
                 PyObject* argTuple) {
  const Py_ssize_t n = argTuple != nullptr ? PyTuple_GET_SIZE(argTuple) : 0;
  std::vector<Variant> args(static_cast<size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i)  // IDispatch takes them last first
    if (!toVariant(PyTuple_GET_ITEM(argTuple, i), member, args[size_t(n - 1 - i)])) return nullptr;
  std::vector<VARIANT> raw;
  for (Variant& a : args) raw.push_back(*a);
  DISPPARAMS params{raw.empty() ? nullptr : raw.data(), nullptr, static_cast<UINT>(raw.size()), 0};
  Variant result;
  UINT argErr = 0;
  const HRESULT hr =
      object->Invoke(id, IID_NULL, 0, flags, &params, result.get(), nullptr, &argErr);
  if (FAILED(hr)) {
    std::string message = describeDispatchError(hr, member);
    if (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW)
      message += " (argument " + std::to_string(n - static_cast<Py_ssize_t>(argErr)) + ")";
    raiseError(hr, message, object);
    return nullptr;
  }
  return fromVariant(*result, member);
}

// --- vorlundmime.Object ---------------------------------------------------------------------

void dispatchDealloc(PyObject* self) {
  auto* d = reinterpret_cast<DispatchObject*>(self);
  if (d->dispatch != nullptr) d->dispatch->Release();
  PyTypeObject* type = Py_TYPE(self);
  PyObject_Free(self);
  Py_DECREF(type);
}

// A property read gives its value at once; a method gives a callable. Which one a name is
// shows only in how Invoke answers a property read of it.
PyObject* dispatchGetAttr(PyObject* self, PyObject* name) {
  const std::string member = utf8Name(name);
  if (PyErr_Occurred()) return nullptr;
  if (member.empty() || member[0] == '_') return PyObject_GenericGetAttr(self, name);
  IDispatch* object = reinterpret_cast<DispatchObject*>(self)->dispatch;
  DISPID id;
  HRESULT hr;
  if (!lookUp(object, name, id, hr)) {
    if (!PyErr_Occurred())
      PyErr_Format(PyExc_AttributeError, "the object has no member named '%s'", member.c_str());
    return nullptr;
  }
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  Variant result;
  hr = object->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, result.get(), nullptr, nullptr);
  if (SUCCEEDED(hr)) return fromVariant(*result, member);
  if (hr != DISP_E_MEMBERNOTFOUND && hr != DISP_E_BADPARAMCOUNT) {
    raiseError(hr, describeDispatchError(hr, member), object);
    return nullptr;
  }
  auto* bound = PyObject_New(BoundMember, g_memberType);
  if (bound == nullptr) return nullptr;
  Py_INCREF(self);
  Py_INCREF(name);
  bound->owner = reinterpret_cast<DispatchObject*>(self);
  bound->id = id;
  bound->name = name;
  return reinterpret_cast<PyObject*>(bound);
}

int dispatchSetAttr(PyObject* self, PyObject* name, PyObject* value) {
  const std::string member = utf8Name(name);
  if (PyErr_Occurred()) return -1;
  if (value == nullptr) {
    PyErr_Format(PyExc_AttributeError, "the member '%s' cannot be deleted", member.c_str());
    return -1;
  }
  IDispatch* object = reinterpret_cast<DispatchObject*>(self)->dispatch;
  DISPID id;
  HRESULT hr;
  if (!lookUp(object, name, id, hr)) {
    if (!PyErr_Occurred())
      PyErr_Format(PyExc_AttributeError, "the object has no member named '%s'", member.c_str());
    return -1;
  }
  Variant arg;
  if (!toVariant(value, member, arg)) return -1;
  VARIANT raw = *arg;
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{&raw, &named, 1, 1};
  hr = object->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
  if (FAILED(hr)) {
    raiseError(hr,
               hr == DISP_E_MEMBERNOTFOUND ? "'" + member + "' is not a property that can be set"
                                           : describeDispatchError(hr, member),
               object);
    return -1;
  }
  return 0;
}

PyObject* dispatchRepr(PyObject* self) {
  return PyUnicode_FromFormat(
      "<vorlundmime.Object at %p>",
      static_cast<void*>(reinterpret_cast<DispatchObject*>(self)->dispatch));
}

// --- the bound member -------------------------------------------------------------------------

void memberDealloc(PyObject* self) {
  auto* m = reinterpret_cast<BoundMember*>(self);
  Py_XDECREF(m->owner);
  Py_XDECREF(m->name);
  PyTypeObject* type = Py_TYPE(self);
  PyObject_Free(self);
  Py_DECREF(type);
}

PyObject* memberCall(PyObject* self, PyObject* args, PyObject* kwargs) {
  auto* m = reinterpret_cast<BoundMember*>(self);
  const std::string member = utf8Name(m->name);
  if (kwargs != nullptr && PyDict_Size(kwargs) > 0) {
    PyErr_Format(PyExc_TypeError, "%s takes no named arguments", member.c_str());
    return nullptr;
  }
  return invoke(m->owner->dispatch, m->id, member, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args);
}

PyObject* memberRepr(PyObject* self) {
  return PyUnicode_FromFormat("<vorlundmime member %U>",
                              reinterpret_cast<BoundMember*>(self)->name);
}

// --- module functions ------------------------------------------------------------------------

PyObject* dispatchCreate(PyObject*, PyObject* arg) {
  if (!PyUnicode_Check(arg)) {
    PyErr_SetString(PyExc_TypeError, "Dispatch takes a ProgID string");
    return nullptr;
  }
  const std::u16string progId = utf16Of(arg);
  if (PyErr_Occurred()) return nullptr;
  const std::string name = utf8Name(arg);
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(progId.c_str(), &clsid);
  if (FAILED(hr)) {
    raiseError(hr, name + " is not registered (vormime register registers the installed modules)",
               nullptr);
    return nullptr;
  }
  IDispatch* object = nullptr;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                        reinterpret_cast<void**>(&object));
  if (FAILED(hr) || object == nullptr) {
    raiseError(hr, "cannot create " + name + ": " + describeDispatchError(hr, name), nullptr);
    return nullptr;
  }
  return wrap(object);
}

PyMethodDef kFunctions[] = {
    {"Dispatch", dispatchCreate, METH_O,
     "Dispatch(progId) -> Object\n\nCreates the registered component with that ProgID."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef kModule = {PyModuleDef_HEAD_INIT,
                       "vorlundmime",
                       "Creates registered components by ProgID and calls their members by name.",
                       -1,
                       kFunctions,
                       nullptr,
                       nullptr,
                       nullptr,
                       nullptr};

}  // namespace

PyMODINIT_FUNC PyInit_vorlundmime() {
  static char objectDoc[] = "A component object; its members are reached as attributes.";
  static PyType_Slot objectSlots[] = {
      {Py_tp_doc, objectDoc},
      {Py_tp_dealloc, reinterpret_cast<void*>(dispatchDealloc)},
      {Py_tp_getattro, reinterpret_cast<void*>(dispatchGetAttr)},
      {Py_tp_setattro, reinterpret_cast<void*>(dispatchSetAttr)},
      {Py_tp_repr, reinterpret_cast<void*>(dispatchRepr)},
      {0, nullptr},
  };
  static PyType_Slot memberSlots[] = {
      {Py_tp_dealloc, reinterpret_cast<void*>(memberDealloc)},
      {Py_tp_call, reinterpret_cast<void*>(memberCall)},
      {Py_tp_repr, reinterpret_cast<void*>(memberRepr)},
      {0, nullptr},
  };
  static PyType_Spec objectSpec = {"vorlundmime.Object", sizeof(DispatchObject), 0,
                                   Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
                                   objectSlots};
  static PyType_Spec memberSpec = {"vorlundmime.Member", sizeof(BoundMember), 0,
                                   Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
                                   memberSlots};
  g_dispatchType = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&objectSpec));
  g_memberType = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&memberSpec));
  if (g_dispatchType == nullptr || g_memberType == nullptr) return nullptr;

  PyObject* module = PyModule_Create(&kModule);
  if (module == nullptr) return nullptr;
  g_error = PyErr_NewExceptionWithDoc(
      "vorlundmime.Error",
      "A call that could not be made; .hresult is its HRESULT, .log the object's LastErrorText.",
      nullptr, nullptr);
  if (g_error == nullptr || PyModule_AddObjectRef(module, "Error", g_error) < 0 ||
      PyModule_AddObjectRef(module, "Object", reinterpret_cast<PyObject*>(g_dispatchType)) < 0) {
    Py_DECREF(module);
    return nullptr;
  }
  // The host's conversions (the text of arguments and results) go through its own engine.
  // Python never unloads an extension module, so the engine stays installed for the life of
  // the process.
  installCodePageConverter(convertWithEngine);
  CoInitialize(nullptr);
  return module;
}
