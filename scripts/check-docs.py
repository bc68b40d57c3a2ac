#!/usr/bin/env python3
"""The documents as their readers use them: every command block of the
README and the guides is either run by a test as written (marked
"<!-- block: NAME -->", NAME one that a test below runs, by name) or marked
"<!-- not run here: REASON -->"; every link between the files reaches a file
and, where it names one, a heading. Prints one list of the blocks with their
status; exits 1 on the first kind of fault it finds."""
import os
import re
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
# The blocks that a test runs as written, and the test that names them.
RUN_BY = {
    "first-purchase": "scripts/check-unit-container.sh",
    "recovery-walk": "tests/examples/test_brennick_pay.py",
    "linux-service": "scripts/check-unit-container.sh",
    "linux-register-user": "scripts/check-unit-container.sh",
}
# Blocks that stand for a file that a test runs, as written: the block must
# be that file's text between the two marks.
COPY_OF = {
    "web-page": ("examples/web/register.html", '<script type="module">\n', "</script>",
                 "tests/brennickd/test_client.py"),
}
COMMANDS = {"sh", "bash", "bat", "cmd", "powershell", "ps1", "console", "js"}
MARK = re.compile(r"^\s*<!-- (block: ([\w-]+)|not run here: (.+\S)) -->\s*$")
LINK = re.compile(r"\[[^\]]*\]\(([^)\s]+)\)")


def slug(heading):
    text = re.sub(r"[^\w\- ]", "", heading.strip().lower().replace("`", ""))
    return text.replace(" ", "-")


def copied(path, begin, end):
    with open(os.path.join(ROOT, path)) as f:
        text = f.read()
    start = text.find(begin)
    return "" if start < 0 else text[start + len(begin):text.find(end, start)]


def headings(path):
    with open(path) as f:
        return {slug(line.lstrip("#")) for line in f if line.startswith("#")}


def main():
    files = ["README.md"] + sorted("docs/" + n for n in os.listdir(os.path.join(ROOT, "docs")) if n.endswith(".md"))
    faults, seen = [], {}
    for name in files:
        with open(os.path.join(ROOT, name)) as f:
            lines = f.read().split("\n")
        inside = False
        for number, line in enumerate(lines, 1):
            fence = line.strip().startswith("```")
            if fence and not inside:
                inside = True
                language = line.strip()[3:].strip()
                if language not in COMMANDS:
                    continue
                before = next((l for l in reversed(lines[:number - 1]) if l.strip()), "")
                mark = MARK.match(before)
                where = "%s:%d" % (name, number)
                if not mark:
                    faults.append("%s: a %s block neither run by a test nor marked" % (where, language))
                elif mark.group(2) in COPY_OF:
                    block = mark.group(2)
                    source, begin, end, runner = COPY_OF[block]
                    close = next((i for i in range(number, len(lines)) if lines[i].strip().startswith("```")),
                                 len(lines))
                    text = "\n".join(lines[number:close]) + "\n"
                    if text != copied(source, begin, end):
                        faults.append("%s: block %s is not the text of %s" % (where, block, source))
                    seen[block] = where
                    print("%-28s the text of %s, run by %s" % (where, source, runner))
                elif mark.group(2):
                    block = mark.group(2)
                    if block not in RUN_BY:
                        faults.append("%s: block %s is run by no test" % (where, block))
                    seen[block] = where
                    print("%-28s run by %s" % (where, RUN_BY.get(block, "nothing")))
                else:
                    print("%-28s not run here: %s" % (where, mark.group(3)))
                continue
            if fence:
                inside = False
                continue
            if inside:
                continue
            for target in LINK.findall(line):
                if re.match(r"^[a-z]+:", target):
                    continue
                path, _, anchor = target.partition("#")
                full = os.path.normpath(os.path.join(ROOT, os.path.dirname(name), path)) if path else \
                    os.path.join(ROOT, name)
                if not os.path.exists(full):
                    faults.append("%s:%d: a link to %s, which is not there" % (name, number, path))
                elif anchor and full.endswith(".md") and anchor not in headings(full):
                    faults.append("%s:%d: a link to #%s, no heading of %s" % (name, number, anchor, path or name))
    for block, runner in RUN_BY.items():
        if block not in seen:
            faults.append("block %s, which %s runs, stands in no document" % (block, runner))
        with open(os.path.join(ROOT, runner)) as f:
            if block not in f.read():
                faults.append("%s does not run block %s" % (runner, block))
    for block, (source, _, _, runner) in COPY_OF.items():
        if block not in seen:
            faults.append("block %s, the text of %s, stands in no document" % (block, source))
        with open(os.path.join(ROOT, runner)) as f:
            if source not in f.read():
                faults.append("%s does not load %s" % (runner, source))
    for fault in faults:
        print("check-docs: " + fault, file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
