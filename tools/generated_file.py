"""Writing a generated source file, or checking that the committed one is
current: the shared end of the table generators in tools/."""

import os
import sys


def write_or_check(path, text, argv=None):
    """With --check among the arguments, fail when the file at path differs
    from text; otherwise write text there."""
    argv = sys.argv[1:] if argv is None else argv
    script = os.path.basename(sys.argv[0])
    if "--check" in argv:
        with open(path, encoding="utf-8") as f:
            if f.read() != text:
                raise SystemExit("%s is stale: run tools/%s" % (path, script))
        print("%s is up to date" % path)
        return
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    print("wrote %s" % path)
