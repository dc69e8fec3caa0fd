#!/usr/bin/python3
"""The window as a screen reader finds it: the real program under Xvfb, its
accessible tree walked over AT-SPI. Every focusable control and scroll bar has
a name, a page's thumbnail says whether the page is selected, no field is both
editable and read-only, a choice is named apart from its value, and the status
line says its text and a run's summary, announced. Started again in German, it
speaks German and all of that still holds.

    dbus-run-session -- /usr/bin/python3 accessibility_test.py BRIGHTLEAF MAKE_PDF
"""
import os
import subprocess
import sys
import tempfile
import time

import pyatspi
from gi.repository import GLib


def wait_for(what, seconds=60):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        while GLib.MainContext.default().iteration(False):
            pass
        found = what()
        if found:
            return found
        time.sleep(0.1)
    sys.exit(f"accessibility: gave up waiting for {what.__doc__}")


def walk(node):
    yield node
    for child in node:
        if child is not None:
            yield from walk(child)


def problems(app):
    for node in walk(app):
        states, role = node.getState(), node.getRoleName()
        parent = node.parent
        where = f"{role} {node.name!r} in {parent.getRoleName() if parent else ''} " + (
            repr(parent.name) if parent else "")
        if (states.contains(pyatspi.STATE_FOCUSABLE) or role == "scroll bar") and not node.name:
            yield "no name: " + where
        if states.contains(pyatspi.STATE_EDITABLE) and states.contains(pyatspi.STATE_READ_ONLY):
            yield "editable and read-only: " + where
        items = walk(node) if role == "combo box" else []
        if any(item.getRoleName() == "list item" and item.name == node.name for item in items):
            yield "named by its value: " + where


def main(brightleaf, make_pdf):
    work = tempfile.mkdtemp()
    out, config, runtime = (os.path.join(work, name) for name in ("out", "config", "run"))
    os.makedirs(os.path.join(config, "Brightleaf"))
    os.mkdir(out)
    os.mkdir(runtime, 0o700)
    with open(os.path.join(config, "Brightleaf", "Brightleaf.conf"), "w") as settings:
        settings.write(f"[output]\nfolder={out}\nremember=true\n[ui]\nadvancedExpanded=true\n")
    pdf = os.path.join(work, "report.pdf")
    subprocess.run([make_pdf, pdf, "2"], check=True)
    read, write = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-nolisten", "tcp"], pass_fds=[write])
    os.close(write)
    display = ":" + os.read(read, 16).decode().strip()
    env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb", XDG_CONFIG_HOME=config,
               XDG_RUNTIME_DIR=runtime, HOME=work, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
               LC_ALL="C.UTF-8")
    # Qt takes the window's language from LANGUAGE before the locale.
    env.pop("LANGUAGE", None)
    program = subprocess.Popen([brightleaf, pdf], env=env)
    ready = "Ready to convert."
    announced = []
    pyatspi.Registry.registerEventListener(
        lambda event: announced.append(event.source.name),
        "object:property-change:accessible-name")
    try:
        def status():
            """the status line to say that the file is ready"""
            apps = [app for app in pyatspi.Registry.getDesktop(0) if app and app.name == "Brightleaf"]
            lines = [(app, node) for app in apps for node in walk(app)
                     if node.getRoleName() == "status bar" and node.name == ready]
            return lines and lines[0]

        app, line = wait_for(status)
        # The file selected, its pages are in the tree too, each named by its
        # number and whether the page selection includes it.
        queue = next(node for node in walk(app) if node.name == "File queue")
        queue.queryTable().addRowSelection(0)

        def thumbnail():
            """the thumbnail of page 2, named as selected"""
            return any(node.getRoleName() == "list item" and node.name == "Page 2, selected"
                       for node in walk(app))

        wait_for(thumbnail)
        found = sorted(set(problems(app)))
        print("accessibility: problems in the accessible tree:", *(found or ["none"]), sep="\n  ")
        convert = next(node for node in walk(app) if node.name == "Convert to JPG")
        convert.queryAction().doAction(0)
        summary = "1 file converted. 2 images saved."

        def done():
            """the summary, readable as the status line's name and text"""
            return line.name == summary and line.queryText().getText(0, -1) == summary

        wait_for(done)
        wait_for(lambda: summary in announced)

        program.terminate()
        program.wait()
        program = subprocess.Popen([brightleaf, pdf], env=dict(env, LANGUAGE="de"))
        ready = "Bereit zur Umwandlung."
        app, line = wait_for(status)
        german = sorted(set(problems(app)))
        print("accessibility: problems in German:", *(german or ["none"]), sep="\n  ")
        return 1 if found or german else 0
    finally:
        program.terminate()
        program.wait()
        xvfb.terminate()


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:3]))
