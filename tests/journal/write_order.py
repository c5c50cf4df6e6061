#!/usr/bin/env python3
"""The journal's write-ahead order as the disk sees it: an update, a fresh
install and a removal of the German module, each traced with the prefix's
wineserver, checked against the journal's rules:

  rule 1  every rename, deletion, rewrite of quorin.cfg or quorin.inf and new
          entry folder comes after a completed flush of the journal holding
          the line that names it;
  rule 2  every staged copy is flushed before it is renamed into place, and
          the kept copy of quorin.cfg and of quorin.inf before the file is
          rewritten;
  rule 3  what the run rewrote is flushed before the commit line is written,
          and the .old copies and the journal go only after that line is
          flushed.

Usage: write_order.py BUILD_DIR. Prints what each trace saw, and every
breach of a rule; exit code 1 on any breach or on a trace too thin to tell.
"""
import sys

from journal_bed import Bed, SETUP, journal_lines, same

PRODUCT = "C:\\Program Files\\Quorin\\"
JOURNAL = PRODUCT + "quorin.jnl"
CONFIG = PRODUCT + "quorin.cfg"


def inside(path, folder):
    return path.lower().startswith(folder.lower())


def check(name, events, entries):
    """Breaches of the rules in one run's events, and what was counted."""
    lines = journal_lines(events, JOURNAL)
    breaches, counts = [], {"journal flushes": 0, "flushes": 0, "renames": 0, "deletions": 0, "rewrites": 0,
                            "lines checked": 0}
    written = 0       # bytes written to the journal so far
    durable = 0       # bytes of it a completed flush has put on disk
    flushed = {}      # path -> time its last flush returned
    last_write = {}   # path -> time of its last write
    commit_written = None

    def line_end(wanted):
        """End offset of the first line wanted accepts, or None."""
        for text, end in lines:
            if wanted(text):
                return end
        return None

    def needs(event, what, wanted):
        end = line_end(wanted)
        counts["lines checked"] += 1
        if end is None:
            breaches.append("%s: %r has no journal line (%s)" % (name, event, what))
        elif end > durable:
            breaches.append("%s: %r before its line (%s) was flushed" % (name, event, what))

    def names(verbs, path):
        return lambda text: any(same(text, verb + " " + path) for verb in verbs)

    commit_end = line_end(lambda text: text == "commit")
    for event in events:
        path = event.path
        if event.kind == "write":
            last_write[path.lower()] = event.time
            if same(path, JOURNAL):
                written += event.size
                if commit_end is not None and written >= commit_end and commit_written is None:
                    commit_written = event.time
                continue
        if event.kind == "fsync":
            counts["flushes"] += 1
            flushed[path.lower()] = event.end
            if same(path, JOURNAL):
                counts["journal flushes"] += 1
                durable = written
            continue
        product = inside(path, PRODUCT) or any(inside(path, entry) for entry in entries)
        if not product or same(path, JOURNAL) or same(path, JOURNAL + ".bad"):
            continue
        if event.kind == "rename":
            counts["renames"] += 1
            target = event.to
            if target.lower().endswith(".old"):
                needs(event, "moved aside", names(["aside"], path))
            elif path.lower().endswith("~") and same(target, path[:-1]):
                needs(event, "moved in", names(["added", "aside"], target))
                staged = flushed.get(path.lower())
                if staged is None or staged > event.time or last_write.get(path.lower(), 0) > staged:
                    breaches.append("%s: %r with its data not flushed (rule 2)" % (name, event))
        elif event.kind == "unlink":
            counts["deletions"] += 1
            if not path.endswith("~"):
                needs(event, "deleted at commit", lambda text: text == "commit")
        elif event.kind in ("truncate", "write"):
            if path.endswith("~") or path.lower().endswith(".old"):
                continue
            counts["rewrites"] += event.kind == "truncate"
            if same(path, CONFIG) or path.lower().endswith("\\quorin.inf"):
                needs(event, "rewritten in place", names(["aside"], path))
                kept = flushed.get((path + ".old").lower())
                if kept is None or kept > event.time:
                    breaches.append("%s: %r before its kept copy was flushed (rule 2)" % (name, event))
            else:
                folder = path[:path.rfind("\\")]
                needs(event, "new entry's file", names(["entry"], folder))
        elif event.kind == "mkdir":
            needs(event, "new entry folder", names(["entry"], path))
    # Rule 3: what was rewritten is on disk before the commit line.
    if commit_written is not None:
        for path, when in last_write.items():
            if same(path, JOURNAL) or path.endswith("~") or not (inside(path, PRODUCT) or any(
                    inside(path, e) for e in entries)):
                continue
            if flushed.get(path, 0) < when or flushed.get(path, 0) > commit_written:
                breaches.append("%s: %s not flushed before the commit line (rule 3)" % (name, path))
    return breaches, counts


def main():
    bed = Bed(sys.argv[1])
    entries = ["C:\\Program Files (x86)\\InstallShield Installation Information\\",
               "C:\\Program Files\\InstallShield Installation Information\\"]
    # name, preparation, tail, least renames and journal flushes a sound
    # trace of it shows
    runs = [("update", ["in"], ["in"], 10, 3),
            ("fresh install", [], ["in"], 5, 4),
            ("removal", ["in"], ["un"], 5, 3)]
    failed = False
    bed.start()
    try:
        for name, before, tail, renames, journal_flushes in runs:
            bed.sandbox("french")
            for step in before:
                if bed.run(SETUP, step) != 0:
                    raise RuntimeError("%s: preparing run %s failed" % (name, step))
            code, events = bed.traced(SETUP, tail, data=4096)
            breaches, counts = check(name, events, entries)
            print("%s (exit %d): %s" % (name, code, ", ".join("%d %s" % (v, k) for k, v in counts.items())))
            for breach in breaches:
                print("  BREACH " + breach)
            thin = code != 0 or counts["renames"] < renames or counts["journal flushes"] < journal_flushes
            if thin:
                print("  the trace is too thin to tell: exit %d, fewer than %d renames or %d journal flushes" % (
                    code, renames, journal_flushes))
            failed = failed or thin or bool(breaches)
        bed.sandbox("clean")
    finally:
        bed.stop()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
