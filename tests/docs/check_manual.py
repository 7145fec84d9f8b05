#!/usr/bin/env python3
"""The manual page of havrek-pack: made from docs/havrek-pack.md, it must
render without a warning and show every line of the reference's examples
as written (a character roff takes for an escape would change them), and
the reference must name every command and option that `havrek-pack --help`
lists, or it has gone stale.

    check_manual.py ROOT HAVREK_PACK

Exit 77 (skipped) when neither groff nor man is there to render the page.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile

SKIPPED = 77


def example_lines(source):
    """The lines of the reference's code blocks (indented or fenced), stripped."""
    lines, fenced = [], False
    with open(source, encoding="utf-8") as f:
        for line in f.read().splitlines():
            if line.strip().startswith("```"):
                fenced = not fenced
            elif (fenced or line.startswith("    ")) and line.strip():
                lines.append(line.strip())
    return lines


def main(argv):
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    root, tool = argv[1], argv[2]
    source = os.path.join(root, "docs", "havrek-pack.md")
    problems = []
    with tempfile.TemporaryDirectory() as folder:
        page = os.path.join(folder, "havrek-pack.1")
        subprocess.run([sys.executable, os.path.join(root, "scripts", "md2man.py"), source, page,
                        "havrek-pack", "1", "test"], check=True)
        env = dict(os.environ, MANWIDTH="80", MAN_KEEP_FORMATTING="0", LC_ALL="C.UTF-8")
        if shutil.which("groff"):
            render = ["groff", "-man", "-Tutf8", "-ww", page]
        elif shutil.which("man"):
            render = ["man", "--warnings", "-l", page]
        else:
            print("SKIPPED: neither groff nor man is installed")
            return SKIPPED
        done = subprocess.run(render, capture_output=True, text=True, env=env)
        if done.returncode != 0 or done.stderr.strip():
            problems.append(f"{' '.join(render)}: exit {done.returncode}, warnings:\n{done.stderr}")
        text = re.sub(r".\x08", "", done.stdout)
        if "NAME" not in text or "SYNOPSIS" not in text:
            problems.append("the rendered page has no NAME or SYNOPSIS section")
        shown = {line.strip() for line in text.splitlines()}
        for line in example_lines(source):
            if line not in shown:
                problems.append(f"example line not shown as written: {line}")

    usage = subprocess.run([tool, "--help"], capture_output=True, text=True, check=True).stdout
    commands = sorted(set(re.findall(r"^  havrek-pack ([a-z][a-z-]*)", usage, re.MULTILINE)))
    options = sorted(set(re.findall(r"(--[a-z](?:[a-z0-9-]*[a-z0-9])?)(?![a-z0-9*-])", usage)))
    if not commands or not options:
        problems.append("no command or option found in havrek-pack --help")
    with open(source, encoding="utf-8") as f:
        reference = f.read()
    start = reference.find("## Synopsis")
    synopsis = reference[start:reference.find("\n## ", start + 1)]
    for command in commands:
        if not re.search(r"^\s+havrek-pack " + re.escape(command) + r"\b", synopsis, re.MULTILINE):
            problems.append(f"command {command} is missing from the synopsis of {source}")
    for option in options:
        if not re.search(re.escape(option) + r"(?![a-z0-9-])", reference):
            problems.append(f"option {option} of havrek-pack --help is missing from {source}")

    for p in problems:
        print(p)
    if problems:
        return 1
    print(f"manual renders; {len(commands)} commands and {len(options)} options documented")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
