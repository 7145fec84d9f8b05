#!/usr/bin/env python3
"""The layer check on small trees: it must name what breaks the layers and
pass what does not, or the tree's own check proves nothing."""

import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_layers  # noqa: E402


def make_tree(root, files):
    for path, text in files.items():
        full = os.path.join(root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w") as f:
            f.write(text)


BASE = {
    "src/platform/Platform.h": "#pragma once\n#include <cstdint>\n",
    "src/util/Utils.h": '#pragma once\n#include "platform/Platform.h"\n',
    "src/util/WinHandle.h": "#pragma once\n#include <windows.h>\n",
    "src/launcher/MainWindow.h": "#pragma once\n#include <windows.h>\n",
    "src/agent/AgentState.h": "#pragma once\n",
    "src/setup/Space.h": '#pragma once\n#include "util/Utils.h"\n',
    "tools/pack/Args.h": "#pragma once\n",
}


class LayerCheck(unittest.TestCase):
    def problems(self, extra, core=()):
        with tempfile.TemporaryDirectory() as root:
            make_tree(root, {**BASE, **extra})
            return check_layers.check(root, list(core))

    def test_arrows(self):
        cases = [
            # (file, text, offending line or None)
            ("src/setup/Space.cpp", '#include "setup/Space.h"\n#include "util/Utils.h"\n', None),
            ("src/setup/Space.cpp", '#include "util/Utils.h"\n#include "launcher/MainWindow.h"\n',
             'src/setup/Space.cpp:2: #include "launcher/MainWindow.h"'),
            ("src/setup/Space.cpp", '#include "agent/AgentState.h"\n', 'src/setup/Space.cpp:1: #include "agent/AgentState.h"'),
            ("src/agent/Run.cpp", '#include "setup/Space.h"\n', None),
            ("src/agent/Run.cpp", '\n\n#  include "launcher/MainWindow.h"\n', 'src/agent/Run.cpp:3:'),
            ("src/util/Utils.cpp", '#include "setup/Space.h"\n', 'src/util/Utils.cpp:1:'),
            # A single header of a folder rules itself: the handle owner stays a leaf.
            ("src/util/WinHandle.h", '#include "util/Utils.h"\n', 'src/util/WinHandle.h:1:'),
            ("src/diag/Debug.cpp", '#include "util/WinHandle.h"\n', None),
            ("src/diag/Debug.cpp", '#include "util/Utils.h"\n', 'src/diag/Debug.cpp:1:'),
            # The build tool finds its own headers beside it.
            ("tools/pack/main.cpp", '#include "Args.h"\n#include "util/Utils.h"\n', None),
            ("tools/pack/main.cpp", '#include "setup/Space.h"\n', 'tools/pack/main.cpp:1:'),
            ("src/setup/Space.cpp", '#include "setup/Missing.h"\n', 'names no file'),
            ("src/newthing/X.cpp", "\n", "src/newthing/X.cpp: folder missing"),
        ]
        for path, text, bad in cases:
            with self.subTest(path=path, text=text):
                found = self.problems({path: text})
                if bad is None:
                    self.assertEqual(found, [])
                else:
                    self.assertEqual(len(found), 1, found)
                    self.assertIn(bad, found[0])

    def test_portable_core_reaches_no_windows_header(self):
        cases = [
            ('#include <windows.h>\n', "src/setup/Space.cpp:1: #include <windows.h>"),
            ('#include <shellapi.h>\n', "src/setup/Space.cpp:1: #include <shellapi.h>"),
            ('#ifdef _WIN32\n#include <windows.h>\n#endif\n', None),
            ('#if defined(_WIN32)\n#include "util/WinHandle.h"\n#endif\n', None),
            ('#ifndef _WIN32\n#include <unistd.h>\n#else\n#include <windows.h>\n#endif\n', None),
            ('#ifdef _WIN32\n#else\n#include <windows.h>\n#endif\n', "src/setup/Space.cpp:3:"),
            ('#ifdef _WIN32\n#endif\n#include <windows.h>\n', "src/setup/Space.cpp:3:"),
            # Through our own headers, however deep.
            ('#include "launcher/MainWindow.h"\n', "src/launcher/MainWindow.h:2: #include <windows.h>"),
            ('#include <string>\n#include <cstdint>\n', None),
        ]
        for text, bad in cases:
            with self.subTest(text=text):
                found = [p for p in self.problems({"src/setup/Space.cpp": text}, core=["src/setup/Space.cpp"])
                         if "portable core" in p]
                if bad is None:
                    self.assertEqual(found, [])
                else:
                    self.assertEqual(len(found), 1, found)
                    self.assertIn(bad, found[0])

    def test_win32_halves_outside_the_core_may_use_windows(self):
        found = self.problems({"src/setup/SpaceWin.cpp": '#include <windows.h>\n#include "util/WinHandle.h"\n'},
                              core=["src/setup/Space.h"])
        self.assertEqual(found, [])


class LayerPicture(unittest.TestCase):
    """The picture in docs/architecture.md must follow the table, or it lies."""

    def doc_problems(self, text):
        with tempfile.TemporaryDirectory() as root:
            if text is not None:
                make_tree(root, {check_layers.DOC_PATH: text})
            return check_layers.doc_problems(root)

    def test_picture_against_table(self):
        fresh = check_layers.mermaid()
        begin, end = check_layers.DOC_BEGIN, check_layers.DOC_END
        arrow = "    src_setup --> src_ui\n"
        self.assertIn(arrow, fresh)
        cases = [
            # (document text or None for no document, problem expected)
            (f"# Layers\n\n{begin}\n{fresh}{end}\n\nMore text.\n", None),
            (f"{begin}\n\n{fresh}\n{end}", None),  # blank lines around the block
            (f"{begin}\n{fresh.replace(arrow, '')}{end}\n", "differs from the allowed table"),
            (f"{begin}\n{fresh.replace(arrow, '    src_setup --> src_agent' + chr(10))}{end}\n",
             "differs from the allowed table"),
            (f"{begin}\n{fresh}{end}\n".replace("flowchart TD", "flowchart LR"), "differs from the allowed table"),
            (f"{begin}\n{fresh}", "no block between"),
            (f"{fresh}", "no block between"),
            (None, "cannot be read"),
        ]
        for text, bad in cases:
            with self.subTest(text=text and text[:60], bad=bad):
                found = self.doc_problems(text)
                if bad is None:
                    self.assertEqual(found, [])
                else:
                    self.assertEqual(len(found), 1, found)
                    self.assertIn(bad, found[0])

    def test_update_doc_writes_what_the_check_passes(self):
        with tempfile.TemporaryDirectory() as root:
            begin, end = check_layers.DOC_BEGIN, check_layers.DOC_END
            make_tree(root, {check_layers.DOC_PATH: f"Before.\n{begin}\nold picture\n{end}\nAfter.\n"})
            self.assertEqual(check_layers.update_doc(root), 0)
            self.assertEqual(check_layers.doc_problems(root), [])
            with open(os.path.join(root, check_layers.DOC_PATH)) as f:
                text = f.read()
            self.assertTrue(text.startswith("Before.\n") and text.endswith(f"{end}\nAfter.\n"), text)
            self.assertNotIn("old picture", text)


if __name__ == "__main__":
    unittest.main()
