#!/usr/bin/python3
"""softplc test through its command line: the program's own scenarios pass with a JUnit report that
an XML parser reads; the broken fixture module fails them naming the variable, the time and the
listing line; scenarios written to fail in each way fail with their exact messages; a malformed file
is refused at its line and column with nothing run; --shard splits stably; -j gives what a serial
run gives.

Usage: scenario_test.py SOFTPLC BIN_DIR SCENARIO_DIR
       scenario_test.py --wine WINDOWS_BIN_DIR SCENARIO_DIR   (exit 77, skipped, without the build)
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

FAILS = """\
period: 10ms
scenarios:
  - name: off by more than its tolerance
    set: {RealRampEnable: TRUE}
    steps:
      - at: 5s
        expect: {RealRampOut: 5.1 ± 0.05}
  - name: an always broken in one cycle
    steps:
      - at: 500ms
        always: LagFilter.Reset = FALSE
        until: 1s
      - at: 700ms
        set: {LagResetCmd: TRUE}
  - name: a within missed by one cycle
    steps:
      - at: 0s
        within: 990ms
        rises: BlinkQ
  - name: an unexpected error
    steps:
      - at: 0s
        errors: none
        for: 1s
  - name: an expected error that is not recorded
    steps:
      - at: 10ms
        errors: [140]
        for: 1s
  - name: <passes> & "quoted"
    steps:
      - at: 1s
        expect: "BlinkQ AND NOT LagResetCmd"
"""

# Each failure's lines as the runner prints them, scenario by scenario.
FAIL_LINES = {
    "off by more than its tolerance": [
        "fails.yaml:7:31: at t=5s (cycle 500): RealRampOut = 5.000014, expected 5.1 ± 0.05",
        "RealRampOut is written at CCodePublic.st:56: RealRampOut := RealRamp.Out;"],
    "an always broken in one cycle": [
        "fails.yaml:11:17: at t=0.7s (cycle 70): LagFilter.Reset = FALSE is FALSE (LagFilter.Reset = TRUE), "
        "expected TRUE from t=0.5s to t=1s; in 1 of 51 cycles",
        "LagFilter.Reset is written at CCodePublic.st:46: "
        "LagFilter(In := LagIn, Gain := 2.0, T1 := T#1s, Reset := LagResetEdge.Q);"],
    "a within missed by one cycle": [
        "fails.yaml:19:16: at t=0.99s (cycle 99): BlinkQ did not rise within 0.99s from t=0s "
        "(at the deadline BlinkQ = FALSE)",
        "BlinkQ is written at CCodePublic.st:60: BlinkQ := Blinker.Q;"],
    "an unexpected error": [
        "fails.yaml:23:17: at t=0s (cycle 0): error 140 (REAL division by zero) recorded (the first of 2 in the "
        "cycle), none expected from t=0s to t=1s; in 1 of 101 cycles"],
    "an expected error that is not recorded": [
        "fails.yaml:28:17: at t=1.01s (cycle 101): error 140 (REAL division by zero) expected from t=0.01s to "
        "t=1.01s, not recorded"],
}

# A malformed file each, with the refusal's place and message.
BAD_FILES = [
    ("syntax.yaml", "name: x\nsteps:\n  - at: 1s\n    expect: {LagOut: 0\n", "syntax.yaml:5:1: end of map flow not found"),
    ("key.yaml", "name: x\nsteps:\n  - at: 1s\n    expcet: {LagOut: 0}\n", "key.yaml:4:5: unknown key 'expcet' in a step"),
    ("time.yaml", "name: x\nsteps:\n  - at: 1 parsec\n    expect: {LagOut: 0}\n",
     "time.yaml:3:9: at: invalid duration '1 parsec'"),
    ("variable.yaml", "name: x\nsteps:\n  - at: 1s\n    expect: {LagOot: 0}\n",
     "variable.yaml:4:14: unknown variable 'LagOot'; did you mean LagOut?"),
    ("condition.yaml", "name: x\nsteps:\n  - at: 1s\n    expect: LagOut > > 2\n",
     "condition.yaml:4:22: the condition 'LagOut > > 2': '>' where a value is expected"),
    ("notbool.yaml", "name: x\nsteps:\n  - at: 1s\n    always: LagOut + 2\n    for: 1s\n",
     "notbool.yaml:4:13: the condition 'LagOut + 2' is REAL, not BOOL"),
    ("backwards.yaml", "name: x\nsteps:\n  - at: 2s\n    expect: {LagOut: 0}\n  - at: 1s\n    expect: {LagOut: 0}\n",
     "backwards.yaml:5:9: steps go forward in time"),
    ("tolerance.yaml", "name: x\nsteps:\n  - at: 1s\n    expect: {BlinkQ: TRUE ± 1}\n",
     "tolerance.yaml:4:22: BlinkQ: BlinkQ is a BOOL: expect TRUE or FALSE"),
]

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def run(command, cwd, wine=False):
    if wine:
        command = ["wine"] + command
    done = subprocess.run(command, cwd=cwd, capture_output=True, timeout=300, stdin=subprocess.DEVNULL,
                          env=dict(os.environ, WINEDEBUG="-all"))
    out = done.stdout.decode("utf-8", "replace").replace("\r\n", "\n")
    err = done.stderr.decode("utf-8", "replace").replace("\r\n", "\n")
    if wine:   # the Windows program joins the paths it finds with backslashes
        out, err = out.replace("\\", "/"), err.replace("\\", "/")
    return done.returncode, out, err


def junit(path):
    """The report as CI servers read it: its suites and cases, every case with a classname and time."""
    root = ET.parse(path).getroot()
    check(root.tag == "testsuites", "the report's root is testsuites")
    cases = {}
    for suite in root.findall("testsuite"):
        for case in suite.findall("testcase"):
            check(case.get("classname") and float(case.get("time")) >= 0, "a testcase has classname and time")
            failure = case.find("failure")
            cases[case.get("name")] = (suite.get("name"), None if failure is None else failure)
    return root, cases


def program_scenarios(softplc, scenarios, work, wine, module):
    """The program's own scenarios pass, and fail against the broken module at the ramp."""
    code, out, err = run([softplc, "test", scenarios, "--junit", "report.xml"], work, wine)
    check(code == 0, f"the program's scenarios pass (status {code}):\n{out}{err}")
    root, cases = junit(os.path.join(work, "report.xml"))
    check(len(cases) >= 10 and root.get("failures") == "0" and root.get("errors") == "0",
          f"the report has the scenarios, none failed: {root.attrib}")
    check(re.search(r"\n\d+ scenarios: \d+ passed, 0 failed \(4 files, [0-9.]+ s\)\n$", out), f"summary: {out}")
    if module is None:
        return
    code, out, err = run([softplc, "test", scenarios, "--module", module], work, wine)
    check(code == 1, f"the broken module fails (status {code})")
    for line in ["ramps.yaml: both ramps reach their target in about 100 s (120 s simulated, ",
                 "ramps.yaml:21:54: at t=5s (cycle 500): IntRampOut = 0, expected 5\n"
                 "    IntRampOut is written at CCodePublic.st:51: IntRampOut := IntRamp.Out;",
                 "ramps.yaml:64:56: at t=1.01s (cycle 101): IntRamp.Value = 0, expected 0.01 ± 0.0001\n"
                 "    IntRamp.Value is written at CCodePublic.st:221: Value := NewValue;"]:
        check(line in out, f"the broken module's failure names the variable, time and listing line: {line!r}\n{out}")


def failing_scenarios(softplc, work, wine):
    with open(os.path.join(work, "fails.yaml"), "w", encoding="utf-8") as f:
        f.write(FAILS)
    code, out, err = run([softplc, "test", "fails.yaml", "--junit", "fails.xml"], work, wine)
    check(code == 1, f"failed scenarios give status 1, got {code}: {err}")
    for name, lines in FAIL_LINES.items():
        check(f"FAIL fails.yaml: {name} (" in out, f"{name} fails")
        check("\n  " + "\n    ".join(lines) + "\n" in out, f"{name}: the lines {lines}\nin\n{out}")
    check('PASS fails.yaml: <passes> & "quoted" (1 s simulated, ' in out, "the last one passes")
    check(out.endswith("") and "6 scenarios: 1 passed, 5 failed (1 file, " in out, f"summary: {out}")
    root, cases = junit(os.path.join(work, "fails.xml"))
    check(root.get("tests") == "6" and root.get("failures") == "5", f"junit counts {root.attrib}")
    check(cases['<passes> & "quoted"'][1] is None, "the passed case has no failure, its name unescaped")
    for name, lines in FAIL_LINES.items():
        suite, failure = cases[name]
        check(suite == "fails.yaml" and failure is not None, f"{name} is a failure in the file's suite")
        check(failure.get("message") == lines[0], f"{name}: message {failure.get('message')!r}")
        check(failure.text.split("\n")[:len(lines)] == [lines[0]] + ["  " + l for l in lines[1:]],
              f"{name}: text {failure.text!r}")


def trace_failures(softplc, work):
    """--trace-failures: a failed scenario's trace with the variables it checks, and its plot."""
    code, out, err = run([softplc, "test", "fails.yaml", "--trace-failures", "traces", "--filter", "ALWAYS broken"], work)
    stem = os.path.join("traces", "fails--an_always_broken_in_one_cycle")
    check(code == 1 and f"  trace written to {stem}.csv\n  plot written to {stem}.png\n" in out, f"{out}{err}")
    check(sorted(os.listdir(os.path.join(work, "traces"))) == [os.path.basename(stem) + e for e in (".csv", ".png")],
          "only the failed scenario leaves a trace and a plot")
    with open(os.path.join(work, stem + ".csv"), encoding="utf-8") as f:
        rows = f.read().splitlines()
    check(rows[0].endswith(",BlinkQ,LagFilter.Reset") and len(rows) == 102, f"the trace: {rows[0]}, {len(rows)} rows")
    check("1 scenario: 0 passed, 1 failed (1 file, 1 of 6 scenarios selected, " in out, out)


def bad_files(softplc, work, wine):
    folder = os.path.join(work, "bad")
    os.makedirs(folder)
    for name, text, _ in BAD_FILES:
        with open(os.path.join(folder, name), "w", encoding="utf-8") as f:
            f.write(text)
    shutil.copy(os.path.join(work, "fails.yaml"), folder)
    code, out, err = run([softplc, "test", "bad", "--junit", "bad.xml"], work, wine)
    check(code == 6 and out == "", f"bad files: status 6 and nothing run, got {code}:\n{out}")
    check(not os.path.exists(os.path.join(work, "bad.xml")), "no report for bad files")
    for name, _, message in BAD_FILES:
        check(f"softplc: {os.path.join('bad', message)}" in err, f"{name}: {message!r} in\n{err}")
    check(f"softplc: {len(BAD_FILES)} of {len(BAD_FILES) + 1} scenario files are wrong; no scenario ran\n" in err, err)


def shards_and_jobs(softplc, scenarios, work, wine):
    def lines(out):   # the scenario lines without their wall times
        return [re.sub(r", [0-9.]+ s\)$", ")", l) for l in out.splitlines() if l.startswith(("PASS", "FAIL", "  "))]
    code, serial, _ = run([softplc, "test", scenarios, "fails.yaml"], work, wine)
    code2, parallel, err = run([softplc, "test", scenarios, "fails.yaml", "-j", "3"], work, wine)
    check(code == code2 == 1 and lines(serial) == lines(parallel), f"-j 3 gives the serial results:\n{parallel}{err}")
    names = [l for l in lines(serial) if not l.startswith("  ")]
    shards = []
    for k in (1, 2, 3):
        _, out, _ = run([softplc, "test", scenarios, "fails.yaml", "--shard", f"{k}/3"], work, wine)
        shards.append([l for l in lines(out) if not l.startswith("  ")])
    check(sorted(sum(shards, [])) == sorted(names), "the shards together run every scenario once")
    check(max(map(len, shards)) - min(map(len, shards)) <= 1, f"the shards are equal: {list(map(len, shards))}")
    _, again, _ = run([softplc, "test", "fails.yaml", scenarios, "--shard", "2/3"], work, wine)
    check(sorted(l for l in lines(again) if not l.startswith("  ")) == sorted(shards[1]),
          "a shard holds the same scenarios whatever the order of the paths")
    code, _, err = run([softplc, "test", scenarios, "--shard", "4/3"], work, wine)
    check(code == 2 and "--shard expects K/N with 1 <= K <= N" in err, f"a bad shard is a usage error: {err}")


def main():
    if sys.argv[1] == "--wine":
        win_bin, scenarios = sys.argv[2], sys.argv[3]
        why = None
        if not os.path.isfile(os.path.join(win_bin, "softplc.exe")):
            why = f"no Windows build in {win_bin}"
        elif shutil.which("wine") is None:
            why = "wine is not installed"
        if why:
            if os.environ.get("KX_REQUIRE_WINDOWS"):
                print("FAIL:", why)
                return 1
            print("skipped:", why)
            return 77
        softplc, wine = os.path.join(win_bin, "softplc.exe"), True
        module = os.path.join(win_bin, "CCodePublic_broken.dll")
    else:
        softplc, bin_dir, scenarios = sys.argv[1], sys.argv[2], sys.argv[3]
        wine, module = False, os.path.join(bin_dir, "CCodePublic_broken.so")
    with tempfile.TemporaryDirectory() as work:
        # Relative paths: the Windows program sees the same folders from its current directory.
        local = os.path.join(work, "scenarios")
        shutil.copytree(scenarios, local)
        program_scenarios(softplc, "scenarios", work, wine, os.path.relpath(module, work) if wine else module)
        failing_scenarios(softplc, work, wine)
        bad_files(softplc, work, wine)
        if not wine:
            shards_and_jobs(softplc, "scenarios", work, wine)
            trace_failures(softplc, work)
    print("FAILED" if failures else "passed", f"({len(failures)} failures)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
