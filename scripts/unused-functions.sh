#!/usr/bin/env bash
# Lists the functions of src/ that none of the programs (tessel, tessel-config, tessel-capture)
# can reach: each program is linked with every object of its layers and the linker's garbage
# collection of function sections names what nothing reaches. A function some test calls but no
# program does is listed too. Built without optimisation, so that a function inlined into all its
# callers is not taken for an unreached one. Exit status 1 when there is any.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TESSEL_UNREACHED_BUILD_DIR:-$top/build-unreached}
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESSEL_REPORT_UNREACHED=ON \
  -DTESSEL_BUILD_TESTS=OFF -DTESSEL_BUILD_BENCH=OFF >/dev/null
programs=(tessel tessel-config tessel-capture)
for p in "${programs[@]}"; do rm -f "$build/run/$p"; done
log="$build/unreached-link.log"
# Ninja prints what each command wrote; each program links alone so its lines can be told apart.
: >"$log"
for p in "${programs[@]}"; do
  echo "== $p" >>"$log"
  cmake --build "$build" --target "$p" >>"$log" 2>&1
done
python3 - "$log" "${programs[@]/#/$build/run/}" <<'PY'
import re, subprocess, sys
removed = {}   # program -> set of (section, object)
program = None
pattern = re.compile(r"removing unused section '\.text\.([^']+)' in file '([^']+)'")
for line in open(sys.argv[1], errors="replace"):
    if line.startswith("== "):
        program = line[3:].strip()
        removed[program] = set()
        continue
    m = pattern.search(line)
    if m and program:
        obj = m.group(2)
        # Only our own layers and the helper: libraries and the engine are not ours to prune.
        if "libtessel_" in obj or "tessel-capture.dir" in obj:
            removed[program].add((m.group(1), re.sub(r".*/", "", obj)))
# Which programs link the objects of each layer.
linked_by = {"config": ["tessel-config"], "app": ["tessel"], "ui": ["tessel"], "scene": ["tessel"],
             "nodes": ["tessel"], "capture": ["tessel", "tessel-config"],
             "core": ["tessel", "tessel-config"], "platform": ["tessel", "tessel-config"]}
dead = set()
for program, entries in removed.items():
    for symbol, obj in entries:
        m = re.match(r"libtessel_([a-z]+)\.a", obj)
        users = linked_by.get(m.group(1), [program]) if m else [program]
        if all((symbol, obj) in removed.get(u, set()) for u in users):
            dead.add((symbol, obj))
names = sorted(dead)
# Every symbol that made it into a program.
linked = set()
for program in sys.argv[2:]:
    out = subprocess.run(["nm", "--defined-only", program], text=True, capture_output=True).stdout
    linked.update(line.split()[-1] for line in out.splitlines() if line.strip())
if names:
    demangled = subprocess.run(["c++filt"], input="\n".join(s for s, _ in names), text=True,
                               capture_output=True).stdout.splitlines()
else:
    demangled = []
shown = []
for (symbol, obj), name in zip(names, demangled):
    # A section with a group ("[...]") holds an inline or template function, emitted wherever
    # it is used and dropped where it is not; library templates instantiated only inside an
    # unreached function go with it, and so do its lambdas.
    # A class with virtual bases has a base-object constructor apart from the complete one,
    # which a class that nothing derives from never calls (likewise its destructors): it counts
    # as reached when the complete one is.
    if "[" in name or not name.startswith("tessel::") or "::{lambda" in name:
        continue
    variant = re.search(r"(C2|D2)E", symbol)
    if variant and symbol[:variant.start()] + variant.group(1)[0] + "1E" + symbol[variant.end():] in linked:
        continue
    shown.append(f"{obj}: {name}")
for line in sorted(set(shown)):
    print(line)
print(f"unreached functions: {len(set(shown))}")
sys.exit(1 if shown else 0)
PY
