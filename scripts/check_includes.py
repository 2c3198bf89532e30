#!/usr/bin/env python3
"""Checks the direction of the source tree's includes; exits 1 and says why when one is wrong.

- The core (src/core) includes nothing of the front ends, back ends or the simulated board,
  and no GUI, capture or database header; only its platform layer's Windows twins
  (src/core/platform/*_windows.cpp) include the system's <windows.h>.
- The configuration (src/core/config) is pure: no frames, no steps, no store.
- No two core folders include each other, directly or through others.
- A front end's headers (src/cli, src/gui) are included only by that front end and its tests.
"""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)
CORE_FOLDERS = ("link", "transfer", "config", "station", "settings")
OUTSIDE_CORE = ("app/", "board/", "pcap/", "gui/", "cli/", "bench/", "windows/", "postgres/", "view/")
FOREIGN_LIBRARIES = ("Q", "pcap", "pqxx/", "libpq", "windows.h", "winsock")
# The core's platform layer: its Windows twins may include the system's own header.
PLATFORM_LAYER = "src/core/platform/"
SYSTEM_HEADERS = ("windows.h",)
FRONT_ENDS = {"cli/": ("src/cli/", "tests/cli/"), "gui/": ("src/gui/", "tests/gui/")}


def sources(folder):
    for base, _, files in os.walk(os.path.join(ROOT, folder)):
        for name in files:
            if name.endswith((".h", ".cpp")):
                path = os.path.join(base, name)
                yield os.path.relpath(path, ROOT).replace(os.sep, "/")


def includes(path):
    with open(os.path.join(ROOT, path), encoding="utf-8", errors="replace") as f:
        return INCLUDE.findall(f.read())


def core_folder(path):
    """The core folder of a file under src/core ("core" for the files at its top)."""
    parts = path.split("/")
    return parts[2] if len(parts) > 3 and parts[2] in CORE_FOLDERS else "core"


def find_cycle(graph):
    state = {}
    stack = []

    def visit(node):
        state[node] = "open"
        stack.append(node)
        for nxt in sorted(graph.get(node, ())):
            if state.get(nxt) == "open":
                return stack[stack.index(nxt):] + [nxt]
            if nxt not in state:
                found = visit(nxt)
                if found:
                    return found
        stack.pop()
        state[node] = "done"
        return None

    for node in sorted(graph):
        if node not in state:
            found = visit(node)
            if found:
                return found
    return None


def main():
    problems = []
    graph = {}
    for path in sources("src/core"):
        folder = core_folder(path)
        for kind, target in includes(path):
            if kind == "<":
                platform_twin = path.startswith(PLATFORM_LAYER) and path.endswith("_windows.cpp")
                if target.startswith(FOREIGN_LIBRARIES) and not (
                        platform_twin and target in SYSTEM_HEADERS):
                    problems.append(f"{path}: the core includes <{target}>")
                continue
            if target.startswith(OUTSIDE_CORE):
                problems.append(f"{path}: the core includes {target}")
            if not target.startswith("core/"):
                continue
            to = core_folder("src/" + target)
            if folder == "config" and to in ("link", "transfer", "station", "settings"):
                problems.append(f"{path}: the configuration includes {target}")
            if to != folder:
                graph.setdefault(folder, set()).add(to)
    cycle = find_cycle(graph)
    if cycle:
        problems.append("core folders include each other: " + " -> ".join(cycle))

    for folder in ("src", "tests", "fuzz"):
        for path in sources(folder):
            for kind, target in includes(path):
                for prefix, owners in FRONT_ENDS.items():
                    if kind == '"' and target.startswith(prefix) and not path.startswith(owners):
                        problems.append(f"{path}: includes the front end's header {target}")

    for problem in problems:
        print(problem)
    if problems:
        return 1
    print("includes point one way: core folders " + ", ".join(
        f"{a} -> {'/'.join(sorted(b))}" for a, b in sorted(graph.items())))
    return 0


if __name__ == "__main__":
    sys.exit(main())
