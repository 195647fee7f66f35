#!/usr/bin/python3
"""Fails when a source of the update engine includes a header of a layer
above its own, or when its modules (a header with its source) include each
other in a cycle; names each.
The layers, lowest first, are the folders of updater/engine in the order
of LAYERS; a file may include its own layer and the ones before it."""
import os
import re
import sys

LAYERS = ["files", "settings", "revision", "trust", "transfer", "folder", "jobs"]
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "updater", "engine")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def main():
    headers = {}  # "layer/name.h" -> path
    sources = []
    for layer in sorted(os.listdir(ROOT)):
        folder = os.path.join(ROOT, layer)
        if not os.path.isdir(folder):
            continue
        if layer not in LAYERS:
            print(f"layers: updater/engine/{layer} is no layer; add it to LAYERS", file=sys.stderr)
            return 1
        for name in sorted(os.listdir(folder)):
            if name.endswith((".h", ".cpp")):
                key = f"{layer}/{name}"
                sources.append(key)
                if name.endswith(".h"):
                    headers[key] = True
    problems = []
    edges = {}
    for key in sources:
        layer = key.split("/")[0]
        with open(os.path.join(ROOT, key), encoding="utf-8") as f:
            text = f.read()
        edges[key] = []
        for included in INCLUDE.findall(text):
            target = included if "/" in included else f"{layer}/{included}"
            if target not in headers:
                continue  # outside the engine
            edges[key].append(target)
            if LAYERS.index(target.split("/")[0]) > LAYERS.index(layer):
                problems.append(f"{key} includes {target}, a layer above its own")
    # Cycles between modules: NAME.h and NAME.cpp count as one.
    modules = {}
    for key, targets in edges.items():
        module = modules.setdefault(key.rsplit(".", 1)[0], set())
        module.update(t.rsplit(".", 1)[0] for t in targets if t.rsplit(".", 1)[0] != key.rsplit(".", 1)[0])
    edges = {module: sorted(targets) for module, targets in modules.items()}
    state = {}
    stack = []

    def visit(node):
        state[node] = 1
        stack.append(node)
        for nxt in edges.get(node, []):
            if state.get(nxt) == 1:
                problems.append("include cycle: " + " -> ".join(stack[stack.index(nxt):] + [nxt]))
            elif nxt not in state:
                visit(nxt)
        stack.pop()
        state[node] = 2

    for node in sorted(edges):
        if node not in state:
            visit(node)
    if problems:
        print("Includes of the update engine that do not run downward:", file=sys.stderr)
        for problem in problems:
            print("  " + problem, file=sys.stderr)
        return 1
    print(f"layers: {len(sources)} engine sources include only their own and lower layers")
    return 0


if __name__ == "__main__":
    sys.exit(main())
