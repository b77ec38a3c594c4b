"""Reads the program's open window through AT-SPI, as a screen reader does: finds the application
by its process id, waits for its window, prints the tree (role, name, description, and whether each
object is showing) and checks what a user who cannot see the window is told.

    a11y-tree.py <pid> <dump file>

Exit status: 0 when every check holds, 1 otherwise (the failed checks are printed).
"""

import sys
import time

import pyatspi
from gi.repository import GLib

TIMEOUT = 20


def wait_for(what, probe, timeout=TIMEOUT):
    """Polls probe until it returns something truthy; None after the timeout."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            found = probe()
        except GLib.Error:
            found = None
        if found or time.monotonic() > deadline:
            if not found:
                print(f"timed out waiting for {what}")
            return found
        time.sleep(0.2)


def application(pid):
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def showing(obj):
    return obj.getState().contains(pyatspi.STATE_SHOWING)


def window(app):
    for child in app:
        if child is not None and showing(child):
            return child
    return None


def walk(obj, depth=0):
    yield obj, depth
    for child in obj:
        if child is not None:
            yield from walk(child, depth + 1)


def describe(obj):
    shown = "showing" if showing(obj) else "hidden"
    return f"{obj.getRoleName()} | {obj.name!r} | {obj.description!r} | {shown}"


def dump(app):
    return "\n".join("  " * depth + describe(obj) for obj, depth in walk(app))


def named(win, role, name):
    """The showing objects of a role and name."""
    return [o for o, _ in walk(win) if o.getRoleName() == role and o.name == name and showing(o)]


class NameChanges:
    """Records accessible-name changes, as a screen reader is told of them."""

    def __init__(self):
        self.names = []
        pyatspi.Registry.registerEventListener(self.heard, "object:property-change:accessible-name")

    def heard(self, event):
        self.names.append((event.source.getRoleName(), event.source.name))

    def wait(self, role, name):
        # The listener only hears while the registry's loop runs.
        loop = GLib.MainLoop()
        deadline = time.monotonic() + TIMEOUT

        def check():
            if (role, name) in self.names or time.monotonic() > deadline:
                loop.quit()
                return False
            return True

        GLib.timeout_add(100, check)
        loop.run()
        return (role, name) in self.names


def main():
    pid, dump_file = int(sys.argv[1]), sys.argv[2]
    failures = []

    def check(ok, what):
        print(("ok:   " if ok else "FAIL: ") + what)
        if not ok:
            failures.append(what)

    app = wait_for(f"the application of process {pid} on the accessibility bus", lambda: application(pid))
    if app is None:
        return 1
    win = wait_for("a showing window", lambda: window(app))
    if win is None:
        print(dump(app))
        return 1
    changes = NameChanges()
    # The first login against the simulator settles the status texts.
    online = wait_for("the status picture named Online", lambda: named(win, "image", "Online"))

    tree = dump(app)
    with open(dump_file, "w", encoding="utf-8") as f:
        f.write(tree + "\n")
    print(tree)

    check(win.getRoleName() == "frame" and win.name == "DDNS Property", "the window is a frame named DDNS Property")
    check(bool(online), "the status picture is named Online")
    for role, name in [
        ("text", "Username"),
        ("password text", "Password"),
        ("check box", "Disable service"),
        ("push button", "Connected"),
        ("push button", "Save"),
        ("label", "DDNS Server: Connected to 127.0.0.1"),
        ("label", "My IP: 127.0.0.1"),
        ("label", "Error: -"),
        ("label", "Tips"),
    ]:
        check(len(named(win, role, name)) == 1, f"one showing {role} named {name!r}")
    # Every showing control a user can reach by keyboard says what it is.
    for obj, _ in walk(win):
        if showing(obj) and obj.getState().contains(pyatspi.STATE_FOCUSABLE):
            check(bool(obj.name), f"the focusable {obj.getRoleName()} has a name")
    # The controls that are created hidden stay out of reach.
    hidden = [o for o, _ in walk(win) if o.getRoleName() in ("text", "push button") and not showing(o)]
    check(len(hidden) == 3, f"three hidden controls (gateway box, Default, Text1), found {len(hidden)}")

    # Ticking the check box as assistive technology does: the status picture and the server's value
    # are renamed, and the screen reader is told of each.
    boxes = named(win, "check box", "Disable service")
    if boxes:
        boxes[0].queryAction().doAction(0)
        for role, name in [("image", "Disabled"), ("label", "DDNS Server: Disabled")]:
            check(changes.wait(role, name), f"after ticking Disable service the reader hears the {role} {name!r}")
        check(len(named(win, "push button", "Connect")) == 1, "one showing push button named 'Connect'")

    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
