#!/usr/bin/env python3
"""The man pages and --help of each installed program name the same options.

Usage: check_reference.py PREFIX

For each program, the options its --help shows (for pmx31570a-cli also each command's
`COMMAND --help`) must be exactly the options the OPTIONS section of its man page lists
as entries, in English and in Japanese; the synopsis and the options section may mention
no other option; the cli's commands are the ones its man page describes; and where --help
lists exit statuses, the man pages list the same ones, each as often (a status with two
meanings, such as 0 for a broadcast write, has two entries in both). An option is
a word that starts with one or two dashes and a letter (--trace-file, -h, -platform).
Exit 0 pass, 1 fail.
"""
import gzip
import os
import re
import subprocess
import sys
import tempfile

PROGRAMS = ("pmx31570a", "pmx31570a-cli", "pmx31570a-sim")
# Section titles of the two languages: synopsis, options, commands.
SECTIONS = {
    "en": {"SYNOPSIS": "synopsis", "OPTIONS": "options", "COMMANDS": "commands",
           "EXIT STATUS": "exit"},
    "ja": {"書式": "synopsis", "オプション": "options", "コマンド": "commands",
           "終了ステータス": "exit"},
}
OPTION = re.compile(r"(?<![\w\-/.:=])(--?[A-Za-z][A-Za-z0-9-]*)")
CLI_COMMAND = re.compile(r"^\s*pmx31570a-cli (?:\[OPTIONS\] )?([a-z][a-z-]*)\b", re.M)
# "Exit status:" in --help, then one status per line: "  0    done: ..."
EXIT_BLOCK = re.compile(r"^Exit status:\n((?:  .*\n)+)", re.M)
EXIT_LINE = re.compile(r"^  (\d+) ", re.M)

failures = []


def fail(message):
    failures.append(message)
    print("FAIL: " + message, file=sys.stderr)


def options_in(text):
    return set(OPTION.findall(text))


def plain(line):
    """The text of one line of man source, without font changes and other escapes."""
    line = re.sub(r"\\f(\[[^]]*\]|\(..|.)", "", line)
    for escape, text in (("\\-", "-"), ("\\(dq", '"'), ("\\(mu", "x"), ("\\ ", " "),
                         ("\\~", " "), ("\\&", ""), ("\\c", ""), ("\\e", "\\")):
        line = line.replace(escape, text)
    if line.startswith("."):
        # A macro's arguments: drop the macro name and the quotes around arguments.
        line = line.split(" ", 1)[1] if " " in line else ""
        line = line.replace('"', " ")
    return line


class ManPage:
    """The parts of a man page the reference is compared with."""

    def __init__(self, path, lang):
        self.path = path
        self.entries = set()  # options named by the entries of OPTIONS
        self.mentioned = set()  # options anywhere in SYNOPSIS, OPTIONS or COMMANDS
        self.commands = set()  # entries of COMMANDS
        self.exits = []  # the statuses EXIT STATUS has entries for, each as often
        with gzip.open(path, "rt", encoding="utf-8") as f:
            lines = f.read().splitlines()
        section = None
        tag_next = False
        for raw in lines:
            if raw.startswith(".\\\""):
                continue
            if raw.startswith(".SH"):
                title = plain(raw).strip()
                section = SECTIONS[lang].get(title)
                tag_next = False
                continue
            if raw.startswith((".TP", ".TQ")):
                tag_next = True
                continue
            text = plain(raw)
            is_tag = tag_next
            tag_next = False
            if section is None:
                continue
            found = options_in(text)
            self.mentioned |= found
            if is_tag and section == "options":
                self.entries |= found
            if is_tag and section == "exit":
                self.exits += [int(n) for n in re.findall(r"\b\d+\b", text)]
            if is_tag and section == "commands":
                words = text.split()
                if words:
                    self.commands.add(words[0])


def run(args, home):
    env = {"PATH": "/usr/bin:/bin", "HOME": home, "LC_ALL": "C.UTF-8",
           "PMX31570A_HOME": home, "XDG_CONFIG_HOME": home, "XDG_RUNTIME_DIR": home}
    result = subprocess.run(args, env=env, capture_output=True, text=True, timeout=60)
    if result.returncode != 0:
        fail(f"{' '.join(args)} ended with status {result.returncode}: {result.stderr}")
    return result.stdout + result.stderr


def describe(names):
    return ", ".join(sorted(names)) or "(none)"


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    prefix = sys.argv[1]
    with tempfile.TemporaryDirectory() as home:
        for program in PROGRAMS:
            binary = os.path.join(prefix, "bin", program)
            help_text = run([binary, "--help"], home)
            commands = set()
            if program == "pmx31570a-cli":
                commands = set(CLI_COMMAND.findall(help_text))
                if not commands:
                    fail(f"{program} --help names no command")
                for command in sorted(commands):
                    help_text += run([binary, command, "--help"], home)
            in_help = options_in(help_text)
            block = EXIT_BLOCK.search(help_text)
            help_exits = sorted(int(n) for n in EXIT_LINE.findall(block.group(1))) if block else None
            if not in_help:
                fail(f"{program} --help names no option")
            pages = {}
            for lang, folder in (("en", "man1"), ("ja", "ja/man1")):
                path = os.path.join(prefix, "share/man", folder, program + ".1.gz")
                if not os.path.isfile(path):
                    fail(f"{path} is missing")
                    continue
                page = ManPage(path, lang)
                pages[lang] = page
                where = f"{program}({lang} man page)"
                if in_help - page.entries:
                    fail(f"{program} --help shows {describe(in_help - page.entries)}, "
                         f"which {where} does not list under its options")
                if page.entries - in_help:
                    fail(f"{where} lists {describe(page.entries - in_help)}, "
                         f"which --help does not show")
                unknown = page.mentioned - page.entries
                if unknown:
                    fail(f"{where} names {describe(unknown)} in its synopsis, options or "
                         f"commands without an entry under its options")
                if help_exits is not None and sorted(page.exits) != help_exits:
                    fail(f"{where} lists the exit statuses {sorted(page.exits)}; "
                         f"--help lists {help_exits}")
                if commands and page.commands != commands:
                    fail(f"{where} describes the commands {describe(page.commands)}; "
                         f"--help shows {describe(commands)}")
            print(f"{program}: {describe(in_help)}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
