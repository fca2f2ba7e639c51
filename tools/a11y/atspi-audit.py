#!/usr/bin/env python3
"""Reads the program's windows over AT-SPI, as a screen reader does.

Run by atspi-audit.sh inside a private D-Bus session and X display:
    atspi-audit.py PROGRAM LANG [ORCA_LOG]
It starts PROGRAM with accessibility always on, waits for its main window and a connected
port, opens every window the menus open and the value dialog, reads all items once (the
virtual instrument refuses two), and prints what it found per window and what a screen
reader was told during the read. With ORCA_LOG, the Orca screen reader runs alongside (no
speech synthesizer is needed: it logs what it would say there) and what it said is printed.
"""
import os
import subprocess
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

R = Atspi.Role
S = Atspi.StateType

# What an operator acts on, or reads a changing state from, and a screen reader must
# name. Scroll bars are described by their role and orientation and left out, as in the
# in-process test.
CONTROLS = {
    R.PUSH_BUTTON, R.TOGGLE_BUTTON, R.CHECK_BOX, R.RADIO_BUTTON, R.COMBO_BOX, R.TEXT,
    R.ENTRY, R.PASSWORD_TEXT, R.SPIN_BUTTON, R.SLIDER, R.PAGE_TAB, R.MENU_ITEM,
    R.CHECK_MENU_ITEM, R.RADIO_MENU_ITEM, R.MENU, R.LINK, R.TABLE, R.TREE_TABLE, R.TREE,
    R.LIST, R.LIST_BOX, R.PROGRESS_BAR,
}
INVISIBLE = {"\u200b", "\u200c", "\u200d", "\u2060", "\ufeff"}

events = []


def on_event(event):
    try:
        src = event.source
        role = src.get_role()
        name = src.get_name()
    except Exception:  # the object went away
        return
    events.append((event.type, event.detail1, role, name, time.monotonic()))


def pump(seconds):
    ctx = GLib.MainContext.default()
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        while ctx.pending():
            ctx.iteration(False)
        time.sleep(0.01)


def wait_for(check, seconds, what):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        pump(0.1)
        found = check()
        if found:
            return found
    raise SystemExit("timed out waiting for " + what)


def children(obj):
    try:
        n = obj.get_child_count()
    except Exception:
        return []
    out = []
    for k in range(n):
        try:
            c = obj.get_child_at_index(k)
        except Exception:
            c = None
        if c is not None:
            out.append(c)
    return out


def walk(obj, depth=0):
    yield obj
    if depth > 60:
        return
    for c in children(obj):
        yield from walk(c, depth + 1)


def states(obj):
    s = obj.get_state_set()
    return {t for t in (S.EDITABLE, S.READ_ONLY, S.SHOWING, S.FOCUSABLE, S.CHECKED,
                        S.ENABLED) if s.contains(t)}


def find_app():
    desktop = Atspi.get_desktop(0)
    for app in children(desktop):
        if (app.get_name() or "").lower() == "pmx31570a":
            app.set_cache_mask(Atspi.Cache.NONE)
            return app
    return None


def windows(app):
    return [w for w in children(app) if S.SHOWING in states(w)]


def audit(window):
    controls = unnamed = claims_editable = marked = 0
    samples = []
    for node in walk(window):
        role = node.get_role()
        name = node.get_name() or ""
        desc = node.get_description() or ""
        st = states(node)
        if any(ch in name + desc for ch in INVISIBLE):
            marked += 1
        if role not in CONTROLS:
            continue
        controls += 1
        if not name.strip():
            unnamed += 1
            if len(samples) < 3:
                samples.append(node.get_role_name())
        if S.READ_ONLY in st and S.EDITABLE in st:
            claims_editable += 1
        tail = name.rstrip()[-3:]
        if "&" in name or (len(tail) == 3 and tail[0] == "(" and tail[2] == ")" and
                           tail[1].isascii() and tail[1].isalpha()):
            marked += 1
    return controls, unnamed, claims_editable, marked, samples


def press(node):
    try:
        action = node.get_action_iface()
        if action is None:
            return False
        for k in range(action.get_n_actions()):
            if action.get_action_name(k).lower() in ("press", "click", "activate", "toggle"):
                return action.do_action(k)
    except GLib.Error as e:  # a command that opens a window may answer after the time-out
        print(f"   (no answer to the press: {e.message})")
    return False


def click(node):
    comp = node.get_component_iface()
    box = comp.get_extents(Atspi.CoordType.SCREEN)
    Atspi.generate_mouse_event(box.x + box.width // 2, box.y + box.height // 2, "b1c")


def find(root, pred):
    for node in walk(root):
        try:
            if pred(node):
                return node
        except Exception:
            continue
    return None


def menu_leaves(menubar):
    """The menu bar's commands that open a window, by their place: File > All Data and
    Compare; Setting > item selection, conditions, search and monitor; Version; Help."""
    top = children(menubar)
    file_items = [c for m in children(top[0]) for c in children(m)] or children(top[0])
    set_items = [c for m in children(top[1]) for c in children(m)] or children(top[1])
    set_items = [c for c in set_items if c.get_role() != R.SEPARATOR]
    return [file_items[0], set_items[0], set_items[2], set_items[3], set_items[4], top[2],
            top[3], file_items[3]]


def start_orca(log):
    prefs = os.path.join(os.path.dirname(log), "orca-prefs")
    os.makedirs(prefs, exist_ok=True)
    orca = subprocess.Popen(["orca", "--replace", "-u", prefs, "--debug-file", log],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    pump(6)  # it registers its listeners on the bus
    return orca


def orca_said(log, start):
    """What Orca spoke after the log's byte `start`."""
    try:
        with open(log, encoding="utf-8", errors="replace") as f:
            f.seek(start)
            text = f.read()
    except OSError:
        return []
    out = []
    for line in text.splitlines():
        at = line.find("SPEECH OUTPUT: '")
        if at >= 0:
            out.append(line[at + len("SPEECH OUTPUT: '"):].rstrip().rstrip("'"))
    return out


def log_size(log):
    try:
        return os.path.getsize(log)
    except OSError:
        return 0


def main():
    program, lang = sys.argv[1], sys.argv[2]
    orca_log = sys.argv[3] if len(sys.argv) > 3 else None
    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb",
               QT_ACCESSIBILITY="1")
    Atspi.init()
    listener = Atspi.EventListener.new(on_event)
    for kind in ("object:state-changed:showing", "object:property-change:accessible-name",
                 "object:text-changed", "object:announcement"):
        listener.register(kind)
    orca = start_orca(orca_log) if orca_log else None
    proc = subprocess.Popen([program], env=env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    try:
        app = wait_for(find_app, 30, "the program on the accessibility bus")

        def main_frame():
            for w in windows(app):
                if w.get_role() == R.FRAME:
                    return w
            return None

        frame = wait_for(main_frame, 30, "the main window")
        read_names = {"en": "Read", "ja": "読込み"}[lang]
        yes_names = {"Yes", "はい", "はい(Y)"}  # the last as a build named it before

        def read_button():
            b = find(frame, lambda n: n.get_role() == R.PUSH_BUTTON and
                     n.get_name() == read_names)
            return b if b is not None and S.ENABLED in states(b) else None

        button = wait_for(read_button, 30, "the port to open (Read enabled)")
        print(f"== {lang}: main window before anything else")
        report({"main": frame})

        # Read, answering the question; everything the screen reader hears meanwhile.
        events.clear()
        orca_from = log_size(orca_log) if orca_log else 0
        press(button)

        def question():
            for w in windows(app):
                if w.get_role() in (R.DIALOG, R.ALERT) and w != frame:
                    b = find(w, lambda n: n.get_role() == R.PUSH_BUTTON and
                             n.get_name() in yes_names)
                    if b is not None:
                        return w, b
            return None

        box, yes = wait_for(question, 20, "the question before reading")
        print(f"== {lang}: the question before reading")
        report({"question": box})
        press(yes)
        pump(8)
        told = [e for e in events]
        print(f"== {lang}: what came over AT-SPI during the read ({len(told)} events)")
        start = told[0][4] if told else 0
        for kind, detail, role, name, at in told:
            if role in (R.NOTIFICATION, R.ALERT) or "accessible-name" in kind and \
                    role in (R.LABEL, R.STATUS_BAR):
                print(f"   {at - start:6.3f} s {kind} [{detail}] "
                      f"{Atspi.role_get_name(role)}: {name!r}")
        if orca_log:
            print(f"== {lang}: what Orca said from Read to the end of the read")
            for line in orca_said(orca_log, orca_from):
                print(f"   {line}")
        counts = {}
        for kind, detail, role, name, at in told:
            key = f"{kind} {Atspi.role_get_name(role)}"
            counts[key] = counts.get(key, 0) + 1
        for key in sorted(counts):
            print(f"   {counts[key]:4d} x {key}")

        value_cell = find(frame, lambda n: n.get_role() == R.TEXT and
                          (n.get_name() or "").startswith("0010 "))
        # The value dialog of item 0010h, opened by a click while nothing covers the cell.
        if value_cell is None:  # unnamed cells: the value cells are every second text field
            cells = [n for n in walk(frame) if n.get_role() == R.TEXT]
            value_cell = cells[2 * 16 + 1] if len(cells) > 33 else None
        if value_cell is not None:
            print(f"== {lang}: value cell of 0010h: name {value_cell.get_name()!r}, "
                  f"text {text_of(value_cell)!r}, description {value_cell.get_description()!r}, "
                  f"states {sorted(str(s.value_nick) for s in states(value_cell))}")
            if orca_log:
                # The row as the screen reader says it when the keyboard reaches it.
                box = find(frame, lambda n: n.get_role() == R.CHECK_BOX and
                           (n.get_name() or "").startswith("0010 "))
                # A click on the row's address activates the window (there is no window
                # manager) and changes nothing.
                address = find(frame, lambda n: n.get_role() == R.LABEL and
                               n.get_name() == "0010")
                if address is not None:
                    click(address)
                    pump(2)
                orca_from = log_size(orca_log)
                for node in (box, value_cell):
                    if node is not None:
                        node.get_component_iface().grab_focus()
                        pump(6)  # the screen reader takes its time
                print(f"== {lang}: what Orca said as the selection box and value cell of 0010h "
                      "took the focus")
                for line in orca_said(orca_log, orca_from):
                    print(f"   {line}")
            click(value_cell)
            pump(1.5)
        # Every window the menus open.
        menubar = find(frame, lambda n: n.get_role() == R.MENU_BAR)
        for item in menu_leaves(menubar):
            press(item)
            pump(1.5)
        pump(4)  # the comparison reads the instrument before its window opens
        found = {}
        for w in windows(app):
            found.setdefault(w.get_name() or "(untitled)", w)
        print(f"== {lang}: every window ({len(found)})")
        report(found)
    finally:
        if orca is not None:
            orca.terminate()
        proc.terminate()
        try:
            proc.wait(10)
        except subprocess.TimeoutExpired:
            proc.kill()


def text_of(node):
    t = node.get_text_iface()
    if t is None:
        return None
    return t.get_text(0, t.get_character_count())


def report(found):
    total = [0, 0, 0, 0]
    for title, w in found.items():
        c, u, e, m, samples = audit(w)
        total = [a + b for a, b in zip(total, (c, u, e, m))]
        extra = f"  e.g. {', '.join(samples)}" if samples else ""
        print(f"   {title[:48]:48s} controls {c:4d}  unnamed {u:4d}  read-only yet editable "
              f"{e:3d}  letters/invisible {m:3d}{extra}")
    print(f"   {'all':48s} controls {total[0]:4d}  unnamed {total[1]:4d}  read-only yet "
          f"editable {total[2]:3d}  letters/invisible {total[3]:3d}")


if __name__ == "__main__":
    main()
