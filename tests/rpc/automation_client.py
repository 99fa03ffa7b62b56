"""The Python module quarl_automation against a demo Host Server: "Quarl.RPC"
created by ProgID and called late bound.

Run under quarl_client_env, which starts the server and provides the data
source named by QUARL_TEST_DSN and a private profile folder:

    build/bin/quarl_client_env /usr/bin/python3 tests/rpc/automation_client.py SOURCE_DIR LIBRARY
"""
import ctypes
import gc
import os
import sys
import tempfile
import unittest

SOURCE_DIR, LIBRARY = sys.argv[1], sys.argv[2]
del sys.argv[1:3]
sys.path.insert(0, os.path.join(SOURCE_DIR, "rpc", "python"))

import quarl_automation  # noqa: E402

DSN = os.environ.get("QUARL_TEST_DSN", "QuarlDemo")


def setUpModule():
    quarl_automation.register_server(LIBRARY)


def exports():
    """The library's buffer exports and server entry points, loaded as ctypes loads it."""
    return ctypes.CDLL(LIBRARY)


def export_call(name, text, length):
    area = ctypes.create_string_buffer(text.encode().ljust(length), length)
    getattr(exports(), name)(area, ctypes.c_int16(length))
    return area.raw.decode()


class Objects(unittest.TestCase):
    def connected(self):
        rpc = quarl_automation.CreateObject("Quarl.RPC")
        self.addCleanup(rpc.close)
        self.assertEqual(rpc.Connect(DSN), 0, rpc.GetError())
        return rpc

    def test_calls_by_progid(self):
        rpc = quarl_automation.CreateObject("Quarl.RPC")
        self.assertEqual(rpc.GetError(), "")
        self.assertEqual(rpc.Connect(DSN + ",demo,demo"), 0, rpc.GetError())
        self.assertEqual(rpc.Call("UPPER", "DEMO", "hello, world"), (0, "HELLO, WORLD"))
        self.assertEqual(rpc.Call("ECHO", "DEMO", "blanks   "), (0, "blanks"))
        self.assertEqual(rpc.Call("ECHO", "DEMO", "gr\u00fc\u00dfe \u20ac \U0001F600"), (0, "gr\u00fc\u00dfe \u20ac \U0001F600"))
        self.assertEqual(rpc.CorCall("OBJECT/DEC/COR", "co"), (0, "co"))
        self.assertEqual(rpc.Disconnect(), 0)
        self.assertEqual(rpc.Disconnect(), 1)
        self.assertEqual(rpc.GetError(), "There is not a connection open")
        rpc.close()

    def test_argument_order_and_failures_keep_param(self):
        rpc = self.connected()
        # The first argument is the entry point, the second the library.
        self.assertEqual(rpc.Call("PROC1", "OBJECT/DEC/RPC1", "abc"), (0, "abc"))
        self.assertEqual(rpc.Call("DEMO", "UPPER", "keep  me  "), (1, "keep  me  "))
        self.assertEqual(rpc.GetError(), "Unknown procedure UPPER entry point DEMO")
        self.assertEqual(rpc.Call("NOPE", "DEMO", "keep"), (1, "keep"))
        self.assertEqual(rpc.GetError(), "Unknown procedure DEMO entry point NOPE")

    def test_param_size(self):
        rpc = self.connected()
        self.assertIsNone(rpc.SetParamSize(10))
        self.assertEqual(rpc.Call("ECHO", "DEMO", "ABCDEFGHIJKLMNOPQRST"), (0, "ABCDEFGHIJ"))
        with self.assertRaises(quarl_automation.AutomationError) as caught:
            rpc.SetParamSize(40000)
        self.assertEqual(caught.exception.hresult, quarl_automation.DISP_E_OVERFLOW)
        self.assertEqual(caught.exception.argument, 0)
        with self.assertRaises(quarl_automation.AutomationError) as caught:
            rpc.SetParamSize(-1)
        self.assertEqual(caught.exception.hresult, quarl_automation.E_INVALIDARG)
        self.assertEqual(rpc.GetError(), "Invalid parameter size -1")
        self.assertEqual(rpc.Call("ECHO", "DEMO", "ABCDEFGHIJKLMNOPQRST"), (0, "ABCDEFGHIJ"), "the size stays")

    def test_two_objects_and_the_exports(self):
        a, b = self.connected(), self.connected()
        # The exports' own session: its Disconnect touches neither object.
        self.assertEqual(export_call("Disconnect", "", 8), "*****   ")
        self.assertEqual(export_call("Connect", DSN, 16), " " * 16)
        self.assertEqual(export_call("Disconnect", "", 8), " " * 8)
        self.assertEqual(a.Call("ECHO", "DEMO", "a"), (0, "a"))
        self.assertEqual(b.Call("ECHO", "DEMO", "b"), (0, "b"))
        self.assertEqual(a.Disconnect(), 0)
        self.assertEqual(a.Call("ECHO", "DEMO", "a"), (1, "a"))
        self.assertEqual(b.Call("ECHO", "DEMO", "b"), (0, "b"))
        self.assertEqual(b.GetError(), "")

    def test_late_binding(self):
        rpc = self.connected()
        # Names without regard to case, named arguments, a by-value Param.
        self.assertEqual(rpc.call("ECHO", "DEMO", "x"), (0, "x"))
        self.assertEqual(rpc.CALL(Param="y", EntryPoint="DEMO", Library="UPPER"), (0, "Y"))
        with self.assertRaises(AttributeError):
            rpc.Nope
        with self.assertRaises(quarl_automation.AutomationError) as caught:
            rpc.Connect()
        self.assertEqual(caught.exception.hresult, quarl_automation.DISP_E_PARAMNOTOPTIONAL)
        with self.assertRaises(quarl_automation.AutomationError) as caught:
            rpc.GetError(1)
        self.assertEqual(caught.exception.hresult, quarl_automation.DISP_E_BADPARAMCOUNT)
        with self.assertRaises(quarl_automation.AutomationError) as caught:
            rpc.Call("ECHO", "DEMO", "x", Nope=1)
        self.assertEqual(caught.exception.hresult, quarl_automation.DISP_E_PARAMNOTFOUND)

    def test_type_information(self):
        rpc = quarl_automation.CreateObject("quarl.rpc")
        self.addCleanup(rpc.close)
        P, M = quarl_automation.Param, quarl_automation.Member
        self.assertEqual(
            quarl_automation.describe(rpc),
            [
                M("Connect", 1, (P("dsName", "string", False),), "short"),
                M("Disconnect", 2, (), "short"),
                M("GetError", 3, (), "string"),
                M(
                    "Call",
                    4,
                    (P("Library", "string", False), P("EntryPoint", "string", False), P("Param", "string", True)),
                    "short",
                ),
                M("SetParamSize", 5, (P("paramsize", "short", False),), "void"),
                M("CorCall", 6, (P("Coroutine", "string", False), P("Param", "string", True)), "short"),
            ],
        )

    def test_reference_counts_and_unloading(self):
        lib = exports()
        gc.collect()
        self.assertEqual(lib.DllCanUnloadNow(), 0)  # S_OK
        rpc = quarl_automation.CreateObject("Quarl.RPC")
        self.assertEqual(lib.DllCanUnloadNow(), 1)  # S_FALSE
        other = quarl_automation.CreateObject("Quarl.RPC")
        rpc.close()
        self.assertEqual(lib.DllCanUnloadNow(), 1)
        del other
        gc.collect()
        self.assertEqual(lib.DllCanUnloadNow(), 0)
        with self.assertRaises(ValueError):
            rpc.GetError()

    def test_registration_into_a_folder_that_cannot_be_written(self):
        with tempfile.TemporaryDirectory() as folder:
            blocker = os.path.join(folder, "file")
            open(blocker, "w").close()
            saved = os.environ["QUARL_PROFILE_DIR"]
            os.environ["QUARL_PROFILE_DIR"] = os.path.join(blocker, "quarl")  # below a plain file
            try:
                with self.assertRaises(quarl_automation.AutomationError) as caught:
                    quarl_automation.register_server(LIBRARY)
                self.assertEqual(caught.exception.hresult, 0x80040200)
                self.assertFalse(os.path.exists(quarl_automation.class_registry_path()))
                with self.assertRaises(quarl_automation.AutomationError) as caught:
                    quarl_automation.CreateObject("Quarl.RPC")
                self.assertEqual(caught.exception.hresult, quarl_automation.CO_E_CLASSSTRING)
            finally:
                os.environ["QUARL_PROFILE_DIR"] = saved

    def test_unregistered_progid(self):
        with self.assertRaises(quarl_automation.AutomationError) as caught:
            quarl_automation.CreateObject("Quarl.Nothing")
        self.assertEqual(caught.exception.hresult, quarl_automation.CO_E_CLASSSTRING)


if __name__ == "__main__":
    unittest.main(verbosity=2)
