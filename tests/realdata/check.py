#!/usr/bin/env python3
"""Runs treetool over JSON that nobody here wrote and checks that no operation changes a value
or its JSON type.

    check.py TREETOOL FILE_OR_DIR...

Every file that a strict JSON reader accepts must come back as the same document (member
order, duplicate members, number literals and string texts exactly) through convert, the text
format, --exact, copy, merge with itself, prune (without its empty objects and arrays) and
set of a value to its own text; diff must see exactly one change after a set of a value; its
byte block must give back every value's text, typed by the export rule. A file named n_* that
the strict reader refuses must be refused with exit status 1; a file named i_* may go either way, but
cleanly. Exits 1 and names every failure."""

import json
import os
import re
import subprocess
import sys
import tempfile

# What the tree cannot hold, refused with these messages: a member name that is empty or has a
# blank at either end, a string with a lone surrogate escape, a value on the top node or on
# a branch in a byte block.
CANNOT_KEEP = re.compile(rb"empty member name|blank at either end|surrogate|byte block cannot carry")
NUMBER = re.compile(r"-?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][-+]?[0-9]+)?\Z")


def refuse_constant(name):
    raise ValueError("not JSON: " + name)


def load(data):
    """The document as tagged tuples: ("o", [(name, value)...]), ("a", [...]), ("s", text),
    ("n", literal), ("b", "true"), ("z", "null"); None when a strict reader refuses it."""
    try:
        text = data.decode("utf-8")
        raw = json.loads(text, object_pairs_hook=lambda pairs: ("o", pairs),
                         parse_int=lambda s: ("n", s), parse_float=lambda s: ("n", s),
                         parse_constant=refuse_constant)
    except (ValueError, RecursionError):
        return None
    return tag(raw)


def tag(value):
    if isinstance(value, tuple):
        if value[0] == "o":
            return ("o", [(name, tag(member)) for name, member in value[1]])
        return value
    if isinstance(value, str):
        return ("s", value)
    if isinstance(value, bool):
        return ("b", "true" if value else "false")
    if value is None:
        return ("z", "null")
    return ("a", [tag(item) for item in value])


def literal_kind(text):
    if text in ("true", "false"):
        return "b"
    if text == "null":
        return "z"
    return "n" if NUMBER.match(text) else "s"


def untyped(value, top=True):
    """What a tree that lost its types (a byte block) exports as: a leaf's kind by its text,
    a childless node below the top as the empty string, members named 0..n-1 as an array."""
    kind, body = value
    if kind not in ("o", "a"):
        return (literal_kind(body), body)
    members = body if kind == "o" else [(str(i), item) for i, item in enumerate(body)]
    if not members:
        return ("o", []) if top else ("s", "")
    if [name for name, _ in members] == [str(i) for i in range(len(members))]:
        return ("a", [untyped(item, False) for _, item in members])
    return ("o", [(name, untyped(item, False)) for name, item in members])


def pruned(value):
    """The document without its empty objects and arrays, and without what only held them
    (the top stays): an array keeps its remaining elements in order."""
    kind, body = value
    if kind == "o":
        kept = [(name, pruned(item)) for name, item in body]
        return ("o", [(name, item) for name, item in kept if item[0] not in ("o", "a") or item[1]])
    if kind == "a":
        kept = [pruned(item) for item in body]
        return ("a", [item for item in kept if item[0] not in ("o", "a") or item[1]])
    return value


def first_scalar(value, pointer=""):
    """The JSON Pointer and text of the first scalar in document order, or None."""
    kind, body = value
    if kind not in ("o", "a"):
        return pointer, body
    members = body if kind == "o" else [(str(i), item) for i, item in enumerate(body)]
    for name, item in members:
        found = first_scalar(item, pointer + "/" + name.replace("~", "~0").replace("/", "~1"))
        if found:
            return found
    return None


class Checker:
    def __init__(self, tool, scratch):
        self.tool = tool
        self.scratch = scratch
        self.failures = []
        self.checked = 0
        self.refused = 0

    def run(self, *args, stdin=None):
        return subprocess.run([self.tool, *args], input=stdin, capture_output=True)

    def fail(self, path, what):
        self.failures.append(f"{path}: {what}")

    def expect_document(self, path, what, result, expected):
        if result.returncode != 0:
            self.fail(path, f"{what}: exit {result.returncode}: {result.stderr.decode(errors='replace').strip()[:300]}")
            return
        got = load(result.stdout)
        if got != expected:
            self.fail(path, f"{what}: the document changed")

    def check(self, path):
        with open(path, "rb") as f:
            data = f.read()
        name = os.path.basename(path)
        expected = load(data)
        result = self.run("convert", "--from", "json", "--to", "json", path)
        if result.returncode < 0 or result.returncode > 1:
            self.fail(path, f"exit {result.returncode} (a crash or a usage failure)")
            return
        if expected is None:
            if name.startswith("n_"):
                out = os.path.join(self.scratch, "out.json")
                refused = self.run("convert", "--from", "json", "--to", "json", path, "-o", out)
                if refused.returncode != 1 or os.path.exists(out):
                    self.fail(path, "malformed JSON was accepted or left an output file")
            elif result.returncode == 1 and not result.stderr.startswith(b"treetool: "):
                self.fail(path, "refused without a message")
            return
        if result.returncode == 1 and (name.startswith("i_") or CANNOT_KEEP.search(result.stderr)):
            self.refused += 1
            return
        self.checked += 1
        self.expect_document(path, "convert", result, expected)
        text = self.run("convert", "--from", "json", "--to", "text", path)
        self.expect_document(path, "through the text format",
                             self.run("convert", "--from", "text", "--to", "json", "-", stdin=text.stdout),
                             expected)
        exact = self.run("--exact", "convert", "--from", "json", "--to", "json", path)
        self.expect_document(path, "--exact", self.run("--exact", "convert", "--from", "json", "--to", "json", "-",
                                                       stdin=exact.stdout), expected)
        self.expect_document(path, "copy", self.run("copy", "--from", "json", "--to", "json", path), expected)
        self.expect_document(path, "merge with itself",
                             self.run("merge", "--from", "json", "--to", "json", path, path), expected)
        self.expect_document(path, "prune", self.run("prune", "--from", "json", "--to", "json", path),
                             pruned(expected))
        scalar = first_scalar(expected)
        if scalar and scalar[0] and "\0" not in scalar[0] and not re.search("[\ud800-\udfff]", "".join(scalar)):
            value_file = os.path.join(self.scratch, "value")
            with open(value_file, "wb") as f:
                f.write(scalar[1].encode("utf-8"))
            self.expect_document(path, "set to its own value",
                                 self.run("--pointer", "set", "--from", "json", "--to", "json", path, scalar[0],
                                          "--value-file", value_file), expected)
            changed = self.run("--pointer", "set", "--from", "json", "--to", "json", path, scalar[0],
                               "set by the check", "--string")
            diff = self.run("--pointer", "diff", "--from", "json", path, "-", stdin=changed.stdout)
            if diff.returncode != 1 or diff.stdout.count(b"\n") != 1 or not diff.stdout.startswith(b"~ "):
                self.fail(path, f"set then diff: exit {diff.returncode}, {diff.stdout[:300]!r}")
        block = os.path.join(self.scratch, "block")
        encoded = self.run("encode", "--from", "json", path, "-o", block)
        if encoded.returncode != 0:
            if not CANNOT_KEEP.search(encoded.stderr):
                self.fail(path, f"encode: exit {encoded.returncode}")
        else:
            self.expect_document(path, "encode and decode", self.run("decode", block, "--to", "json"),
                                 untyped(expected))
        same = self.run("diff", "--from", "json", path, path)
        if same.returncode != 0 or same.stdout:
            self.fail(path, "diff with itself is not empty")


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    sys.setrecursionlimit(4000)
    files = []
    for root in sys.argv[2:]:
        if os.path.isdir(root):
            for directory, _, names in os.walk(root):
                files += [os.path.join(directory, n) for n in sorted(names) if n.endswith(".json")]
        else:
            files.append(root)
    with tempfile.TemporaryDirectory() as scratch:
        checker = Checker(sys.argv[1], scratch)
        for path in files:
            checker.check(path)
    for failure in checker.failures:
        print(failure)
    print(f"{len(files)} files, {checker.checked} documents checked through every operation, "
          f"{checker.refused} refused as the tree cannot keep them, {len(checker.failures)} failures")
    return 1 if checker.failures else 0


if __name__ == "__main__":
    sys.exit(main())
