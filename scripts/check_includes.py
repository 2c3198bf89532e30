#!/usr/bin/env python3
"""Checks the direction of the source tree's includes; exits 1 and says why when one is wrong.

- The core (src/core) includes nothing of the set-up, the back ends, the front ends, the
  simulated board, the window model or the bench.
- The core, the window model (src/present) and the set-up (src/app) include no toolkit (Qt), no
  capture library, no database client and no Windows header; only the platform twins
  (src/core/platform/*_windows.cpp, src/app/*_windows.cpp) include the system's <windows.h>.
- The configuration (src/core/config) is pure: no frames, no steps, no store.
- No two core folders include each other, directly or through others.
- The window model includes only the core.
- The line (src/line) includes only the core.
- The back ends (src/backends/*) never include a front end.
- A front end's headers (src/frontends/<face>) are included only by that front end and its
  tests.
"""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)
CORE_FOLDERS = ("link", "transfer", "config", "station", "settings")
OUTSIDE_CORE = ("app/", "line/", "sim/", "present/", "backends/", "frontends/", "bench/")
# Qt, libpcap, the PostgreSQL clients and the Windows API.
FOREIGN_LIBRARIES = ("Q", "pcap", "pqxx/", "libpq", "windows.h", "winsock", "ws2", "iphlpapi",
                     "commctrl", "commdlg", "gdiplus", "shellapi", "shlobj")
# The layers that stay free of them, and the platform twins that may include the system's header.
PLAIN_LAYERS = ("src/core/", "src/line/", "src/present/", "src/app/")
PLATFORM_TWINS = ("src/core/platform/", "src/app/")
SYSTEM_HEADERS = ("windows.h",)
# Each front end's tests, beside the front end itself.
FRONT_END_TESTS = {"cli": "tests/cli/", "qt": "tests/gui/", "win32": "tests/windows/"}


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


def front_ends():
    folder = os.path.join(ROOT, "src", "frontends")
    return sorted(name for name in os.listdir(folder) if os.path.isdir(os.path.join(folder, name)))


def main():
    problems = []
    graph = {}

    for layer in PLAIN_LAYERS:
        for path in sources(layer):
            twin = path.startswith(PLATFORM_TWINS) and path.endswith("_windows.cpp")
            for kind, target in includes(path):
                if kind == "<" and target.startswith(FOREIGN_LIBRARIES) and not (
                        twin and target in SYSTEM_HEADERS):
                    problems.append(f"{path}: {layer.rstrip('/')} includes <{target}>")

    for path in sources("src/core"):
        folder = core_folder(path)
        for kind, target in includes(path):
            if kind == "<":
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

    for path in sources("src/present"):
        for kind, target in includes(path):
            if kind == '"' and target.startswith(OUTSIDE_CORE) and not target.startswith("present/"):
                problems.append(f"{path}: the window model includes {target}")

    for path in sources("src/line"):
        for kind, target in includes(path):
            if kind == '"' and target.startswith(OUTSIDE_CORE) and not target.startswith("line/"):
                problems.append(f"{path}: the line includes {target}")

    for path in sources("src/backends"):
        for kind, target in includes(path):
            if kind == '"' and target.startswith("frontends/"):
                problems.append(f"{path}: a back end includes the front end's header {target}")

    faces = front_ends()
    for folder in ("src", "tools", "tests", "fuzz"):
        for path in sources(folder):
            for kind, target in includes(path):
                if kind != '"' or not target.startswith("frontends/"):
                    continue
                face = target.split("/")[1]
                owners = (f"src/frontends/{face}/",) + (
                    (FRONT_END_TESTS[face],) if face in FRONT_END_TESTS else ())
                if face not in faces:
                    problems.append(f"{path}: includes {target} of no front end")
                elif not path.startswith(owners):
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
