"""The shell services (legacy, v2 and exec) and the command-line interpreter."""

import stat
import struct
import time

from vp_common import MAX_LINE, StreamClosed, norm_path
from vp_commands import COMMANDS

# shell v2 packet ids
SH_STDIN, SH_STDOUT, SH_STDERR, SH_EXIT, SH_CLOSE_STDIN, SH_WINSIZE = 0, 1, 2, 3, 4, 5


def service_shell(t, stream, service):
    head, _, command = service.partition(":")
    v2 = "v2" in head.split(",")[1:]
    if not command:
        interactive_shell(t, stream, v2)
        return
    stdin = ChunkReader(V2Reader(stream).stdin if v2 else stream.read)
    out, err, code = run_command_line(t, command, stdin)
    if v2:
        send_v2(stream, SH_STDOUT, out)
        send_v2(stream, SH_STDERR, err)
        send_v2(stream, SH_EXIT, bytes([code & 0xff]), force=True)
    else:
        # the legacy shell has one channel and no exit status
        stream.write(out + err)


def service_exec(t, stream, service):
    out, err, _code = run_command_line(t, service.partition(":")[2], ChunkReader(stream.read))
    stream.write(out + err)


def send_v2(stream, kind, data, force=False):
    if data or force:
        stream.write(struct.pack("<BI", kind, len(data)) + data)


def interactive_shell(t, stream, v2):
    """A line-at-a-time shell for `adb shell` without a command."""
    prompt = ("%s:/ $ " % t.phone.props["ro.product.device"]).encode()
    reader = V2Reader(stream) if v2 else None
    buf = b""
    if v2:
        send_v2(stream, SH_STDOUT, prompt)
    else:
        stream.write(prompt)
    while True:
        data = reader.stdin() if v2 else stream.read()
        if not data:
            break
        buf += data
        if len(buf) > MAX_LINE and b"\n" not in buf:
            buf = b""
            err = b"/system/bin/sh: line too long\n"
            if v2:
                send_v2(stream, SH_STDERR, err)
            else:
                stream.write(err)
        while b"\n" in buf:
            line, buf = buf.split(b"\n", 1)
            line = line.decode("utf-8", "replace").strip()
            if line == "exit":
                if v2:
                    send_v2(stream, SH_EXIT, b"\0")
                return
            out, err, _ = run_command_line(t, line) if line else (b"", b"", 0)
            if v2:
                send_v2(stream, SH_STDOUT, out)
                send_v2(stream, SH_STDERR, err)
                send_v2(stream, SH_STDOUT, prompt)
            else:
                stream.write(out + err + prompt)
    if v2:
        send_v2(stream, SH_EXIT, b"\0")


class V2Reader:
    def __init__(self, stream):
        self.stream = stream

    def stdin(self):
        while True:
            try:
                kind, length = struct.unpack("<BI", self.stream.read_exact(5))
                if length > 1 << 20:
                    return b""
                data = self.stream.read_exact(length)
            except StreamClosed:
                return b""
            if kind == SH_STDIN:
                if data:
                    return data
            elif kind == SH_CLOSE_STDIN:
                return b""


class ShellSyntaxError(Exception):
    pass


def tokenize(line):
    """Splits a shell line into words, operators (; && || |) and redirections, which come out as
    (fd, op, target) tuples. Quotes and backslashes work as in sh; nothing is expanded."""
    tokens, word, quoted, i, n = [], [], False, 0, len(line)

    def end_word():
        nonlocal word, quoted
        if word or quoted:
            tokens.append("".join(word))
        word, quoted = [], False

    while i < n:
        c = line[i]
        if c in " \t\n":
            end_word()
            i += 1
        elif c == "'":
            j = line.find("'", i + 1)
            if j < 0:
                raise ShellSyntaxError("unterminated quoted string")
            word.append(line[i + 1:j])
            quoted, i = True, j + 1
        elif c == '"':
            i += 1
            while i < n and line[i] != '"':
                if line[i] == "\\" and i + 1 < n and line[i + 1] in '"\\$`':
                    i += 1
                word.append(line[i])
                i += 1
            if i >= n:
                raise ShellSyntaxError("unterminated quoted string")
            quoted, i = True, i + 1
        elif c == "\\" and i + 1 < n:
            word.append(line[i + 1])
            i += 2
        elif c in ";&|":
            end_word()
            op = line[i:i + 2] if line[i:i + 2] in ("&&", "||") else c
            if op == "&":
                raise ShellSyntaxError("background jobs are not supported")
            tokens.append(op)
            i += len(op)
        elif c in "<>":
            fd = None
            if len(word) == 1 and not quoted and word[0].isdigit():
                fd = int(word[0])
                word = []
            end_word()
            op = line[i:i + 2] if line[i:i + 2] in (">>", ">&") else c
            i += len(op)
            while i < n and line[i] in " \t":
                i += 1
            j = i
            while j < n and line[j] not in " \t\n;&|<>":
                j += 1
            target = line[i:j]
            if not target:
                raise ShellSyntaxError("missing redirection target")
            tokens.append((fd if fd is not None else (0 if op == "<" else 1), op, target))
            i = j
        else:
            word.append(c)
            i += 1
    end_word()
    return tokens


class ChunkReader:
    """A command's standard input over a function that returns the next chunk (b"" at the end)."""

    def __init__(self, next_chunk):
        self.next_chunk = next_chunk
        self.rest = b""

    def read_exact(self, n):
        out = bytearray(self.rest[:n])
        self.rest = self.rest[n:]
        while len(out) < n:
            chunk = self.next_chunk()
            if not chunk:
                return None
            need = n - len(out)
            out += chunk[:need]
            self.rest = chunk[need:]
        return bytes(out)


def run_command_line(t, line, stdin=None):
    """Runs `a; b && c || d` style lines; returns (stdout, stderr, exit code)."""
    try:
        tokens = tokenize(line)
    except ShellSyntaxError as e:
        return b"", ("/system/bin/sh: syntax error: %s\n" % e).encode(), 1
    out, err, code = bytearray(), bytearray(), 0
    cmd, joiner = [], ";"
    for tok in tokens + [";"]:
        if tok in (";", "&&", "||", "|"):
            if tok == "|":
                return bytes(out), b"/system/bin/sh: pipes are not supported\n", 1
            if cmd and (joiner == ";" or (joiner == "&&") == (code == 0)):
                o, e, code = run_command(t, cmd, stdin)
                out += o
                err += e
            cmd, joiner = [], tok
        else:
            cmd.append(tok)
    return bytes(out), bytes(err), code


def run_command(t, argv, stdin=None):
    """Runs one command with its redirections (<file, >file, >>file, 2>&1, >&2)."""
    words = [a for a in argv if isinstance(a, str)]
    redirects = [a for a in argv if not isinstance(a, str)]
    if not words:
        return b"", b"", 0
    name = words[0]
    fn = COMMANDS.get(name.rsplit("/", 1)[-1]) if "/" not in name \
        or name.rsplit("/", 1)[0] == "/system/bin" else None
    if fn is None:
        out, err, code = "", "/system/bin/sh: %s: not found\n" % name, 127
    else:
        out, err, code = fn(t.phone, words[1:], stdin)
    streams = {1: out.encode(), 2: err.encode()}
    for fd, op, target in redirects:
        if fd not in (1, 2):
            continue
        if op == ">&":
            other = 1 if target == "1" else 2
            if other != fd:
                streams[other] += streams[fd]
                streams[fd] = b""
            continue
        data, streams[fd] = streams[fd], b""
        if target == "/dev/null":
            continue
        path = norm_path(target)
        with t.phone.lock:
            old = t.phone.files.get(path)
            if old is not None and old[1] is None:
                streams[2] += ("/system/bin/sh: can't create %s: Is a directory\n" % target).encode()
                code = 1
                continue
            if op == ">>" and old is not None:
                data = old[1] + data
            t.phone.files[path] = [stat.S_IFREG | 0o644, data, int(time.time())]
    return streams[1], streams[2], code
