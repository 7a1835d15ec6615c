#!/usr/bin/env python3
"""Mutation testing: how many small faults in the product code the tests catch.

    scripts/mutate.py --list --seed 7 --count 150     the sample, nothing built
    scripts/mutate.py --seed 7 --count 150 --build build --exclude-label python \\
        --out before.json                             run it
    scripts/mutate.py compare before.json after.json  kills lost between two runs

A long run can be split over checkouts that run side by side: --shard 1/2
in one and --shard 2/2 in another take every second mutant of the same
sample each; compare takes the shards' files joined by commas. Whether a
rework lost a kill needs only the mutants the earlier run killed
(--killed-in before.json); the rest can follow (--not-killed-in).

Each mutant changes one token of one line of the product sources (the
folders in PRODUCT): a relational, arithmetic or logical operator, a
constant, or the condition of an if. The candidates come from the product
sources alone, in a fixed order, so a seed picks the same mutants for any
version of the tests. One at a time, a mutant is written into its file, the
build folder rebuilt and ctest run; a failing or timed-out test kills it, a
mutant that does not compile counts as a build error and not in the kill
rate. The file is written back after every mutant, also on Ctrl-C, and the
build folder rebuilt at the end.
"""
import argparse
import json
import os
import random
import re
import signal
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
PRODUCT = ["frame", "model_input", "bdf_export", "statemat", "road_profile", "host", "cli", "analysis"]
WINDOWS_ONLY = {"frame/win_math.cpp"}  # compiled for the Windows build alone
# Macros whose value on the Linux build is known; a branch of #if/#ifdef on
# one of them that is not compiled there is not mutated.
MACROS = {"_WIN32": False, "__cplusplus": True, "__GNUC__": True, "__SIZEOF_INT128__": True,
          "EIGEN_USE_LAPACKE": True}
KILLS = ("killed", "timeout")

# --- reading the sources -------------------------------------------------

IDENT = re.compile(r"[A-Za-z_]\w*")
NUMBER = re.compile(r"\.?\d(?:[eEpP][+-]|'(?=\w)|[\w.])*")


def mask(text):
    """The text with comments and the insides of string and character
    literals blanked out; lengths and line breaks stay as they are."""
    out, i, n = list(text), 0, len(text)

    def blank(a, b):
        for k in range(a, b):
            if out[k] != "\n":
                out[k] = " "

    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            blank(i, j)
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            blank(i, j)
            i = j
        elif c.isdigit() or (c == "." and text[i + 1:i + 2].isdigit()):
            i = NUMBER.match(text, i).end()
        elif c.isalpha() or c == "_":
            j = IDENT.match(text, i).end()
            if text.startswith('"', j) and text[j - 1] == "R":  # raw string
                m = re.compile(r'"([^(\s]*)\(').match(text, j)
                end = text.find(")" + m.group(1) + '"', m.end()) if m else -1
                if end >= 0:
                    blank(j + 1, end + len(m.group(1)) + 1)
                    j = end + len(m.group(1)) + 2
            i = j
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            blank(i + 1, min(j, n))
            i = j + 1
        else:
            i += 1
    return "".join(out)


TOKEN = re.compile(r"""(?P<num>\.?\d(?:[eEpP][+-]|'(?=\w)|[\w.])*)|(?P<id>[A-Za-z_]\w*)|(?P<op>
    <=>|<<=|>>=|->\*|\.\.\.|->|<<|>>|<=|>=|==|!=|&&|\|\||\+\+|--|\+=|-=|\*=|/=|%=|&=|\|=|\^=|::|\S)""",
                   re.X)
KEYWORDS = set("""alignas alignof asm auto bool break case catch char class const consteval constexpr
    constinit const_cast continue co_await co_return decltype default delete do double dynamic_cast
    else enum explicit export extern float for friend goto if inline int long mutable namespace new
    noexcept operator private protected public register reinterpret_cast requires return short signed
    sizeof static static_assert static_cast struct switch template throw try typedef typeid typename
    union unsigned using virtual void volatile while""".split())


def tokens(line):
    return [(m.lastgroup, m.group(), m.start(), m.end()) for m in TOKEN.finditer(line)]


def spaced(line, start, end):
    """A binary operator as clang-format writes it: blanks on both sides."""
    return start > 0 and line[start - 1] == " " and (end == len(line) or line[end] == " ")


def operand_end(tok):
    return tok and (tok[0] == "num" or (tok[0] == "id" and tok[1] not in KEYWORDS)
                    or tok[1] in (")", "]", "'"))


def operand_start(tok):
    return tok and (tok[0] in ("num", "id") or tok[1] in ("(", "'", "!", "-", "::"))


STRINGS = {'"', "string", "to_string", "str", "substr"}


def joins_strings(toks, k):
    """Whether the + at toks[k] may join strings: a string literal or a
    std::string maker beside it, outside any parentheses of its own."""
    for step in (-1, 1):
        depth, i = 0, k + step
        while 0 <= i < len(toks):
            text = toks[i][1]
            if text in ("(", "[", "{", ")", "]", "}"):
                depth += 1 if (text in ")]}") == (step < 0) else -1
                if depth < 0:
                    break
            elif depth == 0 and text in (",", ";", "=", "?", ":", "return", "<<"):
                break
            elif depth == 0 and text in STRINGS:
                return True
            i += step
    return False


SWAP = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "==",
        "+": "-", "-": "+", "*": "/", "/": "*", "&&": "||", "||": "&&", "true": "false", "false": "true"}


def line_mutants(line, real):
    """(column, length, replacement, operator, shown original, shown replacement)
    for every mutant of a line, found in its masked text and taken from its
    real one."""
    toks, found = tokens(line), []
    for k, (kind, text, a, b) in enumerate(toks):
        prev = toks[k - 1] if k else None
        nxt = toks[k + 1] if k + 1 < len(toks) else None
        if text in ("<", "<=", ">", ">=", "==", "!=") and spaced(line, a, b) \
                and not (prev and prev[1] in ("template", "operator")):
            found.append((a, b - a, SWAP[text], "relational", text, SWAP[text]))
        elif text in ("+", "-", "*", "/") and spaced(line, a, b) and operand_end(prev) \
                and operand_start(nxt) and not (text == "+" and joins_strings(toks, k)):
            found.append((a, 1, SWAP[text], "arithmetic", text, SWAP[text]))
        elif text in ("&&", "||") and spaced(line, a, b):
            found.append((a, 2, SWAP[text], "logical", text, SWAP[text]))
        elif text == "!" and nxt and nxt[2] == b and (nxt[0] == "id" or nxt[1] == "("):
            found.append((a, 1, "", "logical", "!" + nxt[1], nxt[1]))
        elif text in ("true", "false"):
            found.append((a, b - a, SWAP[text], "constant", text, SWAP[text]))
        elif kind == "num" and re.fullmatch(r"(0|[1-9][\d']*)[uUlLzZ]*", text):
            digits = re.match(r"[\d']+", text).group()
            value = int(digits.replace("'", ""))
            new = str(0 if value == 1 else value + 1) + text[len(digits):]
            found.append((a, b - a, new, "constant", text, new))
        elif text == "if" and nxt and nxt[1] == "(":
            found.extend(negated_if(real, toks, k + 1))
    return found


def negated_if(line, toks, open_k):
    depth = 0
    for k in range(open_k, len(toks)):
        text = toks[k][1]
        depth += text in ("(", "[", "{")
        depth -= text in (")", "]", "}")
        if depth == 1 and text in (";", "="):  # an init-statement or a declaration
            return []
        if depth == 0:
            a, b = toks[open_k][3], toks[k][2]
            cond = line[a:b]
            return [(a, b - a, "!(" + cond + ")", "negate_if", f"if ({cond})", f"if (!({cond}))")]
    return []  # the condition goes on past the line


def active_lines(masked_lines):
    """Which lines are compiled code worth mutating: no preprocessor lines,
    no static_assert, nothing in a branch the Linux build leaves out."""
    active, stack, continued, in_assert = [], [], False, False
    for line in masked_lines:
        s = line.strip()
        if continued or s.startswith("#"):
            continued = s.endswith("\\")
            d = re.match(r"#\s*(\w+)\s*(.*)", s)
            word, arg = (d.group(1), d.group(2).strip()) if d else ("", "")
            m = re.fullmatch(r"(!?)\s*defined\s*\(?\s*(\w+)\s*\)?", arg)
            if word in ("ifdef", "ifndef", "if"):
                name = arg if word != "if" else (m.group(2) if m else None)
                value = MACROS.get(name)
                if value is not None and (word == "ifndef" or (m and m.group(1))):
                    value = not value
                stack.append(value)
            elif word in ("elif", "else") and stack:
                stack[-1] = None if word == "elif" or stack[-1] is None else not stack[-1]
            elif word == "endif" and stack:
                stack.pop()
            active.append(False)
            continue
        live = False not in stack and s != ""
        if "static_assert" in s:
            in_assert = True
        active.append(live and not in_assert)
        if in_assert and s.endswith(";"):
            in_assert = False
    return active


def product_files():
    out = git("ls-files", "--", *PRODUCT).split()
    return sorted(f for f in out if f.endswith((".cpp", ".h")) and f not in WINDOWS_ONLY)


def candidates():
    found = []
    for path in product_files():
        text = (ROOT / path).read_text(encoding="utf-8")
        real, masked = text.split("\n"), mask(text).split("\n")
        for no, (line, live) in enumerate(zip(masked, active_lines(masked)), 1):
            if live:
                found.extend((path, no) + m for m in line_mutants(line, real[no - 1]))
    return found


def sample(seed, count):
    every = candidates()
    picked = random.Random(seed).sample(every, min(count, len(every)))
    picked.sort(key=lambda m: (m[0], m[1], m[2]))
    return [dict(id=f"m{i:03d}", file=m[0], line=m[1], column=m[2], length=m[3], replacement=m[4],
                 operator=m[5], original=m[6], mutated=m[7]) for i, m in enumerate(picked, 1)]


# --- running them --------------------------------------------------------

def git(*args):
    return subprocess.run(["git", *args], cwd=ROOT, check=True, capture_output=True,
                          text=True).stdout


def call(cmd):
    """Runs cmd in a process group of its own, which goes down with it when
    this script is interrupted: no compiler goes on writing to the build
    folder behind the final rebuild. Gives the exit status and the output."""
    p = subprocess.Popen(cmd, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, errors="replace",
                         start_new_session=True)
    try:
        out = p.communicate()[0]
    except BaseException:
        os.killpg(p.pid, signal.SIGTERM)
        p.wait()
        raise
    return p.returncode, out


def build(args):
    rc, out = call(["cmake", "--build", args.build, "-j", str(args.jobs)])
    errors = [l for l in out.splitlines() if "error" in l.lower()]
    return rc == 0, (errors[0].strip().replace(str(ROOT) + "/", "")[:200] if errors else "")


def ctest(args):
    cmd = ["ctest", "--test-dir", args.build, "-j", str(args.jobs), "--timeout", str(args.timeout),
           "--no-tests=error"]
    if args.exclude_label:
        cmd += ["-LE", "^(" + "|".join(map(re.escape, args.exclude_label)) + ")$"]
    cmd += ["-R", args.R] if args.R else []
    cmd += ["-E", args.E] if args.E else []
    cmd += ["--stop-on-failure"] if args.first_failure else []
    rc, out = call(cmd)
    failed = re.findall(r"^\s*\d+ - (.+?) \(([^)]*)\)", out.split("The following tests FAILED:")[-1],
                        re.M) if "The following tests FAILED:" in out else []
    return rc, failed, out


def run_one(m, args):
    path = ROOT / m["file"]
    original = path.read_bytes()
    lines = original.decode("utf-8").split("\n")
    line = lines[m["line"] - 1]
    a = m["column"]
    mutated = line[:a] + m["replacement"] + line[a + m["length"]:]
    m.update(original_line=line.strip(), mutated_line=mutated.strip(), killed_by=[], note="")
    start = time.monotonic()
    try:
        lines[m["line"] - 1] = mutated
        path.write_bytes("\n".join(lines).encode("utf-8"))
        ok, error = build(args)
        if not ok:
            m.update(status="build_error", note=error)
        else:
            rc, failed, out = ctest(args)
            m["killed_by"] = [name for name, _ in failed]
            if rc == 0:
                m["status"] = "survived"
            elif failed and all(why == "Timeout" for _, why in failed):
                m["status"] = "timeout"
            else:
                m["status"] = "killed"
                if not failed:  # ctest itself failed, e.g. a test program that cannot list its tests
                    m["note"] = next((l for l in out.splitlines() if "rror" in l), "ctest failed")
    finally:
        path.write_bytes(original)
    m["seconds"] = round(time.monotonic() - start, 1)


def summary(results):
    count = {s: sum(m["status"] == s for m in results) for s in KILLS + ("survived", "build_error")}
    killed = count["killed"] + count["timeout"]
    rate = killed / (killed + count["survived"]) if killed + count["survived"] else 0.0
    return (f"killed {killed} (timeouts {count['timeout']}), survived "
                         f"{count['survived']}, build errors {count['build_error']}: "
                         f"kill rate {100 * rate:.1f} %")


def show(m):
    return f"{m['id']} {m['file']}:{m['line']} {m['operator']}: {m['original']} -> {m['mutated']}"


def run(args):
    mutants = sample(args.seed, args.count)
    for given, want in ((args.killed_in, True), (args.not_killed_in, False)):
        if given:  # a part of the sample chosen by an earlier run's outcome
            killed = {m["id"] for m in load(given)["mutants"] if m["status"] in KILLS}
            mutants = [m for m in mutants if (m["id"] in killed) == want]
    if args.shard:
        k, n = args.shard
        mutants = mutants[k - 1::n]
    if args.list:
        for m in mutants:
            print(show(m))
        print(f"{len(mutants)} mutants of {len(candidates())} candidates")
        return 0
    dirty = git("status", "--porcelain", "--", *PRODUCT)
    if dirty and not args.force:
        sys.exit("uncommitted changes in the product folders (--force to run anyway):\n" + dirty)
    signal.signal(signal.SIGTERM, signal.default_int_handler)
    revision = git("rev-parse", "HEAD").strip() + ("-dirty" if git("status", "--porcelain", "-uno") else "")
    options = {k: getattr(args, k) for k in ("timeout", "exclude_label", "R", "E", "first_failure")}
    report = dict(seed=args.seed, count=args.count, revision=revision, options=options, mutants=[])
    if args.shard:
        report["shard"] = "%d/%d" % args.shard
    print(f"building {args.build} and running the unmutated suite")
    ok, error = build(args)
    rc, failed, out = ctest(args) if ok else (1, [], error)
    if rc:
        sys.exit("the unmutated suite does not pass:\n" + out[-3000:])
    if args.resume and Path(args.out).exists():  # go on with an interrupted run
        report["mutants"] = json.loads(Path(args.out).read_text())["mutants"]
        done = {m["id"] for m in report["mutants"]}
        mutants = [m for m in mutants if m["id"] not in done]
    Path(args.out).write_text(json.dumps(report, indent=1) + "\n")
    interrupted = False
    try:
        for i, m in enumerate(mutants, 1):
            run_one(m, args)
            report["mutants"].append(m)
            tests = ", ".join(m["killed_by"][:3]) + (" ..." if len(m["killed_by"]) > 3 else "")
            print(f"[{i}/{len(mutants)}] {show(m)}: {m['status']}"
                  f"{' by ' + tests if tests else ''} ({m['seconds']} s)", flush=True)
            Path(args.out).write_text(json.dumps(report, indent=1) + "\n")
    except KeyboardInterrupt:
        print("interrupted; the results so far are in " + args.out)
        interrupted = True
    finally:
        print(f"rebuilding {args.build} from the unmutated sources")
        build(args)
    print(summary(report["mutants"]))
    return 130 if interrupted else 0


def load(files):
    """One run's results from its file, or from its shards' files joined by
    commas: the mutants back in the sample's order."""
    runs = [json.loads(Path(f).read_text()) for f in files.split(",")]
    joined = dict(runs[0], mutants=sorted((m for r in runs for m in r["mutants"]), key=lambda m: m["id"]))
    joined.pop("shard", None)
    return joined


def compare(before_file, after_file):
    before, after = load(before_file), load(after_file)
    key = lambda m: (m["id"], m["file"], m["line"], m["operator"], m["original"], m["mutated"])
    ran = {m["id"] for m in after["mutants"]}
    left_out = [m for m in before["mutants"] if m["id"] not in ran]
    before = dict(before, mutants=[m for m in before["mutants"] if m["id"] in ran])
    if [key(m) for m in before["mutants"]] != [key(m) for m in after["mutants"]]:
        print("the two runs do not hold the same mutants: the seed, the count or the product code "
              "differ, or a run was interrupted", file=sys.stderr)
        return 2
    if left_out:
        print(f"note: {len(left_out)} mutant(s) of the first run not run in the second; compared "
              f"on the {len(ran)} both ran")
    if before["options"] != after["options"]:
        print(f"note: the runs selected tests differently: {before['options']} / {after['options']}")
    lost = [(b, a) for b, a in zip(before["mutants"], after["mutants"])
            if b["status"] in KILLS and a["status"] not in KILLS]
    for b, a in lost:
        print(f"lost: {b['id']} {b['file']}:{b['line']} {b['operator']}: {b['original']} -> "
              f"{b['mutated']}, killed before by {', '.join(b['killed_by']) or b['note']}"
              f"{' (now ' + a['status'] + ')' if a['status'] != 'survived' else ''}")
    for name, r in (("before", before), ("after", after)):
        print(f"{name} ({r['revision'][:12]}): {summary(r['mutants'])}")
    print(f"{len(lost)} kill(s) lost")
    return 1 if lost else 0


def shard(text):
    k, _, n = text.partition("/")
    if not (k.isdigit() and n.isdigit() and 1 <= int(k) <= int(n)):
        raise argparse.ArgumentTypeError("K/N with 1 <= K <= N")
    return int(k), int(n)


def main():
    if sys.argv[1:2] == ["compare"]:
        p = argparse.ArgumentParser(prog="mutate.py compare")
        p.add_argument("before")
        p.add_argument("after")
        a = p.parse_args(sys.argv[2:])
        return compare(a.before, a.after)
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--count", type=int, default=20)
    p.add_argument("--list", action="store_true", help="print the sample and stop")
    p.add_argument("--build", default="build", help="a configured build folder (default build)")
    p.add_argument("--jobs", type=int, default=2, help="for cmake --build and ctest (default 2)")
    p.add_argument("--timeout", type=int, default=120,
                   help="seconds per test without a TIMEOUT of its own (default 120)")
    p.add_argument("--exclude-label", action="append", default=[], help="a ctest label to leave out")
    p.add_argument("-R", help="run only the tests matching this regex")
    p.add_argument("-E", help="leave out the tests matching this regex")
    p.add_argument("--first-failure", action="store_true", help="stop a mutant's tests at the first failure")
    p.add_argument("--out", default="mutants.json", help="the results (default mutants.json)")
    p.add_argument("--force", action="store_true", help="run despite uncommitted product changes")
    p.add_argument("--shard", type=shard, help="K/N: run the K-th of N interleaved parts of the sample")
    p.add_argument("--resume", action="store_true", help="keep the mutants --out holds and run the rest")
    p.add_argument("--killed-in", metavar="FILE", help="only the mutants an earlier run (FILE) killed")
    p.add_argument("--not-killed-in", metavar="FILE", help="only those it did not kill")
    return run(p.parse_args())


if __name__ == "__main__":
    sys.exit(main())
