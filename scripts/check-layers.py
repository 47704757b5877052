#!/usr/bin/env python3
"""Fails when a library reaches a layer it may not use.

  check-layers.py SOURCE_ROOT QT_HEADERS_DIR

Checks every source file of the layer folders: project includes (written from
the source root, "api/APIClient.h") may only name the folder itself or the
layers it builds on, and Qt includes may only come from the Qt modules the
layer may link. Checks each folder's CMakeLists.txt the same way for the
libraries it links.
"""
import os, re, sys

LAYERS = {
    'core':    ({'core'}, {'Core'}),
    'api':     ({'core', 'api'}, {'Core', 'Network'}),
    'ui':      ({'core', 'ui'}, {'Core', 'Gui', 'Widgets', 'DBus'}),
    'review':  ({'core', 'ui', 'review'}, {'Core', 'Gui', 'Widgets'}),
    'journal': ({'core', 'ui', 'api', 'journal'}, {'Core', 'Gui', 'Widgets'}),
    'app':     ({'core', 'api', 'ui', 'review', 'journal', 'app'}, {'Core', 'Gui', 'Widgets', 'Network', 'DBus'}),
    'service': ({'core', 'service'}, {'Core', 'Network', 'HttpServer', 'Sql'}),
}
TARGETS = {'tavlo_core': 'core', 'tavlo_api': 'api', 'tavlo_ui': 'ui', 'tavlo_review': 'review',
           'tavlo_journal': 'journal', 'tavlo_app': 'app'}


def qt_modules(headers_dir):
    """Header name -> Qt module, from the installed Qt headers."""
    owner = {}
    for entry in sorted(os.listdir(headers_dir)):
        if not entry.startswith('Qt'):
            continue
        module = entry[2:]
        for name in os.listdir(os.path.join(headers_dir, entry)):
            owner.setdefault(name, module)
    return owner


def main():
    root, headers_dir = sys.argv[1], sys.argv[2]
    owner = qt_modules(headers_dir)
    problems = []
    include = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
    for layer, (may_use, qt_allowed) in LAYERS.items():
        folder = os.path.join(root, layer)
        if not os.path.isdir(folder):
            continue
        for dirpath, _, names in os.walk(folder):
            for name in names:
                if not name.endswith(('.h', '.cpp')):
                    continue
                path = os.path.join(dirpath, name)
                rel = os.path.relpath(path, root)
                for number, line in enumerate(open(path, encoding='utf-8'), 1):
                    m = include.match(line)
                    if not m:
                        continue
                    kind, target = m.groups()
                    if kind == '"':
                        top = target.split('/')[0]
                        if '/' not in target:
                            problems.append(f'{rel}:{number}: include "{target}" is not written from the source root')
                        elif top in LAYERS and top not in may_use:
                            problems.append(f'{rel}:{number}: {layer} may not include {target}')
                    else:
                        first = target.split('/')[0]
                        module = first[2:] if first.startswith('Qt') and '/' in target else owner.get(target)
                        if module and module not in qt_allowed:
                            problems.append(f'{rel}:{number}: {layer} may not use Qt {module} (<{target}>)')
        cmake = os.path.join(folder, 'CMakeLists.txt')
        if os.path.exists(cmake):
            text = open(cmake, encoding='utf-8').read()
            for call in re.findall(r'target_link_libraries\(([^)]*)\)', text):
                for word in call.split()[1:]:
                    if word in TARGETS and TARGETS[word] not in may_use:
                        problems.append(f'{os.path.relpath(cmake, root)}: {layer} may not link {word}')
                    m = re.match(r'Qt6::(\w+)$', word)
                    if m and m.group(1) not in qt_allowed:
                        problems.append(f'{os.path.relpath(cmake, root)}: {layer} may not link {word}')
    for p in problems:
        print(p)
    print(f'layers: {len(problems)} problem(s)')
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
