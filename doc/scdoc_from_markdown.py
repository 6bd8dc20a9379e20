#!/usr/bin/env python3
"""The man page's scdoc source, made from its frame, the README and the documents beside it.

The frame (doc/zul-process.1.scd.in) is scdoc; each of its lines "%from <file> <heading>" stands
for the body of that section of that Markdown file (a path from the source folder), from the
line after the heading to the next heading of any level, turned from Markdown into scdoc here.
So the README and the notes in doc/ are where the reference is written, and the man page says
it in the same words.

Usage: scdoc_from_markdown.py FRAME SOURCE_FOLDER > OUT

Only the Markdown these sections use is understood: paragraphs, "- " lists with continuation
lines indented by two spaces, tables, fenced code blocks, `code`, **bold**, [links](...) and
backslash escapes. Anything else stops the build with the line it could not read, rather than
reaching the man page garbled.
"""
import os
import re
import sys

DIRECTIVE = "%from "
HEADING = re.compile(r"#{1,6} ")
MARKDOWN_ESCAPE = re.compile(r"\\([!-/:-@\[-`{-~])")  # a backslash before ASCII punctuation


class Unreadable(Exception):
    pass


def sections(markdown_lines, name):
    """Heading line -> the lines of its body, headings inside code blocks being code."""
    found, current, in_code = {}, None, False
    for line in markdown_lines:
        if line.startswith("```"):
            in_code = not in_code
        if not in_code and HEADING.match(line):
            if line in found:
                raise Unreadable(f"{name} has the heading {line!r} twice")
            current = found[line] = []
        elif current is not None:
            current.append(line)
    return found


def escape(text):
    """Text that scdoc prints as it stands."""
    return text.replace("\\", "\\\\").replace("*", "\\*").replace("_", "\\_")


def plain_markdown(text):
    """Markdown text outside code spans: links become their text, escapes their character."""
    text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", text)
    pieces = re.split(r"(\*\*[^*]+\*\*)", text)
    out = []
    for piece in pieces:
        if piece.startswith("**") and piece.endswith("**") and len(piece) > 4:
            out.append("*" + escape(MARKDOWN_ESCAPE.sub(r"\1", piece[2:-2])) + "*")
        else:
            out.append(escape(MARKDOWN_ESCAPE.sub(r"\1", piece)))
    return "".join(out)


def inline(text, code_in_bold=True):
    """One line of Markdown as scdoc: code spans in bold (or plain, inside a bold term)."""
    out = []
    for piece in re.split(r"(`[^`]+`)", text):
        if piece.startswith("`") and piece.endswith("`") and len(piece) > 1:
            code = escape(piece[1:-1])
            out.append(f"*{code}*" if code_in_bold else code)
        else:
            if "`" in piece:
                raise Unreadable(f"an unclosed code span in {text!r}")
            out.append(plain_markdown(piece))
    return "".join(out)


def table_cells(row):
    """The cells of a table row; \\| is a bar inside a cell."""
    if not (row.startswith("|") and row.rstrip().endswith("|")):
        raise Unreadable(f"a table row that does not start and end with |: {row!r}")
    cells = re.split(r"(?<!\\)\|", row.strip()[1:-1])
    return [cell.strip().replace("\\|", "|") for cell in cells]


def table(rows):
    """A table as a list of terms: the first cell in bold, the others indented below it; with
    more than two columns each of those is named by its column's heading."""
    if len(rows) < 2 or not re.fullmatch(r"\|(\s*:?-+:?\s*\|)+", rows[1].strip()):
        raise Unreadable(f"a table without a heading row: {rows[0]!r}")
    headings = table_cells(rows[0])
    out = []
    for row in rows[2:]:
        cells = table_cells(row)
        if len(cells) != len(headings):
            raise Unreadable(f"a table row with {len(cells)} cells under {len(headings)} headings: {row!r}")
        out += ["", "*" + inline(cells[0], code_in_bold=False) + "*"]
        if len(cells) == 2:
            out.append("\t" + inline(cells[1]))
            continue
        lines = [inline(heading) + ": " + inline(cell) for heading, cell in zip(headings[1:], cells[1:])]
        # scdoc keeps a tab after a forced break (++) as text, so only the first line has one.
        out.append("\t" + " ++\n".join(lines))
    out.append("")
    return out


def body(lines, heading):
    """A section's body, Markdown to scdoc, block by block."""
    out, i = [], 0
    while i < len(lines):
        line = lines[i]
        if not line.strip():
            out.append("")
            i += 1
        elif line.startswith("```"):
            end = next((j for j in range(i + 1, len(lines)) if lines[j].startswith("```")), None)
            if end is None:
                raise Unreadable(f"an unclosed code block under {heading!r}")
            # In a literal block scdoc still reads backslash escapes.
            out += ["```"] + [code.replace("\\", "\\\\") for code in lines[i + 1:end]] + ["```"]
            i = end + 1
        elif line.startswith("|"):
            end = i
            while end < len(lines) and lines[end].startswith("|"):
                end += 1
            out += table(lines[i:end])
            i = end
        elif line.startswith("- "):
            # An item with its continuation lines, as one line: a code span may cross them.
            end = i + 1
            while end < len(lines) and lines[end].startswith("  ") and lines[end].strip():
                if lines[end].lstrip().startswith("```"):
                    raise Unreadable(f"a code block inside a list item under {heading!r}")
                end += 1
            out.append("- " + inline(" ".join(item.strip() for item in lines[i:end])[2:]))
            i = end
        elif line[0] in " \t" or re.match(r"\d+\. |[>*+] |<", line):
            raise Unreadable(f"Markdown the man page cannot take under {heading!r}: {line!r}")
        else:
            # A paragraph, as one line.
            end = i + 1
            while end < len(lines) and lines[end].strip() and not re.match(r"```|\||- |[ \t]", lines[end]):
                end += 1
            out.append(inline(" ".join(lines[i:end])))
            i = end
    while out and not out[-1]:
        out.pop()
    while out and not out[0]:
        out.pop(0)
    return out


def main(frame_path, source_folder):
    documents, out = {}, []
    with open(frame_path, encoding="utf-8") as f:
        for line in f.read().splitlines():
            if not line.startswith(DIRECTIVE):
                out.append(line)
                continue
            name, _, heading = line[len(DIRECTIVE):].partition(" ")
            if name not in documents:
                with open(os.path.join(source_folder, name), encoding="utf-8") as markdown:
                    documents[name] = sections(markdown.read().splitlines(), name)
            if heading not in documents[name]:
                raise Unreadable(f"{name} has no heading {heading!r}")
            out += body(documents[name][heading], heading)
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: scdoc_from_markdown.py FRAME SOURCE_FOLDER > OUT")
    try:
        main(sys.argv[1], sys.argv[2])
    except Unreadable as problem:
        sys.exit(f"scdoc_from_markdown.py: {problem}")
