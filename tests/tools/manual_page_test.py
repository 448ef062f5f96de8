#!/usr/bin/env python3
"""The manual page of pestkill-scan against the scanner itself: every option that
--help lists has an entry under OPTIONS and every entry there is an option --help
lists; the page has the usual sections and the scanner's version; man, groff and
lexgrog read it without a warning.

    manual_page_test.py --scanner PATH --page PATH

Options are compared by name only, so a new option needs its line in --help and its
entry in the page's source, nothing here.
"""
import argparse
import os
import re
import subprocess
import sys
import unittest

ARGS = None

SECTIONS = ["NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "OUTPUT", "EXIT STATUS", "EXAMPLES",
            "FILES", "SEE ALSO"]

# An option at the start of a line of the option list: "  -r, --recursive  ..." or
# "      --exclude GLOB ..." in --help, the tag of a .TP entry (indented by 7) in the
# rendered page.
OPTION = r"(--?[A-Za-z0-9][A-Za-z0-9-]*|--)"
HELP_OPTION_LINE = re.compile(r"^ {2,}" + OPTION + r"(?:, " + OPTION + r")?(?=[ =]|$)")
PAGE_OPTION_LINE = re.compile(r"^ {7}" + OPTION + r"(?:, " + OPTION + r")?(?=[ =]|$)")


def run(command, **keywords):
    return subprocess.run(command, capture_output=True, text=True, timeout=60, **keywords)


def options_in(lines, pattern):
    found = set()
    for line in lines:
        match = pattern.match(line)
        if match:
            found.update(name for name in match.groups() if name)
    return found


def rendered_page(warnings):
    """The page as plain ASCII text (no overstriking), and what groff said."""
    done = run(["groff", "-man", "-Tascii", "-P-cbou", "-w" + warnings, ARGS.page],
               env=dict(os.environ, LC_ALL="C"))
    return done.stdout, done.stderr


def section_lines(text, name):
    """The lines of one section: from its heading to the next heading at column 0."""
    lines = text.splitlines()
    start = lines.index(name) + 1
    end = next((at for at in range(start, len(lines)) if re.match(r"^[A-Z]", lines[at])), len(lines))
    return lines[start:end]


class ManualPage(unittest.TestCase):
    def test_lists_the_options_of_help_and_no_others(self):
        done = run([ARGS.scanner, "--help"])
        self.assertEqual(done.returncode, 0, done.stderr)
        in_help = options_in(done.stdout.splitlines(), HELP_OPTION_LINE)
        # The option list itself is found: a handful of names every build has.
        self.assertTrue({"-r", "--recursive", "--json", "--help", "--version", "--"} <= in_help, in_help)
        text, _ = rendered_page("all")
        in_page = options_in(section_lines(text, "OPTIONS"), PAGE_OPTION_LINE)
        self.assertEqual(sorted(in_help - in_page), [], "in --help but not under OPTIONS in the page")
        self.assertEqual(sorted(in_page - in_help), [], "under OPTIONS in the page but not in --help")

    def test_has_the_usual_sections_in_order(self):
        text, _ = rendered_page("all")
        headings = [line for line in text.splitlines() if re.match(r"^[A-Z][A-Z ]+$", line)]
        self.assertEqual(headings, SECTIONS)

    def test_names_the_version_of_the_scanner(self):
        done = run([ARGS.scanner, "--version"])
        version = done.stdout.split("\n", 1)[0].split(" ")[-1]
        text, _ = rendered_page("all")
        footer = [line for line in text.splitlines() if line.strip()][-1]
        self.assertIn("pestkill " + version, footer)
        self.assertIsNone(re.search(r"@[A-Z_]+@", text), "a placeholder of the page source was left unfilled")

    def test_renders_without_warnings(self):
        _, warnings = rendered_page("all")
        self.assertEqual(warnings, "", "groff -wall")
        # As Debian's checks read it: man-db with groff's warnings, in UTF-8.
        done = run(["man", "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z", ARGS.page],
                   env=dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="80"))
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stderr, "", "man --warnings")

    def test_whatis_entry_is_read_by_lexgrog(self):
        done = run(["lexgrog", ARGS.page])
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertIn(": \"pestkill-scan - find Trojan.Kestrelon.Gen", done.stdout)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--scanner", required=True)
    parser.add_argument("--page", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
