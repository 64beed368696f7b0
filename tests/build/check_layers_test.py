#!/usr/bin/env python3
"""Tests of tools/check-layers.py and tools/check-owners.py on small trees
made for each case."""
import importlib.util
import os
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))


def load_tool(name, file_name):
    module_spec = importlib.util.spec_from_file_location(name, os.path.join(HERE, "..", "..", "tools", file_name))
    module = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(module)
    return module


check_layers = load_tool("check_layers", "check-layers.py")
check_owners = load_tool("check_owners", "check-owners.py")


def write_tree(root, tree):
    for name, text in tree.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as out:
            out.write(text)

# The tree's layers as the build declares them.
MAP = """# comment
platform/runtime flat:
platform flat: platform/runtime
platform/forms flat: platform
cleaner/engine flat: platform
cleaner/windows flat: platform platform/forms cleaner/engine
crashreport/core recurse: platform
"""

GOOD_TREE = {
    "platform/runtime/SpinLock.h": "#include <windows.h>\n",
    "platform/Handles.h": '#include "platform/runtime/SpinLock.h"\n',
    "platform/forms/Form.h": '#include "platform/Handles.h"\n',
    "cleaner/engine/Scan.h": '#include "platform/Handles.h"\n#include "Other.h"\n',
    "cleaner/engine/Other.h": "",
    "cleaner/windows/Main.cpp": '#include "cleaner/engine/Scan.h"\n#include "platform/forms/Form.h"\n',
    "crashreport/core/hook/EHook.cpp": '#include "crashreport/core/ECore.h"\n#include "../ECore.h"\n',
    "crashreport/core/ECore.h": '#include "platform/Handles.h"\n#include <zlib.h>\n',
}


class LayerCheck(unittest.TestCase):
    def run_check(self, tree, layer_map=MAP):
        with tempfile.TemporaryDirectory() as root:
            write_tree(root, tree)
            map_path = os.path.join(root, "layers.txt")
            with open(map_path, "w") as out:
                out.write(layer_map)
            return check_layers.check(root, check_layers.read_map(map_path))

    def assert_one_problem(self, tree, *words, layer_map=MAP):
        count, problems = self.run_check(tree, layer_map)
        self.assertEqual(len(problems), 1, problems)
        for word in words:
            self.assertIn(word, problems[0])

    def test_a_tree_that_keeps_its_layers_passes(self):
        count, problems = self.run_check(GOOD_TREE)
        self.assertEqual(problems, [])
        self.assertEqual(count, len(GOOD_TREE))

    def test_an_upward_include_from_platform_fails(self):
        tree = dict(GOOD_TREE)
        tree["platform/Registry.cpp"] = '#include "platform/Handles.h"\n#include "cleaner/engine/Scan.h"\n'
        self.assert_one_problem(tree, "platform/Registry.cpp:2", "cleaner/engine/Scan.h",
                                "platform must never use cleaner/engine")

    def test_an_include_of_an_undeclared_folder_fails(self):
        tree = dict(GOOD_TREE)
        tree["platform/forms/Form.cpp"] = '#include "platform/runtime/SpinLock.h"\n'
        self.assert_one_problem(tree, "platform/forms/Form.cpp:1", "of platform/runtime",
                                "does not declare (it declares: platform)")

    def test_the_engine_never_reaches_windows_or_forms(self):
        for header in ("cleaner/windows/Main.cpp", "platform/forms/Form.h"):
            with self.subTest(header=header):
                tree = dict(GOOD_TREE)
                tree["cleaner/engine/Scan.cpp"] = f'#include "{header}"\n'
                self.assert_one_problem(tree, "cleaner/engine must never use", "windows or forms")

    def test_the_reporter_and_the_cleaner_never_reach_each_other(self):
        tree = dict(GOOD_TREE)
        tree["crashreport/core/hook/EHook.h"] = '#include "cleaner/engine/Scan.h"\n'
        self.assert_one_problem(tree, "crashreport/core must never use cleaner/engine")
        tree = dict(GOOD_TREE)
        tree["cleaner/windows/Crash.cpp"] = '#include "crashreport/core/ECore.h"\n'
        self.assert_one_problem(tree, "cleaner/windows must never use crashreport/core")

    def test_a_forbidden_declaration_fails_without_any_include(self):
        layer_map = MAP.replace("crashreport/core recurse: platform",
                                "crashreport/core recurse: platform platform/forms")
        self.assert_one_problem(GOOD_TREE, "crashreport/core: the library declares platform/forms",
                                "Win32 dialog templates", layer_map=layer_map)

    def test_includes_in_comments_do_not_count(self):
        tree = dict(GOOD_TREE)
        tree["platform/Registry.cpp"] = ('// #include "cleaner/engine/Scan.h"\n'
                                         '/* #include "cleaner/engine/Scan.h"\n */\n')
        self.assertEqual(self.run_check(tree)[1], [])

    def test_angle_bracket_includes_of_the_tree_count(self):
        tree = dict(GOOD_TREE)
        tree["platform/Registry.cpp"] = "#include <cleaner/engine/Scan.h>\n"
        self.assert_one_problem(tree, "platform must never use cleaner/engine")

    def test_a_subfolder_of_a_flat_library_is_reported(self):
        tree = dict(GOOD_TREE)
        tree["platform/extra/Thing.cpp"] = "\n"
        self.assert_one_problem(tree, "platform/extra/Thing.cpp", "no library")

    def test_including_a_file_outside_every_library_fails(self):
        tree = dict(GOOD_TREE)
        tree["tests/common/TestSupport.h"] = ""
        tree["cleaner/engine/Scan.cpp"] = '#include "tests/common/TestSupport.h"\n'
        self.assert_one_problem(tree, "tests/common/TestSupport.h, which belongs to no library")

    def test_the_engine_calls_no_window_showing_routine(self):
        for call in ("::MessageBoxW(owner, text, caption, MB_OK);", "SHBrowseForFolderW(&info);"):
            with self.subTest(call=call):
                tree = dict(GOOD_TREE)
                tree["cleaner/engine/Scan.cpp"] = "int f() {\n  " + call + "\n}\n"
                self.assert_one_problem(tree, "cleaner/engine/Scan.cpp:2", "shows no window")
        tree = dict(GOOD_TREE)
        tree["cleaner/windows/Main.cpp"] += "void f() { ::MessageBoxW(nullptr, L\"\", L\"\", 0); }\n"
        self.assertEqual(self.run_check(tree)[1], [])

    def test_the_engine_does_not_read_the_windows_page(self):
        tree = dict(GOOD_TREE)
        tree["cleaner/engine/SharedState.h"] = "extern std::atomic<int> CurrentPage;\n"
        self.assertEqual(self.run_check(tree)[1], [])
        tree["cleaner/engine/Sizes.cpp"] = "if (CurrentPage == pgClean) Show();\n"
        self.assert_one_problem(tree, "cleaner/engine/Sizes.cpp:1", "uses CurrentPage", "asks its view")

    def test_a_malformed_map_line_is_an_error(self):
        with self.assertRaises(ValueError):
            self.run_check(GOOD_TREE, layer_map="platform: nothing here\n")


class OwnerCheck(unittest.TestCase):
    def problems(self, tree):
        with tempfile.TemporaryDirectory() as root:
            write_tree(root, tree)
            return check_owners.check(root)

    def test_releases_inside_the_owners_header_and_in_comments_pass(self):
        self.assertEqual(self.problems({
            "platform/Handles.h": "static void Close(Type p) noexcept { ::LocalFree(p); }\n",
            "cleaner/engine/Scan.cpp": '// ::DeleteObject(brush) is what GdiObject does\n'
                                       'const char* text = "ReleaseDC(";\nblock.Release();\n',
        }), [])

    def test_each_release_by_hand_names_its_owner(self):
        cases = {
            "pointer->Release();": "ComRef",
            "::CoTaskMemFree(pidl);": "CoTaskMemory",
            "::LocalFree(list);": "LocalMemory",
            "::ReleaseDC(window, dc);": "WindowDC",
            "::DeleteDC(dc);": "CreatedDC",
            "::DeleteObject(brush);": "GdiObject",
        }
        for line, owner in cases.items():
            with self.subTest(owner=owner):
                problems = self.problems({"crashreport/core/X.cpp": "\n" + line + "\n"})
                self.assertEqual(len(problems), 1, problems)
                self.assertIn("crashreport/core/X.cpp:2", problems[0])
                self.assertIn(owner, problems[0])


if __name__ == "__main__":
    unittest.main()
