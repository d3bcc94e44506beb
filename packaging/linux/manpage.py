#!/usr/bin/env python3
"""Writes a gzipped manual page from its template.

    manpage.py TEMPLATE OUTPUT.gz VERSION DATE [PROGRAM]

With PROGRAM, the page's synopsis, description, commands, options and exit
status are the program's own `--help` text turned into roff, so the page
cannot drift from what the program says about itself.
"""
import gzip
import re
import subprocess
import sys


def escape(text):
    text = text.replace("\\", "\\e").replace("-", "\\-")
    text = re.sub(r"`([^`]+)`", r"\\fB\1\\fR", text)
    # A line starting with a dot or quote would be read as a request.
    return re.sub(r"^([.'])", r"\\&\1", text, flags=re.M)


def entries(lines):
    """'  TERM   description' lines, with deeper-indented continuation lines."""
    items = []
    for line in lines:
        entry = re.match(r"^  (\S.*?)\s{2,}(\S.*)$", line)
        if entry and not line.startswith("   "):
            items.append([entry.group(1), entry.group(2)])
        elif items and line.startswith("   "):
            items[-1][1] += " " + line.strip()
        else:
            raise SystemExit("manpage.py: cannot place this help line: " + repr(line))
    return items


def usage_to_roff(help_text):
    blocks = [b.splitlines() for b in help_text.strip("\n").split("\n\n")]
    usage = re.match(r"^Usage: (\S+) ?(.*)$", blocks[0][0])
    if not usage or len(blocks) < 2:
        raise SystemExit("manpage.py: the help text does not start with 'Usage: PROGRAM'")
    out = [".SH SYNOPSIS", ".B " + escape(usage.group(1)), escape(usage.group(2)),
           ".SH DESCRIPTION", escape(" ".join(blocks[1]))]
    for block in blocks[2:]:
        heading = re.match(r"^([A-Z][A-Za-z ]*):(.*)$", block[0])
        if not heading:
            raise SystemExit("manpage.py: a help paragraph without a heading: " + repr(block[0]))
        name = heading.group(1).upper()
        if heading.group(2).strip():  # "Exit codes: ..." runs on as a paragraph
            out += [".SH EXIT STATUS" if name == "EXIT CODES" else ".SH " + name,
                    escape(" ".join([heading.group(2).strip()] + block[1:]))]
            continue
        out.append(".SH " + name)
        for term, text in entries(block[1:]):
            out += [".TP", ".B " + escape(term), escape(text)]
    return "\n".join(out)


def main():
    if len(sys.argv) not in (5, 6):
        raise SystemExit(__doc__)
    template, output, version, date = sys.argv[1:5]
    with open(template, encoding="utf-8") as f:
        page = f.read()
    page = page.replace("@BRISQUEL_VERSION@", version).replace("@BRISQUEL_DATE@", date)
    if len(sys.argv) == 6:
        help_text = subprocess.run([sys.argv[5], "--help"], check=True, capture_output=True,
                                   text=True).stdout
        page = page.replace("@BRISQUEL_USAGE@", usage_to_roff(help_text))
    if "@BRISQUEL_" in page:
        raise SystemExit("manpage.py: " + template + " keeps a placeholder")
    # No name and no time stamp in the gzip header: the same page, the same bytes.
    with open(output, "wb") as raw, gzip.GzipFile(filename="", mode="wb", fileobj=raw,
                                                  compresslevel=9, mtime=0) as out:
        out.write(page.encode("utf-8"))


if __name__ == "__main__":
    main()
