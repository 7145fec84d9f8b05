#!/usr/bin/env python3
"""Keeps the dependencies of the source tree pointing down.

Reads every #include "..." under src/ and tools/ and fails on any that the
table below does not allow, printing the file and line of each. Also fails
when a file of the portable core reaches windows.h (or another Win32 system
header) outside an #ifdef _WIN32 block, directly or through our own headers.

    check_layers.py ROOT [CORE_SOURCES_FILE]
    check_layers.py --mermaid
    check_layers.py --update-doc ROOT

CORE_SOURCES_FILE lists the sources of the portable core (the native build's
havrek_core and havrek-pack), one a line; without it only the table is checked.

The picture of the table in docs/architecture.md (the Mermaid block between
the two DOC_BEGIN/DOC_END lines) is checked too, so that it cannot go stale:
--mermaid prints the block the table gives, --update-doc writes it there.
"""

import os
import re
import sys

# Who may include whom. A key is a folder or a single header; the most
# specific key holding a file rules it. A file may always include the files
# of its own folder; a single header with a key of its own only what its key
# allows. An entry is a folder or a single header.
ALLOWED = {
    # The floor: the seam to the system, on nothing of ours but the
    # header-only hash that names its kernel objects.
    "src/platform": ["src/util/Fnv1a.h"],
    "src/util/Fnv1a.h": [],
    # Header-only owners and constants on the system headers alone, so that
    # every layer (the debug channel's Win32 half included) may hold handles.
    "src/util/WinHandle.h": [],
    "src/util/ScopeGuard.h": [],
    "src/util/WinCompat.h": [],
    # The debug channel and the log file write through the seam only, so that
    # everything above may report.
    "src/diag": ["src/platform", "src/util/WinHandle.h", "src/util/ScopeGuard.h"],
    "src/util": ["src/platform", "src/diag"],
    "src/files": ["src/platform", "src/diag", "src/util"],
    "src/package": ["src/platform", "src/diag", "src/util", "src/files"],
    "src/environment": ["src/platform", "src/diag", "src/util", "src/files"],
    "src/net": ["src/platform", "src/diag", "src/util", "src/files"],
    "src/ui": ["src/platform", "src/diag", "src/util", "src/files"],
    # The narrow unit the launcher fills for the role bodies.
    "src/context": ["src/platform", "src/diag", "src/util", "src/package"],
    # The role bodies know the layers under them and the context, never the
    # launcher; setup knows nothing of the agent.
    "src/setup": ["src/platform", "src/diag", "src/util", "src/files", "src/package", "src/environment",
                  "src/net", "src/ui", "src/context"],
    "src/agent": ["src/platform", "src/diag", "src/util", "src/files", "src/package", "src/environment",
                  "src/net", "src/ui", "src/context", "src/setup"],
    # The launcher knows every role.
    "src/launcher": ["src/platform", "src/diag", "src/util", "src/files", "src/package", "src/environment",
                     "src/net", "src/ui", "src/context", "src/setup", "src/agent"],
    # The build tool runs on the portable core only: the package's format,
    # and the offer's, which the publisher writes and the agent reads.
    "tools/pack": ["src/platform", "src/diag", "src/util", "src/files", "src/package",
                   "src/agent/OfferCheck.h", "src/agent/OfferKeys.h", "src/agent/SignedOffer.h"],
}

# System headers that only the Win32 shell may reach.
WIN32_HEADER = re.compile(
    r"(windows|win[a-z0-9_]*|shellapi|shlobj|shlwapi|commctrl|commdlg|objbase|ole2|richedit|bcrypt|"
    r"wincrypt|wintrust|softpub|lmcons|tlhelp32|psapi|ntdef|ntstatus|mmsystem|imagehlp|dbghelp)\.h",
    re.IGNORECASE)

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
CONDITION = re.compile(r"^\s*#\s*(if|ifdef|ifndef|elif|else|endif)\b(.*)")
SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc", ".c", ".in")


def rule_key(path):
    """The most specific key of ALLOWED that holds path, or None."""
    best = None
    for key in ALLOWED:
        if path == key or path.startswith(key + "/"):
            if best is None or len(key) > len(best):
                best = key
    return best


def allows(key, target):
    target_key = rule_key(target)
    if target_key == key or any(target == a or target.startswith(a + "/") for a in ALLOWED[key]):
        return True
    # A folder's files may use the single headers that live in it.
    return target_key is not None and not os.path.splitext(key)[1] and os.path.dirname(target_key) == key


def scan(text):
    """(line number, kind, name, windows-only) of every #include."""
    stack = []  # per open conditional: is its current branch Windows-only?
    out = []
    for number, line in enumerate(text.splitlines(), 1):
        m = CONDITION.match(line)
        if m:
            word, rest = m.group(1), m.group(2).strip()
            names_win32 = re.fullmatch(r"(defined\s*\(\s*_WIN32\s*\)|defined\s+_WIN32|_WIN32)", rest) is not None
            if word == "ifdef" or word == "if":
                stack.append([names_win32, False])
            elif word == "ifndef":
                stack.append([False, names_win32])  # [this branch win-only, else branch win-only]
            elif word == "elif":
                if stack:
                    stack[-1] = [False, False]
            elif word == "else":
                if stack:
                    stack[-1] = [stack[-1][1], False]
            elif word == "endif":
                if stack:
                    stack.pop()
            continue
        m = INCLUDE.match(line)
        if m:
            out.append((number, m.group(1), m.group(2), any(s[0] for s in stack)))
    return out


def resolve(root, includer, name):
    """Path of a quoted include relative to root, as the compiler finds it."""
    for base in (os.path.dirname(includer), "src"):
        candidate = os.path.normpath(os.path.join(base, name))
        if os.path.isfile(os.path.join(root, candidate)):
            return candidate.replace(os.sep, "/")
    return None


def source_files(root):
    for top in ("src", "tools"):
        for folder, _, names in os.walk(os.path.join(root, top)):
            for name in sorted(names):
                if name.endswith(SOURCE_SUFFIXES):
                    yield os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")


def table_cycles():
    """Cycles the table itself allows (a table with one lets layers drift)."""
    edges = {key: set() for key in ALLOWED}
    for key, targets in ALLOWED.items():
        for t in targets:
            target_key = rule_key(t)
            if target_key and target_key != key:
                edges[key].add(target_key)
    problems, state = [], {}

    def visit(node, path):
        state[node] = 1
        for nxt in sorted(edges[node]):
            if state.get(nxt) == 1:
                problems.append(" -> ".join(path[path.index(nxt):] + [nxt]) if nxt in path else nxt)
            elif nxt not in state:
                visit(nxt, path + [nxt])
        state[node] = 2

    for key in sorted(edges):
        if key not in state:
            visit(key, [key])
    return problems


def check(root, core_sources):
    problems = ["allowed table has a cycle: " + c for c in table_cycles()]
    includes = {}
    for path in source_files(root):
        with open(os.path.join(root, path), encoding="latin-1") as f:
            includes[path] = scan(f.read())
    if not any(kind == '"' for found in includes.values() for _, kind, _, _ in found):
        problems.append(f"no #include \"...\" found under {root}/src and {root}/tools")

    for path, found in includes.items():
        key = rule_key(path)
        if key is None:
            problems.append(f"{path}: folder missing from the allowed table")
            continue
        for number, kind, name, _ in found:
            if kind != '"':
                continue
            target = resolve(root, path, name)
            if target is None:
                problems.append(f'{path}:{number}: #include "{name}" names no file of the tree')
            elif not allows(key, target):
                problems.append(f'{path}:{number}: #include "{name}": {key} may not include {rule_key(target) or target}')

    # The portable core: no Win32 system header outside an #ifdef _WIN32
    # block, through however many of our headers.
    reported = set()
    for source in core_sources:
        seen, todo = {source}, [(source, [])]
        while todo:
            path, chain = todo.pop()
            for number, kind, name, win_only in includes.get(path, []):
                if win_only:
                    continue
                where = chain + [f"{path}:{number}"]
                if kind == "<" and WIN32_HEADER.fullmatch(os.path.basename(name)):
                    if (path, number) not in reported:
                        reported.add((path, number))
                        through = " (reached from " + " <- ".join(reversed(chain)) + ")" if chain else ""
                        problems.append(f"{path}:{number}: #include <{name}> in the portable core{through}")
                elif kind == '"':
                    target = resolve(root, path, name)
                    if target and target not in seen:
                        seen.add(target)
                        todo.append((target, where))
    return problems


DOC_PATH = "docs/architecture.md"
DOC_BEGIN = "<!-- layers: generated by tests/layers/check_layers.py --update-doc; do not edit -->"
DOC_END = "<!-- layers: end -->"


def node_id(path):
    return re.sub(r"[^A-Za-z0-9]", "_", path)


def node_label(path):
    return path[len("src/"):] if path.startswith("src/") else path


def mermaid():
    """The allowed table as a Mermaid flowchart: a box per key or target, an
    arrow per allowed include, in the table's order."""
    nodes = []
    for key, targets in ALLOWED.items():
        for path in [key] + targets:
            if path not in nodes:
                nodes.append(path)
    lines = ["```mermaid", "flowchart TD"]
    lines += [f'    {node_id(n)}["{node_label(n)}"]' for n in nodes]
    for key, targets in ALLOWED.items():
        lines += [f"    {node_id(key)} --> {node_id(t)}" for t in targets]
    lines.append("```")
    return "\n".join(lines) + "\n"


def doc_block(text):
    """The generated block of the document's text, or None without both marks."""
    begin, end = text.find(DOC_BEGIN), text.find(DOC_END)
    if begin < 0 or end < begin:
        return None
    return text[begin + len(DOC_BEGIN):end].strip("\n") + "\n"


def doc_problems(root):
    path = os.path.join(root, DOC_PATH)
    try:
        with open(path, encoding="utf-8") as f:
            block = doc_block(f.read())
    except OSError as e:
        return [f"{DOC_PATH}: cannot be read ({e.strerror})"]
    if block is None:
        return [f"{DOC_PATH}: no block between the lines {DOC_BEGIN} and {DOC_END}"]
    if block != mermaid():
        return [f"{DOC_PATH}: the picture of the layers differs from the allowed table; "
                f"run tests/layers/check_layers.py --update-doc ."]
    return []


def update_doc(root):
    path = os.path.join(root, DOC_PATH)
    with open(path, encoding="utf-8") as f:
        text = f.read()
    if doc_block(text) is None:
        print(f"{DOC_PATH}: no block between the lines {DOC_BEGIN} and {DOC_END}", file=sys.stderr)
        return 1
    begin, end = text.find(DOC_BEGIN) + len(DOC_BEGIN), text.find(DOC_END)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text[:begin] + "\n" + mermaid() + text[end:])
    return 0


def main(argv):
    if len(argv) == 2 and argv[1] == "--mermaid":
        sys.stdout.write(mermaid())
        return 0
    if len(argv) == 3 and argv[1] == "--update-doc":
        return update_doc(os.path.abspath(argv[2]))
    if len(argv) not in (2, 3):
        print(__doc__, file=sys.stderr)
        return 2
    root = os.path.abspath(argv[1])
    core = []
    if len(argv) == 3:
        with open(argv[2], encoding="utf-8") as f:
            for line in f:
                line = line.strip()
                if line:
                    rel = os.path.relpath(os.path.abspath(os.path.join(root, line)), root).replace(os.sep, "/")
                    core.append(rel)
        missing = [c for c in core if not os.path.isfile(os.path.join(root, c))]
        if missing or not core:
            print("core source list is empty or names missing files: " + ", ".join(missing), file=sys.stderr)
            return 2
    problems = check(root, core) + doc_problems(root)
    for p in problems:
        print(p)
    if problems:
        print(f"{len(problems)} include(s) against the layers", file=sys.stderr)
        return 1
    print(f"layers hold ({len(core)} core sources)")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
