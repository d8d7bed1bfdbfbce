#!/usr/bin/env python3
"""A sampled mutation run over the native build: scripts/mutate.sh drives it.

Each mutant is one small change to one source file (below). The file is
mutated in place, the native build is brought up to date incrementally,
and the native tests of the programs that link the file run until one
fails: killed, survived, or not compiled. Every source file is put back
whatever happens (an error, Ctrl-C, SIGTERM); a run stopped by SIGKILL is
put right by the next one, from the copy it keeps in the build directory.
"""

import argparse
import fcntl
import json
import os
import random
import re
import signal
import subprocess
import sys
import threading
import time

# The files a full run samples; files not in the tree are skipped, named.
FILES = [
    "package/ExtractPackage.cpp",
    "package/RemoveTree.cpp",
    "app/ExtractDirectory.cpp",
    "platform/EntryName.cpp",
    "linemon/LineMonitor.cpp",
    "platform/Format.cpp",
    "tools/secpack/VerifyArchive.cpp",
    "tools/secpack/NameRules.cpp",
]
SAMPLE = 8  # compiled mutants per file: a full run then takes about 7 minutes on 2 cores
# --smoke: a few mutants of files whose tests take seconds.
SMOKE_FILES = ["linemon/LineMonitor.cpp", "tools/secpack/NameRules.cpp"]
SMOKE_SAMPLE = 2

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# ---------------------------------------------------------------- lexing

TOKEN = re.compile(r"""
    (?P<space>\s+)
  | (?P<comment>//[^\n]*|/\*.*?\*/)
  | (?P<string>(?:u8|[uUL])?R"(?P<delim>[^(\s]*)\(.*?\)(?P=delim)"|(?:u8|[uUL])?"(?:\\.|[^"\\\n])*")
  | (?P<char>(?:u8|[uUL])?'(?:\\.|[^'\\\n])*')
  | (?P<number>0[xX][0-9a-fA-F']+[uUlL]*|\d[\d']*(?:\.\d*)?(?:[eE][+-]?\d+)?[uUlLfF]*)
  | (?P<ident>[A-Za-z_]\w*)
  | (?P<op><<=|>>=|->\*?|\.\.\.|::|\+\+|--|<<|>>|<=|>=|==|!=|&&|\|\||[-+*/%&|^!=<>]=?|[.,;:?~(){}\[\]#])
""", re.S | re.X)

UNSIGNED_TYPES = {"size_t", "uint8_t", "uint16_t", "uint32_t", "uint64_t", "unsigned", "uintptr_t", "DWORD"}
INT_TYPES = UNSIGNED_TYPES | {"int", "int32_t", "int64_t", "long", "char", "ssize_t", "bool"}
TEMPLATE_WORDS = {"static_cast", "reinterpret_cast", "const_cast", "dynamic_cast", "numeric_limits",
                  "vector", "array", "min", "max", "unique_ptr", "function", "pair", "map", "set",
                  "basic_string", "template", "is_same_v", "is_pointer_v", "is_void_v"}
NOT_STATEMENT_STARTS = {"return", "break", "continue", "case", "default", "const", "constexpr", "static",
                        "struct", "class", "enum", "using", "namespace", "typedef", "goto", "else", "if",
                        "for", "while", "do", "switch", "auto", "void", "template", "inline"} | INT_TYPES


class Tok:
    __slots__ = ("kind", "text", "start", "end")

    def __init__(self, kind, text, start, end):
        self.kind, self.text, self.start, self.end = kind, text, start, end


def tokenize(source):
    """The code's tokens, without comments and preprocessor lines."""
    tokens, pos, line_start = [], 0, True
    while pos < len(source):
        if line_start:
            directive = re.match(r"[ \t]*#(?:[^\n]*\\\n)*[^\n]*", source[pos:])
            if directive:
                pos += directive.end()
                continue
        m = TOKEN.match(source, pos)
        if not m:
            pos += 1  # a byte no rule knows: not code a mutant touches
            continue
        kind = m.lastgroup if m.lastgroup != "delim" else "string"
        if kind == "space":
            line_start = "\n" in m.group()
        elif kind != "comment":
            tokens.append(Tok(kind, m.group(), m.start(), m.end()))
            line_start = False
        pos = m.end()
    return tokens


def matching(tokens, i, opening, closing):
    """The index of the bracket that matches tokens[i] (an opening one is
    matched forward, a closing one backward), or None."""
    step, depth = (1, 0) if tokens[i].text == opening else (-1, 0)
    j = i
    while 0 <= j < len(tokens):
        if tokens[j].text in (opening, closing):
            depth += 1 if (tokens[j].text == opening) == (step == 1) else -1
            if depth == 0:
                return j
        j += step
    return None


def template_angles(tokens):
    """Indices of '<' and '>' that open and close template arguments."""
    angles = set()
    typeish = {"::", ",", "*", "&", "const", "unsigned", "signed", "char", "int", "long", "void"}
    for i, tok in enumerate(tokens):
        if tok.text != "<" or i == 0 or tokens[i - 1].kind != "ident":
            continue
        depth, j = 0, i
        while j < len(tokens):
            t = tokens[j].text
            if t == "<":
                depth += 1
            elif t == ">":
                depth -= 1
                if depth == 0:
                    break
            elif t == ">>" and depth >= 2:
                depth -= 2
                if depth == 0:
                    break
            elif not (tokens[j].kind in ("ident", "number") or t in typeish):
                j = None
                break
            j += 1
        if j is not None and j < len(tokens) and (tokens[i - 1].text in TEMPLATE_WORDS or
                                                 j + 1 < len(tokens) and tokens[j + 1].text in "(::{;,)&*>"):
            angles.update({i, j})
    return angles


# ---------------------------------------------------------------- mutants

class Mutant:
    def __init__(self, path, source, start, end, replacement, operator):
        self.path, self.start, self.end = path, start, end
        self.replacement, self.operator = replacement, operator
        self.line = source.count("\n", 0, start) + 1
        self.original = source[start:end]

    def apply(self, source):
        return source[:self.start] + self.replacement + source[self.end:]

    def describe(self):
        def short(text):
            text = " ".join(text.split())
            return text if len(text) <= 60 else text[:57] + "..."
        return "%s:%d %s: '%s' -> '%s'" % (self.path, self.line, self.operator, short(self.original),
                                           short(self.replacement))


def function_types(tokens):
    """For each token index inside a function body, the function's return type words."""
    types, stack = {}, []
    for i, tok in enumerate(tokens):
        if tok.text == "{":
            kind = None
            j = i - 1
            while j >= 0 and tokens[j].text in ("const", "override", "noexcept", "final"):
                j -= 1
            if j >= 0 and tokens[j].text == ")":
                opening = matching(tokens, j, "(", ")")
                name = opening - 1 if opening else None
                if name is not None and tokens[name].kind == "ident" and \
                        tokens[name].text not in ("if", "while", "for", "switch", "catch"):
                    k = name - 1
                    words = []
                    while k >= 0 and tokens[k].text not in (";", "}", "{", ")", "]"):
                        words.append(tokens[k].text)
                        k -= 1
                    if tokens[name - 1].text != "]":  # not a lambda
                        kind = [w for w in reversed(words) if w not in ("static", "inline", "constexpr")]
            stack.append(kind if kind is not None else (stack[-1] if stack else None))
        elif tok.text == "}" and stack:
            stack.pop()
        if stack and stack[-1] is not None:
            types[i] = stack[-1]
    return types


def block_kinds(tokens):
    """For each '}' index, the statement its block belongs to: switch, loop or other."""
    kinds, stack = {}, []
    for i, tok in enumerate(tokens):
        if tok.text == "{":
            kind = "other"
            if i > 0 and tokens[i - 1].text == ")":
                opening = matching(tokens, i - 1, "(", ")")
                if opening and opening > 0:
                    kind = {"switch": "switch", "for": "loop", "while": "loop"}.get(tokens[opening - 1].text, "other")
            elif i > 0 and tokens[i - 1].text == "do":
                kind = "loop"
            stack.append(kind)
        elif tok.text == "}" and stack:
            kinds[i] = stack.pop()
    return kinds


def literal_value(tokens, i, j):
    """The value of tokens[i:j] when it is a plain literal, else None."""
    texts = [t.text for t in tokens[i:j]]
    sign = 1
    if texts and texts[0] == "-":
        sign, texts = -1, texts[1:]
    if len(texts) != 1:
        return None
    text = texts[0]
    if text in ("true", "false"):
        return sign * (1 if text == "true" else 0)
    if text == "nullptr":
        return 0
    try:
        return sign * int(text.rstrip("uUlL").replace("'", ""), 0)
    except ValueError:
        return None


def in_type(value, words):
    """How the function's return type holds value: bool folds, unsigned wraps."""
    if "bool" in words:
        return 1 if value else 0
    if any(w in UNSIGNED_TYPES for w in words):
        return value % (1 << 64)
    return value


def unsigned_names(tokens):
    names = set()
    for i in range(len(tokens) - 1):
        if tokens[i].text in UNSIGNED_TYPES and tokens[i + 1].kind == "ident":
            names.add(tokens[i + 1].text)
    return names


def paren_depths(tokens):
    depths, depth = [], 0
    for tok in tokens:
        if tok.text in ("(", "["):
            depth += 1
        depths.append(depth)
        if tok.text in (")", "]"):
            depth -= 1
    return depths


def statement_end(tokens, i):
    """The index of the ';' that ends the plain statement starting at i, or None."""
    end = i
    while end < len(tokens) and tokens[end].text not in (";", "{", "}"):
        end += 1
    return end if end < len(tokens) and tokens[end].text == ";" else None


def statement_starts(tokens, i):
    """Whether a statement may start at tokens[i]: after ';', a brace, 'else', a
    condition's ')' or a case label's ':'."""
    if i == 0:
        return False
    prev = tokens[i - 1].text
    if prev in (";", "{", "}", "else"):
        return True
    if prev == ")":
        opening = matching(tokens, i - 1, "(", ")")
        return opening is not None and opening > 0 and tokens[opening - 1].text in ("if", "for", "while")
    if prev == ":":
        for j in range(i - 2, -1, -1):
            if tokens[j].text in ("case", "default"):
                return True
            if tokens[j].text in (";", "{", "}", "?"):
                return False
    return False


def return_mutants(source, tokens, i, end, words):
    """(replacement, is trivially equivalent) for 'return tokens[i:end];' in a function of that type."""
    expression = source[tokens[i].start:tokens[end - 1].end]
    value = literal_value(tokens, i, end)
    if "*" in words:
        if expression == "nullptr":
            return [('""', False)] if "char" in words else []
        return [("nullptr", False)]
    if any(w in INT_TYPES for w in words):
        if value is None:
            return [("!(" + expression + ")" if "bool" in words else "0", False)]
        result, seen = [], {in_type(value, words)}
        for new in ("0", "1", "-1"):
            held = in_type(int(new), words)
            if new != expression and held not in seen or held == in_type(value, words) and new != expression:
                # false -> 0 in a bool function: the same value spelt otherwise.
                same = held in seen
                result.append((new if same or "bool" not in words else "true" if held else "false", same))
            seen.add(held)
        return result
    if "string" in words and tokens[i].kind == "string" and end == i + 1:
        return [('""' if expression != '""' else '"x"', False)]
    return []


def candidates(path, source):
    """Every mutant of the file, and the trivially equivalent ones left out."""
    tokens = tokenize(source)
    angles = template_angles(tokens)
    types = function_types(tokens)
    blocks = block_kinds(tokens)
    unsigned = unsigned_names(tokens)
    depths = paren_depths(tokens)
    found, equivalent = [], []

    def add(i, j, replacement, operator, into=found):
        into.append(Mutant(path, source, tokens[i].start, tokens[j - 1].end, replacement, operator))

    swaps = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}
    for i, tok in enumerate(tokens):
        if i not in types:
            continue  # code in function bodies only
        t = tok.text
        prev = tokens[i - 1] if i > 0 else None
        nxt = tokens[i + 1] if i + 1 < len(tokens) else None
        binary = prev is not None and (prev.kind in ("ident", "number", "string", "char") or prev.text in (")", "]"))
        if t in swaps and i not in angles:
            add(i, i + 1, swaps[t], "relational" if t[0] in "<>" else "equality")
            if t in ("!=", "==") and nxt is not None and nxt.text == "0":
                # x != 0 -> x > 0 and x == 0 -> x <= 0: no change on an unsigned x.
                sized = prev.text == ")" and i >= 3 and tokens[i - 3].text == "size"
                add(i, i + 1, ">" if t == "!=" else "<=", "relational",
                    equivalent if sized or prev.text in unsigned else found)
        elif t in ("+", "-") and binary:
            add(i, i + 1, "-" if t == "+" else "+", "arithmetic")
        elif t in ("+=", "-="):
            add(i, i + 1, "-=" if t == "+=" else "+=", "arithmetic")
        elif t in ("&&", "||"):
            add(i, i + 1, "||" if t == "&&" else "&&", "logical")
        elif tok.kind == "number" and re.fullmatch(r"(0[xX][0-9a-fA-F]+|\d+)[uUlL]*", t):
            digits = re.match(r"0[xX][0-9a-fA-F]+|\d+", t).group()
            value = int(digits, 0)
            for delta in (1, -1):
                if value + delta >= 0:
                    text = "0x%X" % (value + delta) if digits[:2].lower() == "0x" else str(value + delta)
                    add(i, i + 1, text + t[len(digits):], "constant %+d" % delta)
        elif t in ("if", "while") and nxt is not None and nxt.text == "(":
            close = matching(tokens, i + 1, "(", ")")
            if close is not None and close > i + 2:
                inner = source[tokens[i + 2].start:tokens[close - 1].end]
                add(i + 2, close, "!(" + inner + ")", "negated condition")
        elif t == "return" and nxt is not None and nxt.text != ";":
            end = statement_end(tokens, i)
            if end is not None:
                for replacement, same in return_mutants(source, tokens, i + 1, end, types[i]):
                    add(i + 1, end, replacement, "return value", equivalent if same else found)
        elif t in ("break", "continue") and nxt is not None and nxt.text == ";":
            after = tokens[i + 2] if i + 2 < len(tokens) else None
            if after is not None and after.text == "}" and blocks.get(i + 2) == ("switch" if t == "break" else "loop"):
                add(i, i + 2, "{}", "removed " + t, equivalent)  # leaves the switch, or goes round the loop, all the same
            elif after is not None and after.text in ("case", "default"):
                add(i, i + 2, "[[fallthrough]];", "removed " + t)
            else:
                add(i, i + 2, "{}", "removed " + t)
        # A statement that is an expression: a call, an assignment, a step.
        if statement_starts(tokens, i) and depths[i] == 0 and nxt is not None and (
                tok.kind == "ident" and t not in NOT_STATEMENT_STARTS and nxt.kind != "ident" and
                nxt.text not in ("::", "<", "*", "&") or t in ("++", "--", "*")):
            end = statement_end(tokens, i)
            if end is not None:
                add(i, end + 1, "{}", "deleted statement")
    # One of each text: two ways to the same mutant count once.
    unique = {}
    for mutant in found:
        unique.setdefault(mutant.apply(source), mutant)
    return list(unique.values()), equivalent

# ---------------------------------------------------------------- the tree

class Tree:
    """The source files while mutants are in them: each one put back, always."""

    def __init__(self, build):
        self.keep = os.path.join(build, "mutate", "originals")
        self.current = None  # (path, original bytes)

    def recover(self):
        """Puts back what a run stopped by SIGKILL left mutated, once the build
        it left running has been ended."""
        if not os.path.isdir(self.keep):
            return
        note = os.path.join(os.path.dirname(self.keep), "child")
        if os.path.exists(note):
            with open(note) as text:
                try:
                    os.killpg(int(text.read()), signal.SIGKILL)
                except (ValueError, ProcessLookupError, PermissionError):
                    pass
            os.remove(note)
        for name in os.listdir(self.keep):
            relative = name.replace("%", "/")
            with open(os.path.join(self.keep, name), "rb") as saved:
                self._write(relative, saved.read())
            os.remove(os.path.join(self.keep, name))
            print("mutate: put back %s, left mutated by a run that was stopped" % relative)
        for directory, _, names in os.walk(ROOT):
            for name in names:
                if name.endswith(".mutate-tmp"):
                    os.remove(os.path.join(directory, name))

    def mutate(self, path, original, text):
        os.makedirs(self.keep, exist_ok=True)
        with open(os.path.join(self.keep, path.replace("/", "%")), "wb") as saved:
            saved.write(original)
            saved.flush()
            os.fsync(saved.fileno())
        self.current = (path, original)
        self._write(path, text)

    def restore(self):
        if self.current is None:
            return
        path, original = self.current
        self._write(path, original)
        os.remove(os.path.join(self.keep, path.replace("/", "%")))
        self.current = None

    @staticmethod
    def _write(path, data):
        # Whole or not at all, and newer than anything built from a mutant.
        target = os.path.join(ROOT, path)
        temporary = target + ".mutate-tmp"
        with open(temporary, "wb") as out:
            out.write(data)
        os.replace(temporary, target)
        now = time.time()
        os.utime(target, (now, now))
        with open(target, "rb") as back:
            if back.read() != data:
                raise RuntimeError("mutate: %s does not read back as written" % path)


# ---------------------------------------------------------------- the build

# Where the running child's process group is noted, so that a run stopped
# by SIGKILL can have its build ended before a mutant object outlives it.
CHILD_NOTE = None


def run(command, timeout=None, log=None, stop=None):
    """Runs command in a process group of its own, ended at timeout seconds or
    at the first line of its output that stop matches. (exit code, output,
    how it ended: "done", "timeout" or "stopped")."""
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                               start_new_session=True, cwd=ROOT, text=True, errors="replace")
    if CHILD_NOTE:
        with open(CHILD_NOTE, "w") as note:
            note.write(str(process.pid))
    ended = ["done"]

    def end(how):
        if ended[0] == "done":
            ended[0] = how
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass

    timer = threading.Timer(timeout, end, ("timeout",)) if timeout else None
    lines = []
    try:
        if timer:
            timer.start()
        for line in process.stdout:
            lines.append(line)
            if stop and stop.search(line):
                end("stopped")
        process.wait()
    except BaseException:
        end("interrupted")
        process.wait()
        raise
    finally:
        if timer:
            timer.cancel()
        if CHILD_NOTE and os.path.exists(CHILD_NOTE):
            os.remove(CHILD_NOTE)
    output = "".join(lines)
    if log:
        with open(log, "w") as out:
            out.write(output)
    return process.returncode, output, ended[0]


class Build:
    def __init__(self, directory, jobs):
        self.directory, self.jobs = directory, jobs
        self.tests = None

    def make(self, log):
        code, _, _ = run(["cmake", "--build", self.directory, "-j", str(self.jobs)], log=log)
        return code == 0

    def all_tests(self):
        if self.tests is None:
            _, output, _ = run(["ctest", "--test-dir", self.directory, "--show-only=json-v1"])
            self.tests = [(t["name"], t["command"][0]) for t in json.loads(output)["tests"] if t.get("command")]
        return self.tests

    def tests_for(self, path):
        """The tests of the programs that link path (all tests when that cannot be told)."""
        source = os.path.join(ROOT, path)
        targets = set()
        for directory, _, names in os.walk(self.directory):
            if "build.make" in names and directory.endswith(".dir"):
                with open(os.path.join(directory, "build.make"), errors="replace") as make:
                    if re.search(r":\s+" + re.escape(source) + r"\s*$", make.read(), re.M):
                        targets.add(os.path.basename(directory)[:-len(".dir")])
        if not targets:
            return [name for name, _ in self.all_tests()]
        chosen = []
        for name, program in self.all_tests():
            link = os.path.join(os.path.dirname(program), "CMakeFiles", os.path.basename(program) + ".dir",
                                "link.txt")
            try:
                with open(link) as text:
                    line = text.read()
            except OSError:
                chosen.append(name)
                continue
            if os.path.basename(program) in targets or \
                    any(re.search(r"(^|[/\s])lib%s\.a(\s|$)" % re.escape(t), line) for t in targets):
                chosen.append(name)
        return chosen

    def test(self, names, timeout, log):
        """'passed', 'failed' with the first failing test, or 'timeout'."""
        pattern = "^(" + "|".join(re.escape(n) for n in names) + ")$"
        # Ended at the first failure: the tests still running then would
        # tell nothing more.
        failure = re.compile(r"Test\s+#\d+: (\S+) \.*\s*\*+(Failed|Timeout|Exception|Not Run)")
        code, output, ended = run(["ctest", "--test-dir", self.directory, "-j", str(self.jobs),
                                   "--output-on-failure", "-R", pattern], timeout=timeout, log=log, stop=failure)
        if ended == "timeout":
            return "timeout", ""
        failed = failure.search(output)
        if code == 0 and not failed:
            return "passed", ""
        return "failed", failed.group(1) if failed else "ctest exited %d" % code


# ---------------------------------------------------------------- the run

def interrupted(*_):
    raise KeyboardInterrupt


def main():
    parser = argparse.ArgumentParser(description="A sampled mutation run over the native build.")
    parser.add_argument("files", nargs="*", help="sources to mutate, relative to the tree (default: the list in this file)")
    parser.add_argument("--seed", type=int, default=1, help="which mutants are drawn (default 1)")
    parser.add_argument("--sample", type=int, default=None, help="compiled mutants per file (default %d)" % SAMPLE)
    parser.add_argument("--build", default="build/linux", help="the native build to use (default build/linux)")
    parser.add_argument("--jobs", type=int, default=2, help="build and test jobs (default 2)")
    parser.add_argument("--report", default=None, help="where the report goes (default BUILD/mutate/report.md)")
    parser.add_argument("--list", action="store_true", help="only list each file's mutants, build nothing")
    parser.add_argument("--smoke", action="store_true",
                        help="%d mutants of each of %s, for CI" % (SMOKE_SAMPLE, " ".join(SMOKE_FILES)))
    args = parser.parse_args()
    files = args.files or (SMOKE_FILES if args.smoke else FILES)
    sample = args.sample or (SMOKE_SAMPLE if args.smoke else SAMPLE)
    build_dir = os.path.join(ROOT, args.build)
    # One run at a time: a second one would take the first one's mutant for
    # the original, or end its build as a stopped run's.
    os.makedirs(os.path.join(build_dir, "mutate"), exist_ok=True)
    lock = open(os.path.join(build_dir, "mutate", "lock"), "w")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        print("mutate: another run is using %s" % os.path.relpath(build_dir, ROOT))
        return 1
    tree = Tree(build_dir)
    tree.recover()
    global CHILD_NOTE
    CHILD_NOTE = os.path.join(build_dir, "mutate", "child")

    if args.list:
        signal.signal(signal.SIGPIPE, signal.SIG_DFL)  # a listing cut short by head is no error
        for path in files:
            if os.path.exists(os.path.join(ROOT, path)):
                with open(os.path.join(ROOT, path), encoding="latin-1") as f:
                    mutants, equivalent = candidates(path, f.read())
                print("%s: %d mutants, %d trivially equivalent left out" % (path, len(mutants), len(equivalent)))
                for mutant in mutants:
                    print("  " + mutant.describe())
                for mutant in equivalent:
                    print("  left out, equivalent: " + mutant.describe())
        return 0

    # Ctrl-C, SIGTERM and SIGHUP end the run through the restores, also
    # where the shell that started it in the background ignores SIGINT.
    for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, interrupted)
    build = Build(build_dir, args.jobs)
    logs = os.path.join(build_dir, "mutate", "logs")
    os.makedirs(logs, exist_ok=True)
    results, started = [], time.time()
    try:
        for path in files:
            if not os.path.exists(os.path.join(ROOT, path)):
                print("\n%s: not in this tree, skipped" % path)
                results.append({"path": path, "missing": True})
                continue
            results.append(mutate_file(path, sample, args.seed, tree, build, logs))
            if results[-1].get("baseline_failed"):
                return 1
    except KeyboardInterrupt:
        print("\nmutate: interrupted")
        return 130
    finally:
        masked = signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT, signal.SIGTERM, signal.SIGHUP})
        tree.restore()
        signal.pthread_sigmask(signal.SIG_SETMASK, masked)
    # The build brought back to the unchanged tree.
    build.make(os.path.join(logs, "build-restored.log"))
    report = summarise(results, args, sample, time.time() - started)
    path = args.report or os.path.join(build_dir, "mutate", "report.md")
    with open(path, "w") as out:
        out.write(report)
    print("\n" + report + "\n(written to %s)" % os.path.relpath(path, ROOT))
    compiled = sum(r.get("killed", 0) + r.get("survived", 0) for r in results)
    if compiled == 0:
        print("mutate: no mutant compiled")
        return 1
    return 0


def mutate_file(path, sample, seed, tree, build, logs):
    with open(os.path.join(ROOT, path), "rb") as f:
        original = f.read()
    source = original.decode("latin-1")
    mutants, equivalent = candidates(path, source)
    random.Random("%d/%s" % (seed, path)).shuffle(mutants)
    tests = build.tests_for(path)
    print("\n%s: %d mutants (%d trivially equivalent left out), %d tests" % (path, len(mutants), len(equivalent),
                                                                            len(tests)))
    result = {"path": path, "candidates": len(mutants), "equivalent": len(equivalent), "killed": 0,
              "survived": 0, "not_compiled": 0, "survivors": []}
    # The programs as built from the unchanged tree: the last file's last
    # mutant may still be in them.
    if not build.make(os.path.join(logs, "build-original.log")):
        print("  the unchanged tree does not build; see %s" % os.path.join(logs, "build-original.log"))
        result["baseline_failed"] = True
        return result
    begun = time.time()
    status, _ = build.test(tests, None, os.path.join(logs, "baseline.log"))
    if status != "passed":
        print("  the unchanged tree fails its tests; see %s" % os.path.join(logs, "baseline.log"))
        result["baseline_failed"] = True
        return result
    limit = max(60.0, 3 * (time.time() - begun))
    for mutant in mutants:
        if result["killed"] + result["survived"] >= sample:
            break
        clock = time.time()
        tree.mutate(path, original, mutant.apply(source).encode("latin-1"))
        try:
            if not build.make(os.path.join(logs, "build.log")):
                result["not_compiled"] += 1
                verdict = "not compiled"
            else:
                status, test = build.test(tests, limit, os.path.join(logs, "test.log"))
                if status == "passed":
                    result["survived"] += 1
                    result["survivors"].append(mutant.describe())
                    verdict = "SURVIVED"
                else:
                    result["killed"] += 1
                    verdict = "killed by " + test if status == "failed" else "killed (timeout)"
        finally:
            masked = signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT, signal.SIGTERM, signal.SIGHUP})
            tree.restore()
            signal.pthread_sigmask(signal.SIG_SETMASK, masked)
        print("  %s: %s (%.0f s)" % (mutant.describe(), verdict, time.time() - clock), flush=True)
    return result


def summarise(results, args, sample, seconds):
    lines = ["Mutation run: seed %d, %d compiled mutants per file, %.0f minutes." % (args.seed, sample, seconds / 60),
             "", "| file | killed | survived | not compiled | score | candidates (trivially equivalent left out) |",
             "|---|---|---|---|---|---|"]
    for r in results:
        if r.get("missing"):
            lines.append("| %s | | | | not in this tree | |" % r["path"])
            continue
        compiled = r["killed"] + r["survived"]
        score = "%d %%" % round(100.0 * r["killed"] / compiled) if compiled else "-"
        lines.append("| %s | %d | %d | %d | %s | %d (%d) |" % (r["path"], r["killed"], r["survived"],
                                                              r["not_compiled"], score, r["candidates"],
                                                              r["equivalent"]))
    survivors = [s for r in results for s in r.get("survivors", [])]
    if survivors:
        lines += ["", "Survivors:"] + ["- " + s for s in survivors]
    return "\n".join(lines) + "\n"


if __name__ == "__main__":
    sys.exit(main())
