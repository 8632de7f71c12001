#!/usr/bin/env python3
"""Fails when a source folder includes a header from a folder above it.

The folders and what each may include (besides itself):
  base    nothing
  decode  base
  filter  base, decode
  proxy   base
  store   base
  shell   base, decode, filter, proxy, store
  ui      base, decode, filter, proxy, store, shell
The public plug-in header (include/orvelane/) is open to everyone. No folder
but ui/ may include a Qt Widgets header. ALLOWED lists exceptions: it is
empty and should stay so.

  check_layering.py SOURCE_DIR
"""
import os
import re
import sys

MAY_INCLUDE = {
    "base": set(),
    "decode": {"base"},
    "filter": {"base", "decode"},
    "proxy": {"base"},
    "store": {"base"},
    "shell": {"base", "decode", "filter", "proxy", "store"},
    "ui": {"base", "decode", "filter", "proxy", "store", "shell"},
}
ALLOWED = set()  # (file, included header) pairs that may break the rule

INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]')
WIDGETS = re.compile(r"^(QtWidgets/|Q(Application|Widget|MainWindow|Dialog|SystemTrayIcon|Menu|"
                     r"MessageBox|TreeWidget|TreeView|TableView|ListWidget|ListView|PlainTextEdit|"
                     r"TextEdit|TabBar|TabWidget|PushButton|ProgressBar|Label|LineEdit|"
                     r"AbstractItemView|HeaderView|BoxLayout|VBoxLayout|HBoxLayout|GridLayout)$)")


def violations(root):
    found = []
    for folder, allowed in MAY_INCLUDE.items():
        top = os.path.join(root, folder)
        for dirpath, _, names in os.walk(top):
            for name in sorted(names):
                if not name.endswith((".h", ".cpp")):
                    continue
                path = os.path.join(dirpath, name)
                rel = os.path.relpath(path, root)
                with open(path, encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if not m:
                            continue
                        header = m.group(1)
                        if (rel, header) in ALLOWED:
                            continue
                        target = header.split("/", 1)[0] if "/" in header else None
                        if target in MAY_INCLUDE and target != folder and target not in allowed:
                            found.append(f"{rel}:{number}: {folder}/ includes {header} from {target}/")
                        if folder != "ui" and WIDGETS.match(header):
                            found.append(f"{rel}:{number}: {folder}/ includes the widget header {header}")
    return found


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..")
    found = violations(os.path.abspath(root))
    for line in found:
        print(line)
    print(f"layering: {len(found)} include(s) against the direction of dependencies")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
