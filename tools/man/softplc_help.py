#!/usr/bin/env python3
"""softplc's help, whole, for help2man: the program's own --help, then each command's help.

help2man runs this as if it were softplc (`--help`, `--version`); the softplc to ask is named by
the environment variable SOFTPLC. Each command's help is softplc's own (`softplc help COMMAND`),
with its headings named after the command so that the manual page gets one section per command,
and without the exit statuses, which the program's help already ends with.
"""
import os
import subprocess
import sys

SOFTPLC = os.environ["SOFTPLC"]


def ask(*args):
    done = subprocess.run([SOFTPLC, *args], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    return done.stdout


def commands(main_help):
    names, inside = [], False
    for line in main_help.splitlines():
        if line.rstrip() == "Subcommands:":
            inside = True
        elif inside and line.startswith("  ") and line.strip():
            name = line.split()[0]
            if name != "help":
                names.append(name)
        elif inside and line.strip() and not line.startswith(" "):
            break
    return names


def footer(main_help):
    # The text after the last indented block: the exit statuses that every help repeats.
    lines = main_help.rstrip("\n").splitlines()
    i = len(lines)
    while i > 0 and lines[i - 1].strip() and not lines[i - 1].startswith(" "):
        i -= 1
    return "\n".join(lines[i:])


def command_help(name, main_footer):
    text = ask("help", name)
    if main_footer and main_footer in text:
        text = text.replace(main_footer, "")
    out = []
    for line in text.rstrip("\n").splitlines():
        if line.startswith("Usage: "):
            line = "\nUsage: softplc " + line[len("Usage: "):]
        elif line.rstrip() in ("Options:", "Positionals:"):
            line = ("Options of " if line.startswith("Options") else "Arguments of ") + name + ":"
        out.append(line)
    return "\n".join(out).rstrip() + "\n"


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--version":
        sys.stdout.write(ask("--version"))
        return 0
    main_help = ask("--help")
    sys.stdout.write(main_help.rstrip("\n") + "\n")
    main_footer = footer(main_help)
    for name in commands(main_help):
        sys.stdout.write(f"\nThe command {name}:\n\n" + command_help(name, main_footer))
    return 0


if __name__ == "__main__":
    sys.exit(main())
