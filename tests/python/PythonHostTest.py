"""The Python host module in a fresh platform root: creation by ProgID before and after
registration, the walk_parts.py example on the sample message under two ANSI code pages,
members and properties by name with each kind of result, failures with their log, and the
objects' lifetimes as the component module counts them.

Environment: VORMIME (the host program), VORLUND_MODULE (libvorlundmime.so), VORLUND_SOURCE
(the source tree), PYTHONPATH naming the built module."""
import ctypes
import gc
import os
import subprocess
import sys
import tempfile
import unittest

import vorlundmime

SOURCE = os.environ["VORLUND_SOURCE"]
SAMPLE = os.path.join(SOURCE, "examples", "sample.eml")
DISP_E_BADPARAMCOUNT = 0x8002000E
CO_E_CLASSSTRING = 0x800401F3


class PythonHost(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.TemporaryDirectory()
        os.environ["VORLUND_ROOT"] = cls.root.name
        with cls.assertRaises(cls, vorlundmime.Error) as caught:
            vorlundmime.Dispatch("VorlundMime.VorlundMime")
        cls.unregistered = caught.exception
        subprocess.run([os.environ["VORMIME"], "register"], check=True, capture_output=True)

    @classmethod
    def tearDownClass(cls):
        cls.root.cleanup()

    def test_creation_needs_registration(self):
        self.assertEqual(self.unregistered.hresult, CO_E_CLASSSTRING)
        self.assertIn("not registered", str(self.unregistered))
        with self.assertRaises(TypeError):
            vorlundmime.Dispatch(42)

    def test_example_walks_the_sample_in_either_code_page(self):
        with open(os.path.join(SOURCE, "tests", "install", "sample_parts.txt"), encoding="utf-8") as f:
            expected = f.read()
        for acp in ("1252", "65001"):
            run = subprocess.run([sys.executable, os.path.join(SOURCE, "examples", "walk_parts.py"), SAMPLE],
                                 env=dict(os.environ, VORLUND_ACP=acp), capture_output=True)
            self.assertEqual(run.returncode, 0, run.stderr)
            self.assertEqual(run.stdout.decode("utf-8"), expected, acp)

    def test_members_by_name(self):
        m = vorlundmime.Dispatch("VorlundMime.VorlundMime")
        loaded = m.LoadMimeFile(SAMPLE)
        self.assertIs(type(loaded), int)
        self.assertEqual(loaded, 1)
        self.assertEqual(m.NumParts, 6)
        text = m.GetPart(0).GetPart(0)
        self.assertIsInstance(text, vorlundmime.Object)
        self.assertIn("€", text.GetBodyDecoded())
        self.assertEqual(m.GetPart(1).GetBodyBinary()[:8], b"\x89PNG\r\n\x1a\n")
        self.assertIsNone(m.GetPart(99))
        # A property put and read back: non-ASCII text survives the ANSI form.
        part = m.GetPart(2)
        part.Filename = "Größe €.txt"
        self.assertEqual(part.Filename, "Größe €.txt")
        part.ContentType = "application/octet-stream"
        self.assertEqual(m.GetPart(2).ContentType, "application/octet-stream")
        # Bytes go in as a byte array; header fields cross in the UTF-8 form.
        fresh = vorlundmime.Dispatch("VorlundMime.VorlundMime")
        self.assertEqual(fresh.LoadMime("Subject: =?utf-8?q?Gr=C3=BC=C3=9Fe?=\r\n\r\nx\r\n"), 1)
        self.assertEqual(fresh.GetHeaderField("Subject"), "Grüße")
        fresh.SetBodyFromBinary(b"\x00\xff\x80 bytes")
        self.assertEqual(fresh.GetBodyBinary(), b"\x00\xff\x80 bytes")

    def test_failures(self):
        m = vorlundmime.Dispatch("VorlundMime.VorlundMime")
        missing = os.path.join(self.root.name, "missing.eml")
        self.assertEqual(m.LoadMimeFile(missing), 0)
        self.assertIn("missing.eml", m.LastErrorText)
        with self.assertRaises(AttributeError):
            m.NoSuchMember
        with self.assertRaises(AttributeError):
            m.NoSuchMember = 1
        with self.assertRaises(vorlundmime.Error) as caught:
            m.GetPart(0, 1)
        self.assertEqual(caught.exception.hresult, DISP_E_BADPARAMCOUNT)
        self.assertIn("missing.eml", caught.exception.log)
        with self.assertRaises(vorlundmime.Error):
            m.NumParts = 3
        with self.assertRaises(TypeError):
            m.GetPart([0])
        with self.assertRaises(OverflowError):
            m.GetPart(1 << 40)

    def test_objects_are_released_when_python_drops_them(self):
        module = ctypes.CDLL(os.environ["VORLUND_MODULE"])
        module.DllCanUnloadNow.restype = ctypes.c_int32
        gc.collect()
        self.assertEqual(module.DllCanUnloadNow(), 0)
        m = vorlundmime.Dispatch("VorlundMime.VorlundMime")
        m.LoadMimeFile(SAMPLE)
        part = m.GetPart(1)
        load = m.LoadMimeFile
        del m
        # The part keeps the tree and the bound member its object.
        self.assertEqual(part.ContentType, "image/png")
        self.assertEqual(load(SAMPLE), 1)
        self.assertEqual(module.DllCanUnloadNow(), 1)
        del part
        self.assertEqual(module.DllCanUnloadNow(), 1)
        del load
        self.assertEqual(module.DllCanUnloadNow(), 0)


if __name__ == "__main__":
    unittest.main()
