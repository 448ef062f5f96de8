"""The one home of how the harness runs Wine: the loader, the wineserver, the
environment of a run and a throwaway prefix. Every Python caller (the end-to-end
tests, the scanner's command-line tests, the benchmark's live scan) takes them from
here; scripts/wine-run, the emulator CMake runs Windows test programs with, keeps
the same loader and defaults and names this module as their home.

A throwaway Wine prefix for one test: its registry, processes and files are real
Wine ones, and nothing outside /tmp is touched (never ~/.wine).

The prefix's wineserver is made persistent for the life of the test, so that the
registry seen before and after a scan belongs to one server session: a server that
stops and starts again re-enumerates its display devices and rewrites their keys,
which would make an unchanged registry look changed.
"""
import codecs
import os
import shutil
import signal
import subprocess
import tempfile
import time

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
# Wine's own messages would mix with the program's output.
WINEDEBUG = "-all"
# No runtime or browser engine installers: nothing here needs them.
WINEDLLOVERRIDES = "mscoree,mshtml="
# Boots a prefix that a whole test run shares, once, under a lock.
WINE_RUN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "wine-run")


def wine_environment(prefix_path, base=None):
    """The environment of a Wine run in prefix_path: base (default: this process's
    environment) without any Wine settings or display of its own."""
    env = dict(os.environ if base is None else base)
    for name in ("WINEPREFIX", "PESTKILL_WINEPREFIX", "PESTKILL_BUILD_WINEPREFIX", "WINEDEBUG", "WINEDLLOVERRIDES", "DISPLAY"):
        env.pop(name, None)
    env["WINEPREFIX"] = prefix_path
    env["WINEDEBUG"] = WINEDEBUG
    env["WINEDLLOVERRIDES"] = WINEDLLOVERRIDES
    return env


def _find_wineserver():
    for candidate in (WINESERVER, "/usr/lib/wine/wineserver64", shutil.which("wineserver")):
        if candidate and os.access(candidate, os.X_OK):
            return candidate
    raise RuntimeError("no wineserver found")


# Subtrees that Wine itself rewrites while a test runs, whatever the program under
# test does: its device manager links and unlinks the interfaces of its virtual
# devices, re-enumerates display adapters and network cards, and its service
# manager counts service starts (services stop when idle and start again on
# demand, for instance for the registry export itself). The program under test
# touches none of them: it writes only Run values, image debuggers and the
# Session Manager's PendingFileRenameOperations.
VOLATILE_KEYS = [
    "HKEY_LOCAL_MACHINE\\Hardware\\DeviceMap",
    "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards",
    "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Class",
    "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\DeviceClasses",
    "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\ServiceCurrent",
    "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Video",
    "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Enum",
]


def _is_volatile(header):
    key = header[1:-1].lower().replace("\\wow6432node\\", "\\")
    return any(key == v.lower() or key.startswith(v.lower() + "\\") for v in VOLATILE_KEYS)


def without_volatile_keys(export):
    """A registry export without the subtrees of VOLATILE_KEYS."""
    kept = []
    skipping = False
    for line in export.splitlines():
        if line.startswith("["):
            skipping = _is_volatile(line)
        if not skipping:
            kept.append(line)
    return "\n".join(kept)


def _raise_exit(number, frame):
    raise SystemExit(128 + number)


def shared_prefix_path():
    """The prefix a whole test run shares, as scripts/wine-run finds it: the one
    scripts/test made (PESTKILL_WINEPREFIX), else the build's own
    (PESTKILL_BUILD_WINEPREFIX); None when there is neither."""
    return os.environ.get("PESTKILL_WINEPREFIX") or os.environ.get("PESTKILL_BUILD_WINEPREFIX") or None


class WinePrefix:
    """Context manager: creates the prefix on entry, ends every process in it and
    removes it on exit, also when the test fails. Given the path of a prefix that a
    whole test run shares, it uses that one as the run's fixture booted it (booting
    it first under scripts/wine-run's lock if nobody has), and leaves it and its
    server alone on exit: other tests may be running in it."""

    def __init__(self, tag, lister=None, path=None):
        self.tag = tag
        self.lister = lister
        self.given = path
        self.path = None
        self.env = None
        self.background = []
        self.wineserver = _find_wineserver()

    # -- life cycle ---------------------------------------------------------
    def __enter__(self):
        # A hang-up or termination unwinds like an error, so the prefix is still
        # cleaned up when the terminal closes or the test is stopped.
        for number in (signal.SIGHUP, signal.SIGTERM):
            signal.signal(number, _raise_exit)
        self.path = self.given or tempfile.mkdtemp(prefix="pestkill-e2e-%s." % self.tag, dir="/tmp")
        self.env = wine_environment(self.path)
        try:
            # Every prefix of the harness, shared or a test's own, is booted by the
            # one boot of scripts/wine-run (once, under a lock). Its server goes to
            # the background with its output detached: a server started by a
            # program's first run would inherit the pipes that capture that
            # program's output and hold them open long after it ended. A test's own
            # server stays until "wineserver -k", or a minute after its last program
            # ended if this script dies first.
            boot_env = dict(self.env, PESTKILL_WINEPREFIX=self.path)
            if not self.given:
                boot_env["PESTKILL_WINESERVER_LINGER"] = "60"
            boot = subprocess.run([WINE_RUN, "--boot"], env=boot_env,
                                  stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT, timeout=600)
            if boot.returncode != 0:
                raise RuntimeError(boot.stdout.decode(errors="replace"))
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def __exit__(self, exc_type, exc, tb):
        if self.path is None:
            return False
        if not self.given:
            subprocess.run([self.wineserver, "-k"], env=self.env,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=60)
        for process in self.background:
            try:
                process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        if not self.given:
            shutil.rmtree(self.path, ignore_errors=True)
        self.path = None
        return False

    # -- files --------------------------------------------------------------
    def host_path(self, windows_path):
        """The Linux path of a file on the prefix's drive C:."""
        drive, _, rest = windows_path.partition(":")
        if drive.upper() != "C" or not rest.startswith("\\"):
            raise ValueError("only absolute C: paths: %r" % windows_path)
        parts = [p for p in rest.split("\\") if p]
        return os.path.join(self.path, "drive_c", *parts)

    def put_file(self, windows_path, source):
        """Copies a Linux file to a path in the prefix."""
        target = self.host_path(windows_path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(source, target)

    def replace_file(self, windows_path, source):
        """Puts new contents at a path as a new file renamed over the old one, so a
        process started from the old file keeps running from it while the path now
        names the new one."""
        target = self.host_path(windows_path)
        staged = target + ".incoming"
        shutil.copyfile(source, staged)
        os.rename(staged, target)

    # -- processes ----------------------------------------------------------
    def wine(self, args, timeout=60, check=True):
        """Runs a program of the prefix to completion; returns (exit status, stdout
        bytes, stderr bytes). Output goes through files, not pipes: a Wine program
        may start helpers (explorer, services) that inherit its handles and keep a
        pipe open long after the program itself has ended."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            status = subprocess.run([WINE] + list(args), env=self.env, stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=err, timeout=timeout).returncode
            out.seek(0)
            err.seek(0)
            result = (status, out.read(), err.read())
        if check and status != 0:
            raise RuntimeError("%s exited %d in the Wine prefix %s: %s" % (
                " ".join(args), status, self.path, result[2].decode(errors="replace")))
        return result

    def start(self, windows_path, args=()):
        """Starts a program in the background; it is ended with the prefix."""
        process = subprocess.Popen([WINE, windows_path] + list(args), env=self.env,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        self.background.append(process)
        return process

    def processes(self):
        """(process id, image path) of every live process, in the order of the
        system's process snapshot."""
        return [(pid, path) for pid, path, _ in self.processes_wide()]

    def processes_wide(self):
        """(process id, image path, wide image path) of every live process: the
        image path as the module list gives it in the ANSI code page, and the same
        module's path in wide characters, which also spells what the code page
        cannot."""
        # Taking the snapshot can fail while a process is starting or ending;
        # the lister then exits 1 and is asked again.
        for attempt in range(10):
            status, output, _ = self.wine([self.lister], check=False)
            if status == 0:
                break
            time.sleep(0.2)
        else:
            raise RuntimeError("the process snapshot failed 10 times")
        listed = []
        for line in output.splitlines():
            if line.strip():
                pid, _, rest = line.partition(b"\t")
                path, _, wide = rest.rstrip(b"\r").partition(b"\t")
                listed.append((int(pid), path.decode("latin-1"), wide.decode("utf-8", errors="replace")))
        return listed

    def wait_for_process(self, windows_path, present=True, timeout=30):
        """Waits until a process whose image path is windows_path (ignoring case)
        is listed, or, with present False, until none is. The path may be given
        as the code page spells it or, for names the code page cannot spell, in
        full; the listed paths are returned as the code page spells them."""
        deadline = time.monotonic() + timeout
        wanted = windows_path.lower()
        while True:
            listed = [p for _, p, w in self.processes_wide() if wanted in (p.lower(), w.lower())]
            if bool(listed) == present:
                return listed
            if time.monotonic() > deadline:
                raise AssertionError("%s is %s after %d s" % (
                    windows_path, "not running" if present else "still running", timeout))
            time.sleep(0.2)

    # -- registry -----------------------------------------------------------
    def reg_import(self, text):
        """Imports registry text written in the .reg format (given without header)."""
        handle, name = tempfile.mkstemp(suffix=".reg", dir=self.path)
        with os.fdopen(handle, "wb") as out:
            out.write(codecs.BOM_UTF16_LE)
            body = "Windows Registry Editor Version 5.00\r\n\r\n" + text.replace("\n", "\r\n")
            out.write(body.encode("utf-16-le"))
        try:
            # Wine's reg now and then exits 1 without a word while the prefix's own
            # services start or stop; the same import a moment later succeeds.
            for attempt in range(3):
                status, _, _ = self.wine(["reg", "import", "Z:" + name.replace("/", "\\")], check=attempt == 2)
                if status == 0:
                    break
                time.sleep(1)
        finally:
            os.remove(name)

    def reg_export(self, key=None):
        """The registry text of one key with its subkeys, or of the whole registry
        without its VOLATILE_KEYS when key is None; None when the key does not
        exist."""
        handle, name = tempfile.mkstemp(suffix=".reg", dir=self.path)
        os.close(handle)
        windows_name = "Z:" + name.replace("/", "\\")
        try:
            if key is None:
                self.wine(["regedit", "/E", windows_name])
            elif self.wine(["reg", "export", key, windows_name, "/y"], check=False)[0] != 0:
                return None
            with open(name, "rb") as source:
                text = source.read().decode("utf-16")
            return without_volatile_keys(text) if key is None else text
        finally:
            os.remove(name)

    def settled_registry(self, pause=2.0, timeout=120):
        """The whole registry once Wine's own services have stopped writing to it.
        A fresh prefix keeps rewriting device and network-card keys and the service
        start counter for a while after it booted; two exports that agree across a
        pause mark the end of that."""
        deadline = time.monotonic() + timeout
        previous = self.reg_export()
        while True:
            time.sleep(pause)
            current = self.reg_export()
            if current == previous:
                return current
            if time.monotonic() > deadline:
                raise AssertionError("the registry of the prefix never settled")
            previous = current

    def reg_values(self, key):
        """The values directly under a key as {name: data}; strings as text,
        multi-strings as lists, everything else as its .reg spelling. None when the
        key does not exist. The unnamed default value is named "@"."""
        text = self.reg_export(key)
        if text is None:
            return None
        return parse_reg_values(text, key_path(key))

    def file_tree(self):
        """Every file and directory of drive C: with size and modification time,
        symbolic links by their target, for comparing before and after."""
        root = os.path.join(self.path, "drive_c")
        tree = {}
        for directory, subdirs, files in os.walk(root):
            for name in subdirs + files:
                full = os.path.join(directory, name)
                relative = os.path.relpath(full, root)
                if os.path.islink(full):
                    tree[relative] = ("link", os.readlink(full))
                else:
                    status = os.stat(full)
                    size = None if os.path.isdir(full) else status.st_size
                    tree[relative] = ("entry", size, status.st_mtime_ns)
        return tree


ROOT_NAMES = {
    "HKLM": "HKEY_LOCAL_MACHINE",
    "HKCU": "HKEY_CURRENT_USER",
    "HKU": "HKEY_USERS",
    "HKCR": "HKEY_CLASSES_ROOT",
}


def key_path(key):
    """A key as the .reg format spells it: the root's long name."""
    root, _, rest = key.partition("\\")
    root = ROOT_NAMES.get(root.upper(), root)
    return root + ("\\" + rest if rest else "")


def _unescape(quoted):
    # .reg strings escape a backslash and a double quote with a backslash.
    out = []
    i = 0
    while i < len(quoted):
        if quoted[i] == "\\" and i + 1 < len(quoted):
            i += 1
        out.append(quoted[i])
        i += 1
    return "".join(out)


def _split_value(line):
    """('name', 'rest after =') for one logical value line."""
    if line.startswith("@="):
        return "@", line[2:]
    assert line.startswith('"'), line
    i = 1
    while line[i] != '"':
        i += 2 if line[i] == "\\" else 1
    return _unescape(line[1:i]), line[i + 2:]


def _decode_data(raw):
    if raw.startswith('"'):
        return _unescape(raw[1:-1])
    if raw.startswith("hex(7):"):
        data = bytes(int(b, 16) for b in raw[len("hex(7):"):].split(",") if b)
        return data.decode("utf-16-le").split("\0")
    return raw


def parse_reg_values(text, wanted_key):
    """The values of one key in .reg text, as reg_values describes them."""
    values = {}
    current = None
    logical = ""
    for line in text.splitlines():
        if logical:
            line = logical + line.strip()
            logical = ""
        if line.endswith("\\") and not line.startswith("["):
            logical = line[:-1]
            continue
        if line.startswith("[") and line.endswith("]"):
            current = line[1:-1]
            continue
        if current is None or current.lower() != wanted_key.lower() or "=" not in line:
            continue
        name, raw = _split_value(line)
        values[name] = _decode_data(raw)
    return values
