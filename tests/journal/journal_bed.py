"""What the journal's trace and crash cases share: runs of setup.exe under
strace in the build's prefix, with the prefix's wineserver traced as well,
and the two traces merged into one list of what reached the disk, in order.

Under Wine a program's WriteFile and FlushFileBuffers are write/pwrite64 and
fsync in its own process, while renames, deletions, new folders and the cut
of a file opened to be rewritten (ftruncate to 0) are done by the wineserver.
Both traces carry wall-clock times; the program waits for the server's
reply to each request, so ordering by time is ordering by cause.
"""
import os
import re
import shutil
import subprocess
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINE_RUN = os.path.join(ROOT, "scripts", "wine-run")
GUID = re.compile(r"\{[0-9A-Fa-f-]{36}\}")
QUOTED = re.compile(r'"((?:\\x[0-9a-f]{2})*)"')
LINE = re.compile(r"^(?:\d+\s+)?([\d.]+)\s+(\w+)\((.*)\)\s+=\s+(-?\d+)(?:\s.*?)?(?:<([\d.]+)>)?$")
FD_PATH = re.compile(r"^(\d+)<(.*?)>")

SETUP = "C:\\bed\\bin\\setup.exe"
FRENCH = "C:\\bed\\bin\\modules\\french\\setup.exe"


def windows_path(unix):
    """C:\\... for a file of the prefix's drive C, as the program names it."""
    for marker in ("/drive_c/", "/dosdevices/c:/"):
        at = unix.find(marker)
        if at >= 0:
            return "C:\\" + unix[at + len(marker):].replace("/", "\\")
    return unix


def unquote(text):
    """The bytes of a string strace printed with -xx."""
    return bytes(int(text[i + 2:i + 4], 16) for i in range(0, len(text), 4))


class Event:
    """One system call that touched a file: kind is write, fsync, rename,
    unlink, truncate, mkdir or rmdir; path (and for a rename, to) Windows
    paths; data the bytes written; end the time the call returned."""

    def __init__(self, kind, time_, end, path, to=None, data=b"", size=0):
        self.kind, self.time, self.end, self.path, self.to, self.data = kind, time_, end, path, to, data
        self.size = size  # bytes written, whatever part of them data holds

    def __repr__(self):
        return "%s %s%s" % (self.kind, self.path, " -> " + self.to if self.to else "")


def parse_trace(path, server):
    """The file events of one strace -f -ttt -T -y -xx output."""
    events = []
    if not os.path.exists(path):
        return events
    with open(path, errors="replace") as trace:
        for raw in trace:
            match = LINE.match(raw.strip())
            if not match or int(match.group(4)) < 0:
                continue
            start, call, args, _, spent = match.groups()
            start = float(start)
            end = start + float(spent or 0)
            fd = FD_PATH.match(args)
            if fd:
                args = args[fd.end():]
                fd = unquote(fd.group(2)).decode("utf-8", "replace")
            strings = [unquote(s) for s in QUOTED.findall(args)]
            if not server and call in ("write", "pwrite64") and fd:
                events.append(Event("write", start, end, windows_path(fd), data=strings[0] if strings else b"",
                                    size=int(match.group(4))))
            elif not server and call in ("fsync", "fdatasync") and fd:
                events.append(Event("fsync", start, end, windows_path(fd)))
            elif server and call in ("rename", "renameat", "renameat2") and len(strings) >= 2:
                events.append(Event("rename", start, end, windows_path(strings[0].decode()),
                                    windows_path(strings[1].decode())))
            elif server and call in ("unlink", "unlinkat", "rmdir", "mkdir", "mkdirat") and strings:
                kind = {"unlinkat": "unlink", "mkdirat": "mkdir"}.get(call, call)
                events.append(Event(kind, start, end, windows_path(strings[0].decode())))
            elif server and call in ("ftruncate", "ftruncate64") and fd and args.rstrip().endswith(", 0"):
                events.append(Event("truncate", start, end, windows_path(fd)))
    return events


class Bed:
    """The build's prefix with a traced wineserver, for the length of a test."""

    def __init__(self, build):
        self.build = os.path.abspath(build)
        self.prefix = subprocess.check_output([WINE_RUN, self.build, "--prefix"], text=True).strip()
        self.work = os.path.join(os.path.dirname(self.prefix), "journal-traces")
        os.makedirs(self.work, exist_ok=True)
        if os.getuid() == 0:
            os.chown(self.work, 65534, 65534)
        self.server = None
        self.server_trace = os.path.join(self.work, "server.trace")

    def drive(self, windows):
        """The Unix path of a C:\\ path of the prefix."""
        return os.path.join(self.prefix, "drive_c", windows[3:].replace("\\", "/"))

    def wine(self, *args, check=False):
        # A box nobody closes would hold a run for ever: runs say /noboxes,
        # and none may take longer than the setup mutex's minute and more.
        done = subprocess.run([WINE_RUN, self.build] + list(args), stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              text=True, errors="replace", timeout=150)
        if check and done.returncode != 0:
            raise RuntimeError("%s: exit %d\n%s" % (" ".join(args), done.returncode, done.stdout))
        return done

    def start(self):
        """A fresh wineserver under strace, the one every later program uses."""
        self.wine("--prepare", check=True)
        self.wine("--with", "/usr/bin/wineserver", "-k")
        shutil.rmtree(self.work)
        os.makedirs(self.work)
        if os.getuid() == 0:
            os.chown(self.work, 65534, 65534)
        if os.path.exists(self.server_trace):
            os.remove(self.server_trace)
        self.server = subprocess.Popen(
            # Filtered in the kernel (seccomp): the server's other calls run
            # at full speed.
            [WINE_RUN, self.build, "--with", "strace", "-f", "--seccomp-bpf", "-ttt", "-T", "-y", "-xx", "-s", "4096",
             "-e", "trace=rename,renameat,renameat2,unlink,unlinkat,rmdir,mkdir,mkdirat,ftruncate,ftruncate64",
             "-o", self.server_trace, "/usr/bin/wineserver", "-f", "-p600"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Ready once it has made its socket's folder; a program started before
        # that would start an untraced server of its own.
        for _ in range(100):
            if self.server.poll() is not None:
                raise RuntimeError("the traced wineserver ended at once")
            if os.path.exists(self.server_trace) and "mkdir" in open(self.server_trace, errors="replace").read():
                break
            time.sleep(0.05)
        time.sleep(0.2)
        self.wine(self.build + "/bin/sandbox.exe", "clean", check=True)
        if self.server.poll() is not None:
            raise RuntimeError("the traced wineserver is not the one in use")
        self.build_cut()

    def stop(self):
        """Back to an untraced server for the suites that follow."""
        self.wine("--with", "/usr/bin/wineserver", "-k")
        if self.server:
            try:
                self.server.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.server.kill()
        self.wine("--start")

    def build_cut(self):
        """cut_here.c for the loader this build runs its programs with."""
        loader = open(os.path.join(self.build, "wine-loader")).read().strip()
        self.cut_library = os.path.join(self.work, "cut_here.so")
        subprocess.run(["gcc", "-shared", "-fPIC", "-O2"] + (["-m32"] if loader == "wine" else []) +
                       ["-o", self.cut_library, os.path.join(os.path.dirname(__file__), "cut_here.c"), "-ldl"],
                       check=True)

    def cut_run(self, program, args, **cut):
        """A run with cut_here.c preloaded: (exit code, its writes and
        flushes and the server's file calls, in time order). cut names the
        point to kill it at: fsync=N, after=N, or text=T with count=N."""
        log = os.path.join(self.work, "cut.log")
        if os.path.exists(log):
            os.remove(log)
        server_start = os.path.getsize(self.server_trace)
        settings = " ".join("QUORIN_CUT_%s='%s'" % (name.upper(), value) for name, value in cut.items())
        command = "LD_PRELOAD=\"${LD_PRELOAD:+$LD_PRELOAD }%s\" QUORIN_CUT_LOG=%s %s exec \"$QUORIN_WINE_LOADER\" %s" % (
            self.cut_library, log, settings, " ".join("'%s'" % a.replace("'", "'\\''") for a in [program] + args))
        done = self.wine("--with", "sh", "-c", command)
        events = self.server_events(server_start)
        if os.path.exists(log):
            for raw in open(log, errors="replace"):
                began, ended, call, size, path = raw.rstrip("\n").split(" ", 4)
                events.append(Event(call, float(began), float(ended), windows_path(path), size=int(size)))
        events.sort(key=lambda e: e.time)
        return done.returncode, events

    def server_events(self, start):
        """The server's file calls since its trace had start bytes."""
        time.sleep(0.05)
        part = os.path.join(self.work, "server.part")
        with open(self.server_trace, errors="replace") as whole, open(part, "w") as out:
            whole.seek(start)
            out.write(whole.read())
        return parse_trace(part, True)

    def sandbox(self, command):
        self.wine(self.build + "/bin/sandbox.exe", command, check=True)

    def run(self, program, *args):
        """An untraced run without boxes: its exit code."""
        return self.wine(program, "/noboxes", *args).returncode

    def traced(self, program, args, kill_at=None, data=256):
        """A run under strace: (exit code, its events and the server's in
        time order), each write's data cut to data bytes. kill_at =
        (syscall, n) kills the program on entering its n-th call of that
        kind, as a power cut right then would stop it."""
        trace = os.path.join(self.work, "program")
        for name in os.listdir(self.work):
            if name.startswith("program."):
                os.remove(os.path.join(self.work, name))
        server_start = os.path.getsize(self.server_trace) if os.path.exists(self.server_trace) else 0
        inject = ["-e", "inject=%s:signal=KILL:when=%d" % kill_at] if kill_at else []
        # One file a thread (-ff), so that no call is split across lines.
        # strace 6 injects nothing when it filters with seccomp.
        filtered = "" if kill_at else "--seccomp-bpf"
        command = "exec strace -ff " + filtered + " -ttt -T -y -xx -s %d -e trace=write,pwrite64,fsync,fdatasync %s -o %s " \
                  "\"$QUORIN_WINE_LOADER\" %s" % (data, " ".join(inject), trace,
                                                  " ".join("'%s'" % a.replace("'", "'\\''") for a in [program] + args))
        done = self.wine("--with", "sh", "-c", command)
        # The server writes its trace as it goes; what this run made it do is
        # what it wrote since the run started.
        events = self.server_events(server_start)
        for name in os.listdir(self.work):
            if name.startswith("program."):
                events += parse_trace(os.path.join(self.work, name), False)
        events.sort(key=lambda e: e.time)
        return done.returncode, events

    def snapshot(self):
        """The state a run can change, uninstall entries by count (their
        folders are named after new GUIDs)."""
        text = self.wine(self.build + "/bin/sandbox.exe", "snapshot", check=True).stdout
        return "\n".join(sorted(GUID.sub("{GUID}", text.replace("\r", "")).split("\n")))


def journal_lines(events, journal, written=None):
    """The journal's lines as written (from the trace's data, or from the
    file's bytes written): (text, end offset) in order."""
    if written is None:
        written = b"".join(e.data for e in events if e.kind == "write" and same(e.path, journal))
    lines, at = [], 0
    while True:
        end = written.find(b"\r\n", at)
        if end < 0:
            return lines
        lines.append((written[at:end].decode("latin-1"), end + 2))
        at = end + 2


def same(a, b):
    return a.lower() == b.lower()


def copy_tree(source, target):
    if os.path.exists(target):
        shutil.rmtree(target)
    if os.path.exists(source):
        shutil.copytree(source, target, symlinks=True)
