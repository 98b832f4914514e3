#!/usr/bin/env python3
"""Runs system_dll_probe.exe under Wine, in a Wine prefix of its own.

    run_wine_probe.py PROBE_DIR WINE_PREFIX

Wine prefers its own version.dll to one beside the program unless told to
prefer native DLLs, as Windows does; it is told so here. Exit 77 (skipped)
when a load by bare name still doesn't run the planted file: then this Wine
can't show the difference.
"""

import os
import subprocess
import sys

SKIPPED = 77


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    probe_dir, prefix = argv[1], argv[2]
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=;version=n,b")
    env.pop("DISPLAY", None)  # a console program: no windows wanted
    probe = os.path.join(probe_dir, "system_dll_probe.exe")

    def run(*args):
        return subprocess.run(["wine", probe, *args], env=env, cwd=probe_dir).returncode

    if run("plain") != 0:
        print("a bare-name load doesn't run the planted version.dll here: nothing to show")
        return SKIPPED
    return run()


if __name__ == "__main__":
    sys.exit(main(sys.argv))
