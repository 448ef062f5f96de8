#!/usr/bin/python3
"""The demonstration behind scripts/demo: a throwaway Wine prefix with one running
program whose file on disk is a harmless look-alike of the trojan, and pestkill.exe
run there in the user's own terminal. Afterwards it shows what became of the file
and the process, and removes the prefix.

Without a terminal on standard input (CI, a pipe) the program still runs on a
pseudo-terminal, and the demonstration answers "n" and presses a key itself."""
import argparse
import os
import subprocess
import sys
import time

from console_session import COMPLETED, RESTART_QUESTION, ConsoleSession, console_bytes
from planting import pending_deletions, plant
from wine_prefix import WINE, WinePrefix

PLANTED = "C:\\Program Files\\Demo\\demo.exe"


def say(text):
    print("demo: " + text, flush=True)


def run_in_terminal(prefix, pestkill):
    return subprocess.run([WINE, pestkill], env=prefix.env).returncode


def run_scripted(prefix, pestkill):
    """The program's standard output goes to a file, shown here as it grows;
    standard input is a pseudo-terminal that gets the answers."""
    shown = 0

    def show(output):
        nonlocal shown
        sys.stdout.write(output[shown:].decode("latin-1").replace("\r\n", "\n"))
        sys.stdout.flush()
        shown = len(output)

    with ConsoleSession(prefix, pestkill) as session:
        show(session.wait_for_text(console_bytes(RESTART_QUESTION)))
        time.sleep(1)
        sys.stdout.write("n\n")
        session.send("n\r")
        show(session.wait_for_text(console_bytes(COMPLETED)))
        time.sleep(1)
        status = session.finish_with_key()
        show(session.output())
    return status


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--pestkill", required=True)
    parser.add_argument("--sleeper", required=True)
    parser.add_argument("--lister", required=True)
    parser.add_argument("--make-images", required=True)
    parser.add_argument("--variant", default="a", choices="abcd")
    args = parser.parse_args()

    say("making a throwaway Wine prefix (about ten seconds)")
    with WinePrefix("demo", lister=args.lister) as prefix:
        say("prefix %s" % prefix.path)
        images = os.path.join(prefix.path, "images")
        os.mkdir(images)
        prefix.wine([args.make_images, "Z:" + images.replace("/", "\\")])
        image = os.path.join(images, "variant-%s.exe" % args.variant)
        started = []
        plant(prefix, args.sleeper, PLANTED, image, started)
        say("started a harmless program as %s, then put a look-alike of variant %s"
            % (PLANTED, args.variant.upper()))
        say("at that path: the program keeps running, its file on disk is now the look-alike")
        if sys.stdin.isatty():
            say("running pestkill.exe; answer the restart question with n, then press a key")
            print(flush=True)
            status = run_in_terminal(prefix, args.pestkill)
        else:
            say("no terminal on standard input: answering n and pressing a key automatically")
            print(flush=True)
            status = run_scripted(prefix, args.pestkill)
        print(flush=True)
        say("pestkill.exe exited with status %s" % status)
        on_disk = os.path.exists(prefix.host_path(PLANTED))
        if not on_disk:
            say("the look-alike file was deleted at once")
        elif "\\??\\" + PLANTED in pending_deletions(prefix):
            say("the look-alike file is scheduled for deletion at the next restart")
        else:
            say("the look-alike file is still there")
        running = any(p.lower() == PLANTED.lower() for _, p in prefix.processes())
        say("the program %s" % ("is still running: a signature match removes only the file"
                                if running else "is no longer running"))
        say("removing the prefix")
    return 0


if __name__ == "__main__":
    sys.exit(main())
