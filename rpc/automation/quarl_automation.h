/* The automation binary contract of libquarlrpc.so, for C and C++ clients.
 *
 * libquarlrpc.so serves the in-process automation object "Quarl.RPC" with
 * the layout that automation clients rely on: interfaces are tables of entry
 * points (IUnknown, IClassFactory, IDispatch, ITypeInfo) reached through the
 * first word of the object, results are HRESULTs, text is a BSTR (UTF-16
 * with its byte length in the 32 bits before the text and a zero unit after
 * it) and arguments are VARIANTs (type tag at offset 0, value at offset 8)
 * passed in DISPPARAMS, the last argument first.
 *
 * Calling convention: every entry of the tables and every function below
 * uses the platform's native convention.  On Linux x86-64 that is the
 * System V convention (ctypes: CFUNCTYPE).  A Windows build uses the
 * system's own headers instead of the definitions here; there the entries
 * are __stdcall (STDMETHODCALLTYPE, STDAPICALLTYPE) on 32-bit x86 and the
 * native ms_abi convention on x86-64, and the BSTR and VARIANT helpers come
 * from OLEAUT32.
 *
 * Objects are created through DllGetClassObject and the class factory, or
 * by ProgID with quarl_object.h.
 */
#ifndef QUARL_AUTOMATION_H
#define QUARL_AUTOMATION_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define QUARL_UNUSED __attribute__((unused))
#else
#define QUARL_UNUSED
#endif

#if defined(_WIN32)
#include <objbase.h>
#include <oleauto.h>
typedef ULONG QUARL_ULONG;
#else

#ifndef __cplusplus
#include <uchar.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define STDMETHODCALLTYPE
#define STDAPICALLTYPE

/* Scalar types with their automation widths.  unixODBC's headers define
   some of these names too: WORD, DWORD, UINT and USHORT with the same types,
   BOOL as a macro for int, and ULONG with 64 bits, so the 32-bit counts of
   AddRef and Release are QUARL_ULONG here. */
typedef int32_t HRESULT;
typedef int32_t SCODE;
typedef int32_t LONG;
typedef uint32_t QUARL_ULONG;
typedef int32_t INT;
typedef uint32_t UINT;
#ifndef BOOL
typedef int32_t BOOL;
#endif
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uint32_t LCID;
typedef LONG DISPID;
typedef DISPID MEMBERID;
typedef DWORD HREFTYPE;
typedef uint16_t VARTYPE;
typedef int16_t VARIANT_BOOL;
typedef double DATE;

/* UTF-16 text.  A BSTR points at the first unit; the 32-bit byte length
   (units times two, the closing zero unit not counted) is stored just
   before it. */
typedef char16_t OLECHAR;
typedef OLECHAR* BSTR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;

typedef struct _GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} GUID;
typedef GUID IID;
typedef GUID CLSID;
#ifdef __cplusplus
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;
#else
typedef const GUID* REFGUID;
typedef const IID* REFIID;
typedef const CLSID* REFCLSID;
#endif

/* HRESULTs. */
#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define E_NOTIMPL ((HRESULT)0x80004001)
#define E_NOINTERFACE ((HRESULT)0x80004002)
#define E_POINTER ((HRESULT)0x80004003)
#define E_FAIL ((HRESULT)0x80004005)
#define E_UNEXPECTED ((HRESULT)0x8000FFFF)
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define E_INVALIDARG ((HRESULT)0x80070057)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110)
#define CLASS_E_CLASSNOTAVAILABLE ((HRESULT)0x80040111)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154)
#define SELFREG_E_TYPELIB ((HRESULT)0x80040200)
#define SELFREG_E_CLASS ((HRESULT)0x80040201)
#define CO_E_CLASSSTRING ((HRESULT)0x800401F3)
#define CO_E_DLLNOTFOUND ((HRESULT)0x800401F8)
#define CO_E_ERRORINDLL ((HRESULT)0x800401F9)
#define DISP_E_UNKNOWNINTERFACE ((HRESULT)0x80020001)
#define DISP_E_MEMBERNOTFOUND ((HRESULT)0x80020003)
#define DISP_E_PARAMNOTFOUND ((HRESULT)0x80020004)
#define DISP_E_TYPEMISMATCH ((HRESULT)0x80020005)
#define DISP_E_UNKNOWNNAME ((HRESULT)0x80020006)
#define DISP_E_NONAMEDARGS ((HRESULT)0x80020007)
#define DISP_E_BADVARTYPE ((HRESULT)0x80020008)
#define DISP_E_EXCEPTION ((HRESULT)0x80020009)
#define DISP_E_OVERFLOW ((HRESULT)0x8002000A)
#define DISP_E_BADINDEX ((HRESULT)0x8002000B)
#define DISP_E_BADPARAMCOUNT ((HRESULT)0x8002000E)
#define DISP_E_PARAMNOTOPTIONAL ((HRESULT)0x8002000F)
#define TYPE_E_ELEMENTNOTFOUND ((HRESULT)0x8002802B)
#define TYPE_E_BADMODULEKIND ((HRESULT)0x800288BD)

#define DISPID_UNKNOWN ((DISPID)-1)
#define DISPID_PROPERTYPUT ((DISPID)-3)
#define MEMBERID_NIL DISPID_UNKNOWN

/* Invoke flags. */
#define DISPATCH_METHOD 0x1
#define DISPATCH_PROPERTYGET 0x2
#define DISPATCH_PROPERTYPUT 0x4
#define DISPATCH_PROPERTYPUTREF 0x8

/* Variant types. */
enum VARENUM {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_VOID = 24,
  VT_HRESULT = 25,
  VT_PTR = 26,
  VT_SAFEARRAY = 27,
  VT_USERDEFINED = 29,
  VT_RECORD = 36,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_TYPEMASK = 0xFFF
};

typedef struct IUnknown IUnknown;
typedef struct IClassFactory IClassFactory;
typedef struct IDispatch IDispatch;
typedef struct ITypeInfo ITypeInfo;
typedef struct ITypeComp ITypeComp;
typedef struct ITypeLib ITypeLib;
typedef struct tagVARDESC VARDESC; /* no variables are described */

/* 16 bytes on 32-bit platforms, 24 on 64-bit ones; the value starts at 8. */
typedef struct tagVARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    int64_t llVal;
    LONG lVal;
    uint8_t bVal;
    SHORT iVal;
    float fltVal;
    double dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    DATE date;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    uint8_t* pbVal;
    SHORT* piVal;
    LONG* plVal;
    BSTR* pbstrVal;
    struct tagVARIANT* pvarVal;
    void* byref;
    char cVal;
    USHORT uiVal;
    uint32_t ulVal;
    uint64_t ullVal;
    INT intVal;
    UINT uintVal;
    struct {
      void* pvRecord;
      void* pRecInfo;
    } brecVal;
  };
} VARIANT;
typedef VARIANT VARIANTARG;

typedef struct tagDISPPARAMS {
  VARIANTARG* rgvarg; /* the last argument first */
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
} DISPPARAMS;

typedef struct tagEXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  void* pvReserved;
  HRESULT(STDMETHODCALLTYPE* pfnDeferredFillIn)(struct tagEXCEPINFO*);
  SCODE scode;
} EXCEPINFO;

/* Type descriptions (ITypeInfo). */
typedef enum tagTYPEKIND {
  TKIND_ENUM = 0,
  TKIND_RECORD,
  TKIND_MODULE,
  TKIND_INTERFACE,
  TKIND_DISPATCH,
  TKIND_COCLASS,
  TKIND_ALIAS,
  TKIND_UNION
} TYPEKIND;
typedef enum tagFUNCKIND { FUNC_VIRTUAL, FUNC_PUREVIRTUAL, FUNC_NONVIRTUAL, FUNC_STATIC, FUNC_DISPATCH } FUNCKIND;
typedef enum tagINVOKEKIND {
  INVOKE_FUNC = 1,
  INVOKE_PROPERTYGET = 2,
  INVOKE_PROPERTYPUT = 4,
  INVOKE_PROPERTYPUTREF = 8
} INVOKEKIND;
typedef enum tagCALLCONV { CC_FASTCALL = 0, CC_CDECL = 1, CC_STDCALL = 4 } CALLCONV;
#define PARAMFLAG_NONE 0x0
#define PARAMFLAG_FIN 0x1
#define PARAMFLAG_FOUT 0x2
#define TYPEFLAG_FDISPATCHABLE 0x1000

typedef struct tagTYPEDESC {
  union {
    struct tagTYPEDESC* lptdesc; /* VT_PTR: what it points to */
    void* lpadesc;
    HREFTYPE hreftype;
  };
  VARTYPE vt;
} TYPEDESC;

typedef struct tagIDLDESC {
  uintptr_t dwReserved;
  USHORT wIDLFlags;
} IDLDESC;

typedef struct tagPARAMDESC {
  void* pparamdescex;
  USHORT wParamFlags;
} PARAMDESC;

typedef struct tagELEMDESC {
  TYPEDESC tdesc;
  union {
    IDLDESC idldesc;
    PARAMDESC paramdesc;
  };
} ELEMDESC;

typedef struct tagTYPEATTR {
  GUID guid;
  LCID lcid;
  DWORD dwReserved;
  MEMBERID memidConstructor;
  MEMBERID memidDestructor;
  LPOLESTR lpstrSchema;
  QUARL_ULONG cbSizeInstance;
  TYPEKIND typekind;
  WORD cFuncs;
  WORD cVars;
  WORD cImplTypes;
  WORD cbSizeVft;
  WORD cbAlignment;
  WORD wTypeFlags;
  WORD wMajorVerNum;
  WORD wMinorVerNum;
  TYPEDESC tdescAlias;
  IDLDESC idldescType;
} TYPEATTR;

typedef struct tagFUNCDESC {
  MEMBERID memid;
  SCODE* lprgscode;
  ELEMDESC* lprgelemdescParam;
  FUNCKIND funckind;
  INVOKEKIND invkind;
  CALLCONV callconv;
  SHORT cParams;
  SHORT cParamsOpt;
  SHORT oVft;
  SHORT cScodes;
  ELEMDESC elemdescFunc; /* the result */
  WORD wFuncFlags;
} FUNCDESC;

/* The interfaces: a pointer to the table of entry points at offset 0. */
typedef struct IUnknownVtbl {
  HRESULT(STDMETHODCALLTYPE* QueryInterface)(IUnknown* This, REFIID riid, void** ppvObject);
  QUARL_ULONG(STDMETHODCALLTYPE* AddRef)(IUnknown* This);
  QUARL_ULONG(STDMETHODCALLTYPE* Release)(IUnknown* This);
} IUnknownVtbl;
struct IUnknown {
  const IUnknownVtbl* lpVtbl;
};

typedef struct IClassFactoryVtbl {
  HRESULT(STDMETHODCALLTYPE* QueryInterface)(IClassFactory* This, REFIID riid, void** ppvObject);
  QUARL_ULONG(STDMETHODCALLTYPE* AddRef)(IClassFactory* This);
  QUARL_ULONG(STDMETHODCALLTYPE* Release)(IClassFactory* This);
  HRESULT(STDMETHODCALLTYPE* CreateInstance)(IClassFactory* This, IUnknown* pUnkOuter, REFIID riid,
                                             void** ppvObject);
  HRESULT(STDMETHODCALLTYPE* LockServer)(IClassFactory* This, BOOL fLock);
} IClassFactoryVtbl;
struct IClassFactory {
  const IClassFactoryVtbl* lpVtbl;
};

typedef struct IDispatchVtbl {
  HRESULT(STDMETHODCALLTYPE* QueryInterface)(IDispatch* This, REFIID riid, void** ppvObject);
  QUARL_ULONG(STDMETHODCALLTYPE* AddRef)(IDispatch* This);
  QUARL_ULONG(STDMETHODCALLTYPE* Release)(IDispatch* This);
  HRESULT(STDMETHODCALLTYPE* GetTypeInfoCount)(IDispatch* This, UINT* pctinfo);
  HRESULT(STDMETHODCALLTYPE* GetTypeInfo)(IDispatch* This, UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo);
  HRESULT(STDMETHODCALLTYPE* GetIDsOfNames)(IDispatch* This, REFIID riid, LPOLESTR* rgszNames, UINT cNames,
                                            LCID lcid, DISPID* rgDispId);
  HRESULT(STDMETHODCALLTYPE* Invoke)(IDispatch* This, DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                     DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                                     UINT* puArgErr);
} IDispatchVtbl;
struct IDispatch {
  const IDispatchVtbl* lpVtbl;
};

typedef struct ITypeInfoVtbl {
  HRESULT(STDMETHODCALLTYPE* QueryInterface)(ITypeInfo* This, REFIID riid, void** ppvObject);
  QUARL_ULONG(STDMETHODCALLTYPE* AddRef)(ITypeInfo* This);
  QUARL_ULONG(STDMETHODCALLTYPE* Release)(ITypeInfo* This);
  HRESULT(STDMETHODCALLTYPE* GetTypeAttr)(ITypeInfo* This, TYPEATTR** ppTypeAttr);
  HRESULT(STDMETHODCALLTYPE* GetTypeComp)(ITypeInfo* This, ITypeComp** ppTComp);
  HRESULT(STDMETHODCALLTYPE* GetFuncDesc)(ITypeInfo* This, UINT index, FUNCDESC** ppFuncDesc);
  HRESULT(STDMETHODCALLTYPE* GetVarDesc)(ITypeInfo* This, UINT index, VARDESC** ppVarDesc);
  HRESULT(STDMETHODCALLTYPE* GetNames)(ITypeInfo* This, MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames,
                                       UINT* pcNames);
  HRESULT(STDMETHODCALLTYPE* GetRefTypeOfImplType)(ITypeInfo* This, UINT index, HREFTYPE* pRefType);
  HRESULT(STDMETHODCALLTYPE* GetImplTypeFlags)(ITypeInfo* This, UINT index, INT* pImplTypeFlags);
  HRESULT(STDMETHODCALLTYPE* GetIDsOfNames)(ITypeInfo* This, LPOLESTR* rgszNames, UINT cNames,
                                            MEMBERID* pMemId);
  HRESULT(STDMETHODCALLTYPE* Invoke)(ITypeInfo* This, void* pvInstance, MEMBERID memid, WORD wFlags,
                                     DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                                     UINT* puArgErr);
  HRESULT(STDMETHODCALLTYPE* GetDocumentation)(ITypeInfo* This, MEMBERID memid, BSTR* pBstrName,
                                               BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                               BSTR* pBstrHelpFile);
  HRESULT(STDMETHODCALLTYPE* GetDllEntry)(ITypeInfo* This, MEMBERID memid, INVOKEKIND invKind, BSTR* pBstrDllName,
                                          BSTR* pBstrName, WORD* pwOrdinal);
  HRESULT(STDMETHODCALLTYPE* GetRefTypeInfo)(ITypeInfo* This, HREFTYPE hRefType, ITypeInfo** ppTInfo);
  HRESULT(STDMETHODCALLTYPE* AddressOfMember)(ITypeInfo* This, MEMBERID memid, INVOKEKIND invKind, void** ppv);
  HRESULT(STDMETHODCALLTYPE* CreateInstance)(ITypeInfo* This, IUnknown* pUnkOuter, REFIID riid, void** ppvObj);
  HRESULT(STDMETHODCALLTYPE* GetMops)(ITypeInfo* This, MEMBERID memid, BSTR* pBstrMops);
  HRESULT(STDMETHODCALLTYPE* GetContainingTypeLib)(ITypeInfo* This, ITypeLib** ppTLib, UINT* pIndex);
  void(STDMETHODCALLTYPE* ReleaseTypeAttr)(ITypeInfo* This, TYPEATTR* pTypeAttr);
  void(STDMETHODCALLTYPE* ReleaseFuncDesc)(ITypeInfo* This, FUNCDESC* pFuncDesc);
  void(STDMETHODCALLTYPE* ReleaseVarDesc)(ITypeInfo* This, VARDESC* pVarDesc);
} ITypeInfoVtbl;
struct ITypeInfo {
  const ITypeInfoVtbl* lpVtbl;
};

/* The standard interface identities. */
static const IID IID_NULL QUARL_UNUSED = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
static const IID IID_IUnknown QUARL_UNUSED = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
static const IID IID_IClassFactory QUARL_UNUSED = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
static const IID IID_IDispatch QUARL_UNUSED = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
static const IID IID_ITypeInfo QUARL_UNUSED = {0x00020401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

/* Allocating and freeing what crosses the boundary, with their standard
   meaning.  SysAllocString copies a zero-ended text (NULL gives NULL);
   SysAllocStringLen copies len units, or gives len zero units when text is
   NULL; both give NULL when out of memory.  SysFreeString and SysStringLen
   accept NULL.  VariantClear frees what the variant owns (a BSTR, a
   reference on an interface; nothing for VT_BYREF) and leaves VT_EMPTY; it
   answers DISP_E_BADVARTYPE for types it does not know. */
BSTR STDAPICALLTYPE SysAllocString(const OLECHAR* text);
BSTR STDAPICALLTYPE SysAllocStringLen(const OLECHAR* text, UINT len);
void STDAPICALLTYPE SysFreeString(BSTR text);
UINT STDAPICALLTYPE SysStringLen(BSTR text);
void STDAPICALLTYPE VariantInit(VARIANTARG* var);
HRESULT STDAPICALLTYPE VariantClear(VARIANTARG* var);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* !_WIN32 */

#ifdef __cplusplus
extern "C" {
#endif

/* Identities of the object. */
#define QUARL_RPC_PROGID "Quarl.RPC"
/* coclass QUARLRPC */
static const CLSID CLSID_QUARLRPC QUARL_UNUSED = {
    0x4C7D20D2, 0x51A3, 0x11D2, {0xB3, 0xE8, 0x00, 0x60, 0x97, 0x3A, 0x5C, 0x21}};
/* dispatch interface IRPC */
static const IID DIID_IRPC QUARL_UNUSED = {0x4C7D20D1, 0x51A3, 0x11D2, {0xB3, 0xE8, 0x00, 0x60, 0x97, 0x3A, 0x5C, 0x21}};
/* type library Quarlrpclib, version 1.0 */
static const GUID LIBID_Quarlrpclib QUARL_UNUSED = {
    0x4C7D20C4, 0x51A3, 0x11D2, {0xB3, 0xE8, 0x00, 0x60, 0x97, 0x3A, 0x5C, 0x21}};

/* Dispatch ids of IRPC. */
enum {
  QUARL_DISPID_CONNECT = 1,       /* short Connect(BSTR dsName) */
  QUARL_DISPID_DISCONNECT = 2,    /* short Disconnect(void) */
  QUARL_DISPID_GETERROR = 3,      /* BSTR GetError(void) */
  QUARL_DISPID_CALL = 4,          /* short Call(BSTR Library, BSTR EntryPoint, BSTR* Param) */
  QUARL_DISPID_SETPARAMSIZE = 5,  /* void SetParamSize(short paramsize) */
  QUARL_DISPID_CORCALL = 6        /* short CorCall(BSTR Coroutine, BSTR* Param) */
};

/* The server entry points of libquarlrpc.so. */
HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
HRESULT STDAPICALLTYPE DllCanUnloadNow(void);
HRESULT STDAPICALLTYPE DllRegisterServer(void);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* The binary contract, checked wherever the header is compiled. */
#ifdef __cplusplus
#define QUARL_STATIC_ASSERT(c, m) static_assert(c, m)
#else
#define QUARL_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif
QUARL_STATIC_ASSERT(sizeof(GUID) == 16, "GUID is 16 bytes");
QUARL_STATIC_ASSERT(sizeof(OLECHAR) == 2, "OLECHAR is one UTF-16 unit");
QUARL_STATIC_ASSERT(offsetof(VARIANT, vt) == 0, "the variant type tag is at offset 0");
QUARL_STATIC_ASSERT(offsetof(VARIANT, bstrVal) == 8, "the variant value is at offset 8");
QUARL_STATIC_ASSERT(sizeof(VARIANT) == 8 + 2 * sizeof(void*), "VARIANT is 16 bytes (32-bit) or 24 (64-bit)");
QUARL_STATIC_ASSERT(offsetof(DISPPARAMS, cArgs) == 2 * sizeof(void*), "DISPPARAMS: two pointers, then the counts");

#endif /* QUARL_AUTOMATION_H */
