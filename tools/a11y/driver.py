"""Drives the running player through AT-SPI, as a screen reader or a test
tool would.

    driver.py windows                 each window of the player: role and name
    driver.py boxes                   how many message boxes are open
    driver.py press NAME [N] [GAP]    presses the button read as NAME N times
    driver.py press2 A B N [GAP]      presses A and B in turn, N presses in all

It looks the player up by its name on the accessibility bus and waits up to
ten seconds for it to appear."""
import sys
import time

import pyatspi


def player():
    end = time.monotonic() + 10
    while time.monotonic() < end:
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name.lower() == "tolvane":
                return app
        time.sleep(0.2)
    sys.exit("the player is not on the accessibility bus")


def windows(app):
    found = []
    for window in app:
        if window is None:
            continue
        try:
            found.append((window.getRoleName(), window.name))
        except Exception:
            pass
    return found


def find_button(node, name):
    try:
        if node.getRoleName() == "push button" and node.name == name:
            return node
    except Exception:
        return None
    for child in node:
        if child is not None:
            hit = find_button(child, name)
            if hit is not None:
                return hit
    return None


def press(app, name):
    for window in app:
        if window is None:
            continue
        button = find_button(window, name)
        if button is not None:
            button.queryAction().doAction(0)
            return True
    return False


def main():
    app = player()
    what = sys.argv[1] if len(sys.argv) > 1 else "windows"
    if what == "windows":
        for role, name in windows(app):
            print(f"{role}\t{name}")
    elif what == "boxes":
        print(sum(1 for role, _ in windows(app) if role == "alert"))
    elif what == "press":
        count = int(sys.argv[3]) if len(sys.argv) > 3 else 1
        gap = float(sys.argv[4]) if len(sys.argv) > 4 else 0.1
        for _ in range(count):
            if not press(app, sys.argv[2]):
                sys.exit(f"no button {sys.argv[2]!r}")
            time.sleep(gap)
    elif what == "press2":
        names = (sys.argv[2], sys.argv[3])
        count = int(sys.argv[4])
        gap = float(sys.argv[5]) if len(sys.argv) > 5 else 0.1
        for i in range(count):
            if not press(app, names[i % 2]):
                sys.exit(f"no button {names[i % 2]!r}")
            time.sleep(gap)
    else:
        sys.exit(__doc__)


main()
