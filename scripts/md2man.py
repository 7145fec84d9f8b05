#!/usr/bin/env python3
"""Turns a command reference written in Markdown into a manual page (roff,
man macros), so that the reference and `man havrek-pack` are one text.

    md2man.py SOURCE.md OUT.1 NAME SECTION VERSION

Understands what the reference uses: "#" (the title; the paragraph after it
becomes the description), "##" and "###" headings, paragraphs, "- " lists,
code blocks (indented by four blanks, or fenced), tables (as tagged
paragraphs, the first column the tag), `code`, **bold**, *italic* and
[links](target). Anything else is taken as text.
"""

import os
import re
import sys


def escape(text):
    """roff's special characters in running text."""
    text = text.replace("\\", "\\e")
    # A line may not start with a control character.
    return re.sub(r"(?m)^([.'])", r"\\&\1", text)


def code_text(text):
    # Minus signs, so that options copied from the page work.
    return escape(text).replace("-", "\\-")


def inline(text):
    """Markdown spans to roff font changes."""
    out, i = [], 0
    span = re.compile(r"`([^`]+)`|\*\*([^*]+)\*\*|\*([^*\s][^*]*)\*|\[([^\]]+)\]\(([^)]+)\)")
    for m in span.finditer(text):
        out.append(escape(text[i:m.start()]))
        if m.group(1) is not None:
            # Never hyphenated: an option broken at "-" reads as another one.
            words = code_text(m.group(1)).split(" ")
            out.append("\\fB" + " ".join("\\%" + w for w in words) + "\\fR")
        elif m.group(2) is not None:
            out.append("\\fB" + escape(m.group(2)) + "\\fR")
        elif m.group(3) is not None:
            out.append("\\fI" + escape(m.group(3)) + "\\fR")
        else:
            label, target = m.group(4), m.group(5)
            out.append(escape(label))
            # Sections and files read as their label; an address is given too.
            if "://" in target and target != label:
                out.append(" (" + escape(target) + ")")
        i = m.end()
    out.append(escape(text[i:]))
    return "".join(out)


def table_cells(line):
    return [c.strip() for c in line.strip().strip("|").split("|")]


def convert(markdown, name, section, version):
    lines = markdown.splitlines()
    out = [f'.TH {name.upper()} {section} "" "{name} {version}" "User Commands"']
    i, title_seen, pending_name = 0, False, False

    def paragraph(text_lines):
        nonlocal pending_name
        text = " ".join(l.strip() for l in text_lines)
        if pending_name:
            # The first paragraph after the title is the page's one-line name.
            out.append(".SH NAME")
            first = re.sub(r"[`*]", "", text).split(". ")[0].rstrip(".")
            summary = first[len(name):].strip(" :,") if first.startswith(name) else first
            out.append(f"{escape(name)} \\- {escape(summary)}")
            out.append(".SH DESCRIPTION")
            pending_name = False
            return
        out.append(".PP")
        out.append(inline(text))

    while i < len(lines):
        line = lines[i]
        stripped = line.strip()
        if not stripped:
            i += 1
            continue
        heading = re.match(r"^(#{1,3})\s+(.*)$", line)
        if heading:
            level, text = len(heading.group(1)), heading.group(2).strip()
            if level == 1 and not title_seen:
                title_seen, pending_name = True, True
            elif level <= 2:
                out.append(".SH " + escape(text.upper()))
            else:
                out.append(".SS " + inline(text))
            i += 1
            continue
        if stripped.startswith("```"):
            block = []
            i += 1
            while i < len(lines) and not lines[i].strip().startswith("```"):
                block.append(lines[i])
                i += 1
            i += 1
            out += [".PP", ".RS 4", ".nf"] + [code_text(b) for b in block] + [".fi", ".RE"]
            continue
        if line.startswith("    "):
            block = []
            while i < len(lines) and (lines[i].startswith("    ") or not lines[i].strip()):
                block.append(lines[i][4:])
                i += 1
            while block and not block[-1].strip():
                block.pop()
            out += [".PP", ".RS 4", ".nf"] + [code_text(b) for b in block] + [".fi", ".RE"]
            continue
        if stripped.startswith("|"):
            rows = []
            while i < len(lines) and lines[i].strip().startswith("|"):
                cells = table_cells(lines[i])
                if not all(re.fullmatch(r":?-+:?", c) for c in cells):
                    rows.append(cells)
                i += 1
            head, body = rows[0], rows[1:]
            for cells in body:
                out.append(".TP")
                out.append(inline(cells[0]))
                rest = cells[1:]
                if len(rest) == 1:
                    out.append(inline(rest[0]))
                else:
                    out.append("; ".join(inline(f"{h}: {c}") for h, c in zip(head[1:], rest)))
            continue
        if stripped.startswith("- "):
            while i < len(lines) and lines[i].strip().startswith("- "):
                item = [lines[i].strip()[2:]]
                i += 1
                while i < len(lines) and lines[i].startswith("  ") and lines[i].strip() \
                        and not lines[i].strip().startswith("- "):
                    item.append(lines[i].strip())
                    i += 1
                out += [".IP \\(bu 2", inline(" ".join(item))]
            continue
        block = []
        while i < len(lines) and lines[i].strip() and not re.match(r"^(#{1,3}\s|```|\||    |- )", lines[i]):
            block.append(lines[i])
            i += 1
        paragraph(block)
    return "\n".join(out) + "\n"


def main(argv):
    if len(argv) != 6:
        print(__doc__, file=sys.stderr)
        return 2
    source, target, name, section, version = argv[1:]
    with open(source, encoding="utf-8") as f:
        page = convert(f.read(), name, section, version)
    os.makedirs(os.path.dirname(os.path.abspath(target)), exist_ok=True)
    temp = target + ".tmp"
    with open(temp, "w", encoding="utf-8") as f:
        f.write(page)
    os.replace(temp, target)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
