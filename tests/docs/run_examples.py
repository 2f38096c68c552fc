#!/usr/bin/env python3
"""Runs the shell examples of the guide against a build, as written.

An example is a fenced ``sh`` block right after the line ``<!-- example -->`` (or
``<!-- example timeout=SECONDS -->``) in a Markdown file. Each runs in an empty folder of its own
with bash (-e, -o pipefail), the build's bin folder first on PATH, and must end with status 0
within its time (60 s unless given). Prints each block's place and, for a failure, its output.
"""
import argparse
import os
import pathlib
import re
import subprocess
import sys
import tempfile

MARK = re.compile(r"^<!--\s*example(?:\s+timeout=(\d+))?\s*-->\s*$")


def examples(path):
    lines = path.read_text(encoding="utf-8").splitlines()
    i = 0
    while i < len(lines):
        mark = MARK.match(lines[i])
        i += 1
        if not mark:
            continue
        if i >= len(lines) or lines[i].strip() != "```sh":
            raise SystemExit(f"{path}:{i}: an example mark must be followed by a ```sh block")
        start = i + 1
        end = start
        while end < len(lines) and lines[end].strip() != "```":
            end += 1
        if end == len(lines):
            raise SystemExit(f"{path}:{start}: the example's block is not closed")
        yield start, "\n".join(lines[start:end]) + "\n", int(mark.group(1) or 60)
        i = end + 1


def run(path, line, script, timeout, env):
    with tempfile.TemporaryDirectory(prefix="softplc-example-") as folder:
        try:
            done = subprocess.run(["bash", "-e", "-o", "pipefail", "-c", script], cwd=folder, env=env,
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout,
                                  start_new_session=True)
        except subprocess.TimeoutExpired as late:
            return f"did not end within {timeout} s", late.stdout or b""
        if done.returncode != 0:
            return f"ended with status {done.returncode}", done.stdout
        return None, done.stdout


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True, help="the build's bin folder (softplc and the modules)")
    parser.add_argument("paths", nargs="+", help="Markdown files or folders of them")
    args = parser.parse_args()
    env = dict(os.environ)
    env["PATH"] = str(pathlib.Path(args.bin).resolve()) + os.pathsep + env.get("PATH", "")
    env.setdefault("WINEDEBUG", "-all")
    files = []
    for name in args.paths:
        p = pathlib.Path(name)
        files += sorted(p.rglob("*.md")) if p.is_dir() else [p]
    count = failed = 0
    for path in files:
        for line, script, timeout in examples(path):
            count += 1
            why, output = run(path, line, script, timeout, env)
            place = f"{path}:{line}"
            if why:
                failed += 1
                print(f"FAIL {place}: {why}\n{script}--- output ---\n{output.decode(errors='replace')}")
            else:
                print(f"ok   {place}")
    print(f"{count} examples, {failed} failed")
    if count == 0:
        print("no examples found")
        return 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
