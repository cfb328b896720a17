#!/usr/bin/env python3
"""Ctrl-C at the Octave prompt during a long call, as a user presses it.

    interrupt.py OCTAVE_CLI MODULE_DIR THREADS

Starts octave-cli in a pseudo-terminal with QUIBRA_NUM_THREADS=THREADS and
makes a call of well over 10 s (n = 10^6, f = 0.05). Two seconds in, it
types the terminal's interrupt character and checks that the prompt is back
within a second, after the quibra:interrupted error, with nothing assigned;
then that the next call in that session gives the same bits as the same
call in a fresh session.
"""
import os
import pty
import re
import select
import subprocess
import sys
import tempfile
import termios
import time

FLAGS = ["--no-gui", "--no-window-system", "--no-init-file", "--no-history", "--quiet"]
PROMPT = re.compile(r"octave:\d+> ")
# Deterministic data, unsorted; the check call smooths a part of them robustly.
SETUP = ("n = 1e6; x = mod ((1:n)' * 0.6180339887498949, 1); "
         "y = sin (8 * x) + 0.1 * cos (1e4 * x);")
CHECK = ('r = quibra (x(1:20000), y(1:20000), 0.1, 1); '
         'printf ("bits %s\\n", hash ("md5", char (typecast (r, "uint8"))\'));')
BITS = re.compile(r"bits ([0-9a-f]{32})")


def fail(message, transcript=""):
    print("FAIL: " + message)
    if transcript:
        print("--- terminal ---\n" + transcript + "\n--- end ---")
    sys.exit(1)


class Session:
    """octave-cli on a pseudo-terminal; `text` is what the terminal showed."""

    def __init__(self, octave, env):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.execvpe(octave, [octave] + FLAGS, env)
        self.text = ""
        self.interrupt = termios.tcgetattr(self.fd)[6][termios.VINTR]

    def read(self, seconds, once=False):
        """Reads what arrives within `seconds`; with `once`, only the first
        piece to arrive."""
        end = time.monotonic() + seconds
        while True:
            left = end - time.monotonic()
            ready, _, _ = select.select([self.fd], [], [], max(left, 0))
            if not ready:
                return
            try:
                data = os.read(self.fd, 65536)
            except OSError:
                return
            if not data:
                return
            text = data.decode(errors="replace")
            self.text += re.sub(r"\x1b\[[0-9;?]*[A-Za-z]|[\r\b]", "", text)
            if once:
                return

    def expect(self, pattern, start, seconds):
        """The first match of `pattern` in the text from `start` on, waiting at
        most `seconds` for it, and when it came; fails the test without it."""
        end = time.monotonic() + seconds
        while True:
            match = pattern.search(self.text, start)
            if match:
                return match, time.monotonic()
            if time.monotonic() >= end:
                fail("no %r within %g s" % (pattern.pattern, seconds), self.text)
            self.read(end - time.monotonic(), once=True)

    def type(self, line):
        """Types `line` and returns where its output starts (after the echo)."""
        start = len(self.text)
        os.write(self.fd, line.encode() + b"\n")
        return start

    def close(self):
        try:
            self.type("exit")
            for _ in range(100):
                pid, _ = os.waitpid(self.pid, os.WNOHANG)
                if pid:
                    return
                self.read(0.1)
            os.kill(self.pid, 9)
            os.waitpid(self.pid, 0)
        finally:
            os.close(self.fd)


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    octave, module, threads = sys.argv[1:]
    with tempfile.NamedTemporaryFile("w", suffix=".inputrc") as inputrc:
        # Typing a closing parenthesis must not stop the terminal half a second.
        inputrc.write("set blink-matching-paren off\n")
        inputrc.flush()
        env = dict(os.environ, QUIBRA_NUM_THREADS=threads, INPUTRC=inputrc.name, TERM="dumb")
        session = Session(octave, env)
        try:
            bits = interrupted_session(session, module)
        finally:
            session.close()
    fresh = subprocess.run([octave] + FLAGS + ["--eval", "addpath ('%s'); %s %s" % (module, SETUP, CHECK)],
                           env=env, capture_output=True, text=True, timeout=120)
    match = BITS.search(fresh.stdout)
    if not match:
        fail("a fresh session gave no result:\n" + fresh.stdout + fresh.stderr)
    if match.group(1) != bits:
        fail("the call after the interrupt differs from a fresh session's")
    print("interrupted on %s thread(s): prompt back, next call as in a fresh session" % threads)


def interrupted_session(session, module):
    """Interrupts the long call and returns the next call's bits."""
    session.expect(PROMPT, 0, 30)
    start = session.type("addpath ('%s'); %s printf (\"%%s\\n\", [\"set\" \"up\"]);" % (module, SETUP))
    session.expect(re.compile(r"^setup$", re.M), start, 30)
    session.expect(PROMPT, start, 30)

    start = session.type("ys = quibra (x, y, 0.05);")
    session.read(2.0)
    if PROMPT.search(session.text, start):
        fail("the long call ended before the interrupt", session.text)
    start = len(session.text)
    os.write(session.fd, session.interrupt)
    sent = time.monotonic()
    error, _ = session.expect(re.compile(r"error: quibra: Interrupted\."), start, 10)
    _, back = session.expect(PROMPT, error.end(), 10)
    if back - sent > 1.0:
        fail("the prompt took %.2f s to come back" % (back - sent), session.text)
    print("prompt back %.3f s after the interrupt" % (back - sent))

    start = session.type('[~, id] = lasterr (); printf ("after %s %d\\n", id, exist ("ys"));')
    after, _ = session.expect(re.compile(r"after (\S+) (\d)"), start, 10)
    if after.groups() != ("quibra:interrupted", "0"):
        fail("after the interrupt: identifier %s, ys exists %s" % after.groups(), session.text)

    start = session.type(CHECK)
    bits, _ = session.expect(BITS, start, 60)
    return bits.group(1)


if __name__ == "__main__":
    main()
