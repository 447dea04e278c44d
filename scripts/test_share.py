#!/usr/bin/env python3
"""The tests' share of the code: non-blank, non-comment lines of C++ under tests/ against
those under src/ and bench/ (files git knows)."""
import os
import subprocess
import sys

ROOT = sys.argv[1] if len(sys.argv) > 1 else "."
EXTENSIONS = (".cpp", ".h", ".hpp", ".c", ".cc", ".inl")


def code_lines(path):
    count, in_block = 0, False
    with open(os.path.join(ROOT, path), errors="replace") as f:
        for line in f:
            s = line.strip()
            if in_block:
                if "*/" not in s:
                    continue
                in_block, s = False, s.split("*/", 1)[1].strip()
            if not s or s.startswith("//"):
                continue
            if s.startswith("/*"):
                in_block = "*/" not in s
                continue
            count += 1
    return count


files = subprocess.run(["git", "-C", ROOT, "ls-files", "src", "bench", "tests"],
                       capture_output=True, text=True, check=True).stdout.split()
tests = code = 0
for name in files:
    if name.endswith(EXTENSIONS):
        lines = code_lines(name)
        if name.startswith("tests/"):
            tests += lines
        else:
            code += lines
print(f"tests {tests}, src and bench {code}: {100 * tests / (tests + code):.1f} % of all code")
