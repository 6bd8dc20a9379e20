#!/usr/bin/env python3
"""The man page says what the README and the notes in doc/ say, as a reader sees it.

The man page is made from sections of those Markdown files at build time; this reads the built
page the way man shows it and checks, with a reading of the Markdown of its own, that every
paragraph, list item, table cell and code line of those sections is there, word for word and in
the frame's order (so a meaning stays beside its code), and that no part is left out of the
page: the README's introduction, usage sections and reference, every section below one the
page takes, and every section of every Markdown file in doc/.

Usage: man_page_agrees.py SOURCE_FOLDER FRAME PAGE
  FRAME  doc/zul-process.1.scd.in, whose "%from <file> <heading>" lines name the sections it
         takes
  PAGE   the built page (roff)
"""
import os
import re
import subprocess
import sys

README = "README.md"
REFERENCE = "## Reference"
# The README's sections that the page shows besides the reference; installing, building and
# the benchmark are not for the page.
README_SHOWN = ["# zul-process", "## Usage on Windows", "## Usage on Linux",
                "## A session: many readings, CPU percentage", "## From Node.js"]


def level(heading):
    return len(heading) - len(heading.lstrip("#"))


def below(headings, heading):
    """The headings under one, to the next of its level or above."""
    at = headings.index(heading)
    end = next((i for i in range(at + 1, len(headings))
                if level(headings[i]) <= level(heading)), len(headings))
    return headings[at + 1:end]


def markdown_sections(path):
    """Heading -> body lines, in the file's order; a "#" inside a code block is code."""
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
    # Without hyphenation groff still breaks a line after a hyphen inside a word
    # ("--forget-" / "after="): the word goes back together.
    text = re.sub(r"(?<=\w-)\n[ \t]*", "", text)
    return " ".join(text.split())


def main(source_folder, frame_path, page):
    with open(frame_path, encoding="utf-8") as f:
        taken = [tuple(line[len("%from "):].split(" ", 1)) for line in f.read().splitlines()
                 if line.startswith("%from ")]
    notes = sorted("doc/" + name for name in os.listdir(os.path.join(source_folder, "doc"))
                   if name.endswith(".md"))
    documents = {name: markdown_sections(os.path.join(source_folder, name))
                 for name in dict.fromkeys([README] + notes + [name for name, _ in taken])}
    problems = []

    # What must be taken: the README's introduction, usage sections, and reference with its
    # parts; the parts of every section taken (a title brings only itself: the README's is its
    # introduction, not the whole file); and every section of the notes in doc/.
    required = [(README, heading) for heading in README_SHOWN + [REFERENCE]]
    if REFERENCE in documents[README]:
        required += [(README, h) for h in below(list(documents[README]), REFERENCE)]
    for name, heading in taken:
        if heading in documents[name] and level(heading) > 1:
            required += [(name, h) for h in below(list(documents[name]), heading)]
    for name in documents:
        if name != README:
            required += [(name, heading) for heading in documents[name]]
    for name, heading in dict.fromkeys(required):
        if (name, heading) not in taken:
            problems.append(f"the man page leaves out {heading!r} of {name}")

    man = rendered(page)
    at, said = 0, 0
    for name, heading in taken:
        sections = documents[name]
        if heading not in sections:
            problems.append(f"the man page takes {heading!r}, which {name} does not have")
            continue
        for fragment in fragments(sections[heading]):
            found = man.find(fragment, at)
            if found < 0:
                where = "elsewhere, out of order" if fragment in man else "nowhere"
                problems.append(f"under {heading!r} of {name} the man page does not say, after what it "
                                f"said before ({where}):\n    {fragment}")
                continue
            at = found + len(fragment)
            said += 1

    if problems:
        print("The man page and the Markdown it is made from disagree:")
        for problem in problems[:12]:
            print("  " + problem)
        if len(problems) > 12:
            print(f"  and {len(problems) - 12} more")
        return 1
    print(f"The man page says all it takes: {said} passages of {len(taken)} sections, in order")
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit("usage: man_page_agrees.py SOURCE_FOLDER FRAME PAGE")
    sys.exit(main(*sys.argv[1:]))
