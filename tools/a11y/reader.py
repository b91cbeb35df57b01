"""Prints what AT-SPI tells a screen reader about the running player: its
labels once the station plays, then every accessible-name change for the
given number of seconds."""
import sys
import time

import pyatspi
from gi.repository import GLib

seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 15
start = time.monotonic()


def stamp():
    return f"{time.monotonic() - start:6.2f}s"


def find_player():
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        if app is not None and app.name.lower() == "tolvane":
            return app
    return None


def dump(node, depth=0):
    try:
        role = node.getRoleName()
        name = node.name
        desc = node.description
    except Exception:
        return
    if role in ("label", "push button", "slider", "progress bar", "frame", "filler",
                "table", "combo box", "text", "menu bar", "check box", "status bar"):
        print(f"  {'  ' * depth}[{role}] name={name!r} description={desc!r}")
    for child in node:
        if child is not None:
            dump(child, depth + 1)


app = None
while app is None and time.monotonic() - start < 10:
    app = find_player()
    time.sleep(0.3)
if app is None:
    names = [a.name for a in pyatspi.Registry.getDesktop(0) if a is not None]
    sys.exit(f"the player did not appear on the accessibility bus (there: {names})")
time.sleep(3)  # the station connects and its first title arrives
print(f"{stamp()} the player's window as a screen reader sees it:")
for window in app:
    dump(window)


def on_name(event):
    src = event.source
    try:
        desc = src.description
        role = src.getRoleName()
    except Exception:
        desc, role = "", ""
    try:
        name = src.name
    except Exception:
        name = "?"
    print(f"{stamp()} name changed: [{role}] {name!r} ({desc})", flush=True)


pyatspi.Registry.registerEventListener(on_name, "object:property-change:accessible-name")
GLib.timeout_add(int((seconds - 4) * 1000), lambda: pyatspi.Registry.stop())
pyatspi.Registry.start()
print(f"{stamp()} at the end:")
for window in app:
    dump(window)
