#!/usr/bin/env python3
"""Checks that includes point one way through the source tree.

    src/core/{model,imaging,state,export,viewing}   kelvane_core: no widgets
    src/ui/{common,browse,viewer,editor,compare,app} kelvane_ui

model includes nothing else of ours; imaging only model; state adds imaging;
export adds state; viewing sees model and imaging. Nothing in core includes a UI folder or a QtWidgets header.
common sees core only; a screen (browse, viewer, editor, compare) sees core, common and
itself; app sees everything. Every include of ours names its folder.

Usage: check-layers.py SRC_DIR QTWIDGETS_INCLUDE_DIR
       check-layers.py --self-test QTWIDGETS_INCLUDE_DIR
Prints each offending include with its file and exits 1 when there is one.
"""
import os
import re
import sys
import tempfile

LIBRARY_OF = {
    'model': 'core', 'imaging': 'core', 'state': 'core', 'export': 'core', 'viewing': 'core',
    'common': 'ui', 'browse': 'ui', 'viewer': 'ui', 'editor': 'ui', 'compare': 'ui', 'app': 'ui',
}
CORE = {'model', 'imaging', 'state', 'export', 'viewing'}
ALLOWED = {
    'model': {'model'},
    'imaging': {'model', 'imaging'},
    'state': {'model', 'imaging', 'state'},
    'export': {'model', 'imaging', 'state', 'export'},
    'viewing': {'model', 'imaging', 'viewing'},
    'common': CORE | {'common'},
    'browse': CORE | {'common', 'browse'},
    'viewer': CORE | {'common', 'viewer'},
    'editor': CORE | {'common', 'editor'},
    'compare': CORE | {'common', 'compare'},
    'app': set(LIBRARY_OF),
}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def widget_headers(qtwidgets_dir):
    names = {'QtWidgets'}
    if os.path.isdir(qtwidgets_dir):
        names.update(f for f in os.listdir(qtwidgets_dir) if not f.endswith('.h') or f.startswith('q'))
    return names


def check(src_dir, qtwidgets_dir):
    widgets = widget_headers(qtwidgets_dir)
    problems = []
    for library in ('core', 'ui'):
        for folder in sorted(os.listdir(os.path.join(src_dir, library)) if os.path.isdir(os.path.join(src_dir, library)) else []):
            folder_dir = os.path.join(src_dir, library, folder)
            if not os.path.isdir(folder_dir):
                continue
            if LIBRARY_OF.get(folder) != library:
                problems.append('%s: folder is not a known folder of %s' % (folder_dir, library))
                continue
            for name in sorted(os.listdir(folder_dir)):
                if name.endswith(('.h', '.cpp')):
                    problems += check_file(os.path.join(folder_dir, name), library, folder, widgets)
    return problems


def check_file(path, library, folder, widgets):
    problems = []
    with open(path, encoding='utf-8') as source:
        for number, line in enumerate(source, 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            quoted, header = match.group(1) == '"', match.group(2)
            where = '%s:%d: #include %s' % (path, number, line.strip()[len('#include'):].strip())
            if not quoted:
                top = header.split('/')[0]
                if library == 'core' and (top in widgets or header in widgets):
                    problems.append(where + '  (QtWidgets header in the widget-free core)')
                continue
            parts = header.split('/')
            target = parts[0] if len(parts) == 2 else None
            if target not in LIBRARY_OF:
                problems.append(where + '  (name the folder: "folder/File.h")')
            elif library == 'core' and LIBRARY_OF[target] == 'ui':
                problems.append(where + '  (core includes the UI library)')
            elif target not in ALLOWED[folder]:
                problems.append(where + '  (%s may not include %s/)' % (folder, target))
    return problems


def self_test(qtwidgets_dir):
    """The check must catch each kind of wrong include, and pass a clean tree."""
    cases = {
        'core/model/A.h': ('#include "imaging/B.h"', 'model may not include imaging/'),
        'core/imaging/B.h': ('#include "state/C.h"', 'imaging may not include state/'),
        'core/state/C.h': ('#include "common/Theme.h"', 'core includes the UI library'),
        'core/export/D.h': ('#include <QWidget>', 'QtWidgets header'),
        'core/export/E.h': ('#include <QtWidgets/QLabel>', 'QtWidgets header'),
        'ui/viewer/F.h': ('#include "browse/G.h"', 'viewer may not include browse/'),
        'ui/editor/H.h': ('#include "app/AppMain.h"', 'editor may not include app/'),
        'ui/common/I.h': ('#include "viewer/F.h"', 'common may not include viewer/'),
        'ui/browse/J.h': ('#include "Sibling.h"', 'name the folder'),
        'core/viewing/N.h': ('#include "state/C.h"', 'viewing may not include state/'),
        'core/export/O.h': ('#include "viewing/N.h"', 'export may not include viewing/'),
        'core/viewing/P.h': ('#include "common/Theme.h"', 'core includes the UI library'),
        'ui/compare/S.h': ('#include "viewer/F.h"', 'compare may not include viewer/'),
        'ui/viewer/T.h': ('#include "compare/U.h"', 'viewer may not include compare/'),
    }
    clean = {
        'core/export/K.h': '#include "state/C.h"\n#include <QImage>',
        'ui/app/L.h': '#include "viewer/F.h"\n#include "editor/H.h"\n#include <QWidget>',
        'ui/browse/M.h': '#include "common/Theme.h"\n#include "state/C.h"',
        'core/viewing/Q.h': '#include "imaging/B.h"\n#include "model/A.h"',
        'ui/common/R.h': '#include "viewing/Q.h"',
        'ui/compare/U.h': '#include "common/R.h"\n#include "state/C.h"\n#include "viewing/Q.h"',
    }
    with tempfile.TemporaryDirectory() as root:
        for relative, text in list(clean.items()) + [(k, v[0]) for k, v in cases.items()]:
            path = os.path.join(root, relative)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, 'w') as out:
                out.write(text + '\n')
        report = '\n'.join(check(root, qtwidgets_dir))
    failures = []
    for relative, (_, reason) in cases.items():
        if not any(relative in line and reason in line for line in report.splitlines()):
            failures.append('not caught: %s (%s)' % (relative, reason))
    for relative in clean:
        if relative in report:
            failures.append('wrongly reported: ' + relative)
    for failure in failures:
        print(failure)
    print('layering self-test: %d cases, %d failed' % (len(cases) + len(clean), len(failures)))
    return 1 if failures else 0


def main(argv):
    if len(argv) == 3 and argv[1] == '--self-test':
        return self_test(argv[2])
    if len(argv) != 3:
        print(__doc__)
        return 2
    problems = check(argv[1], argv[2])
    for problem in problems:
        print(problem)
    print('layering: %d offending include(s)' % len(problems))
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
