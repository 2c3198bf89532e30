#!/usr/bin/env python3
"""Checks the direction of the source tree's includes; exits 1 and says why when one is wrong.

The rules are the table RULES below: each names the files it covers, the includes they must not
have and the files it excuses. Beside them:
- No two core folders include each other, directly or through others.
- A front end's headers (src/frontends/<face>) are included only by that front end and its
  tests.

With --self-test, checks the rules against a made-up tree that breaks each of them once.
"""
import fnmatch
import os
import re
import sys
import tempfile

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)
CORE_FOLDERS = ("link", "transfer", "config", "station", "settings")

# What a layer may be kept from: the toolkit, the capture library, the database clients and the
# Windows API (system includes, <...>), and the tree's own folders (quoted includes, "...").
TOOLKIT = ("Q",)
CAPTURE = ("pcap",)
DATABASE = ("pqxx/", "libpq")
WINDOWS = ("windows.h", "winsock", "ws2", "iphlpapi", "commctrl", "commdlg", "gdiplus",
           "shellapi", "shlobj")
# The layers that run the same on every platform and under every face.
PLAIN_LAYERS = ("src/core/", "src/line/", "src/present/", "src/app/")
# The platform twins that stand in for the system: they alone may include <windows.h>.
PLATFORM_TWINS = ("src/core/platform/*_windows.cpp", "src/app/*_windows.cpp")


class Rule:
    """Files under `covers` (folder prefixes) must not include what `system` (of <...>) or
    `quoted` (of "...") begins with, unless `allowed` (of "...") begins it or the file matches
    `excused` (fnmatch patterns) and the include is one of `excused_includes`."""

    def __init__(self, name, covers, system=(), quoted=(), allowed=(), excused=(),
                 excused_includes=()):
        self.name, self.covers = name, covers
        self.system, self.quoted, self.allowed = system, quoted, allowed
        self.excused, self.excused_includes = excused, excused_includes

    def breaks(self, path, kind, target):
        if not path.startswith(self.covers):
            return False
        if any(fnmatch.fnmatch(path, pattern) for pattern in self.excused) and \
                target in self.excused_includes:
            return False
        banned = self.system if kind == "<" else self.quoted
        return target.startswith(banned) and not target.startswith(self.allowed)


RULES = (
    Rule("the core includes", ("src/core/",),
         quoted=("app/", "line/", "sim/", "present/", "backends/", "frontends/", "bench/")),
    Rule("a plain layer includes a toolkit, a capture library, a database or Windows",
         PLAIN_LAYERS, system=TOOLKIT + CAPTURE + DATABASE + WINDOWS,
         excused=PLATFORM_TWINS, excused_includes=("windows.h",)),
    Rule("the configuration includes", ("src/core/config/",),
         quoted=("core/link/", "core/transfer/", "core/station/", "core/settings/")),
    Rule("the line includes", ("src/line/",),
         quoted=("app/", "sim/", "present/", "backends/", "frontends/", "bench/")),
    Rule("the window model includes", ("src/present/",), quoted=("",),
         allowed=("core/", "line/", "present/")),
    Rule("the set-up includes a front end", ("src/app/",), quoted=("frontends/",)),
    Rule("a back end includes a front end", ("src/backends/",), quoted=("frontends/",)),
    Rule("the simulated board includes", ("src/sim/",),
         quoted=("app/", "line/", "present/", "backends/", "frontends/")),
)

# Each front end's tests, beside the front end itself.
FRONT_END_TESTS = {"cli": "tests/cli/", "qt": "tests/gui/", "win32": "tests/windows/"}


def sources(root, folder):
    for base, _, files in os.walk(os.path.join(root, folder)):
        for name in files:
            if name.endswith((".h", ".cpp")):
                path = os.path.join(base, name)
                yield os.path.relpath(path, root).replace(os.sep, "/")


def includes(root, path):
    with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
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


def front_ends(root):
    folder = os.path.join(root, "src", "frontends")
    if not os.path.isdir(folder):
        return []
    return sorted(name for name in os.listdir(folder) if os.path.isdir(os.path.join(folder, name)))


def check(root):
    """The problems of the tree at `root`, and the core folders' include graph."""
    problems = []
    for path in sources(root, "src"):
        for kind, target in includes(root, path):
            for rule in RULES:
                if rule.breaks(path, kind, target):
                    shown = f"<{target}>" if kind == "<" else target
                    problems.append(f"{path}: {rule.name} {shown}")

    graph = {}
    for path in sources(root, "src/core"):
        folder = core_folder(path)
        for kind, target in includes(root, path):
            if kind == '"' and target.startswith("core/"):
                to = core_folder("src/" + target)
                if to != folder:
                    graph.setdefault(folder, set()).add(to)
    cycle = find_cycle(graph)
    if cycle:
        problems.append("core folders include each other: " + " -> ".join(cycle))

    faces = front_ends(root)
    for folder in ("src", "tools", "tests", "fuzz"):
        for path in sources(root, folder):
            for kind, target in includes(root, path):
                if kind != '"' or not target.startswith("frontends/"):
                    continue
                face = target.split("/")[1]
                owners = (f"src/frontends/{face}/",) + (
                    (FRONT_END_TESTS[face],) if face in FRONT_END_TESTS else ())
                if face not in faces:
                    problems.append(f"{path}: includes {target} of no front end")
                elif not path.startswith(owners):
                    problems.append(f"{path}: includes the front end's header {target}")
    return problems, graph


# A made-up tree: each file breaks the rule its comment names, or none.
SELF_TEST_TREE = {
    "src/core/link/a.h": '#include "app/station_setup.h"\n',              # the core
    "src/core/b.cpp": "#include <QString>\n",                             # plain layer
    "src/line/c.cpp": "#include <windows.h>\n",                           # plain layer
    "src/present/d.cpp": '#include "backends/pcap/pcap_backend.h"\n',     # window model
    "src/app/e.cpp": "#include <libpq-fe.h>\n",                           # plain layer
    "src/app/f.cpp": '#include "frontends/qt/main_window.h"\n',           # set-up, front end's
    "src/backends/pcap/g.cpp": '#include "frontends/cli/terminal.h"\n',   # back end, front end's
    "src/core/config/h.cpp": '#include "core/station/station.h"\n',       # configuration
    "src/line/i.cpp": '#include "present/panel.h"\n',                     # the line
    "src/sim/j.cpp": '#include "app/options.h"\n',                        # simulated board
    "src/core/link/k.h": '#include "core/transfer/x.h"\n',                # cycle with l.h
    "src/core/transfer/l.h": '#include "core/link/y.h"\n',
    # Allowed: a platform twin's <windows.h>, the window model on the line, a front end's own.
    "src/app/stop_windows.cpp": "#include <windows.h>\n",
    "src/core/platform/files_windows.cpp": "#include <windows.h>\n",
    "src/present/m.cpp": '#include "line/line.h"\n#include "core/log.h"\n#include <string>\n',
    "src/frontends/qt/main_window.h": '#include "frontends/qt/log_view.h"\n',
    "src/frontends/cli/terminal.h": "",
    "tests/gui/n.cpp": '#include "frontends/qt/main_window.h"\n',
}
SELF_TEST_EXPECTED = {
    "src/core/link/a.h", "src/core/b.cpp", "src/line/c.cpp", "src/present/d.cpp", "src/app/e.cpp",
    "src/app/f.cpp", "src/backends/pcap/g.cpp", "src/core/config/h.cpp", "src/line/i.cpp",
    "src/sim/j.cpp", "core folders include each other",
}


def self_test():
    with tempfile.TemporaryDirectory() as root:
        for path, text in SELF_TEST_TREE.items():
            os.makedirs(os.path.dirname(os.path.join(root, path)), exist_ok=True)
            with open(os.path.join(root, path), "w", encoding="utf-8") as f:
                f.write(text)
        problems, _ = check(root)
    found = {p.split(":")[0] for p in problems}
    if found != SELF_TEST_EXPECTED:
        print("the rules missed: " + ", ".join(sorted(SELF_TEST_EXPECTED - found)))
        print("the rules wrongly found: " + ", ".join(sorted(found - SELF_TEST_EXPECTED)))
        return 1
    print(f"the rules find each of {len(SELF_TEST_EXPECTED)} breaches and nothing else")
    return 0


def main():
    if sys.argv[1:] == ["--self-test"]:
        return self_test()
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    problems, graph = check(root)
    for problem in problems:
        print(problem)
    if problems:
        return 1
    print("includes point one way: core folders " + ", ".join(
        f"{a} -> {'/'.join(sorted(b))}" for a, b in sorted(graph.items())))
    return 0


if __name__ == "__main__":
    sys.exit(main())
