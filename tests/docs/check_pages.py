#!/usr/bin/env python3
"""The pages against what they describe, in a second and without Wine:

- every relative link of every page (README, CONTRIBUTING, CHANGELOG,
  docs/) names a file that exists, and a heading of it where the link names
  one, as GitHub makes a heading's anchor;
- the tests the testing page lists for this build are exactly those
  `ctest -N` lists in BUILD_DIR;
- the README's exit-code table holds exactly the codes the program returns;
- every figure scripts/docs --fast writes is current.

    check_pages.py BUILD_DIR i686|x86_64
"""
import glob
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "scripts"))
import pages  # noqa: E402

PAGES = ["README.md", "CONTRIBUTING.md", "CHANGELOG.md"] + sorted(
    os.path.relpath(p, ROOT) for p in glob.glob(os.path.join(ROOT, "docs", "*.md")))
LINK = re.compile(r"!?\[[^\]]*\]\(([^)\s]+)\)")


def unfenced(text):
    """The page without its fenced blocks, where a '#' is no heading."""
    return re.sub(r"^[ \t]*(```|~~~).*?^[ \t]*\1", "", text, flags=re.S | re.M)


def prose(text):
    """The page without its fenced blocks and code spans, where a bracket
    is no link."""
    return re.sub(r"`[^`\n]*`", "", unfenced(text))


def anchors(path):
    """The anchors GitHub gives the headings of a page: lower case, every
    character but letters, digits, '_', '-' and blanks dropped, blanks made
    '-', a repeated one numbered."""
    seen, found = {}, set()
    for line in unfenced(open(path, encoding="utf-8").read()).splitlines():
        heading = re.match(r"#{1,6}\s+(.*?)\s*#*\s*$", line)
        if not heading:
            continue
        slug = re.sub(r"[^\w\- ]", "", heading.group(1).lower()).replace(" ", "-")
        count = seen.get(slug, 0)
        seen[slug] = count + 1
        found.add(slug if count == 0 else "%s-%d" % (slug, count))
    return found


def broken_links():
    failures = []
    for page in PAGES:
        path = os.path.join(ROOT, page)
        for target in LINK.findall(prose(open(path, encoding="utf-8").read())):
            if re.match(r"[a-z]+:", target):
                continue
            file, _, anchor = target.partition("#")
            where = os.path.normpath(os.path.join(os.path.dirname(path), file)) if file else path
            if not os.path.exists(where):
                failures.append("%s: the link %s names no file" % (page, target))
            elif anchor and where.endswith(".md") and anchor not in anchors(where):
                failures.append("%s: the link %s names no heading of %s" % (page, target, os.path.relpath(where, ROOT)))
    return failures


def listed_tests(arch):
    """The tests the testing page's table gives for a build: "both" or the
    build's architecture in its second column."""
    text = open(os.path.join(ROOT, "docs", "testing.md"), encoding="utf-8").read()
    section = text.split("## The tests", 1)[1].split("\n## ", 1)[0]
    names = set()
    for name, builds in re.findall(r"^\| `([^`]+)` \| ([^|]+?) \|", section, flags=re.M):
        if builds in ("both", arch):
            names.add(name)
    return names


def test_list(build, arch):
    listed = listed_tests(arch)
    real = {n for n in pages.ctest_names(build) if not n.startswith("wine_session_")}
    failures = ["docs/testing.md lists %s for %s, which ctest -N in %s does not" % (n, arch, build)
                for n in sorted(listed - real)]
    failures += ["ctest -N in %s has %s, which docs/testing.md does not list for %s" % (build, n, arch)
                 for n in sorted(real - listed)]
    return failures


def exit_codes():
    source = open(os.path.join(ROOT, "src", "run", "setup_run.cpp"), encoding="utf-8").read()
    program = set()
    for value, comment in re.findall(r"constexpr int kExit\w+ = (\w+);(?:\s*//\s*(\d+))?", source):
        program.add(int(value) if value.isdigit() else int(comment or -1))
    readme = open(os.path.join(ROOT, "README.md"), encoding="utf-8").read()
    table = readme.split("## Exit codes", 1)[1].split("\n## ", 1)[0]
    documented = {int(code) for code, setup in re.findall(r"^\| (\d+) \| ([^|]*) \|", table, flags=re.M)
                  if setup.strip() not in ("", "—", "-")}
    if program == documented:
        return []
    return ["README.md's exit codes of setup.exe are %s, the program's (src/run/setup_run.cpp) %s"
            % (sorted(documented), sorted(program))]


def main(argv):
    if len(argv) != 3 or argv[2] not in ("i686", "x86_64"):
        sys.stderr.write(__doc__)
        return 2
    failures = broken_links() + test_list(argv[1], argv[2]) + exit_codes()
    failures += ["%s: the figure %s is stale; scripts/docs --fast writes it anew" % (page, name)
                 for name, (page, writer) in pages.FAST.items() if pages.read_block(page, name) != writer()]
    for failure in failures:
        print("FAILED:", failure)
    print("%d pages checked, %d failed" % (len(PAGES), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
