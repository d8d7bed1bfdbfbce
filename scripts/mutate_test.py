#!/usr/bin/env python3
"""The mutation runner's own checks: which mutants it makes, which it leaves
out as equivalent, and that a stopped run's file is put back."""

import os
import tempfile
import unittest

import mutate


def mutants(code):
    made, equivalent = mutate.candidates("x.cpp", code)
    return {m.apply(code) for m in made}, {m.apply(code) for m in equivalent}


class Candidates(unittest.TestCase):
    def test_a_return_value_spelt_otherwise_is_left_out(self):
        code = "bool F() { return false; }"
        made, equivalent = mutants(code)
        self.assertIn("bool F() { return true; }", made)
        self.assertEqual({"bool F() { return 0; }"}, equivalent)

    def test_not_zero_is_above_zero_only_for_an_unsigned_value(self):
        made, equivalent = mutants("void F(uint32_t n) { if (n != 0) G(); }")
        self.assertEqual({"void F(uint32_t n) { if (n > 0) G(); }"}, equivalent)
        made, equivalent = mutants("void F(int n) { if (n != 0) G(); }")
        self.assertIn("void F(int n) { if (n > 0) G(); }", made)

    def test_a_break_that_ends_a_switch_anyway_is_left_out(self):
        code = "void F(int x) { switch (x) { case 1: G(); break; case 2: H(); break; } }"
        made, equivalent = mutants(code)
        self.assertIn("void F(int x) { switch (x) { case 1: G(); [[fallthrough]]; case 2: H(); break; } }", made)
        self.assertEqual({"void F(int x) { switch (x) { case 1: G(); break; case 2: H(); {} } }"}, equivalent)

    def test_template_arguments_comments_and_texts_are_not_code_to_mutate(self):
        made, _ = mutants('int F(int y) { P("a < b"); /* c < d */ return static_cast<int>(y) < y; }')
        changed = {m for m in made if "static_cast<int>(y) <= y" in m}
        self.assertEqual(1, len(changed))
        self.assertFalse([m for m in made if "static_cast<=" in m or "a <= b" in m or "c <= d" in m])


class Restore(unittest.TestCase):
    def test_a_run_stopped_with_its_mutant_in_place_is_put_right_by_the_next(self):
        with tempfile.TemporaryDirectory() as root:
            mutate.ROOT = root
            with open(os.path.join(root, "f.cpp"), "wb") as f:
                f.write(b"original")
            mutate.Tree(os.path.join(root, "build")).mutate("f.cpp", b"original", b"mutant")
            mutate.Tree(os.path.join(root, "build")).recover()
            with open(os.path.join(root, "f.cpp"), "rb") as f:
                self.assertEqual(b"original", f.read())


if __name__ == "__main__":
    unittest.main()
