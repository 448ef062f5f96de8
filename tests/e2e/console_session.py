"""pestkill.exe run under Wine the way a user runs it: standard output goes to a
file, standard input is a pseudo-terminal, so the C runtime's getc and _getch read
the terminal. The output file is polled to learn where the dialogue stands."""
import os
import tempfile
import time

import pexpect

from wine_prefix import WINE

# The exact console texts. Standard output is in text mode, so every "\n" that the
# program prints arrives as "\r\n".
BANNER_1 = "\nUtility to remove Trojan.Kestrelon.Gen.\n"
BANNER_2 = "Copyright (C) 2026 the pestkill authors\n"
SCANNING = "\nScanning Memory...\n\n"
NOTHING_FOUND = "No malware found.\n"
COMPLETED = "\nScanning Completed.\n"
DETECTED = "Detected: Trojan.Kestrelon.Gen\n\n"
RESTART_NOTICE = "For proper cleanup system restart is required.\n"
RESTART_QUESTION = "\nDo you want to restart your computer now? (y/n) : "


def console_bytes(text):
    """What the text-mode C runtime writes for text."""
    return text.replace("\n", "\r\n").encode("latin-1")


def opening():
    return BANNER_1 + BANNER_2 + SCANNING


def clean_dialogue():
    return opening() + NOTHING_FOUND + COMPLETED


def detection_dialogue(reported_path):
    """Everything printed up to and including the restart question."""
    return opening() + "File: %s\n" % reported_path + DETECTED + RESTART_NOTICE + RESTART_QUESTION


class ConsoleSession:
    """One run of a console program. Use as a context manager: the program is
    ended on exit if the test has not let it finish."""

    def __init__(self, prefix, exe, args=(), timeout=120, poll=0.05):
        """poll is the pause in seconds between two looks at the output; a
        benchmark that times the run takes a short one."""
        self.prefix = prefix
        self.timeout = timeout
        self.poll = poll
        handle, self.output_path = tempfile.mkstemp(prefix="stdout.", suffix=".txt", dir=prefix.path)
        os.close(handle)
        command = 'exec "$0" "$@" > "%s"' % self.output_path
        self.started = time.monotonic()
        self.child = pexpect.spawn("/bin/sh", ["-c", command, WINE, exe] + list(args),
                                   env=prefix.env, timeout=timeout, echo=False)

    def __enter__(self):
        return self

    def __exit__(self, exc_type, exc, tb):
        if self.child.isalive():
            self.child.terminate(force=True)
        self.child.close()
        return False

    def output(self):
        with open(self.output_path, "rb") as source:
            return source.read()

    def wait_for_output(self, expected):
        """Waits until the whole output so far equals expected (bytes) and returns
        it; fails at once when the output stops being a beginning of it, or when
        the program ends first."""
        deadline = time.monotonic() + self.timeout
        while True:
            seen = self.output()
            if seen == expected:
                return seen
            if not expected.startswith(seen):
                raise AssertionError("output differs:\n  seen     %r\n  expected %r" % (seen, expected))
            if not self.child.isalive():
                raise AssertionError("program ended early (status %s); output %r"
                                     % (self._status(), seen))
            if time.monotonic() > deadline:
                raise AssertionError("no complete output after %d s: %r" % (self.timeout, seen))
            time.sleep(self.poll)

    def wait_for_text(self, fragment):
        """Waits until the output contains fragment (bytes) and returns it."""
        deadline = time.monotonic() + self.timeout
        while True:
            seen = self.output()
            if fragment in seen:
                return seen
            if not self.child.isalive():
                raise AssertionError("program ended early (status %s); output %r"
                                     % (self._status(), seen))
            if time.monotonic() > deadline:
                raise AssertionError("no %r after %d s: %r" % (fragment, self.timeout, seen))
            time.sleep(self.poll)

    def assert_waiting(self, seconds=1.5):
        """The program is blocked on input: it stays alive and prints nothing more
        for a while."""
        before = self.output()
        time.sleep(seconds)
        if not self.child.isalive():
            raise AssertionError("program ended instead of waiting (status %s)" % self._status())
        after = self.output()
        if after != before:
            raise AssertionError("program printed while it should wait: %r" % after[len(before):])

    def send(self, text):
        self.child.send(text)

    def finish_with_key(self, key="k"):
        """Presses one key and returns the exit status once the program ended."""
        self.child.send(key)
        return self.wait_for_end()

    def wait_for_end(self):
        """Returns the exit status once the program ended by itself."""
        self.child.expect(pexpect.EOF, timeout=self.timeout)
        self.child.close()
        return self._status()

    def seconds(self):
        return time.monotonic() - self.started

    def _status(self):
        if self.child.isalive():
            return None
        self.child.close()
        if self.child.signalstatus is not None:
            return "signal %d" % self.child.signalstatus
        return self.child.exitstatus



def scan_answering_no(prefix, exe, reported_path):
    """Runs exe through a detection of reported_path: waits at the restart question,
    answers "n", waits for the key at the end and presses one. Returns (exit status,
    everything printed, what the dialogue must print)."""
    asked = detection_dialogue(reported_path)
    with ConsoleSession(prefix, exe) as session:
        session.wait_for_output(console_bytes(asked))
        session.assert_waiting()
        session.send("n\r")
        session.wait_for_output(console_bytes(asked + COMPLETED))
        session.assert_waiting()
        status = session.finish_with_key()
        output = session.output()
    return status, output, console_bytes(asked + COMPLETED)
