// The automation object model of libquarlrpc.so without a host: BSTR and
// VARIANT helpers, class factory and reference counts, names, Invoke's
// argument rules, type information, and registration into the class
// registry with creation by ProgID.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/rpc/automation_client.h"
#include "tests/support/test_env.h"

namespace {

using autotest::Bstr;
using autotest::RpcObject;
using autotest::utf8;

uint32_t byte_length_prefix(BSTR text) {
  uint32_t bytes;
  std::memcpy(&bytes, reinterpret_cast<const char*>(text) - 4, 4);
  return bytes;
}

// Every test has a private profile folder with "Quarl.RPC" registered, and
// must leave no object behind (DllCanUnloadNow is checked at the end).
class AutomationObject : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(DllRegisterServer(), S_OK); }
  void TearDown() override { EXPECT_EQ(DllCanUnloadNow(), S_OK) << "an object or lock was left behind"; }

  testsupport::OdbcConfig config;
};

TEST_F(AutomationObject, StringsCarryTheirByteLengthAndAZeroUnit) {
  struct Case {
    const char* what;
    BSTR text;
    std::u16string expected;
  };
  const OLECHAR with_nul[] = {u'a', 0, u'b'};
  Case cases[] = {
      {"a zero-ended text", SysAllocString(u"abc"), u"abc"},
      {"an empty text", SysAllocString(u""), u""},
      {"units with a zero among them", SysAllocStringLen(with_nul, 3), std::u16string(with_nul, 3)},
      {"units cut short", SysAllocStringLen(u"abcdef", 2), u"ab"},
      {"no text: zero units", SysAllocStringLen(nullptr, 4), std::u16string(4, u'\0')},
      {"outside the basic plane", SysAllocString(u"\U0001F600x"), u"\U0001F600x"},
  };
  for (auto& c : cases) {
    ASSERT_NE(c.text, nullptr) << c.what;
    EXPECT_EQ(SysStringLen(c.text), c.expected.size()) << c.what;
    EXPECT_EQ(byte_length_prefix(c.text), 2 * c.expected.size()) << c.what;
    EXPECT_EQ(std::u16string(c.text, SysStringLen(c.text)), c.expected) << c.what;
    EXPECT_EQ(c.text[c.expected.size()], 0) << c.what << ": the zero unit after the text";
    SysFreeString(c.text);
  }
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
  // A length whose byte count does not fit the 32-bit prefix.
  EXPECT_EQ(SysAllocStringLen(nullptr, 0x80000000u), nullptr);
}

TEST_F(AutomationObject, VariantClearFreesWhatTheVariantOwns) {
  RpcObject object;
  IDispatch* dispatch = object.get();
  BSTR kept = SysAllocString(u"kept");

  struct Case {
    const char* what;
    VARIANT v;
    HRESULT result;
  };
  std::vector<Case> cases(7);
  cases[0] = {"a BSTR (freed)", {}, S_OK};
  cases[0].v.vt = VT_BSTR, cases[0].v.bstrVal = SysAllocString(u"owned");
  cases[1] = {"a reference to a BSTR (not freed)", {}, S_OK};
  cases[1].v.vt = VT_BSTR | VT_BYREF, cases[1].v.pbstrVal = &kept;
  cases[2] = {"an interface (released)", {}, S_OK};
  dispatch->lpVtbl->AddRef(dispatch);
  cases[2].v.vt = VT_DISPATCH, cases[2].v.pdispVal = dispatch;
  cases[3] = {"a short", {}, S_OK};
  cases[3].v.vt = VT_I2, cases[3].v.iVal = 7;
  cases[4] = {"empty", {}, S_OK};
  cases[4].v.vt = VT_EMPTY;
  cases[5] = {"an array (not known here)", {}, DISP_E_BADVARTYPE};
  cases[5].v.vt = VT_ARRAY | VT_I4;
  cases[6] = {"an unknown tag", {}, DISP_E_BADVARTYPE};
  cases[6].v.vt = 0x0FFF;

  for (auto& c : cases) {
    const VARTYPE before = c.v.vt;
    EXPECT_EQ(VariantClear(&c.v), c.result) << c.what;
    EXPECT_EQ(c.v.vt, c.result == S_OK ? VARTYPE{VT_EMPTY} : before) << c.what;
  }
  // The object holds one reference again: the next AddRef makes it two.
  EXPECT_EQ(dispatch->lpVtbl->AddRef(dispatch), 2u);
  EXPECT_EQ(dispatch->lpVtbl->Release(dispatch), 1u);
  EXPECT_EQ(utf8(kept), "kept");
  SysFreeString(kept);

  VARIANT fresh;
  fresh.vt = VT_I4;
  VariantInit(&fresh);
  EXPECT_EQ(fresh.vt, VT_EMPTY);
}

TEST_F(AutomationObject, ReferenceCountsLocksAndUnloading) {
  IClassFactory* factory = nullptr;
  void* none = &factory;
  EXPECT_EQ(DllGetClassObject(IID_IDispatch, IID_IClassFactory, &none), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(DllGetClassObject(CLSID_QUARLRPC, IID_IClassFactory, nullptr), E_POINTER);
  EXPECT_EQ(DllGetClassObject(CLSID_QUARLRPC, IID_IDispatch, &none), E_NOINTERFACE);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);

  ASSERT_EQ(DllGetClassObject(CLSID_QUARLRPC, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE) << "a reference on the factory holds the library";

  IUnknown outer{};
  void* object = &factory;
  EXPECT_EQ(factory->lpVtbl->CreateInstance(factory, &outer, IID_IUnknown, &object), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(factory->lpVtbl->CreateInstance(factory, nullptr, IID_IClassFactory, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  ASSERT_EQ(factory->lpVtbl->CreateInstance(factory, nullptr, IID_IUnknown, &object), S_OK);
  EXPECT_EQ(factory->lpVtbl->Release(factory), 0u);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE) << "a living object holds the library";

  auto* unknown = static_cast<IUnknown*>(object);
  EXPECT_EQ(unknown->lpVtbl->AddRef(unknown), 2u);
  // Each interface the object has is the same pointer; others are refused.
  struct Case {
    const char* name;
    const IID& iid;
    bool offered;
  };
  const Case interfaces[] = {
      {"IUnknown", IID_IUnknown, true},     {"IDispatch", IID_IDispatch, true},
      {"IRPC", DIID_IRPC, true},            {"IClassFactory", IID_IClassFactory, false},
      {"ITypeInfo", IID_ITypeInfo, false},  {"the CLSID", CLSID_QUARLRPC, false},
  };
  for (const auto& c : interfaces) {
    void* face = &factory;
    EXPECT_EQ(unknown->lpVtbl->QueryInterface(unknown, c.iid, &face), c.offered ? S_OK : E_NOINTERFACE) << c.name;
    EXPECT_EQ(face, c.offered ? object : nullptr) << c.name;
    if (face) unknown->lpVtbl->Release(unknown);
  }
  EXPECT_EQ(unknown->lpVtbl->QueryInterface(unknown, IID_IUnknown, nullptr), E_POINTER);
  EXPECT_EQ(unknown->lpVtbl->Release(unknown), 1u);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  EXPECT_EQ(unknown->lpVtbl->Release(unknown), 0u);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);

  // LockServer holds the library without any object.
  ASSERT_EQ(DllGetClassObject(CLSID_QUARLRPC, IID_IUnknown, reinterpret_cast<void**>(&factory)), S_OK);
  EXPECT_EQ(factory->lpVtbl->LockServer(factory, 1), S_OK);
  EXPECT_EQ(factory->lpVtbl->Release(factory), 0u);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  ASSERT_EQ(DllGetClassObject(CLSID_QUARLRPC, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  EXPECT_EQ(factory->lpVtbl->LockServer(factory, 0), S_OK);
  EXPECT_EQ(factory->lpVtbl->LockServer(factory, 0), E_UNEXPECTED) << "an unlock without a lock";
  factory->lpVtbl->Release(factory);
}

TEST_F(AutomationObject, NamesAreFoundWithoutRegardToCase) {
  RpcObject object;
  IDispatch* d = object.get();
  auto ids_of = [&](std::vector<std::u16string> names, HRESULT expected) {
    std::vector<LPOLESTR> pointers;
    for (auto& n : names) pointers.push_back(n.data());
    std::vector<DISPID> ids(names.size(), 12345);
    EXPECT_EQ(d->lpVtbl->GetIDsOfNames(d, IID_NULL, pointers.data(), static_cast<UINT>(names.size()), 0, ids.data()),
              expected)
        << utf8(names[0].data(), names[0].size());
    return ids;
  };
  const std::pair<std::u16string, DISPID> members[] = {
      {u"Connect", 1}, {u"CONNECT", 1},     {u"disconnect", 2},   {u"GetError", 3},
      {u"geterror", 3}, {u"Call", 4},       {u"SETPARAMSIZE", 5}, {u"corCall", 6},
  };
  for (const auto& [name, id] : members) EXPECT_EQ(ids_of({name}, S_OK), std::vector<DISPID>{id});
  EXPECT_EQ(ids_of({u"Nope"}, DISP_E_UNKNOWNNAME), std::vector<DISPID>{DISPID_UNKNOWN});
  EXPECT_EQ(ids_of({u"Connect "}, DISP_E_UNKNOWNNAME), std::vector<DISPID>{DISPID_UNKNOWN});
  // Parameter names give their positions.
  EXPECT_EQ(ids_of({u"call", u"PARAM", u"library", u"EntryPoint"}, S_OK), (std::vector<DISPID>{4, 2, 0, 1}));
  EXPECT_EQ(ids_of({u"CorCall", u"coroutine", u"dsName"}, DISP_E_UNKNOWNNAME),
            (std::vector<DISPID>{6, 0, DISPID_UNKNOWN}));

  LPOLESTR name = const_cast<LPOLESTR>(u"Connect");
  DISPID id = 0;
  EXPECT_EQ(d->lpVtbl->GetIDsOfNames(d, IID_IDispatch, &name, 1, 0, &id), DISP_E_UNKNOWNINTERFACE);
}

TEST_F(AutomationObject, InvokeChecksItsArguments) {
  RpcObject object;
  Bstr text("OBJECT"), number(" 12 "), junk("12x"), param("p");
  VARIANT dispatch_arg{}, real_arg{}, big_arg{}, byref_short{};
  dispatch_arg.vt = VT_DISPATCH, dispatch_arg.pdispVal = object.get();
  real_arg.vt = VT_R8, real_arg.dblVal = 3.5;
  big_arg.vt = VT_I4, big_arg.lVal = 40000;
  int16_t ten = 10;
  byref_short.vt = VT_I2 | VT_BYREF, byref_short.piVal = &ten;
  const auto s = autotest::text_arg(text);

  struct Case {
    const char* what;
    DISPID id;
    std::vector<VARIANT> args;
    HRESULT result;
    UINT arg_error;  // index in DISPPARAMS (the last argument is 0); ~0u when none is named
  };
  const Case cases[] = {
      {"no such member", 99, {}, DISP_E_MEMBERNOTFOUND, ~0u},
      {"a missing argument", QUARL_DISPID_CONNECT, {}, DISP_E_PARAMNOTOPTIONAL, ~0u},
      {"too many arguments", QUARL_DISPID_CONNECT, {s, s}, DISP_E_BADPARAMCOUNT, ~0u},
      {"an interface for a string", QUARL_DISPID_CONNECT, {dispatch_arg}, DISP_E_TYPEMISMATCH, 0},
      {"a fraction for a string, first of three", QUARL_DISPID_CALL, {real_arg, s, s}, DISP_E_TYPEMISMATCH, 2},
      {"a fraction for a string, second of three", QUARL_DISPID_CALL, {s, real_arg, s}, DISP_E_TYPEMISMATCH, 1},
      {"a short out of range", QUARL_DISPID_SETPARAMSIZE, {big_arg}, DISP_E_OVERFLOW, 0},
      {"text that is no number", QUARL_DISPID_SETPARAMSIZE, {autotest::text_arg(junk)}, DISP_E_TYPEMISMATCH, 0},
      {"a negative parameter size", QUARL_DISPID_SETPARAMSIZE, {autotest::short_arg(-1)}, E_INVALIDARG, 0},
      {"a short as text", QUARL_DISPID_SETPARAMSIZE, {autotest::text_arg(number)}, S_OK, ~0u},
      {"a short by reference", QUARL_DISPID_SETPARAMSIZE, {byref_short}, S_OK, ~0u},
      {"a long in range", QUARL_DISPID_SETPARAMSIZE, {autotest::short_arg(9999)}, S_OK, ~0u},
      {"Param by value (it does not come back)", QUARL_DISPID_CALL, {s, s, s}, S_OK, ~0u},
  };
  for (const auto& c : cases) {
    UINT arg_error = ~0u;
    VARIANT result;
    EXPECT_EQ(object.invoke(c.id, c.args, &result, &arg_error), c.result) << c.what;
    EXPECT_EQ(arg_error, c.arg_error) << c.what;
    VariantClear(&result);
  }
  EXPECT_EQ(object.get_error(), "There is not a connection open") << "the last case ran the call";

  // The interface id must be IID_NULL; only methods (or property gets of
  // them) can be invoked; the result may be left out.
  IDispatch* d = object.get();
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(d->lpVtbl->Invoke(d, QUARL_DISPID_GETERROR, IID_IDispatch, 0, DISPATCH_METHOD, &none, &result, nullptr,
                              nullptr),
            DISP_E_UNKNOWNINTERFACE);
  EXPECT_EQ(object.invoke(QUARL_DISPID_GETERROR, {}, &result, nullptr, DISPATCH_PROPERTYPUT), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(object.invoke(QUARL_DISPID_GETERROR, {}, &result, nullptr, DISPATCH_PROPERTYGET), S_OK);
  EXPECT_EQ(result.vt, VT_BSTR);
  VariantClear(&result);
  EXPECT_EQ(object.invoke(QUARL_DISPID_DISCONNECT, {}, nullptr), S_OK);
  DISPPARAMS malformed{nullptr, nullptr, 1, 2};
  EXPECT_EQ(d->lpVtbl->Invoke(d, QUARL_DISPID_DISCONNECT, IID_NULL, 0, DISPATCH_METHOD, &malformed, &result,
                              nullptr, nullptr),
            E_INVALIDARG);

  // SetParamSize(-1) left its message; a fresh object has none.
  object.set_param_size(0);
  RpcObject fresh;
  EXPECT_EQ(fresh.get_error(), "");
}

TEST_F(AutomationObject, NamedArgumentsGoToTheirParameters) {
  RpcObject object;
  Bstr entry("ECHO"), library("DEMO"), param("unchanged");
  // Call(Param:=..., Library:=..., EntryPoint:=...): named arguments only.
  VARIANT args[] = {autotest::ref_arg(param), autotest::text_arg(entry), autotest::text_arg(library)};
  DISPID names[] = {2, 0, 1};
  DISPPARAMS params{args, names, 3, 3};
  VARIANT result;
  VariantInit(&result);
  IDispatch* d = object.get();
  EXPECT_EQ(d->lpVtbl->Invoke(d, QUARL_DISPID_CALL, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(result.vt, VT_I2);
  EXPECT_EQ(result.iVal, 1) << "no conversation";
  EXPECT_EQ(utf8(param.get()), "unchanged");

  // A name the member does not have, and a parameter given twice.
  UINT arg_error = ~0u;
  DISPID unknown[] = {7};
  DISPPARAMS bad_name{args, unknown, 3, 1};
  EXPECT_EQ(d->lpVtbl->Invoke(d, QUARL_DISPID_CALL, IID_NULL, 0, DISPATCH_METHOD, &bad_name, &result, nullptr,
                              &arg_error),
            DISP_E_PARAMNOTFOUND);
  EXPECT_EQ(arg_error, 0u);
  DISPID twice[] = {0};  // rgvarg[0] named as the first parameter, which is also given by position
  DISPPARAMS doubled{args, twice, 3, 1};
  EXPECT_EQ(d->lpVtbl->Invoke(d, QUARL_DISPID_CALL, IID_NULL, 0, DISPATCH_METHOD, &doubled, &result, nullptr,
                              &arg_error),
            DISP_E_PARAMNOTFOUND);
}

TEST_F(AutomationObject, TypeInformationListsTheMembers) {
  RpcObject object;
  IDispatch* d = object.get();
  UINT count = 0;
  EXPECT_EQ(d->lpVtbl->GetTypeInfoCount(d, &count), S_OK);
  EXPECT_EQ(count, 1u);
  ITypeInfo* info = nullptr;
  EXPECT_EQ(d->lpVtbl->GetTypeInfo(d, 1, 0, &info), DISP_E_BADINDEX);
  ASSERT_EQ(d->lpVtbl->GetTypeInfo(d, 0, 0, &info), S_OK);
  ASSERT_NE(info, nullptr);
  const ITypeInfoVtbl* t = info->lpVtbl;

  TYPEATTR* attr = nullptr;
  ASSERT_EQ(t->GetTypeAttr(info, &attr), S_OK);
  EXPECT_EQ(std::memcmp(&attr->guid, &DIID_IRPC, sizeof(GUID)), 0);
  EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
  EXPECT_EQ(attr->cFuncs, 6);
  EXPECT_EQ(attr->cVars, 0);
  t->ReleaseTypeAttr(info, attr);

  // What each member is, written out here apart from the library's table.
  struct Expected {
    DISPID id;
    std::vector<std::string> names;  // the member's, then its parameters'
    VARTYPE result;
    std::vector<VARTYPE> params;  // VT_PTR marks a BSTR by reference
  };
  const Expected members[] = {
      {1, {"Connect", "dsName"}, VT_I2, {VT_BSTR}},
      {2, {"Disconnect"}, VT_I2, {}},
      {3, {"GetError"}, VT_BSTR, {}},
      {4, {"Call", "Library", "EntryPoint", "Param"}, VT_I2, {VT_BSTR, VT_BSTR, VT_PTR}},
      {5, {"SetParamSize", "paramsize"}, VT_VOID, {VT_I2}},
      {6, {"CorCall", "Coroutine", "Param"}, VT_I2, {VT_BSTR, VT_PTR}},
  };
  for (UINT i = 0; i < 6; ++i) {
    const Expected& e = members[i];
    FUNCDESC* f = nullptr;
    ASSERT_EQ(t->GetFuncDesc(info, i, &f), S_OK);
    EXPECT_EQ(f->memid, e.id);
    EXPECT_EQ(f->funckind, FUNC_DISPATCH);
    EXPECT_EQ(f->invkind, INVOKE_FUNC);
    EXPECT_EQ(f->elemdescFunc.tdesc.vt, e.result) << e.names[0];
    ASSERT_EQ(f->cParams, static_cast<SHORT>(e.params.size())) << e.names[0];
    for (size_t p = 0; p < e.params.size(); ++p) {
      const TYPEDESC& type = f->lprgelemdescParam[p].tdesc;
      EXPECT_EQ(type.vt, e.params[p]) << e.names[0] << " parameter " << p;
      if (type.vt == VT_PTR) {
        EXPECT_EQ(type.lptdesc->vt, VT_BSTR);
        EXPECT_EQ(f->lprgelemdescParam[p].paramdesc.wParamFlags, PARAMFLAG_FIN | PARAMFLAG_FOUT);
      }
    }
    t->ReleaseFuncDesc(info, f);

    BSTR names[8] = {};
    UINT got = 0;
    ASSERT_EQ(t->GetNames(info, e.id, names, 8, &got), S_OK);
    std::vector<std::string> texts;
    for (UINT n = 0; n < got; ++n) texts.push_back(utf8(names[n])), SysFreeString(names[n]);
    EXPECT_EQ(texts, e.names);
  }
  FUNCDESC* beyond = nullptr;
  EXPECT_EQ(t->GetFuncDesc(info, 6, &beyond), TYPE_E_ELEMENTNOTFOUND);
  BSTR name = nullptr;
  EXPECT_EQ(t->GetDocumentation(info, MEMBERID_NIL, &name, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(utf8(name), "IRPC");
  SysFreeString(name);

  // The type information invokes members on an object of its interface.
  VARIANT result;
  VariantInit(&result);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(t->Invoke(info, d, QUARL_DISPID_DISCONNECT, DISPATCH_METHOD, &none, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(result.iVal, 1);
  EXPECT_EQ(object.get_error(), "There is not a connection open");

  EXPECT_EQ(t->Release(info), 0u);
}

std::string read(const std::filesystem::path& path) { return testsupport::read_file(path); }

TEST_F(AutomationObject, RegistrationRecordsTypeLibraryProgIdAndLibrary) {
  const auto registry = config.profile_dir() / "classes.ini";
  const std::string text = read(registry);
  const std::string library = std::filesystem::canonical(testsupport::lib_path("libquarlrpc.so")).string();
  for (const std::string& line :
       {std::string("[TypeLib\\{4C7D20C4-51A3-11D2-B3E8-0060973A5C21}\\1.0]\nName=Quarlrpclib\nPath=") + library,
        std::string("[Quarl.RPC]\nCLSID={4C7D20D2-51A3-11D2-B3E8-0060973A5C21}\n"),
        std::string("[CLSID\\{4C7D20D2-51A3-11D2-B3E8-0060973A5C21}]\nName=QUARLRPC\nProgID=Quarl.RPC\n"
                    "InprocServer=") +
            library})
    EXPECT_NE(text.find(line), std::string::npos) << line << "\nin\n" << text;
  EXPECT_LT(text.find("[TypeLib"), text.find("[Quarl.RPC]")) << "the type library is recorded first";

  // Registering again changes nothing; other entries of the file stay.
  testsupport::write_file(registry, "[Other.Thing]\nCLSID={00000000-0000-0000-0000-000000000001}\n" + text);
  ASSERT_EQ(DllRegisterServer(), S_OK);
  EXPECT_EQ(read(registry), "[Other.Thing]\nCLSID={00000000-0000-0000-0000-000000000001}\n" + text);

  // ProgIDs are found without regard to case.
  IDispatch* object = nullptr;
  char why[512];
  ASSERT_EQ(quarl_create_object("quarl.rpc", &IID_IDispatch, reinterpret_cast<void**>(&object), why, sizeof why),
            S_OK)
      << why;
  object->lpVtbl->Release(object);
}

TEST_F(AutomationObject, RegistrationIntoAFolderThatCannotBeWritten) {
  testsupport::TempDir dir;
  testsupport::write_file(dir / "file", "");
  // Below a plain file no folder can be made, whoever runs the test.
  const auto profile = dir / "file" / "quarl";
  ::setenv("QUARL_PROFILE_DIR", profile.c_str(), 1);
  EXPECT_EQ(DllRegisterServer(), SELFREG_E_TYPELIB);
  EXPECT_EQ(static_cast<uint32_t>(DllRegisterServer()), 0x80040200u);
  EXPECT_FALSE(std::filesystem::exists(profile));

  IDispatch* object = nullptr;
  char why[512];
  EXPECT_EQ(quarl_create_object("Quarl.RPC", &IID_IDispatch, reinterpret_cast<void**>(&object), why, sizeof why),
            CO_E_CLASSSTRING);
  EXPECT_EQ(object, nullptr);
  EXPECT_NE(std::string(why).find("Quarl.RPC is not registered"), std::string::npos) << why;

  // A registry file that is a folder cannot be written either.
  ::setenv("QUARL_PROFILE_DIR", dir.path().c_str(), 1);
  std::filesystem::create_directory(dir / "classes.ini");
  EXPECT_EQ(DllRegisterServer(), SELFREG_E_TYPELIB);
  EXPECT_TRUE(std::filesystem::is_empty(dir / "classes.ini"));
}

TEST_F(AutomationObject, CreationByProgIdReportsWhatIsMissing) {
  const auto registry = config.profile_dir() / "classes.ini";
  const std::string clsid = "{4C7D20D2-51A3-11D2-B3E8-0060973A5C21}";
  struct Case {
    const char* what;
    std::string registry;
    HRESULT result;
    const char* message;
  };
  const Case cases[] = {
      {"no such ProgID", "[Other]\nCLSID=" + clsid + "\n", CO_E_CLASSSTRING, "Quarl.RPC is not registered in"},
      {"a malformed CLSID", "[Quarl.RPC]\nCLSID={4C7D20D2}\n", CO_E_CLASSSTRING, "Quarl.RPC is not registered in"},
      {"a class without a library", "[Quarl.RPC]\nCLSID=" + clsid + "\n", REGDB_E_CLASSNOTREG,
       "has no library in"},
      {"a library that is not there",
       "[Quarl.RPC]\nCLSID=" + clsid + "\n[CLSID\\" + clsid + "]\nInprocServer=/nonexistent/libx.so\n",
       CO_E_DLLNOTFOUND, "Cannot load /nonexistent/libx.so"},
      {"a library that serves no classes",
       "[Quarl.RPC]\nCLSID=" + clsid + "\n[CLSID\\" + clsid + "]\nInprocServer=" +
           testsupport::lib_path("libtellix.so").string() + "\n",
       CO_E_ERRORINDLL, "has no DllGetClassObject"},
      {"another class of the library",
       "[Quarl.RPC]\nCLSID={4C7D20D1-51A3-11D2-B3E8-0060973A5C21}\n[CLSID\\{4C7D20D1-51A3-11D2-B3E8-0060973A5C21}]\n"
       "InprocServer=" +
           testsupport::lib_path("libquarlrpc.so").string() + "\n",
       CLASS_E_CLASSNOTAVAILABLE, "gives no class factory"},
  };
  for (const auto& c : cases) {
    testsupport::write_file(registry, c.registry);
    IDispatch* object = nullptr;
    char why[512];
    EXPECT_EQ(quarl_create_object("Quarl.RPC", &IID_IDispatch, reinterpret_cast<void**>(&object), why, sizeof why),
              c.result)
        << c.what;
    EXPECT_EQ(object, nullptr) << c.what;
    EXPECT_NE(std::string(why).find(c.message), std::string::npos) << c.what << ": " << why;
  }
}

TEST_F(AutomationObject, RegistrationProgram) {
  const std::string regsvr = testsupport::bin_path("quarl-regsvr").string();
  std::filesystem::remove(config.profile_dir() / "classes.ini");
  auto r = testsupport::run_command(regsvr);
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output, "registered libquarlrpc.so in " + (config.profile_dir() / "classes.ini").string() + "\n");
  r = testsupport::run_command(regsvr + " " + testsupport::lib_path("libquarlrpc.so").string());
  EXPECT_EQ(r.status, 0) << r.output;

  r = testsupport::run_command("QUARL_PROFILE_DIR=/dev/null/quarl " + regsvr);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output,
            "quarl-regsvr: libquarlrpc.so: the type library cannot be recorded in /dev/null/quarl/classes.ini\n");
  r = testsupport::run_command(regsvr + " " + testsupport::lib_path("libtellix.so").string());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("has no DllRegisterServer"), std::string::npos) << r.output;
  EXPECT_EQ(testsupport::run_command(regsvr + " a b").status, 2);
}

}  // namespace
