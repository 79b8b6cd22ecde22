#!/usr/bin/env python3
# mutate.py SEED - the sample for scripts/mutation.sh: every single-line
# mutant of the product's sources, and a fixed draw of them as TSV.
import random, re, sys
from pathlib import Path

AREAS = [("lib", "deltamaint", 24), ("drv", "apply", 18), ("bld", "builder", 18)]
FLIP = {"==": "!=", "!=": "==", "<": ">=", ">=": "<", ">": "<=", "<=": ">", "&&": "||", "||": "&&"}
LITERAL = re.compile(r"\"(\\.|[^\"\\])*\"|'(\\.|[^'\\])*'")
CALL = re.compile(r"\s*(?!(return|delete|throw|sizeof|free|close)\b)[A-Za-z_][\w:.]*(->\w+)*\(.*\);")


# (rule, mutated line) for each rule applying to `line`; `code` is it without literals or comment.
def mutants(line, code):
    for m in re.finditer(r"(?<=\s)(==|!=|<=|>=|<|>|&&|\|\|)(?=\s)", code):
        yield "bool" if m[1] in ("&&", "||") else "compare", line[: m.start()] + FLIP[m[1]] + line[m.end():]
    for m in re.finditer(r"(?<![\w.\[])\d+(?![\w.\]])", code):  # not an array's size; octal stays octal
        yield "constant", line[: m.end() - 1] + str(int(m[0][-1]) - 1 if m[0][-1] != "0" else 1) + line[m.end():]
    if CALL.fullmatch(code.rstrip()) and code.count("(") == code.count(")"):
        yield "drop-call", re.match(r"\s*", line)[0] + ";"
    m = re.search(r"\bif \((.*)\)( \{| [^()]*;)?$", code.rstrip())
    if m and m[1].count("(") == m[1].count(")") and ";" not in m[1]:
        yield "negate-if", line[: m.start(1)] + "!(" + line[m.start(1): m.end(1)] + ")" + line[m.end(1):]


def candidates(path):
    lines = path.read_text(encoding="utf-8").split("\n")
    for number, line in enumerate(lines, 1):
        code = LITERAL.sub(lambda m: "_" * len(m[0]), line).split("//")[0]
        # Only lines unique in their file: a moved one is still found.
        if code.strip() and not code.lstrip().startswith("#") and lines.count(line) == 1:
            yield from ([str(path), str(number), rule, line, new] for rule, new in mutants(line, code))


rnd = random.Random(int(sys.argv[1]))
print("id\tfile\tline\trule\toriginal\tmutated")
for tag, folder, quota in AREAS:
    files = sorted(Path(folder).glob("*.cpp"))
    pool = {f: list(candidates(f)) for f in files}
    for found in pool.values():
        rnd.shuffle(found)
    rnd.shuffle(files)
    picked, used = [], {}
    while len(picked) < quota and any(pool.values()):  # files in turn, the least drawn rule first
        left = [f for f in files if pool[f]]
        pick = min(pool[left[len(picked) % len(left)]], key=lambda c: used.get(c[2], 0))
        used[pick[2]] = used.get(pick[2], 0) + 1
        pool[Path(pick[0])] = [c for c in pool[Path(pick[0])] if c[1] != pick[1]]
        picked.append(pick)
    for i, row in enumerate(sorted(picked, key=lambda c: (c[0], int(c[1]))), 1):
        print("\t".join(["%s-%02d" % (tag, i)] + row))
