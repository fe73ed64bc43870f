#!/usr/bin/env python3
"""A virtual Android phone that the stock ADB client reaches over TCP.

    python3 vphone.py --port 0 --model "VP One"          # prints 127.0.0.1:NNNNN
    adb connect 127.0.0.1:NNNNN

It speaks the ADB transport (CNXN/OPEN/OKAY/WRTE/CLSE) without authentication and offers the
services a desktop companion needs: shell (legacy and v2) with pm/am/cmd/getprop/rm, sync (push,
pull, install by push + pm), exec (streamed install) and tcp:PORT relayed to a configurable
host:port. See README.md.

Control:
  SIGUSR1                    the phone vanishes: every connection is dropped, nothing answers again
  --vanish-on TEXT           vanish when a request names TEXT: a service string such as
                             "am start" or "tcp:12157" when it is opened, or a pushed or pulled
                             file's path after its first data chunk
  --unauthorized             answer the handshake with an AUTH token and never accept
  SIGTERM / SIGINT           exit
Python 3 standard library only.
"""
import argparse
import io
import json
import os
import queue
import random
import re
import signal
import socket
import stat
import struct
import sys
import threading
import time
import zipfile

A_SYNC = 0x434e5953
A_CNXN = 0x4e584e43
A_OPEN = 0x4e45504f
A_OKAY = 0x59414b4f
A_CLSE = 0x45534c43
A_WRTE = 0x45545257
A_AUTH = 0x48545541

A_VERSION = 0x01000001          # the version that lets both sides skip data checksums
MAX_PAYLOAD = 256 * 1024        # what we accept; the client may accept more, we send the minimum
HEADER = struct.Struct("<6I")
AUTH_TOKEN, AUTH_SIGNATURE, AUTH_RSAPUBLICKEY = 1, 2, 3

# Only what is implemented below is advertised: without "cmd" the client installs by pushing the
# file and running pm; without stat_v2/ls_v2/sendrecv_v2 it keeps to the first sync protocol.
FEATURES = ["shell_v2"]

MAX_UNACKED = 4                 # inbound payloads a stream may hold; the protocol allows one
MAX_LINE = 64 * 1024            # an interactive shell line
SYNC_DATA_MAX = 64 * 1024
SYNC_PATH_MAX = 1024
DEFAULT_STORAGE_LIMIT = 1 << 30

FIXTURE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fixture_phone.json")

verbose = False


def log(*args):
    if verbose:
        print("vphone:", *args, file=sys.stderr, flush=True)


class StreamClosed(Exception):
    pass


# ---------------------------------------------------------------------------------------------
# Phone state: files, packages, properties

class Phone:
    def __init__(self, model, product, device, fixture_path, tcp_map, storage_limit,
                 features=FEATURES):
        with open(fixture_path) as f:
            fixture = json.load(f)
        self.lock = threading.Lock()
        self.props = dict(fixture["properties"])
        self.props["ro.product.model"] = model
        self.props["ro.product.name"] = product
        self.props["ro.product.device"] = device
        self.props["ro.serialno"] = "VP%08X" % random.getrandbits(32)
        # name -> (apk path, system?)
        self.packages = {}
        for p in fixture["system_packages"]:
            self.packages[p] = ("/system/app/%s/%s.apk" % (p.split(".")[-1], p.split(".")[-1]), True)
        for p in fixture["user_packages"]:
            self.packages[p] = ("/data/app/%s-1/base.apk" % p, False)
        # path -> [mode, bytes, mtime]; directories carry None as content
        self.files = {}
        for d in ("/", "/data", "/data/local", "/data/local/tmp", "/data/app", "/sdcard",
                  "/sdcard/Download", "/sdcard/DCIM", "/sdcard/Music", "/system", "/system/app"):
            self.files[d] = [stat.S_IFDIR | 0o771, None, int(time.time())]
        self.tcp_map = tcp_map
        self.storage_limit = storage_limit
        self.features = list(features)

    def banner(self):
        return ("device::ro.product.name=%s;ro.product.model=%s;ro.product.device=%s;features=%s"
                % (self.props["ro.product.name"], self.props["ro.product.model"],
                   self.props["ro.product.device"], ",".join(self.features))).encode()

    def put_file(self, path, data, mode, mtime):
        """Stores a file, creating its parent folders as adbd does. Call with the lock held."""
        target = norm_path(path)
        parts = target.split("/")[1:-1]
        for i in range(1, len(parts) + 1):
            d = "/" + "/".join(parts[:i])
            if d not in self.files:
                self.files[d] = [stat.S_IFDIR | 0o771, None, mtime]
        self.files[target] = [stat.S_IFREG | (mode & 0o7777), bytes(data), mtime]

    def used_bytes(self):
        return sum(len(e[1]) for e in self.files.values() if e[1] is not None)


def norm_path(path):
    path = "/" + path.strip("/")
    parts = []
    for part in path.split("/"):
        if part in ("", "."):
            continue
        if part == "..":
            if parts:
                parts.pop()
            continue
        parts.append(part)
    return "/" + "/".join(parts)


# ---------------------------------------------------------------------------------------------
# Transport

class Stream:
    """One ADB stream. Writers wait for the OKAY of their previous WRTE; inbound WRTEs are queued
    and acknowledged only when the service takes them, so at most one payload waits per stream."""

    def __init__(self, transport, local_id, remote_id):
        self.t = transport
        self.local_id = local_id
        self.remote_id = remote_id
        self.inbound = queue.Queue()
        self.cond = threading.Condition()
        self.ready = True
        self.closed = False
        self.pending = b""

    # called by the transport's reader
    def on_okay(self):
        with self.cond:
            self.ready = True
            self.cond.notify_all()

    def on_write(self, data):
        """Queues a payload; False when the peer keeps writing without waiting for our OKAYs."""
        if self.inbound.qsize() >= MAX_UNACKED:
            return False
        self.inbound.put(data)
        return True

    def on_close(self):
        with self.cond:
            self.closed = True
            self.cond.notify_all()
        self.inbound.put(None)

    # used by services
    def write(self, data):
        view = memoryview(data)
        step = self.t.max_payload
        while len(view):
            with self.cond:
                while not self.ready and not self.closed:
                    self.cond.wait()
                if self.closed:
                    raise StreamClosed()
                self.ready = False
            chunk = bytes(view[:step])
            view = view[step:]
            if not self.t.send(A_WRTE, self.local_id, self.remote_id, chunk):
                raise StreamClosed()

    def read(self):
        """Next inbound payload, or b"" once the other side closed."""
        if self.pending:
            data, self.pending = self.pending, b""
            return data
        data = self.inbound.get()
        if data is None:
            self.inbound.put(None)
            return b""
        if not self.closed:
            self.t.send(A_OKAY, self.local_id, self.remote_id)
        return data

    def read_exact(self, n):
        out = bytearray()
        while len(out) < n:
            data = self.read()
            if not data:
                raise StreamClosed()
            need = n - len(out)
            out += data[:need]
            if len(data) > need:
                self.pending = data[need:]
        return bytes(out)

    def close(self):
        with self.cond:
            was_closed = self.closed
            self.closed = True
            self.cond.notify_all()
        if not was_closed:
            self.inbound.put(None)      # wakes a service thread still waiting for input
        self.t.forget(self)
        if not was_closed:
            self.t.send(A_CLSE, self.local_id, self.remote_id)


class Transport:
    def __init__(self, server, sock):
        self.server = server
        self.phone = server.phone
        self.sock = sock
        self.send_lock = threading.Lock()
        self.streams = {}
        self.streams_lock = threading.Lock()
        self.next_id = 1
        self.max_payload = 4096     # until the client's CNXN says more
        self.online = False
        self.dead = False

    def send(self, cmd, arg0, arg1, data=b""):
        header = HEADER.pack(cmd, arg0, arg1, len(data), sum(data) & 0xffffffff, cmd ^ 0xffffffff)
        with self.send_lock:
            if self.dead:
                return False
            try:
                self.sock.sendall(header + data)
                return True
            except OSError:
                return False

    def forget(self, stream):
        with self.streams_lock:
            if self.streams.get(stream.local_id) is stream:
                del self.streams[stream.local_id]

    def recv_exact(self, n):
        buf = bytearray()
        while len(buf) < n:
            chunk = self.sock.recv(n - len(buf))
            if not chunk:
                raise EOFError()
            buf += chunk
        return bytes(buf)

    def run(self):
        try:
            while True:
                cmd, arg0, arg1, length, _check, magic = HEADER.unpack(self.recv_exact(HEADER.size))
                if magic != cmd ^ 0xffffffff or length > max(MAX_PAYLOAD, self.max_payload):
                    log("bad message header, dropping the connection")
                    break
                data = self.recv_exact(length) if length else b""
                self.handle(cmd, arg0, arg1, data)
        except (EOFError, OSError):
            pass
        finally:
            self.shutdown()

    def shutdown(self):
        with self.send_lock:
            self.dead = True
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.sock.close()
        with self.streams_lock:
            streams = list(self.streams.values())
            self.streams.clear()
        for s in streams:
            s.on_close()
        self.server.forget(self)

    def handle(self, cmd, arg0, arg1, data):
        if cmd == A_CNXN:
            if arg1 == 0:
                raise EOFError()    # a peer that accepts no payload cannot be served
            self.max_payload = min(arg1, MAX_PAYLOAD)
            log("CNXN version=%#x maxdata=%d banner=%r" % (arg0, arg1, data))
            if self.server.unauthorized:
                self.send(A_AUTH, AUTH_TOKEN, 0, os.urandom(20))
            else:
                self.online = True
                self.send(A_CNXN, A_VERSION, MAX_PAYLOAD, self.phone.banner())
        elif cmd == A_AUTH:
            # Never accept: every signature gets a fresh token, a public key gets no answer.
            if arg0 == AUTH_SIGNATURE:
                self.send(A_AUTH, AUTH_TOKEN, 0, os.urandom(20))
        elif not self.online:
            return
        elif cmd == A_OPEN:
            self.open(arg0, data.rstrip(b"\0").decode("utf-8", "replace"))
        elif cmd == A_OKAY:
            s = self.streams.get(arg1)
            if s is not None and s.remote_id in (0, arg0):
                s.on_okay()
        elif cmd == A_WRTE:
            s = self.streams.get(arg1)
            if s is None:
                self.send(A_CLSE, 0, arg0)
            elif not s.on_write(data):
                log("stream %d: writes without OKAY, dropping the connection" % arg1)
                raise EOFError()
        elif cmd == A_CLSE:
            s = self.streams.get(arg1)
            if s is not None:
                self.forget(s)
                s.on_close()

    def open(self, remote_id, service):
        log("OPEN", repr(service))
        if self.server.vanish_match(service):
            self.server.vanish()
            return
        handler = find_service(service)
        if handler is None:
            self.send(A_CLSE, 0, remote_id)
            return
        with self.streams_lock:
            local_id = self.next_id
            self.next_id += 1
            s = Stream(self, local_id, remote_id)
            self.streams[local_id] = s
        self.send(A_OKAY, local_id, remote_id)
        threading.Thread(target=run_service, args=(handler, self, s, service), daemon=True).start()


def run_service(handler, transport, stream, service):
    try:
        handler(transport, stream, service)
    except StreamClosed:
        pass
    except Exception as e:  # a broken service must not take the phone down
        log("service %r failed: %r" % (service, e))
    finally:
        stream.close()


class Server:
    def __init__(self, phone, host, port, unauthorized, vanish_on):
        self.phone = phone
        self.unauthorized = unauthorized
        self.vanish_on = vanish_on
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind((host, port))
        self.listener.listen(16)
        self.address = self.listener.getsockname()
        self.transports = set()
        self.lock = threading.Lock()
        self.vanished = threading.Event()

    def vanish_match(self, text):
        return any(v in text for v in self.vanish_on)

    def serve(self):
        while not self.vanished.is_set():
            try:
                sock, _ = self.listener.accept()
            except OSError:
                break
            if self.vanished.is_set():
                sock.close()
                break
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            t = Transport(self, sock)
            with self.lock:
                self.transports.add(t)
            threading.Thread(target=t.run, daemon=True).start()

    def forget(self, t):
        with self.lock:
            self.transports.discard(t)

    def vanish(self):
        """Drops every connection and stops listening, as a phone that was pulled out."""
        if self.vanished.is_set():
            return
        log("vanishing")
        self.vanished.set()
        try:
            self.listener.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.listener.close()
        with self.lock:
            transports = list(self.transports)
        for t in transports:
            with t.send_lock:
                t.dead = True
            try:
                t.sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


# ---------------------------------------------------------------------------------------------
# Services

def find_service(service):
    name = service.split(":", 1)[0]
    if name == "shell" or name.startswith("shell,"):
        return service_shell
    if name == "exec":
        return service_exec
    if service == "sync:":
        return service_sync
    if name == "tcp" and service[4:].isdigit():
        return service_tcp
    return None


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


def cmd_getprop(phone, args, stdin):
    with phone.lock:
        if args:
            return phone.props.get(args[0], args[1] if len(args) > 1 else "") + "\n", "", 0
        return "".join("[%s]: [%s]\n" % kv for kv in sorted(phone.props.items())), "", 0


def cmd_rm(phone, args, stdin):
    force = recursive = False
    paths = []
    for a in args:
        if a.startswith("-") and len(a) > 1 and not paths:
            force |= "f" in a
            recursive |= "r" in a or "R" in a
        else:
            paths.append(a)
    if not paths:
        return "", "" if force else "rm: Needs 1 argument\n", 0 if force else 1
    err, code = "", 0
    with phone.lock:
        for p in paths:
            path = norm_path(p)
            entry = phone.files.get(path)
            if entry is None:
                if not force:
                    err += "rm: %s: No such file or directory\n" % p
                    code = 1
            elif entry[1] is None:
                if not recursive:
                    err += "rm: %s: Is a directory\n" % p
                    code = 1
                elif path in ("/", "/data", "/system", "/sdcard"):
                    err += "rm: %s: Permission denied\n" % p
                    code = 1
                else:
                    for k in [k for k in phone.files if k == path or k.startswith(path + "/")]:
                        del phone.files[k]
            else:
                del phone.files[path]
    return "", err, code


def cmd_echo(phone, args, stdin):
    return " ".join(args) + "\n", "", 0


def package_of(path, content):
    """The package name of an APK: the package attribute of a text AndroidManifest.xml in the
    zip, else the file name when it reads as a package name."""
    try:
        with zipfile.ZipFile(io.BytesIO(content)) as z:
            names = z.namelist()
            if "AndroidManifest.xml" in names:
                manifest = z.read("AndroidManifest.xml")
                m = re.search(rb'package\s*=\s*"([A-Za-z][\w]*(?:\.[A-Za-z][\w]*)+)"', manifest)
                if m:
                    return m.group(1).decode()
    except (zipfile.BadZipFile, OSError, RuntimeError, ValueError, EOFError):
        return None
    base = path.rsplit("/", 1)[-1]
    if base.endswith(".apk"):
        base = base[:-4]
    if re.fullmatch(r"[A-Za-z]\w*(\.[A-Za-z]\w*)+", base):
        return base
    return None


def cmd_pm(phone, args, stdin):
    if not args:
        return "", "usage: pm [list|install|uninstall] ...\n", 1
    sub, rest = args[0], args[1:]
    if sub == "list" and rest[:1] == ["packages"]:
        opts = [a for a in rest[1:] if a.startswith("-")]
        filt = [a for a in rest[1:] if not a.startswith("-")]
        lines = []
        with phone.lock:
            for name in sorted(phone.packages):
                path, system = phone.packages[name]
                if ("-3" in opts and system) or ("-s" in opts and not system):
                    continue
                if filt and filt[0] not in name:
                    continue
                lines.append("package:%s%s\n" % (path + "=" if "-f" in opts else "", name))
        return "".join(lines), "", 0
    if sub == "path" and rest:
        with phone.lock:
            entry = phone.packages.get(rest[-1])
        return ("package:%s\n" % entry[0], "", 0) if entry else ("", "", 1)
    if sub == "install":
        replace = "-r" in rest
        if "-S" in rest:
            # the streamed install: the package's bytes follow on standard input
            i = rest.index("-S")
            size = rest[i + 1] if i + 1 < len(rest) else ""
            if not size.isdigit() or int(size) > phone.storage_limit:
                return "", "Error: invalid size %r\n" % size, 1
            content = stdin.read_exact(int(size)) if stdin is not None else None
            if content is None:
                return "Failure [INSTALL_FAILED_INVALID_APK: short read]\n", "", 1
            path = "/data/app/vmdl.tmp/base.apk"
        else:
            paths = [a for a in rest if not a.startswith("-")]
            if not paths:
                return "", "Error: no package specified\n", 1
            path = norm_path(paths[-1])
            with phone.lock:
                entry = phone.files.get(path)
            if entry is None or entry[1] is None:
                return "", ("Error: Unable to open file: %s\nConsider using a file under "
                            "/data/local/tmp/\n" % paths[-1]), 1
            content = entry[1]
        pkg = package_of(path, content)
        if pkg is None:
            return "Failure [INSTALL_FAILED_INVALID_APK: Failed to parse %s]\n" % path, "", 1
        with phone.lock:
            if pkg in phone.packages and not replace:
                return ("Failure [INSTALL_FAILED_ALREADY_EXISTS: Attempt to re-install %s without "
                        "first uninstalling.]\n" % pkg), "", 1
            apk = "/data/app/%s-1/base.apk" % pkg
            phone.packages[pkg] = (apk, False)
            # The installed bytes stay readable (sync RECV), so a test can compare installs.
            phone.put_file(apk, content, 0o644, int(time.time()))
        return "Success\n", "", 0
    if sub == "uninstall":
        names = [a for a in rest if not a.startswith("-")]
        if not names:
            return "", "Error: package name not specified\n", 1
        with phone.lock:
            entry = phone.packages.get(names[-1])
            if entry is None or entry[1]:
                return "Failure [DELETE_FAILED_INTERNAL_ERROR]\n", "", 1
            phone.files.pop(entry[0], None)
            del phone.packages[names[-1]]
        return "Success\n", "", 0
    return "", "Unknown command: %s\n" % sub, 1


def intent_text(args):
    parts = []
    flags = {"-a": "act", "-d": "dat", "-t": "typ", "-n": "cmp", "-c": "cat"}
    it = iter(args)
    for a in it:
        if a in flags:
            value = next(it, "")
            if a == "-n" and "/" in value:
                pkg, cls = value.split("/", 1)
                if cls.startswith(pkg + "."):
                    value = pkg + "/" + cls[len(pkg):]
            parts.append("%s=%s" % (flags[a], value))
    return "Intent { %s }" % " ".join(parts)


def cmd_am(phone, args, stdin):
    if not args:
        return "", "usage: am [start|broadcast] ...\n", 1
    sub, rest = args[0], args[1:]
    if sub in ("start", "start-activity"):
        comp = rest[rest.index("-n") + 1] if "-n" in rest and rest.index("-n") + 1 < len(rest) else None
        out = "Starting: %s\n" % intent_text(rest)
        if comp is not None:
            pkg, _, cls = comp.partition("/")
            with phone.lock:
                known = pkg in phone.packages
            if not known or not cls:
                full = cls if not cls.startswith(".") else pkg + cls
                return out, "Error type 3\nError: Activity class {%s/%s} does not exist.\n" \
                    % (pkg, full), 1
        return out, "", 0
    if sub == "broadcast":
        return ("Broadcasting: %s\nBroadcast completed: result=0\n" % intent_text(rest)), "", 0
    if sub == "force-stop":
        return "", "", 0
    return "", "Error: unknown command '%s'\n" % sub, 1


def cmd_cmd(phone, args, stdin):
    services = {"package": cmd_pm, "activity": cmd_am}
    if not args:
        return "", "cmd: No service specified; use -l to list all services\n", 20
    if args[0] == "-l":
        return "Currently running services:\n" + "".join("  %s\n" % k for k in sorted(services)), "", 0
    fn = services.get(args[0])
    if fn is None:
        return "", "cmd: Can't find service: %s\n" % args[0], 20
    return fn(phone, args[1:], stdin)


COMMANDS = {"getprop": cmd_getprop, "rm": cmd_rm, "pm": cmd_pm, "am": cmd_am, "echo": cmd_echo,
            "cmd": cmd_cmd}


# sync protocol

def sync_id(s):
    return struct.unpack("<I", s)[0]


ID_STAT, ID_LIST, ID_SEND, ID_RECV, ID_DATA, ID_DONE, ID_OKAY, ID_FAIL, ID_QUIT, ID_DENT = (
    sync_id(x) for x in (b"STAT", b"LIST", b"SEND", b"RECV", b"DATA", b"DONE", b"OKAY", b"FAIL",
                         b"QUIT", b"DENT"))


def sync_fail(stream, message):
    m = message.encode()
    stream.write(b"FAIL" + struct.pack("<I", len(m)) + m)


def service_sync(t, stream, service):
    phone = t.phone
    while True:
        ident, length = struct.unpack("<II", stream.read_exact(8))
        if ident == ID_QUIT:
            return
        if ident not in (ID_STAT, ID_LIST, ID_SEND, ID_RECV) or length > SYNC_PATH_MAX:
            sync_fail(stream, "unknown or malformed sync request")
            return
        path = stream.read_exact(length).decode("utf-8", "replace")
        if ident == ID_STAT:
            with phone.lock:
                e = phone.files.get(norm_path(path))
            if e is None:
                stream.write(b"STAT" + struct.pack("<III", 0, 0, 0))
            else:
                stream.write(b"STAT" + struct.pack("<III", e[0], len(e[1] or b""), e[2]))
        elif ident == ID_LIST:
            d = norm_path(path)
            out = bytearray()
            with phone.lock:
                prefix = d.rstrip("/") + "/"
                for k, e in sorted(phone.files.items()):
                    if k != d and k.startswith(prefix) and "/" not in k[len(prefix):]:
                        name = k[len(prefix):].encode()
                        out += b"DENT" + struct.pack("<IIII", e[0], len(e[1] or b""), e[2],
                                                     len(name)) + name
            out += b"DONE" + struct.pack("<IIII", 0, 0, 0, 0)
            stream.write(bytes(out))
        elif ident == ID_SEND:
            if not sync_send(t, stream, path):
                return
        elif ident == ID_RECV:
            with phone.lock:
                e = phone.files.get(norm_path(path))
            if e is None:
                sync_fail(stream, "remote object '%s' does not exist" % path)
                continue
            if e[1] is None:
                sync_fail(stream, "remote object '%s' is a directory" % path)
                continue
            data = e[1]
            for off in range(0, len(data), SYNC_DATA_MAX):
                chunk = data[off:off + SYNC_DATA_MAX]
                stream.write(b"DATA" + struct.pack("<I", len(chunk)) + chunk)
                if t.server.vanish_match(path):
                    t.server.vanish()
                    return
            stream.write(b"DONE" + struct.pack("<I", 0))


def sync_send(t, stream, spec):
    """Receives one file; returns False when the stream must end."""
    phone = t.phone
    path, _, mode_text = spec.rpartition(",")
    if not path:
        path, mode_text = spec, "33188"
    try:
        mode = int(mode_text)
    except ValueError:
        mode = 0o100644
    target = norm_path(path)
    data = bytearray()
    error = None
    vanish = t.server.vanish_match(path)
    with phone.lock:
        budget = phone.storage_limit - phone.used_bytes()
        parent = target.rsplit("/", 1)[0] or "/"
        if target in phone.files and phone.files[target][1] is None:
            error = "couldn't create file: Is a directory"
        elif parent.startswith("/system") or parent == "/":
            error = "couldn't create file: Read-only file system"
    while True:
        ident, length = struct.unpack("<II", stream.read_exact(8))
        if ident == ID_DATA:
            if length > SYNC_DATA_MAX:
                sync_fail(stream, "data chunk too large")
                return False
            chunk = stream.read_exact(length)
            if vanish:
                t.server.vanish()
                return False
            if error is None:
                if len(data) + len(chunk) > budget:
                    error = "No space left on device"
                    data = bytearray()
                else:
                    data += chunk
        elif ident == ID_DONE:
            mtime = length
            break
        else:
            sync_fail(stream, "invalid data message")
            return False
    if error is not None:
        sync_fail(stream, error)
        return True
    with phone.lock:
        phone.put_file(target, data, mode, mtime)
    stream.write(b"OKAY" + struct.pack("<I", 0))
    return True


def service_tcp(t, stream, service):
    port = int(service[4:])
    target = t.phone.tcp_map.get(port)
    if target is None:
        return
    try:
        sock = socket.create_connection(target, timeout=10)
    except OSError as e:
        log("tcp:%d -> %s:%d failed: %s" % (port, target[0], target[1], e))
        return
    sock.settimeout(None)

    def pump_out():
        try:
            while True:
                data = sock.recv(t.max_payload)
                if not data:
                    break
                stream.write(data)
        except (OSError, StreamClosed):
            pass
        finally:
            stream.close()
            try:
                sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    reader = threading.Thread(target=pump_out, daemon=True)
    reader.start()
    try:
        while True:
            data = stream.read()
            if not data:
                break
            sock.sendall(data)
    except OSError:
        pass
    finally:
        try:
            sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        reader.join()
        sock.close()


# ---------------------------------------------------------------------------------------------

def parse_tcp(text):
    dev, _, target = text.partition("=")
    host, _, port = target.rpartition(":")
    if not dev.isdigit() or not port.isdigit():
        raise argparse.ArgumentTypeError("expected DEVPORT=HOST:PORT, got %r" % text)
    return int(dev), (host or "127.0.0.1", int(port))


def main(argv=None):
    global verbose
    ap = argparse.ArgumentParser(description="A virtual Android phone for the stock ADB client.")
    ap.add_argument("--host", default="127.0.0.1", help="address to listen on")
    ap.add_argument("--port", type=int, default=0, help="port to listen on (0: any free port)")
    ap.add_argument("--model", default="VP One", help="ro.product.model")
    ap.add_argument("--product", help="ro.product.name (default: from the model)")
    ap.add_argument("--device", help="ro.product.device (default: from the model)")
    ap.add_argument("--fixture", default=FIXTURE, help="JSON with packages and properties")
    ap.add_argument("--tcp", type=parse_tcp, action="append", default=[], metavar="DEVPORT=HOST:PORT",
                    help="relay the phone's tcp:DEVPORT to HOST:PORT (repeatable)")
    ap.add_argument("--unauthorized", action="store_true",
                    help="ask for authentication and never accept it")
    ap.add_argument("--vanish-on", action="append", default=[], metavar="TEXT",
                    help="vanish when a service string or sync path contains TEXT (repeatable)")
    ap.add_argument("--file", action="append", default=[], metavar="DEVPATH=LOCALFILE",
                    help="start with LOCALFILE's content at DEVPATH on the phone (repeatable)")
    ap.add_argument("--storage-limit", type=int, default=DEFAULT_STORAGE_LIMIT,
                    help="bytes the phone's files may take")
    ap.add_argument("--legacy-shell", action="store_true",
                    help="do not offer the v2 shell protocol (no exit codes, one output channel)")
    ap.add_argument("--streamed-install", action="store_true",
                    help="offer the cmd feature: the client streams packages to `cmd package "
                         "install -S` instead of pushing them and running pm")
    ap.add_argument("--verbose", action="store_true", help="log the transport to stderr")
    args = ap.parse_args(argv)
    verbose = args.verbose

    slug = re.sub(r"[^a-z0-9]+", "_", args.model.lower()).strip("_") or "vphone"
    phone = Phone(args.model, args.product or slug, args.device or slug, args.fixture,
                  dict(args.tcp), args.storage_limit,
                  [f for f in FEATURES if not (args.legacy_shell and f == "shell_v2")]
                  + (["cmd"] if args.streamed_install else []))
    for spec in args.file:
        devpath, sep, local = spec.partition("=")
        if not sep or not devpath.startswith("/"):
            ap.error("--file expects DEVPATH=LOCALFILE with an absolute DEVPATH, got %r" % spec)
        with open(local, "rb") as f:
            phone.put_file(devpath, f.read(), 0o100644, int(time.time()))
    server = Server(phone, args.host, args.port, args.unauthorized, args.vanish_on)
    if 5554 <= server.address[1] <= 5585:
        print("vphone: the adb server scans ports 5554-5585 for emulators and would list this "
              "phone as emulator-%d" % (server.address[1] & ~1), file=sys.stderr)

    signal.signal(signal.SIGUSR1, lambda *_: threading.Thread(target=server.vanish).start())
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())

    threading.Thread(target=server.serve, daemon=True).start()
    print("%s:%d" % server.address, flush=True)
    while not stop.wait(0.5):
        pass
    server.vanish()
    return 0


if __name__ == "__main__":
    sys.exit(main())
