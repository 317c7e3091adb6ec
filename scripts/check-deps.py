#!/usr/bin/env python3
"""Prints the folder dependency graph of the CMake targets and fails on an edge that runs upwards.

  scripts/check-deps.py [PRESET ...]        (default: native windows)

Each preset is configured (its cache kept) with a File API query, and every target's direct dependencies
are read from the reply. A target belongs to the folder that defines it; an edge from folder A to folder
B is allowed when B sits in a lower tier than A, or is A itself. The tiers, bottom to top:

  tests/support   the test harnesses' helpers (child processes, Wine paths); used by the tests of any folder
  base            text, errors, owners of handles, loading DLLs, replacing and holding files
  payload         the embedded installer, the tags, the checksum, temp files, download verification
  run             what one run shares between its threads: run state, status texts, the thread layer
  update          version numbers, the version query and reply, the download and its worker
  ui              the window's layout, controls, the skin
  monitor         the status monitor
  resources       the program's .rc: payload, version resource, manifest, stored skin
  app             the setup program: entry, the window controller, the launch
  tools           the sample installers, the skin generator, installer-tags
  endpoint        the reference version endpoint
  bench, tests/e2e, tests/screenshot, tests/fuzz

Edges made by internetsetup_uses_built (cmake/InternetSetupPrograms.cmake) are of another kind: a target
that needs another one's built file (a test running the program, the resources embedding the sample
installer), not its code. They are printed apart and may point anywhere. The include roots
(internetsetup_headers) make the same rule hold for #include: a folder sees only the headers of what it
links. The one way around them, an #include "../x.h" relative to the including file, is refused here.
"""
import json
import pathlib
import re
import subprocess
import sys

TIERS = [
    ["tests/support"], ["base"], ["payload"], ["run"], ["update"], ["ui"], ["monitor"], ["resources"],
    ["app"], ["tools"], ["endpoint"], ["bench", "tests/e2e", "tests/screenshot", "tests/fuzz"],
]
BUILT_MODULE = "cmake/InternetSetupPrograms.cmake"
ROOT = pathlib.Path(__file__).resolve().parent.parent


def folder_of(source):
    """The tier entry that holds a target's source folder (the longest match), or None."""
    matches = [f for tier in TIERS for f in tier if source == f or source.startswith(f + "/")]
    return max(matches, key=len) if matches else None


def tier_of(folder):
    return next(i for i, tier in enumerate(TIERS) if folder in tier)


def read_targets(build_dir):
    """{target id: (name, source folder, [(dependency id, made by internetsetup_uses_built)])}."""
    reply = build_dir / ".cmake/api/v1/reply"
    index = json.loads(max(reply.glob("index-*.json")).read_text())
    codemodel = index["reply"]["codemodel-v2"]["jsonFile"]
    configuration = json.loads((reply / codemodel).read_text())["configurations"][0]
    targets = {}
    for entry in configuration["targets"]:
        target = json.loads((reply / entry["jsonFile"]).read_text())
        graph = target.get("backtraceGraph", {"nodes": [], "commands": [], "files": []})
        edges = [(dep["id"], made_by_uses_built(graph, dep.get("backtrace"))) for dep in target.get("dependencies", [])]
        targets[target["id"]] = (target["name"], target["paths"]["source"], edges)
    return targets


def made_by_uses_built(graph, node):
    """Whether the dependency's backtrace is the add_dependencies of internetsetup_uses_built."""
    if node is None:
        return False
    at = graph["nodes"][node]
    command = graph["commands"][at["command"]] if "command" in at else ""
    return command == "add_dependencies" and graph["files"][at["file"]] == BUILT_MODULE


def check(preset):
    build_dir = ROOT / "build" / preset
    query = build_dir / ".cmake/api/v1/query/codemodel-v2"
    query.parent.mkdir(parents=True, exist_ok=True)
    query.touch()
    subprocess.run(["cmake", "--preset", preset], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    targets = read_targets(build_dir)
    code, built, faults = {}, {}, []
    for name, source, edges in targets.values():
        if pathlib.PurePath(source).is_absolute():
            continue  # outside the tree: googletest's own targets
        here = folder_of(source)
        if here is None:
            faults.append(f"{name} is defined in {source}, a folder of no tier")
            continue
        for dep_id, is_built in edges:
            dep_name, dep_source, _ = targets[dep_id]
            there = folder_of(dep_source)
            if there is None or there == here:
                continue
            (built if is_built else code).setdefault(here, set()).add(there)
            if not is_built and tier_of(there) >= tier_of(here):
                faults.append(f"{name} ({here}) -> {dep_name} ({there}) runs upwards")
    print(f"== {preset}: folder -> the folders it uses (code); [its built files]")
    for folder in [f for tier in reversed(TIERS) for f in tier]:
        if folder in code or folder in built:
            uses = ", ".join(sorted(code.get(folder, ()), key=tier_of, reverse=True)) or "-"
            files = ", ".join(sorted(built.get(folder, ()), key=tier_of, reverse=True))
            print(f"  {folder:17} -> {uses}" + (f"  [{files}]" if files else ""))
    for fault in faults:
        print(f"  UPWARD: {fault}")
    return not faults


def climbs_out(line):
    return re.match(r'\s*#\s*include\s*"\.\./', line) is not None


def relative_includes():
    """The #include lines that climb out of their own folder ("../"), which no include root governs."""
    files = subprocess.run(["git", "ls-files", "*.cpp", "*.h", "*.rc", "*.in"], cwd=ROOT, check=True,
                           capture_output=True, text=True).stdout.split()
    found = []
    for name in files:
        for number, line in enumerate((ROOT / name).read_text(errors="replace").splitlines(), 1):
            if climbs_out(line):
                found.append(f"{name}:{number}: {line.strip()}")
    for line in found:
        print(f"  RELATIVE: {line}")
    return not found


def main():
    presets = sys.argv[1:] or ["native", "windows"]
    results = [check(preset) for preset in presets] + [relative_includes()]
    if not all(results):
        print("check-deps: an edge runs upwards (or a folder has no tier); see above")
        return 1
    print("check-deps: every folder depends downwards only")
    return 0


if __name__ == "__main__":
    sys.exit(main())
