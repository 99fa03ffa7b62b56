/* Creates and releases many "Quarl.RPC" objects through quarl_object.h, as a
 * C client does; the tests run it under valgrind.
 *
 *   automation_lifecycle [COUNT]
 *
 * The program is linked with libquarlrpc.so (for the BSTR and VARIANT
 * helpers), which registers itself in the class registry of the profile
 * folder first.
 * Every object answers GetError and a Call without a conversation; with
 * QUARL_TEST_DSN set (quarl_client_env sets it), every 100th object also
 * connects, calls DEMO/ECHO and is released with its conversation open.  At
 * the end DllCanUnloadNow must answer S_OK.  Exit status 0 when every step
 * gave what it should.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "rpc/automation/quarl_object.h"

static int failures = 0;

static void check(int ok, const char* what, long index) {
  if (ok) return;
  if (failures++ < 10) fprintf(stderr, "object %ld: %s\n", index, what);
}

static DISPID dispid_of(IDispatch* object, const OLECHAR* name) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[1];
  names[0] = (LPOLESTR)name;
  object->lpVtbl->GetIDsOfNames(object, &IID_NULL, names, 1, 0, &id);
  return id;
}

/* Invokes a member with count arguments (given in order; the call reverses
   them) and returns its short result, or -1. */
static int invoke(IDispatch* object, const OLECHAR* name, VARIANT* args, unsigned count) {
  VARIANT reversed[3], result;
  DISPPARAMS params;
  unsigned i;
  HRESULT hr;
  for (i = 0; i < count; ++i) reversed[count - 1 - i] = args[i];
  params.rgvarg = reversed;
  params.rgdispidNamedArgs = NULL;
  params.cArgs = count;
  params.cNamedArgs = 0;
  VariantInit(&result);
  hr = object->lpVtbl->Invoke(object, dispid_of(object, name), &IID_NULL, 0, DISPATCH_METHOD, &params, &result,
                              NULL, NULL);
  if (FAILED(hr) || result.vt != VT_I2) return -1;
  return result.iVal;
}

static VARIANT text_arg(BSTR text) {
  VARIANT v;
  v.vt = VT_BSTR;
  v.bstrVal = text;
  return v;
}

static int same_text(BSTR text, const OLECHAR* expected) {
  size_t n = 0;
  while (expected[n]) ++n;
  return text && n * 2 == ((const uint32_t*)text)[-1] && memcmp(text, expected, n * 2) == 0;
}

/* Call(entry, library, param) with param by reference; gives back the short
   result and leaves param holding what came back. */
static int call(IDispatch* object, const OLECHAR* entry, const OLECHAR* library, BSTR* param) {
  VARIANT args[3];
  int rc;
  args[0] = text_arg(SysAllocString(entry));
  args[1] = text_arg(SysAllocString(library));
  args[2].vt = VT_BSTR | VT_BYREF;
  args[2].pbstrVal = param;
  rc = invoke(object, u"call", args, 3);
  VariantClear(&args[0]);
  VariantClear(&args[1]);
  return rc;
}

static void exercise(IDispatch* object, long index, const char* dsn) {
  VARIANT result, arg;
  DISPPARAMS none = {NULL, NULL, 0, 0};
  BSTR param = SysAllocString(u"abc");
  HRESULT hr;

  VariantInit(&result);
  hr = object->lpVtbl->Invoke(object, dispid_of(object, u"GetError"), &IID_NULL, 0, DISPATCH_METHOD, &none, &result,
                              NULL, NULL);
  check(hr == S_OK && result.vt == VT_BSTR && same_text(result.bstrVal, u""), "GetError of a fresh object", index);
  VariantClear(&result);

  check(call(object, u"ECHO", u"DEMO", &param) == 1, "Call without a conversation fails", index);
  check(same_text(param, u"abc"), "Param is unchanged after a failure", index);

  if (dsn && index % 100 == 0) {
    OLECHAR wide[256];
    size_t i;
    for (i = 0; dsn[i] && i < 255; ++i) wide[i] = (OLECHAR)(unsigned char)dsn[i];
    wide[i] = 0;
    arg = text_arg(SysAllocString(wide));
    check(invoke(object, u"Connect", &arg, 1) == 0, "Connect", index);
    VariantClear(&arg);
    SysFreeString(param);
    param = SysAllocString(u"hello   ");
    check(call(object, u"ECHO", u"DEMO", &param) == 0, "Call DEMO/ECHO", index);
    check(same_text(param, u"hello"), "Call gives back the area less its trailing blanks", index);
  }
  SysFreeString(param);
}

int main(int argc, char** argv) {
  long count = argc > 1 ? atol(argv[1]) : 1000;
  const char* dsn = getenv("QUARL_TEST_DSN");
  char why[1024];
  long i;
  HRESULT hr = DllRegisterServer();
  if (hr != S_OK) {
    fprintf(stderr, "DllRegisterServer: 0x%08X\n", (unsigned)hr);
    return 1;
  }
  for (i = 0; i < count; ++i) {
    IDispatch* object = NULL;
    hr = quarl_create_object(QUARL_RPC_PROGID, &IID_IDispatch, (void**)&object, why, sizeof why);
    if (FAILED(hr)) {
      fprintf(stderr, "object %ld: %s\n", i, why);
      return 1;
    }
    check(DllCanUnloadNow() == S_FALSE, "DllCanUnloadNow while an object lives", i);
    exercise(object, i, dsn);
    check(object->lpVtbl->Release(object) == 0, "the last Release answers 0", i);
  }
  check(DllCanUnloadNow() == S_OK, "DllCanUnloadNow after the last object", count);
  if (failures) fprintf(stderr, "%d failures\n", failures);
  else printf("%ld objects created and released\n", count);
  return failures ? 1 : 0;
}
