#!/usr/bin/env python3
"""The thread-safety pass over small sources with a compile database of their own."""

import contextlib
import io
import json
import os
import shutil
import sys
import tempfile
import textwrap
import unittest

SOURCE_DIR = os.environ.get("HX_SOURCE_DIR") or os.path.abspath(
    os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tools"))
import thread_safety_check  # noqa: E402

PRELUDE = '#include "platform/foundation/thread_annotations.h"\n'

COUNTER = PRELUDE + textwrap.dedent("""\
    class Counter {
    public:
        void add() {
            std::lock_guard lock(mutex_);
            addLocked();
        }
        int get() {
            std::lock_guard lock(mutex_);
            return value_;
        }
    private:
        void addLocked() HX_REQUIRES(mutex_) { ++value_; }
        foundation::Mutex mutex_;
        int value_ HX_GUARDED_BY(mutex_) = 0;
    };
    int use() { Counter c; c.add(); return c.get(); }
    """)



def without(text, lines):
    """text with the lock line of the given block removed."""
    assert lines in text, lines
    return text.replace(lines, lines.split("\n", 1)[1])


GOOD_CASES = {
    "lock guard and a helper that requires the lock": COUNTER,
    "recursive mutex taken in a caller and a callee": PRELUDE + textwrap.dedent("""\
        struct S {
            foundation::RecursiveMutex m;
            int v HX_GUARDED_BY(m) = 0;
            int read() { std::lock_guard l(m); return v; }
            int twice() { std::lock_guard l(m); return read() + v; }
        };
        """),
    "adopted lock": PRELUDE + textwrap.dedent("""\
        struct S {
            foundation::Mutex m;
            int v HX_GUARDED_BY(m) = 0;
            void set() { m.lock(); std::lock_guard l(m, std::adopt_lock); v = 1; }
        };
        """),
    "a lambda that declares the lock it needs": PRELUDE + textwrap.dedent("""\
        struct S {
            foundation::Mutex m;
            int v HX_GUARDED_BY(m) = 0;
            void set() {
                std::lock_guard l(m);
                auto bump = [&]() HX_REQUIRES(m) { ++v; };
                bump();
            }
        };
        """),
}

BAD_CASES = {
    # name: (source, text the diagnostic must hold)
    "read without the lock": (without(COUNTER, "        std::lock_guard lock(mutex_);\n        return value_;"),
                              "reading variable 'value_' requires holding mutex 'mutex_'"),
    "helper called without the lock": (without(COUNTER, "        std::lock_guard lock(mutex_);\n        addLocked();"),
                                       "calling function 'addLocked' requires holding mutex"),
    "write after the guard's scope": (PRELUDE + textwrap.dedent("""\
        struct S {
            foundation::Mutex m;
            int v HX_GUARDED_BY(m) = 0;
            void set() { { std::lock_guard l(m); v = 1; } v = 2; }
        };
        """), "writing variable 'v' requires holding mutex 'm' exclusively"),
    "lock left held at the end of the function": (PRELUDE + textwrap.dedent("""\
        struct S {
            foundation::Mutex m;
            void leak() { m.lock(); }
        };
        """), "mutex 'm' is still held at the end of function"),
    "guarded global": (PRELUDE + textwrap.dedent("""\
        foundation::Mutex gm;
        int g HX_GUARDED_BY(gm);
        int read() { return g; }
        """), "reading variable 'g' requires holding mutex 'gm'"),
}


@unittest.skipUnless(thread_safety_check.find_clang(), "clang++ is not installed")
class ThreadSafetyCheckTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.dir)
        self.entries = []

    def add(self, name, text, header_text=None):
        path = os.path.join(self.dir, name + ".cpp")
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        if header_text is not None:
            with open(os.path.join(self.dir, name + ".h"), "w", encoding="utf-8") as f:
                f.write(header_text)
        # The shape CMake writes: the compiler, warnings the pass must drop, -o and -c.
        self.entries.append({"directory": self.dir, "file": path,
                             "command": f"/usr/bin/c++ -I{SOURCE_DIR} -O2 -Wall -Wextra -std=c++20 "
                                        f"-o {name}.o -c {path}"})
        return path

    def run_check(self, *extra):
        with open(os.path.join(self.dir, "compile_commands.json"), "w", encoding="utf-8") as f:
            json.dump(self.entries, f)
        out, err = io.StringIO(), io.StringIO()
        with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
            rc = thread_safety_check.main(["-p", self.dir, "-j", "2", *extra])
        return rc, out.getvalue(), err.getvalue()

    def test_sound_locking_passes(self):
        for name, text in GOOD_CASES.items():
            with self.subTest(name):
                self.entries = []
                self.add("good", text)
                rc, out, err = self.run_check()
                self.assertEqual(rc, 0, err)
                self.assertIn("1 source(s) pass", out)

    def test_each_fault_fails_with_its_diagnostic(self):
        for name, (text, diagnostic) in BAD_CASES.items():
            with self.subTest(name):
                self.entries = []
                self.add("bad", text)
                rc, _, err = self.run_check()
                self.assertEqual(rc, 1, err)
                self.assertIn(diagnostic, err)
                self.assertIn("bad.cpp:", err)

    def test_only_annotated_sources_join_the_pass(self):
        plain = self.add("plain", "int g; int read() { return g; }\n")
        direct = self.add("direct", COUNTER)
        through_header = self.add("paired", '#include "paired.h"\nint f() { return 1; }\n', header_text=PRELUDE)
        rc, out, _ = self.run_check("--list")
        self.assertEqual(rc, 0)
        listed = out.split()
        self.assertEqual(sorted(listed), sorted([direct, through_header]))
        self.assertNotIn(plain, listed)

    def test_one_bad_source_among_good_ones_fails_the_pass(self):
        self.add("good", COUNTER)
        self.add("bad", BAD_CASES["guarded global"][0])
        rc, _, err = self.run_check()
        self.assertEqual(rc, 1)
        self.assertIn("1 of 2 compilation(s) fail", err)

    def test_a_batch_joins_with_only_the_sources_the_pass_is_for(self):
        # CMake's unity build names the batches in the database, each including its sources by path.
        def batch(index, *members):
            folder = os.path.join(self.dir, "Unity")
            os.makedirs(folder, exist_ok=True)
            path = os.path.join(folder, f"unity_{index}_cxx.cxx")
            with open(path, "w", encoding="utf-8") as f:
                f.writelines(f'#include "{m}"\n' for m in members)
            self.entries.append({"directory": self.dir, "file": path,
                                 "command": f"/usr/bin/c++ -I{SOURCE_DIR} -std=c++20 -o b{index}.o -c {path}"})

        def source(name, text):
            path = os.path.join(self.dir, name + ".cpp")
            with open(path, "w", encoding="utf-8") as f:
                f.write(text)
            return path

        # A source the pass is not for is not compiled: this one would not even parse with clang.
        plain = source("plain", "int g; int read() { return g; }\n#if defined(__clang__)\nnot C++\n#endif\n")
        good = source("good", COUNTER)
        bad = source("bad", BAD_CASES["guarded global"][0])
        batch(0, plain, good)
        batch(1, source("other", "int h() { return 2; }\n"))
        rc, out, _ = self.run_check("--list")
        self.assertEqual((rc, out.split()), (0, [good]))
        rc, out, err = self.run_check()
        self.assertEqual(rc, 0, err)
        self.assertIn("1 source(s) pass (1 compilation(s))", out)

        batch(2, source("plain2", "int k() { return 3; }\n"), bad)
        rc, _, err = self.run_check()
        self.assertEqual(rc, 1)
        self.assertIn("reading variable 'g' requires holding mutex 'gm'", err)
        self.assertIn("bad.cpp:", err)
        self.assertIn("1 of 2 compilation(s) fail", err)

    def test_missing_database_or_nothing_to_check_is_an_error(self):
        rc, _, err = self.run_check()
        self.assertEqual(rc, 2)
        self.assertIn("no annotated source", err)
        rc = thread_safety_check.main(["-p", os.path.join(self.dir, "absent")])
        self.assertEqual(rc, 2)

    def test_the_repository_annotates_the_guarded_classes(self):
        # The facade, the crash service and the store context stay in the pass.
        wanted = ["RurIdurev/RurIdurev/rur_idurev.cpp", "RurIdurevCrashes/RurIdurevCrashes/crashes.cpp",
                  "platform/store/context.cpp", "platform/store/context_queues.cpp"]
        for rel in wanted:
            with self.subTest(rel):
                self.assertTrue(thread_safety_check.annotated(os.path.join(SOURCE_DIR, rel)))


if __name__ == "__main__":
    unittest.main()
