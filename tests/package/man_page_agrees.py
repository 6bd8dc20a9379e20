#!/usr/bin/env python3
"""The man page says what the README says, as a reader sees it.

The man page is made from README sections at build time; this reads the built page the way
man shows it and checks, with a reading of the Markdown of its own, that every paragraph, list
item, table cell and code line of those sections is there, word for word and in the README's
order (so a meaning stays beside its code), and that no part of the README's reference is left
out of the page.

Usage: man_page_agrees.py README FRAME PAGE
  FRAME  doc/zul-process.1.scd.in, whose "%readme <heading>" lines name the sections it takes
  PAGE   the built page (roff)
"""
import os
import re
import subprocess
import sys

REFERENCE = "## Reference"


def readme_sections(path):
    """Heading -> body lines, in the README's order; a "#" inside a code block is code."""
    found, current, in_code = {}, None, False
    with open(path, encoding="utf-8") as f:
        for line in f.read().splitlines():
            if line.startswith("```"):
                in_code = not in_code
            if not in_code and re.match(r"#+ ", line):
                current = found.setdefault(line, [])
            elif current is not None:
                current.append(line)
    return found


def as_read(markdown):
    """Markdown text as it reads: no code marks, bold marks, link targets or (outside code)
    backslash escapes."""
    read = []
    for i, piece in enumerate(re.split(r"`([^`]*)`", markdown)):
        if i % 2 == 0:
            piece = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", piece).replace("**", "")
            piece = re.sub(r"\\([!-/:-@\[-`{-~])", r"\1", piece)
        read.append(piece)
    return " ".join("".join(read).split())


def fragments(lines):
    """What a reader reads in a section body, in order: paragraphs and list items whole, each
    table cell below the headings, each code line."""
    out, block, in_code, table_row = [], [], False, 0

    def flush():
        if block:
            out.append(as_read(" ".join(block)))
            block.clear()

    for line in lines:
        table_row = table_row + 1 if line.startswith("|") and not in_code else 0
        if line.startswith("```"):
            flush()
            in_code = not in_code
        elif in_code:
            if line.strip():
                out.append(" ".join(line.split()))
        elif table_row:
            flush()
            if table_row > 2:  # below the headings and the rule
                cells = re.split(r"(?<!\\)\|", line.strip()[1:-1])
                out += [as_read(cell.replace("\\|", "|")) for cell in cells]
        elif not line.strip() or line.startswith("- "):
            flush()
            if line.strip():
                block.append(line[2:])
        else:
            block.append(line)
    flush()
    return [fragment for fragment in out if fragment]


def rendered(page):
    """The page as man shows it, on one line: no hyphenation, no line breaks in the way."""
    env = dict(os.environ, MANWIDTH="250", MANROFFOPT="-rHY=0", LC_ALL="C.UTF-8")
    env.pop("MAN_KEEP_FORMATTING", None)
    text = subprocess.run(["man", "-l", page], env=env, check=True, capture_output=True,
                          text=True).stdout
    return " ".join(text.split())


def main(readme_path, frame_path, page):
    sections = readme_sections(readme_path)
    with open(frame_path, encoding="utf-8") as f:
        taken = [line[len("%readme "):] for line in f.read().splitlines()
                 if line.startswith("%readme ")]
    problems = []

    # Every part of the reference: the section and each heading below it, to the next "## ".
    headings = list(sections)
    end = next((i for i, h in enumerate(headings) if i > headings.index(REFERENCE)
                and re.match(r"#{1,2} ", h)), len(headings))
    for heading in headings[headings.index(REFERENCE):end]:
        if heading not in taken:
            problems.append(f"the man page leaves out the README's {heading!r}")

    man = rendered(page)
    at, said = 0, 0
    for heading in taken:
        if heading not in sections:
            problems.append(f"the man page takes {heading!r}, which the README does not have")
            continue
        for fragment in fragments(sections[heading]):
            found = man.find(fragment, at)
            if found < 0:
                where = "elsewhere, out of order" if fragment in man else "nowhere"
                problems.append(f"under {heading!r} the man page does not say, after what it "
                                f"said before ({where}):\n    {fragment}")
                continue
            at = found + len(fragment)
            said += 1

    if problems:
        print("README and man page disagree:")
        for problem in problems[:12]:
            print("  " + problem)
        if len(problems) > 12:
            print(f"  and {len(problems) - 12} more")
        return 1
    print(f"README and man page agree: {said} passages of {len(taken)} sections, in order")
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit("usage: man_page_agrees.py README FRAME PAGE")
    sys.exit(main(*sys.argv[1:]))
