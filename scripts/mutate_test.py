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
    def test_what_is_made_and_what_is_left_out_as_equivalent(self):
        cases = [
            # The same return value spelt otherwise.
            ("bool F() { return false; }", "bool F() { return true; }", {"bool F() { return 0; }"}),
            # != 0 to > 0: the same only for an unsigned value.
            ("void F(uint32_t n) { if (n != 0) G(); }", "void F(uint32_t n) { if (n == 0) G(); }",
             {"void F(uint32_t n) { if (n > 0) G(); }"}),
            ("void F(int n) { if (n != 0) G(); }", "void F(int n) { if (n > 0) G(); }", set()),
            # A break that ends the switch anyway; one that does not falls through.
            ("void F(int x) { switch (x) { case 1: G(); break; case 2: H(); break; } }",
             "void F(int x) { switch (x) { case 1: G(); [[fallthrough]]; case 2: H(); break; } }",
             {"void F(int x) { switch (x) { case 1: G(); break; case 2: H(); {} } }"}),
        ]
        for code, one_made, left_out in cases:
            made, equivalent = mutants(code)
            self.assertIn(one_made, made)
            self.assertEqual(left_out, equivalent)

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
