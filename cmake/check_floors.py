#!/usr/bin/env python3
"""The house's two rules for includes, checked on every build.

    check_floors.py ROOT FLOOR... [--circles]

ROOT holds one folder per floor; FLOOR... name them bottom up. A file may
include headers of its own floor and of the floors below it; an include that
runs upward is printed as FILE:LINE: TEXT and fails the check. With
--circles, units (a header and its source file) that include each other,
directly or round a longer loop, fail it too.
"""
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def sources(root, floor):
    for folder, _, files in os.walk(os.path.join(root, floor)):
        for name in sorted(files):
            if name.endswith(('.h', '.cpp')):
                yield os.path.join(folder, name)


def includes(path):
    with open(path, encoding='utf-8', errors='replace') as f:
        for number, line in enumerate(f, 1):
            m = INCLUDE.match(line)
            if m:
                yield number, m.group(1), line.rstrip('\n')


def unit_of(path):
    return os.path.splitext(path)[0]


def circles(edges):
    """Strongly connected components of more than one unit (iterative Tarjan)."""
    index, low, on_stack, stack, found = {}, {}, set(), [], []
    counter = 0
    for start in sorted(edges):
        if start in index:
            continue
        work = [(start, iter(sorted(edges.get(start, ()))))]
        index[start] = low[start] = counter
        counter += 1
        stack.append(start)
        on_stack.add(start)
        while work:
            node, children = work[-1]
            advanced = False
            for child in children:
                if child not in index:
                    index[child] = low[child] = counter
                    counter += 1
                    stack.append(child)
                    on_stack.add(child)
                    work.append((child, iter(sorted(edges.get(child, ())))))
                    advanced = True
                    break
                if child in on_stack:
                    low[node] = min(low[node], index[child])
            if advanced:
                continue
            work.pop()
            if work:
                parent = work[-1][0]
                low[parent] = min(low[parent], low[node])
            if low[node] == index[node]:
                component = []
                while True:
                    member = stack.pop()
                    on_stack.discard(member)
                    component.append(member)
                    if member == node:
                        break
                if len(component) > 1:
                    found.append(sorted(component))
    return found


def main(argv):
    check_circles = '--circles' in argv
    args = [a for a in argv if a != '--circles']
    if len(args) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    root, floors = args[0], args[1:]
    rank = {floor: i for i, floor in enumerate(floors)}
    upward = 0
    edges = {}
    for floor in floors:
        for path in sources(root, floor):
            shown = os.path.relpath(path, root)
            unit = unit_of(shown)
            for number, target, text in includes(path):
                top = target.split('/', 1)[0]
                if top in rank and rank[top] > rank[floor]:
                    print(f'{shown}:{number}: {text}  <- the {floor} floor includes the {top} floor above it')
                    upward += 1
                target_unit = unit_of(target)
                if target_unit != unit and os.path.exists(os.path.join(root, target)):
                    edges.setdefault(unit, set()).add(target_unit)
    loops = circles(edges) if check_circles else []
    for loop in loops:
        print('units include each other: ' + ' -> '.join(loop))
    if upward or loops:
        print(f'{upward} upward include(s), {len(loops)} include circle(s)')
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
