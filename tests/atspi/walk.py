#!/usr/bin/python3
"""Walks the wizard from its welcome page to a finished search the way a
screen reader user does: every name is read and every button pressed through
the accessibility tree (AT-SPI), never through the window itself.

    walk.py LOOMVALE_BINARY MODULE WORK_DIR

Needs a display, a session bus with the accessibility bus started, and
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 (scripts/atspi-tests.sh sets them up)."""

import os
import re
import subprocess
import sys
import time

import pyatspi

INTERACTIVE = {"push button", "radio button", "check box", "text", "list", "slider",
               "progress bar", "tree", "table", "combo box", "spin button"}
failures = []


def check(ok, what):
    print(("ok    " if ok else "FAIL  ") + what, flush=True)
    if not ok:
        failures.append(what)


def wait_for(what, probe, timeout=30):
    end = time.time() + timeout
    while time.time() < end:
        found = probe()
        if found:
            return found
        time.sleep(0.1)
    raise SystemExit("timed out waiting for " + what)


def states(node):
    return node.getState()


def showing(node):
    s = states(node)
    return s.contains(pyatspi.STATE_SHOWING) and s.contains(pyatspi.STATE_VISIBLE)


def walk(node):
    yield node
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from walk(child)


def shown(root, role, name=None):
    return [n for n in walk(root)
            if n.getRoleName() == role and (name is None or n.name == name) and showing(n)]


def one(root, role, name):
    found = wait_for(f"{role} '{name}' on screen", lambda: shown(root, role, name))
    return found[0]


def do(node, action):
    act = node.queryAction()
    names = [act.getName(i) for i in range(act.nActions)]
    if action not in names:
        raise SystemExit(f"{node.getRoleName()} '{node.name}' has no action {action}: {names}")
    act.doAction(names.index(action))


def press(root, name):
    button = one(root, "push button", name)
    wait_for(f"'{name}' enabled", lambda: states(button).contains(pyatspi.STATE_ENABLED))
    do(button, "Press")


def type_into(root, name, text):
    box = one(root, "text", name)
    box.queryEditableText().setTextContents(text)
    check(box.queryText().getText(0, -1) == text, f"text box '{name}' holds what was typed")


def unnamed_controls(root):
    return [n.getRoleName() for n in walk(root)
            if n.getRoleName() in INTERACTIVE and showing(n) and not n.name.strip()]


def page_has_names(frame, page):
    bad = unnamed_controls(frame)
    check(not bad, f"{page}: every control has a name" + (f" (unnamed: {bad})" if bad else ""))
    # The browse buttons and the like are read by their words, not "...".
    dots = [n.name for n in walk(frame) if showing(n) and re.fullmatch(r"\.+", n.name or "")]
    check(not dots, f"{page}: no control is named with dots only")


def main():
    binary, module, work = sys.argv[1:4]
    dest = os.path.join(work, "out")
    home = os.path.join(work, "home")
    os.makedirs(home, exist_ok=True)
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
               QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb")
    program = subprocess.Popen([binary], env=env)
    try:
        desktop = pyatspi.Registry.getDesktop(0)

        def app():
            for i in range(desktop.childCount):
                a = desktop.getChildAtIndex(i)
                if a is not None and a.name == "Loomvale":
                    return a
            return None
        application = wait_for("the program on the accessibility bus", app)
        frame = wait_for("its window", lambda: shown(application, "frame"))[0]
        check(frame.name.startswith("Loomvale"), f"the window is a frame named '{frame.name}'")

        one(frame, "label", "Welcome to Loomvale")
        page_has_names(frame, "welcome page")
        press(frame, "Next >")

        # Where to search: one file, typed into its box.
        radio = one(frame, "radio button", "Single File:")
        do(radio, "Toggle")
        wait_for("'Single File:' checked", lambda: states(radio).contains(pyatspi.STATE_CHECKED))
        type_into(frame, "Single file", module)
        page_has_names(frame, "search page")
        press(frame, "Next >")

        # The kinds: checkable items whose check the Toggle action changes.
        kinds = one(frame, "list", "Resource types")
        items = [kinds.getChildAtIndex(i) for i in range(kinds.childCount)]
        labels = [i.name for i in items]
        check(labels == ["Bitmap", "Icon", "Cursor", "Animated cursor", "Video (AVI)", "Web page"],
              f"the kinds are listed by name: {labels}")
        check(all(i.getRoleName() == "check box" for i in items), "every kind is a check box")
        checked = lambda i: states(i).contains(pyatspi.STATE_CHECKED)
        check(all(checked(i) for i in items), "every kind is ticked on a first start")
        keep = {"Bitmap", "Icon", "Cursor"}
        for item in items:
            if item.name not in keep:
                do(item, "Toggle")
                wait_for(f"'{item.name}' unticked", lambda item=item: not checked(item), timeout=5)
        check([checked(i) for i in items] == [i.name in keep for i in items],
              "Toggle unticked the three kinds left out, and only them")
        do(items[5], "Toggle")
        wait_for("'Web page' ticked again", lambda: checked(items[5]), timeout=5)
        do(items[5], "Toggle")
        wait_for("'Web page' unticked again", lambda: not checked(items[5]), timeout=5)
        page_has_names(frame, "kinds page")
        press(frame, "Next >")

        type_into(frame, "Destination folder", dest)
        page_has_names(frame, "destination page")
        press(frame, "Next >")

        one(frame, "label", "Click on finish to start the search. The process may take several minutes.")
        press(frame, "Start")

        one(frame, "label", "Search finished")
        # The run of one small module is over before a reader could look;
        # the progress page's counts stay in the tree behind the finish page.
        counts = [n for n in walk(frame) if n.getRoleName() == "tree" and n.name == "Resources found"]
        cells = [c.name for c in walk(counts[0]) if c.getRoleName() in ("table cell", "tree item")] \
            if counts else []
        rows = dict(zip(cells[0::2], cells[1::2]))
        page_has_names(frame, "finish page")
        press(frame, "Close")
        program.wait(timeout=30)
        check(program.returncode == 0, f"the program ended with 0 (got {program.returncode})")

        # What the window reported against what is on disk and what an
        # independent lister finds in the module.
        listing = subprocess.run(["wrestool", "-l", module], capture_output=True, text=True,
                                 check=True).stdout
        expected = {"Bitmap": len(re.findall(r"--type=2 ", listing)),
                    "Icon": len(re.findall(r"--type=14 ", listing)),
                    "Cursor": len(re.findall(r"--type=12 ", listing))}
        folders = {"Bitmap": "Bitmaps", "Icon": "Icons", "Cursor": "Cursors"}
        for kind, folder in folders.items():
            path = os.path.join(dest, folder)
            files = [f for f in os.listdir(path) if f != "__index.txt"] if os.path.isdir(path) else []
            check(len(files) == expected[kind],
                  f"{kind}: {len(files)} files written, wrestool lists {expected[kind]}")
            check(rows.get(kind) == str(expected[kind]),
                  f"{kind}: the counts table reads '{rows.get(kind)}'")
        for folder in ("Animated Cursors", "Videos", "Web pages"):
            check(not os.path.exists(os.path.join(dest, folder)), f"nothing written for {folder}")
    finally:
        if program.poll() is None:
            program.kill()
            program.wait()
    print(f"atspi walk: {'failed' if failures else 'passed'} ({len(failures)} failures)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
