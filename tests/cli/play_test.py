"""Plays a 3-frame animated GIF in a pseudo-terminal, presses q and checks
that the converter drew the frames in place and left the terminal as it
found it: the same settings, the cursor shown again, the last frame kept.
    play_test.py MORVEL_TEXT"""
import fcntl
import os
import pty
import select
import struct
import sys
import tempfile
import termios
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data"))
from make_gif import gif  # noqa: E402

HIDE, SHOW, HOME = b"\x1b[?25l", b"\x1b[?25h", b"\x1b[H"


def read_until(fd, wanted, seconds):
    got, end = b"", time.time() + seconds
    while wanted(got) is False and time.time() < end:
        if select.select([fd], [], [], 0.05)[0]:
            try:
                chunk = os.read(fd, 65536)
            except OSError:
                break
            if not chunk:
                break
            got += chunk
    return got


def main():
    binary = sys.argv[1]
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "three.gif")
        frames = [dict(left=0, top=0, w=24, h=16, pixels=[(x // 8 == k) * 1 for y in range(16) for x in range(24)],
                       delay=5) for k in range(3)]
        with open(path, "wb") as f:
            f.write(gif(24, 16, [(255, 255, 255), (0, 0, 0)], frames, loops=0))
        pid, fd = pty.fork()
        if pid == 0:
            fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
            os.execv(binary, [binary, "--footer", "--font", "DejaVu Sans Mono", "--background", "light",
                              "--font-ratio", "1/2", "--color", "none", path])
        before = termios.tcgetattr(fd)
        # Three frames drawn (in place: three homes), then q.
        shown = read_until(fd, lambda got: got.count(HOME) >= 4, 10)
        os.write(fd, b"q")
        rest = read_until(fd, lambda got: False, 3)
        _, status = os.waitpid(pid, 0)
        after = termios.tcgetattr(fd)
        out = shown + rest
        if not os.WIFEXITED(status) or os.WEXITSTATUS(status) != 0:
            failures.append("status %r after q" % status)
        if before != after:
            failures.append("terminal settings changed: %r -> %r" % (before, after))
        if not out.startswith(HIDE):
            failures.append("the cursor was not hidden first")
        if not out.rstrip(b"\r\n").endswith(SHOW):
            failures.append("the cursor was not shown again at the end")
        if out.count(HOME) < 4:
            failures.append("fewer than three frames drawn in place")
        last = out[out.rfind(HOME):]
        if b"three.gif" not in last:
            failures.append("the last frame (with its footer) is not left on the screen")
        if out.count(b"\x1b[2J") != 1:
            failures.append("the screen was cleared more than once (or never)")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


sys.exit(main())
