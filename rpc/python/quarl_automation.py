"""Automation objects of Quarl (such as "Quarl.RPC") from Python, late bound,
through ctypes only.

    import quarl_automation

    rpc = quarl_automation.CreateObject("Quarl.RPC")
    if rpc.Connect("QuarlDemo") != 0:          # "DSN[,user[,password]]"
        raise RuntimeError(rpc.GetError())
    rc, param = rpc.Call("UPPER", "DEMO", "hello")   # (0, "HELLO")
    rpc.SetParamSize(10)
    rpc.Disconnect()
    rpc.close()                                  # or let it go; "with" works too

CreateObject looks the ProgID up in the class registry "classes.ini" of the
profile folder ($QUARL_PROFILE_DIR, else ${XDG_CONFIG_HOME:-~/.config}/quarl),
where the library's DllRegisterServer records it (register_server() or the
quarl-regsvr program), loads the library named there and creates the object
through its class factory.

Members are found by name without regard to case and called through
IDispatch.Invoke.  The object's type information tells which arguments are
passed by reference: a call returns its result followed by the new values of
those arguments, as a tuple.  Strings go as BSTRs, ints as shorts or longs
(whichever the parameter wants and the value fits), None as an empty
argument.  A failing Invoke raises AutomationError with its HRESULT; members
that report failures in their result (Quarl.RPC's give 1) do not raise.
"""

import collections
import ctypes
import os
import sys

__all__ = [
    "AutomationError",
    "CreateObject",
    "Dispatch",
    "Member",
    "Param",
    "class_registry_path",
    "describe",
    "register_server",
]

# The native calling convention of the interfaces' entry points: System V on
# Linux x86-64; stdcall (or the x64 convention) on Windows.
_FUNCTYPE = ctypes.WINFUNCTYPE if sys.platform == "win32" else ctypes.CFUNCTYPE

HRESULT = ctypes.c_int32

S_OK = 0
E_OUTOFMEMORY = 0x8007000E
E_INVALIDARG = 0x80070057
CO_E_CLASSSTRING = 0x800401F3
CO_E_DLLNOTFOUND = 0x800401F8
CO_E_ERRORINDLL = 0x800401F9
REGDB_E_CLASSNOTREG = 0x80040154
SELFREG_E_TYPELIB = 0x80040200
SELFREG_E_CLASS = 0x80040201
DISP_E_MEMBERNOTFOUND = 0x80020003
DISP_E_PARAMNOTFOUND = 0x80020004
DISP_E_TYPEMISMATCH = 0x80020005
DISP_E_UNKNOWNNAME = 0x80020006
DISP_E_OVERFLOW = 0x8002000A
DISP_E_BADPARAMCOUNT = 0x8002000E
DISP_E_PARAMNOTOPTIONAL = 0x8002000F

_REASONS = {
    E_OUTOFMEMORY: "out of memory",
    E_INVALIDARG: "invalid argument",
    DISP_E_MEMBERNOTFOUND: "no such member",
    DISP_E_PARAMNOTFOUND: "no parameter of that name",
    DISP_E_TYPEMISMATCH: "argument of the wrong type",
    DISP_E_UNKNOWNNAME: "unknown name",
    DISP_E_OVERFLOW: "argument out of range",
    DISP_E_BADPARAMCOUNT: "wrong number of arguments",
    DISP_E_PARAMNOTOPTIONAL: "a required argument is missing",
    SELFREG_E_TYPELIB: "the type library cannot be recorded",
    SELFREG_E_CLASS: "the class cannot be recorded",
}

VT_EMPTY, VT_I2, VT_I4, VT_R8, VT_BSTR, VT_BOOL = 0, 2, 3, 5, 8, 11
VT_I8, VT_VOID, VT_PTR, VT_BYREF = 20, 24, 26, 0x4000
_TYPE_NAMES = {VT_I2: "short", VT_I4: "long", VT_R8: "double", VT_BSTR: "string", VT_BOOL: "bool", VT_VOID: "void"}

DISPATCH_METHOD, DISPATCH_PROPERTYGET = 1, 2
CLASS_REGISTRY = "classes.ini"


class AutomationError(Exception):
    """A failed HRESULT.  `hresult` is its unsigned value; `argument` the
    position (0 first) of the argument at fault, when one is."""

    def __init__(self, hresult, message, argument=None):
        self.hresult = hresult & 0xFFFFFFFF
        self.argument = argument
        super().__init__("%s (0x%08X)" % (message, self.hresult))


class GUID(ctypes.Structure):
    _fields_ = [
        ("Data1", ctypes.c_uint32),
        ("Data2", ctypes.c_uint16),
        ("Data3", ctypes.c_uint16),
        ("Data4", ctypes.c_uint8 * 8),
    ]

    @classmethod
    def parse(cls, text):
        """ "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" """
        import uuid

        value = uuid.UUID(text)
        guid = cls(value.time_low, value.time_mid, value.time_hi_version)
        guid.Data4[:] = list(value.bytes[8:])
        return guid


IID_NULL = GUID()
IID_IClassFactory = GUID.parse("{00000001-0000-0000-C000-000000000046}")
IID_IDispatch = GUID.parse("{00020400-0000-0000-C000-000000000046}")


class _Value(ctypes.Union):
    _fields_ = [
        ("llVal", ctypes.c_int64),
        ("lVal", ctypes.c_int32),
        ("iVal", ctypes.c_int16),
        ("boolVal", ctypes.c_int16),
        ("dblVal", ctypes.c_double),
        ("pointer", ctypes.c_void_p),
        ("record", ctypes.c_void_p * 2),
    ]


class VARIANT(ctypes.Structure):
    """The type tag at offset 0, the value at offset 8."""

    _fields_ = [
        ("vt", ctypes.c_uint16),
        ("wReserved1", ctypes.c_uint16),
        ("wReserved2", ctypes.c_uint16),
        ("wReserved3", ctypes.c_uint16),
        ("value", _Value),
    ]


class DISPPARAMS(ctypes.Structure):
    _fields_ = [
        ("rgvarg", ctypes.POINTER(VARIANT)),  # the last argument first
        ("rgdispidNamedArgs", ctypes.POINTER(ctypes.c_int32)),
        ("cArgs", ctypes.c_uint32),
        ("cNamedArgs", ctypes.c_uint32),
    ]


class EXCEPINFO(ctypes.Structure):
    _fields_ = [
        ("wCode", ctypes.c_uint16),
        ("wReserved", ctypes.c_uint16),
        ("bstrSource", ctypes.c_void_p),
        ("bstrDescription", ctypes.c_void_p),
        ("bstrHelpFile", ctypes.c_void_p),
        ("dwHelpContext", ctypes.c_uint32),
        ("pvReserved", ctypes.c_void_p),
        ("pfnDeferredFillIn", ctypes.c_void_p),
        ("scode", ctypes.c_int32),
    ]


class TYPEDESC(ctypes.Structure):
    _fields_ = [("lptdesc", ctypes.c_void_p), ("vt", ctypes.c_uint16)]


class PARAMDESC(ctypes.Structure):
    _fields_ = [("pparamdescex", ctypes.c_void_p), ("wParamFlags", ctypes.c_uint16)]


class ELEMDESC(ctypes.Structure):
    _fields_ = [("tdesc", TYPEDESC), ("paramdesc", PARAMDESC)]


class IDLDESC(ctypes.Structure):
    _fields_ = [("dwReserved", ctypes.c_size_t), ("wIDLFlags", ctypes.c_uint16)]


class TYPEATTR(ctypes.Structure):
    _fields_ = [
        ("guid", GUID),
        ("lcid", ctypes.c_uint32),
        ("dwReserved", ctypes.c_uint32),
        ("memidConstructor", ctypes.c_int32),
        ("memidDestructor", ctypes.c_int32),
        ("lpstrSchema", ctypes.c_void_p),
        ("cbSizeInstance", ctypes.c_uint32),
        ("typekind", ctypes.c_int),
        ("cFuncs", ctypes.c_uint16),
        ("cVars", ctypes.c_uint16),
        ("cImplTypes", ctypes.c_uint16),
        ("cbSizeVft", ctypes.c_uint16),
        ("cbAlignment", ctypes.c_uint16),
        ("wTypeFlags", ctypes.c_uint16),
        ("wMajorVerNum", ctypes.c_uint16),
        ("wMinorVerNum", ctypes.c_uint16),
        ("tdescAlias", TYPEDESC),
        ("idldescType", IDLDESC),
    ]


class FUNCDESC(ctypes.Structure):
    _fields_ = [
        ("memid", ctypes.c_int32),
        ("lprgscode", ctypes.c_void_p),
        ("lprgelemdescParam", ctypes.POINTER(ELEMDESC)),
        ("funckind", ctypes.c_int),
        ("invkind", ctypes.c_int),
        ("callconv", ctypes.c_int),
        ("cParams", ctypes.c_int16),
        ("cParamsOpt", ctypes.c_int16),
        ("oVft", ctypes.c_int16),
        ("cScodes", ctypes.c_int16),
        ("elemdescFunc", ELEMDESC),
        ("wFuncFlags", ctypes.c_uint16),
    ]


assert ctypes.sizeof(VARIANT) == 8 + 2 * ctypes.sizeof(ctypes.c_void_p)
assert VARIANT.value.offset == 8

Param = collections.namedtuple("Param", "name type by_ref")
Member = collections.namedtuple("Member", "name dispid params result")
Member.__doc__ = "A member of an object's dispatch interface, from its type information."

# Entry points by their place in the tables.
_QUERY_INTERFACE, _ADD_REF, _RELEASE = 0, 1, 2
_CREATE_INSTANCE = 3
_GET_TYPE_INFO, _GET_IDS_OF_NAMES, _INVOKE = 4, 5, 6
_GET_TYPE_ATTR, _GET_FUNC_DESC, _GET_NAMES = 3, 5, 7
_RELEASE_TYPE_ATTR, _RELEASE_FUNC_DESC = 19, 20

_prototypes = {}


def _call(interface, index, restype, argtypes, *args):
    """Calls entry `index` of the table of `interface` (a pointer value)."""
    key = (restype, argtypes)
    prototype = _prototypes.get(key)
    if prototype is None:
        prototype = _prototypes[key] = _FUNCTYPE(restype, ctypes.c_void_p, *argtypes)
    table = ctypes.cast(interface, ctypes.POINTER(ctypes.POINTER(ctypes.c_void_p))).contents
    return prototype(table[index])(interface, *args)


def _release(interface):
    return _call(interface, _RELEASE, ctypes.c_uint32, ())


def _check(hresult, what, argument=None):
    if hresult < 0:
        code = hresult & 0xFFFFFFFF
        raise AutomationError(code, "%s: %s" % (what, _REASONS.get(code, "failed")), argument)


class _Server:
    """A loaded server library and its BSTR and VARIANT helpers."""

    _loaded = {}

    @classmethod
    def load(cls, path):
        server = cls._loaded.get(path)
        if server is None:
            server = cls._loaded[path] = cls(path)
        return server

    def __init__(self, path):
        try:
            lib = ctypes.CDLL(path)
        except OSError as e:
            raise AutomationError(CO_E_DLLNOTFOUND, "Cannot load %s: %s" % (path, e)) from None
        try:
            lib.DllGetClassObject.argtypes = [ctypes.POINTER(GUID), ctypes.POINTER(GUID), ctypes.POINTER(ctypes.c_void_p)]
            lib.DllGetClassObject.restype = HRESULT
            lib.SysAllocStringLen.argtypes = [ctypes.c_char_p, ctypes.c_uint32]
            lib.SysAllocStringLen.restype = ctypes.c_void_p
            lib.SysFreeString.argtypes = [ctypes.c_void_p]
            lib.SysFreeString.restype = None
            lib.SysStringLen.argtypes = [ctypes.c_void_p]
            lib.SysStringLen.restype = ctypes.c_uint32
            lib.VariantClear.argtypes = [ctypes.POINTER(VARIANT)]
            lib.VariantClear.restype = HRESULT
        except AttributeError as e:
            raise AutomationError(CO_E_ERRORINDLL, "%s is no automation server: %s" % (path, e)) from None
        self.path = path
        self.lib = lib

    def bstr(self, text):
        data = text.encode("utf-16-le", "surrogatepass")
        pointer = self.lib.SysAllocStringLen(data, len(data) // 2)
        if not pointer:
            raise MemoryError("cannot allocate a BSTR")
        return pointer

    def text(self, bstr):
        if not bstr:
            return ""
        return ctypes.string_at(bstr, 2 * self.lib.SysStringLen(bstr)).decode("utf-16-le", "surrogatepass")

    def free(self, bstr):
        if bstr:
            self.lib.SysFreeString(bstr)


def class_registry_path():
    """Where DllRegisterServer records ProgIDs and classes."""
    folder = os.environ.get("QUARL_PROFILE_DIR")
    if not folder:
        config = os.environ.get("XDG_CONFIG_HOME") or os.path.join(os.environ.get("HOME") or ".", ".config")
        folder = os.path.join(config, "quarl")
    return os.path.join(folder, CLASS_REGISTRY)


def _registry_value(lines, section, key):
    """The value of key in section (names compared without regard to case)."""
    inside = False
    for line in lines:
        line = line.strip()
        if line.startswith("["):
            inside = "]" in line and line[1 : line.index("]")].lower() == section.lower()
        elif inside and not line.startswith(";") and "=" in line:
            name, value = line.split("=", 1)
            if name.strip().lower() == key.lower():
                return value.strip()
    return None


def register_server(library):
    """Records the server library (a path) in the class registry."""
    lib = ctypes.CDLL(library)
    lib.DllRegisterServer.restype = HRESULT
    lib.DllRegisterServer.argtypes = []
    hresult = lib.DllRegisterServer()
    _check(hresult, "DllRegisterServer of %s into %s" % (library, class_registry_path()))


def CreateObject(progid):
    """Creates the object registered under progid; its IDispatch, late bound."""
    path = class_registry_path()
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            lines = f.read().splitlines()
    except OSError as e:
        raise AutomationError(CO_E_CLASSSTRING, "%s is not registered: cannot read %s (%s)" % (progid, path, e)) from None
    clsid_text = _registry_value(lines, progid, "CLSID")
    try:
        clsid = GUID.parse(clsid_text or "")
    except ValueError:
        raise AutomationError(CO_E_CLASSSTRING, "%s is not registered in %s" % (progid, path)) from None
    library = _registry_value(lines, "CLSID\\" + clsid_text, "InprocServer")
    if not library:
        raise AutomationError(REGDB_E_CLASSNOTREG, "Class %s of %s has no library in %s" % (clsid_text, progid, path))
    server = _Server.load(library)

    factory = ctypes.c_void_p()
    _check(
        server.lib.DllGetClassObject(ctypes.byref(clsid), ctypes.byref(IID_IClassFactory), ctypes.byref(factory)),
        "%s gives no class factory for %s" % (library, clsid_text),
    )
    try:
        obj = ctypes.c_void_p()
        hresult = _call(
            factory.value,
            _CREATE_INSTANCE,
            HRESULT,
            (ctypes.c_void_p, ctypes.POINTER(GUID), ctypes.POINTER(ctypes.c_void_p)),
            None,
            ctypes.byref(IID_IDispatch),
            ctypes.byref(obj),
        )
        _check(hresult, "Cannot create %s" % progid)
    finally:
        _release(factory.value)
    return Dispatch(server, obj.value)


def describe(obj):
    """The members of a Dispatch object, from its type information."""
    return sorted(obj._members().values(), key=lambda m: m.dispid)


class Dispatch:
    """An object's IDispatch; attribute access finds members by name."""

    def __init__(self, server, pointer):
        # Takes over one reference on pointer.
        d = self.__dict__
        d["_server"] = server
        d["_pointer"] = pointer
        d["_ids"] = {}
        d["_member_table"] = None

    def close(self):
        """Releases the object (also done when it is garbage collected)."""
        pointer = self.__dict__.get("_pointer")
        if pointer:
            self.__dict__["_pointer"] = None
            _release(pointer)

    def __del__(self):
        self.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __setattr__(self, name, value):
        raise AttributeError("members are methods; properties cannot be set")

    def __getattr__(self, name):
        if name.startswith("_"):
            raise AttributeError(name)
        dispid = self._dispid(name)
        if dispid is None:
            raise AttributeError("the object has no member %r" % name)

        def method(*args, **named):
            return self._invoke(name, dispid, args, named)

        method.__name__ = name
        return method

    def _live(self):
        if not self._pointer:
            raise ValueError("the object has been released")
        return self._pointer

    def _ids_of_names(self, names):
        count = len(names)
        texts = [ctypes.create_string_buffer(n.encode("utf-16-le", "surrogatepass") + b"\0\0") for n in names]
        pointers = (ctypes.c_void_p * count)(*[ctypes.addressof(t) for t in texts])
        ids = (ctypes.c_int32 * count)()
        hresult = _call(
            self._live(),
            _GET_IDS_OF_NAMES,
            HRESULT,
            (ctypes.POINTER(GUID), ctypes.c_void_p, ctypes.c_uint32, ctypes.c_uint32, ctypes.c_void_p),
            ctypes.byref(IID_NULL),
            pointers,
            count,
            0,
            ids,
        )
        return hresult, list(ids)

    def _dispid(self, name):
        key = name.lower()
        if key not in self._ids:
            hresult, ids = self._ids_of_names([name])
            if (hresult & 0xFFFFFFFF) == DISP_E_UNKNOWNNAME:
                return None
            _check(hresult, "GetIDsOfNames(%s)" % name)
            self._ids[key] = ids[0]
        return self._ids[key]

    def _members(self):
        if self._member_table is None:
            self.__dict__["_member_table"] = self._read_type_info()
        return self._member_table

    def _read_type_info(self):
        info = ctypes.c_void_p()
        hresult = _call(
            self._live(),
            _GET_TYPE_INFO,
            HRESULT,
            (ctypes.c_uint32, ctypes.c_uint32, ctypes.POINTER(ctypes.c_void_p)),
            0,
            0,
            ctypes.byref(info),
        )
        if hresult < 0 or not info.value:
            return {}  # without type information every argument goes by value
        members = {}
        try:
            attr = ctypes.POINTER(TYPEATTR)()
            _check(_call(info, _GET_TYPE_ATTR, HRESULT, (ctypes.c_void_p,), ctypes.byref(attr)), "GetTypeAttr")
            count = attr.contents.cFuncs
            _call(info, _RELEASE_TYPE_ATTR, None, (ctypes.c_void_p,), attr)
            for index in range(count):
                desc = ctypes.POINTER(FUNCDESC)()
                _check(
                    _call(info, _GET_FUNC_DESC, HRESULT, (ctypes.c_uint32, ctypes.c_void_p), index, ctypes.byref(desc)),
                    "GetFuncDesc",
                )
                try:
                    members[desc.contents.memid] = self._member_of(info, desc.contents)
                finally:
                    _call(info, _RELEASE_FUNC_DESC, None, (ctypes.c_void_p,), desc)
        finally:
            _release(info)
        return members

    def _member_of(self, info, desc):
        wanted = desc.cParams + 1
        names = (ctypes.c_void_p * wanted)()
        got = ctypes.c_uint32()
        _check(
            _call(
                info,
                _GET_NAMES,
                HRESULT,
                (ctypes.c_int32, ctypes.c_void_p, ctypes.c_uint32, ctypes.c_void_p),
                desc.memid,
                names,
                wanted,
                ctypes.byref(got),
            ),
            "GetNames",
        )
        texts = [self._server.text(names[i]) for i in range(got.value)]
        for i in range(got.value):
            self._server.free(names[i])
        params = []
        for i in range(desc.cParams):
            tdesc = desc.lprgelemdescParam[i].tdesc
            by_ref = tdesc.vt == VT_PTR
            vt = ctypes.cast(tdesc.lptdesc, ctypes.POINTER(TYPEDESC)).contents.vt if by_ref else tdesc.vt
            name = texts[i + 1] if i + 1 < len(texts) else "arg%d" % i
            params.append(Param(name, _TYPE_NAMES.get(vt, "vt %d" % vt), by_ref))
        return Member(texts[0] if texts else "", desc.memid, tuple(params), _TYPE_NAMES.get(desc.elemdescFunc.tdesc.vt))

    def _put(self, variant, value, param, owned):
        """Stores a Python value in a VARIANT passed by value."""
        if value is None:
            variant.vt = VT_EMPTY
        elif isinstance(value, bool):
            variant.vt = VT_BOOL
            variant.value.boolVal = -1 if value else 0
        elif isinstance(value, int):
            if param is not None and param.type == "short" and -0x8000 <= value < 0x8000:
                variant.vt, variant.value.iVal = VT_I2, value
            elif -0x80000000 <= value < 0x80000000:
                variant.vt, variant.value.lVal = VT_I4, value
            else:
                variant.vt, variant.value.llVal = VT_I8, max(min(value, 2**63 - 1), -(2**63))
        elif isinstance(value, float):
            variant.vt, variant.value.dblVal = VT_R8, value
        elif isinstance(value, str):
            variant.vt = VT_BSTR
            variant.value.pointer = self._server.bstr(value)
            owned.append(variant.value.pointer)
        else:
            raise TypeError("cannot pass %s to an automation object" % type(value).__name__)

    def _take(self, variant):
        """The Python value of a result VARIANT, which is cleared."""
        vt = variant.vt
        try:
            if vt == VT_EMPTY:
                return None
            if vt == VT_I2:
                return variant.value.iVal
            if vt == VT_I4:
                return variant.value.lVal
            if vt == VT_I8:
                return variant.value.llVal
            if vt == VT_BOOL:
                return variant.value.boolVal != 0
            if vt == VT_R8:
                return variant.value.dblVal
            if vt == VT_BSTR:
                return self._server.text(variant.value.pointer)
            raise TypeError("result of variant type %d" % vt)
        finally:
            self._server.lib.VariantClear(ctypes.byref(variant))

    def _invoke(self, name, dispid, args, named):
        member = self._members().get(dispid)
        params = member.params if member else ()
        names = list(named)
        named_ids = []
        if names:
            hresult, ids = self._ids_of_names([name] + names)
            for key, param_id in zip(names, ids[1:]):
                if param_id < 0:
                    raise AutomationError(DISP_E_PARAMNOTFOUND, "%s has no parameter %s" % (name, key))
            named_ids = ids[1:]
        # Named arguments first (in their order), then the positional ones,
        # the last one first.
        order = [(named_ids[i], named[key]) for i, key in enumerate(names)]
        order += [(i, value) for i, value in reversed(list(enumerate(args)))]
        count = len(order)
        variants = (VARIANT * max(count, 1))()
        cells = []  # (position, BSTR cell) of arguments passed by reference
        owned = []  # BSTRs passed by value
        try:
            for slot, (position, value) in enumerate(order):
                param = params[position] if position < len(params) else None
                variant = variants[slot]
                if param is not None and param.by_ref and param.type == "string" and isinstance(value, str):
                    cell = ctypes.c_void_p(self._server.bstr(value))
                    cells.append((position, cell))
                    variant.vt = VT_BSTR | VT_BYREF
                    variant.value.pointer = ctypes.addressof(cell)
                else:
                    self._put(variant, value, param, owned)
            dispparams = DISPPARAMS(
                variants,
                (ctypes.c_int32 * max(len(named_ids), 1))(*named_ids),
                count,
                len(named_ids),
            )
            result = VARIANT()
            exception = EXCEPINFO()
            arg_error = ctypes.c_uint32(0xFFFFFFFF)
            hresult = _call(
                self._live(),
                _INVOKE,
                HRESULT,
                (
                    ctypes.c_int32,
                    ctypes.POINTER(GUID),
                    ctypes.c_uint32,
                    ctypes.c_uint16,
                    ctypes.POINTER(DISPPARAMS),
                    ctypes.POINTER(VARIANT),
                    ctypes.POINTER(EXCEPINFO),
                    ctypes.POINTER(ctypes.c_uint32),
                ),
                dispid,
                ctypes.byref(IID_NULL),
                0,
                DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                ctypes.byref(dispparams),
                ctypes.byref(result),
                ctypes.byref(exception),
                ctypes.byref(arg_error),
            )
            for bstr in (exception.bstrSource, exception.bstrDescription, exception.bstrHelpFile):
                self._server.free(bstr)
            if hresult < 0:
                argument = order[arg_error.value][0] if arg_error.value < count else None
                where = "" if argument is None else " (argument %d)" % argument
                _check(hresult, "%s%s" % (name, where), argument)
            value = self._take(result)
            if not cells:
                return value
            cells.sort(key=lambda c: c[0])
            return (value,) + tuple(self._server.text(cell.value) for _, cell in cells)
        finally:
            for bstr in owned:
                self._server.free(bstr)
            for _, cell in cells:
                self._server.free(cell.value)  # the object's new value, or the one passed in
