"""A throw-away source tree for the repository checks' tests: files written below a temporary
root, and a check's main() run over it with its complaints captured."""

import contextlib
import io
import os
import tempfile


class ScratchTree:
    def __init__(self, check_main, files):
        self.check_main = check_main
        self.dir = tempfile.TemporaryDirectory()
        self.root = self.dir.name
        for path, text in files.items():
            self.write(path, text)

    def write(self, path, text):
        full = os.path.join(self.root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w", encoding="utf-8") as f:
            f.write(text)

    def run(self):
        err = io.StringIO()
        with contextlib.redirect_stderr(err):
            rc = self.check_main(["--root", self.root])
        return rc, err.getvalue()

    def close(self):
        self.dir.cleanup()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
