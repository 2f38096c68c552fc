#!/usr/bin/env python3
"""The generated manual page shows every command of softplc and the options of each."""
import os
import re
import subprocess
import sys

page, softplc = sys.argv[1], sys.argv[2]
env = dict(os.environ, MANWIDTH="200", LC_ALL="C.UTF-8")
shown = subprocess.run(["man", "-l", page], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env,
                       check=True).stdout
shown = re.sub(".\b", "", shown)   # man's overstrike for bold and underline
shown = re.sub(r"[ \t]+", " ", shown)   # justified lines
main_help = subprocess.run([softplc, "--help"], stdout=subprocess.PIPE, text=True).stdout
commands = [line.split()[0] for line in main_help.split("Subcommands:")[1].splitlines()
            if line.startswith("  ") and line.split()[0] != "help"]
missing = []
for must in ["SOFTPLC(1)", "NAME", "SYNOPSIS", "DESCRIPTION", "SEE ALSO", "Exit status"]:
    if must not in shown:
        missing.append(must)
for name in commands:
    if f"The command {name}:" not in shown or f"softplc {name} [OPTIONS]" not in shown:
        missing.append(f"the command {name}")
    for option in re.findall(r"^\s+(--[a-z][a-z-]*)", subprocess.run(
            [softplc, "help", name], stdout=subprocess.PIPE, text=True).stdout, re.M):
        if option not in shown:
            missing.append(f"{name} {option}")
if len(commands) < 5:
    missing.append(f"commands: only {commands}")
if missing:
    print("the manual page lacks: " + ", ".join(missing))
    sys.exit(1)
print(f"the manual page shows {len(commands)} commands with their options")
