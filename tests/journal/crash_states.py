#!/usr/bin/env python3
"""A power cut at every flush point: the next setup still finds the product
whole.

For an update, a fresh install and a removal of the German module, the run
is stopped on entering each of its flushes (strace kills it there, as a
power cut right then would stop it), and the disk is then given what such a
cut could leave, from the run's own trace:

  - the journal cut to what its last completed flush put on disk, with or
    without a tail of zeros up to the size it had (rule 6);
  - every file written since its last flush either empty or as it was
    before the run;
  - the renames made since the last flush done, or undone.

Then the next setup runs: a German install, a German removal or a French
install. Each must end as that setup alone would have ended after the cut
run had never started (the cut came before the commit was on disk), or had
finished (it came after: rule 4), with its own exit code; never with a
dictionary file or quorin.cfg of 0 bytes. Staging copies the cut run made
before any line about them reached the disk are not the other module's to
remove: a French install may leave them, and its end state is compared
without them. One more point per run: just after the commit reached the
disk. And twice the next setup's undo is itself cut half way: run again, it
ends as one whole undo (rule 4).

One more run is cut the same way: an update whose staging copy of vg.qd a
virus scanner holds for good from the moment it is written. That run fails
within its waiting budget and puts back what it can; wherever the power
cut comes, the next setup (nothing is held after a restart) ends as if it
had never started.

Usage: crash_states.py BUILD_DIR. Exit code 1 when any case ends otherwise.
"""
import os
import re
import shutil
import subprocess
import sys
import time

from journal_bed import Bed, FRENCH, SETUP, WINE_RUN, copy_tree, journal_lines, same

PRODUCT = "C:\\Program Files\\Quorin\\"
JOURNAL = PRODUCT + "quorin.jnl"
LOG = "C:\\bed\\crash.log"
LOG_OPTION = "/log=" + LOG
QUIET = "/noboxes"
FOLLOWERS = [("German install", SETUP, "in"), ("German removal", SETUP, "un"), ("French install", FRENCH, "in")]
HELD = PRODUCT + "diction\\vg.qd~"
# name, preparing tails (German), the cut run's tail, the file a scanner
# holds for good from the run's start (the run then fails and undoes)
SCENARIOS = [("update", ["in"], "in", None), ("fresh install", [], "in", None), ("removal", ["in"], "un", None),
             ("update with its staging copy held", ["in"], "in", HELD)]
EMPTY = re.compile(r"(\.qd|quorin\.cfg) 0 bytes", re.I)
STAGING = re.compile(r"^file .*~ \(\d+ bytes\)$")


class Scanner:
    """hold_file.exe holding a file for the length of a with block: started
    and watching before the run, let go after it, as a power cut ends it."""

    def __init__(self, bed, path):
        self.bed, self.path = bed, path
        self.release, self.ready = bed.drive("C:\\bed\\release-hold"), bed.drive("C:\\bed\\hold-ready")

    def __enter__(self):
        for name in (self.release, self.ready):
            if os.path.exists(name):
                os.remove(name)
        self.process = subprocess.Popen([WINE_RUN, self.bed.build, self.bed.build + "/bin/hold_file.exe", self.path,
                                         "C:\\bed\\release-hold", "C:\\bed\\hold-ready"],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(600):
            if os.path.exists(self.ready):
                break
            time.sleep(0.05)
        return self

    def __exit__(self, *exc):
        open(self.release, "w").close()
        self.held = self.process.wait(timeout=120) == 0


class NoScanner:
    held = True

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        pass


class Case:
    def __init__(self, bed):
        self.bed = bed
        self.saved = os.path.join(bed.work, "before")

    def prepare(self, tails):
        self.bed.sandbox("french")
        for tail in tails:
            if self.bed.run(SETUP, tail) != 0:
                raise RuntimeError("preparing run %s failed" % tail)
        log = self.bed.drive(LOG)
        if os.path.exists(log):
            os.remove(log)
        copy_tree(self.bed.drive(PRODUCT), os.path.join(self.saved, "product"))

    def before(self, path):
        """The file's bytes before the run, or None when it had none."""
        if not path.lower().startswith(PRODUCT.lower()):
            return None
        saved = os.path.join(self.saved, "product", path[len(PRODUCT):].replace("\\", "/"))
        return open(saved, "rb").read() if os.path.isfile(saved) else None


def cut(case, events, zeros, as_it_was):
    """Gives the disk what a power cut at the end of events could leave.
    Returns whether the commit line had reached the disk."""
    bed = case.bed
    journal = bed.drive(JOURNAL)
    lines = journal_lines(events, JOURNAL, open(journal, "rb").read() if os.path.isfile(journal) else b"")
    commit_end = next((end for text, end in lines if text == "commit"), None)
    written = durable = 0
    last_flush = 0.0
    flushed_at = {}
    written_at = {}
    for event in events:
        if event.kind == "write":
            written_at[event.path.lower()] = (event.time, event.path)
            if same(event.path, JOURNAL):
                written += event.size
        elif event.kind == "fsync":
            flushed_at[event.path.lower()] = event.end
            last_flush = event.end
            if same(event.path, JOURNAL):
                durable = written
    committed = commit_end is not None and durable >= commit_end
    # Renames since the last flush: undone, last first, when asked for.
    if as_it_was:
        for event in reversed([e for e in events if e.kind == "rename" and e.time > last_flush]):
            source, target = bed.drive(event.path), bed.drive(event.to)
            if os.path.exists(target) and not os.path.exists(source):
                os.rename(target, source)
    # Data written since its file's last flush did not reach the disk.
    for key, (when, path) in written_at.items():
        if flushed_at.get(key, 0) > when or path.lower().startswith("c:\\bed\\") or same(path, JOURNAL):
            continue
        unix = bed.drive(path)
        if not os.path.isfile(unix):
            continue
        old = case.before(path) if as_it_was else None
        with open(unix, "wb") as file:
            file.write(old or b"")
    if os.path.isfile(journal):
        size = os.path.getsize(journal)
        with open(journal, "r+b") as file:
            file.truncate(durable)
            if zeros:
                file.seek(durable)
                file.write(b"\0" * (size - durable))
    return committed


def compare(found, expected, french):
    if french:
        found, expected = ([line for line in state.split("\n") if not STAGING.match(line)] for state in (found, expected))
    return found == expected


def i686_runs_natively():
    """Whether the kernel runs 32-bit code itself, with no emulator
    registered for it."""
    flag = "/proc/sys/fs/binfmt_misc/qemu-i386"
    emulated = os.path.exists(flag) and open(flag).readline().strip() == "enabled"
    return not emulated and os.system("/lib/ld-linux.so.2 --version >/dev/null 2>&1") == 0


def main():
    # One build is enough, and the one whose programs run natively is fast:
    # the i686 one where the kernel runs 32-bit code, else the x86_64 one.
    i686 = open(os.path.join(sys.argv[1], "wine-loader")).read().strip() == "wine"
    if i686 != i686_runs_natively():
        print("skipped: the power cuts run in the %s build here" % ("x86_64" if i686 else "i686"))
        return 77
    bed = Bed(sys.argv[1])
    case = Case(bed)
    failures, cases = [], 0
    bed.start()
    try:
        for name, prep, tail, held in SCENARIOS:
            scanner = (lambda: Scanner(bed, held)) if held else NoScanner
            # What each follower alone ends in, after no cut run and after
            # a whole one.
            alone = {}
            for follower, program, follower_tail in FOLLOWERS:
                for whole in (False, True):
                    case.prepare(prep + ([tail] if whole else []))
                    code = bed.run(program, follower_tail)
                    alone[follower, whole] = (code, bed.snapshot())
            case.prepare(prep)
            with scanner() as watch:
                code, events = bed.cut_run(SETUP, [QUIET, LOG_OPTION, tail])
            flushes = [e for e in events if e.kind == "fsync"]
            # A run that meets a hold for good fails, having put back all it
            # could.
            if code != (1 if held else 0) or len(flushes) < (2 if held else 5) or not watch.held:
                failures.append("%s: the whole run (exit %d) made %d flushes, the file %s" % (
                    name, code, len(flushes), "held" if watch.held else "never held"))
                continue
            points = [("flush %d (%s)" % (k, flushes[k - 1].path[flushes[k - 1].path.rfind("\\") + 1:]), {"fsync": k})
                      for k in range(1, len(flushes) + 1)]
            points.append(("after the commit", {"after": len(flushes)}))
            if held:
                # Up to the held file's flush the run is an update like the
                # first: only the points from there on are new.
                points = points[-3:]
            print("%s: %d flushes, the commit's the last" % (name, len(flushes)))
            for index, (point, kill_at) in enumerate(points):
                for turn, (follower, program, follower_tail) in enumerate(FOLLOWERS):
                    variant = (index + turn) % 2
                    case.prepare(prep)
                    with scanner():
                        killed, events = bed.cut_run(SETUP, [QUIET, LOG_OPTION, tail], **kill_at)
                    committed = cut(case, events, zeros=variant == 0, as_it_was=variant == 1)
                    code = bed.run(program, follower_tail)
                    found = bed.snapshot()
                    want_code, want = alone[follower, committed]
                    cases += 1
                    how = "%s cut at %s (%s), then %s" % (name, point, "zeros, files empty, renames done"
                                                         if variant == 0 else "files as they were, renames undone",
                                                         follower)
                    if killed == 0:
                        failures.append(how + ": the cut run was not stopped")
                    elif code != want_code or not compare(found, want, program == FRENCH) or EMPTY.search(found):
                        failures.append("%s: exit %d (alone %d), %s" % (
                            how, code, want_code, "state:\n" + found + "\nexpected (" +
                            ("finished" if committed else "undone") + "):\n" + want))
                    else:
                        print("  %s: %s, %s" % (how, "finished" if committed else "undone", "ok"))
            # A second cut, inside the next setup's undo: cut the run just
            # before two of its last flushes, let the next German install
            # begin to put it back, stop that as it logs its third deletion
            # and run it again.
            for point, kill_at in points[-4:-2]:
                case.prepare(prep)
                with scanner():
                    bed.cut_run(SETUP, [QUIET, LOG_OPTION, tail], **kill_at)
                second, _ = bed.cut_run(SETUP, [QUIET, LOG_OPTION, "in"], text="deleted ", count=3)
                code = bed.run(SETUP, "in")
                found = bed.snapshot()
                want_code, want = alone["German install", False]
                cases += 1
                how = "%s cut at %s, the next install's undo cut at its third deletion" % (name, point)
                if second == 0:
                    failures.append(how + ": the undo was not stopped")
                elif code != want_code or found != want:
                    failures.append("%s: exit %d, state:\n%s\nexpected:\n%s" % (how, code, found, want))
                else:
                    print("  %s: ok" % how)
        bed.sandbox("clean")
    finally:
        bed.stop()
    for failure in failures:
        print("FAILED " + failure)
    print("%d cases, %d failed" % (cases, len(failures)))
    return 1 if failures or cases == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
