#!/usr/bin/env python3
"""A stand-in for the on-device agent: serves the event channel and the command channel on loopback.

Frames are a u16 code, a u32 body length (header not counted) and the body. What the PC sends is
little-endian; what the agent sends is big-endian, strings being a u32 byte count and UTF-8 bytes.

Command channel: one request per connection. The request codes belong to the user interface, so
the simulator answers a request with the reply of the same code (a "map" control command, or
--map REQ=REPLY, routes other request codes). Lists go out in batches of --per-frame records with
status 0, then 1, ..., and end with a status-2 frame; single replies are one frame; progress
replies send their items with status 0/1 and end with status 2.

Event channel: a connection subscribes with code 8 and an empty body; notifications are pushed on
demand through the control port.

Control port: one JSON object per line in, one JSON object per line out. See README.md.

Python 3 standard library only.
"""

import argparse
import json
import os
import socket
import struct
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import fixtures  # noqa: E402

UNLISTED_CODE = 999
HUGE_LENGTH = 0xFFFFFFF0
FAULT_MODES = ("none", "split", "coalesce", "close_early", "huge", "unlisted", "silent")
# Faults of the file services: close in the middle of a file, write a get reply one byte at a
# time, never send the one-byte answer that ends a received file.
FILE_FAULT_MODES = ("none", "close_mid_file", "byte_by_byte", "no_answer")
GET_CODES = {1: "file", 101: "icon", 103: "compressed picture", 104: "video shot"}


# ---- agent-to-PC encoding (big-endian) ------------------------------------------------------

def u8(v):
    return struct.pack(">B", v & 0xFF)


def u16(v):
    return struct.pack(">H", v & 0xFFFF)


def u32(v):
    return struct.pack(">I", v & 0xFFFFFFFF)


def u64(v):
    return struct.pack(">Q", v & 0xFFFFFFFFFFFFFFFF)


def string(s):
    b = s.encode("utf-8") if isinstance(s, str) else bytes(s)
    return u32(len(b)) + b


def frame(code, body=b""):
    return struct.pack(">HI", code & 0xFFFF, len(body)) + body


# Record layouts of the list replies: (key, encoder) in body order.
LAYOUTS = {
    4: [("ID", u32), ("Zhuanji", string), ("Singer", string), ("Path", string), ("Timer", u32),
        ("Size", u64), ("IsRing", u16)],
    5: [("ID", u32), ("FilePath", string), ("Timer", u32), ("Size", u64)],
    6: [("ID", u32), ("FilePath", string), ("Size", u64)],
    7: [("FilePath", string), ("Size", u64), ("Location", u16)],
    13: [("Size", u32), ("Location", u16), ("Name", string), ("packName", string), ("ver", string),
         ("verCode", string), ("time", u64)],
    14: [("ID", string), ("Name", string), ("Number", string)],
    16: [("FilePath", string), ("Type", u16), ("Size", u64)],
    47: [("Number", string), ("Content", string), ("Date", string), ("Type", u16), ("ID", u32),
         ("ThreadID", u32), ("Read", u16)],
    99: [("FilePath", string), ("Type", u8)],
    108: [("FilePath", string), ("Type", u8)],
    109: [("FilePath", string), ("Type", u8)],
    110: [("FilePath", string), ("Type", u8)],
    113: [("FilePath", string), ("Type", u8)],
    111: [("Type", u8), ("FileDir", string), ("FilePath", string)],
}
SMS_FULL = [("Number", string), ("Content", string), ("Date", string), ("Type", u16), ("ID", u32),
            ("ThreadID", u32), ("Read", u16)]

LIST_FIXTURES = {
    4: fixtures.MUSIC, 5: fixtures.VIDEOS, 6: fixtures.PICTURES, 7: fixtures.FILES, 13: fixtures.APPS,
    14: fixtures.CONTACTS, 16: fixtures.TYPED_FILES, 47: fixtures.MESSAGES, 50: fixtures.SMS_RESULTS,
    99: fixtures.PATHS, 108: fixtures.PATHS, 109: fixtures.PATHS, 110: fixtures.PATHS,
    113: fixtures.PATHS, 111: fixtures.DIRS,
}
SINGLE_CODES = (38, 40, 69, 71, 73, 76, 78, 114)
PROGRESS_CODES = (53, 54, 57, 80, 82, 84)


def encode_record(layout, record):
    return b"".join(enc(record[key]) for key, enc in layout)


def list_frames(code, records, per_frame):
    """The frames of a list reply: batches with status 0, 1, 1, ..., then the end frame."""
    frames = []
    per_frame = max(1, per_frame)
    for start in range(0, len(records), per_frame):
        status = 0 if start == 0 else 1
        chunk = records[start:start + per_frame]
        if code == 50:
            # Status 1 carries whole messages; any other status numbers only.
            status = 1
            body = u8(status) + b"".join(encode_record(SMS_FULL, r) for r in chunk)
        else:
            body = u8(status) + b"".join(encode_record(LAYOUTS[code], r) for r in chunk)
        frames.append(frame(code, body))
    end = u8(2)
    if code == 111:
        end += u64(fixtures.DIRS_TOTAL)
    frames.append(frame(code, end))
    return frames


def single_frame(code):
    if code == 38:
        return frame(code, u32(fixtures.VALUE_38))
    if code == 40:
        s = fixtures.STORAGE_40
        body = (u32(s["A"]) + u32(s["B"]) + u32(s["C"]) + u64(s["D"]) + u64(s["E"]) + u64(s["F"]) +
                u64(s["G"]) + string(s["S1"]) + string(s["S2"]) + u32(s["H"]) + u32(s["I"]) +
                u32(s["J"]) + u32(s["K"]))
        return frame(code, body)
    if code == 114:
        return frame(code, string(fixtures.NUMBER_114))
    return frame(code, u8(fixtures.RESULT))


def progress_frames(code):
    frames = []
    if code == 53:
        items = [b"".join(string(s) for s in item) for item in fixtures.PROGRESS_53]
    elif code in (54, 57):
        items = [string(s) for s in fixtures.PROGRESS_54]
    else:
        items = [string(path) + u32(percent) for path, percent in fixtures.PROGRESS_80]
    for i, item in enumerate(items):
        frames.append(frame(code, u8(0 if i == 0 else 1) + item))
    frames.append(frame(code, u8(2)))
    return frames


def notification_body(code, f):
    if code == 18:
        return (u32(f["N1"]) + u16(f["N2"]) + string(f["S1"]) + string(f["S2"]) + string(f["S3"]) +
                string(f["S4"]) + u64(f.get("tail", 0)))
    if code == 19:
        return string(f["S"])
    if code in (48, 50):
        if f["flag"] in (1, 2):
            return (u8(f["flag"]) + string(f["S1"]) + string(f["S2"]) + string(f["S3"]) + u16(f["N1"]) +
                    u32(f["N2"]) + u32(f["N3"]) + u16(f["N4"]))
        return u8(f["flag"]) + string(f["S1"])
    if code == 105:
        if f["flag"] == 1:
            return u8(1) + u32(f["N1"]) + u32(f["N2"]) + string(f["S"]) + u32(f["N3"]) + u64(f["N4"])
        return u8(f["flag"]) + string(f["S"])
    if code == 106:
        if f["flag"] == 1:
            return u8(1) + u32(f["N1"]) + u32(f["N2"]) + string(f["S"]) + u64(f["N3"])
        return u8(f["flag"]) + string(f["S"])
    if code == 107:
        if f["flag"] == 1:
            return (u8(1) + u32(f["N1"]) + u32(f["N2"]) + string(f["S1"]) + string(f["S2"]) +
                    string(f["S3"]) + u32(f["N3"]) + u64(f["N4"]) + u16(f["N5"]))
        return u8(f["flag"]) + string(f["S3"])
    raise ValueError("no notification layout for code %d" % code)


# ---- PC-to-agent decoding (little-endian) ---------------------------------------------------

def read_exactly(conn, n):
    data = b""
    while len(data) < n:
        chunk = conn.recv(n - len(data))
        if not chunk:
            return None
        data += chunk
    return data


def read_request(conn):
    header = read_exactly(conn, 6)
    if header is None:
        return None
    code, length = struct.unpack("<HI", header)
    if length > 16 * 1024 * 1024:
        return None
    body = read_exactly(conn, length)
    if body is None:
        return None
    return code, body


# ---- the agent ------------------------------------------------------------------------------

class Agent:
    def __init__(self, host="127.0.0.1", event_port=12156, command_port=12157, control_port=0,
                 fault="none", per_frame=3, mapping=None, split_delay=0.0, send_port=None, get_port=None,
                 files_dir=None):
        self.lock = threading.Condition()
        self.fault = fault
        self.queued_faults = []
        self.per_frame = per_frame
        self.mapping = dict(mapping or {})
        self.split_delay = split_delay
        self.lists = dict(LIST_FIXTURES)
        self.requests = []
        self.command_connections = 0
        self.open_command_connections = 0
        self.replies_finished = 0
        self.event_connections = []
        self.subscribed = []
        self.stopping = False
        self.listeners = []
        self.event_port = self._listen(host, event_port, self._serve_event)
        self.command_port = self._listen(host, command_port, self._serve_command)
        self.files_dir = files_dir
        self.file_faults = []
        self.file_fault = "none"
        self.received_files = []
        self.get_requests = []
        self.send_port = self._listen(host, send_port, self._serve_send) if send_port is not None else None
        self.get_port = self._listen(host, get_port, self._serve_get) if get_port is not None else None
        self.control_port = self._listen(host, control_port, self._serve_control)

    # -- plumbing --

    def _listen(self, host, port, handler):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.bind((host, port))
        s.listen(64)
        self.listeners.append(s)
        threading.Thread(target=self._accept_loop, args=(s, handler), daemon=True).start()
        return s.getsockname()[1]

    def _accept_loop(self, s, handler):
        while not self.stopping:
            try:
                conn, _ = s.accept()
            except OSError:
                return
            conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            threading.Thread(target=self._guard, args=(handler, conn), daemon=True).start()

    def _guard(self, handler, conn):
        try:
            handler(conn)
        except OSError:
            pass
        finally:
            try:
                conn.close()
            except OSError:
                pass

    def stop(self):
        self.stopping = True
        for s in self.listeners:
            try:
                s.close()
            except OSError:
                pass

    def _write(self, conn, frames, mode):
        if mode == "coalesce":
            conn.sendall(b"".join(frames))
        elif mode == "split":
            for f in frames:
                for i in range(len(f)):
                    conn.sendall(f[i:i + 1])
                    if self.split_delay:
                        time.sleep(self.split_delay)
        else:
            for f in frames:
                conn.sendall(f)

    @staticmethod
    def _wait_for_close(conn):
        try:
            while conn.recv(65536):
                pass
        except OSError:
            pass

    # -- command channel --

    def _next_fault(self, code):
        """The first queued fault meant for this request code (or for any), else the default."""
        with self.lock:
            for i, (mode, only) in enumerate(self.queued_faults):
                if only is None or only == code:
                    del self.queued_faults[i]
                    return mode
            return self.fault

    def reply_frames(self, code):
        reply = self.mapping.get(code, code)
        if reply in self.lists:
            return list_frames(reply, self.lists[reply], self.per_frame)
        if reply in SINGLE_CODES:
            return [single_frame(reply)]
        if reply in PROGRESS_CODES:
            return progress_frames(reply)
        return []

    def _serve_command(self, conn):
        with self.lock:
            self.command_connections += 1
            self.open_command_connections += 1
            self.lock.notify_all()
        try:
            request = read_request(conn)
            if request is None:
                return
            code, body = request
            fault = self._next_fault(code)
            with self.lock:
                self.requests.append({"code": code, "body": body.hex(), "fault": fault})
                self.lock.notify_all()
            frames = self.reply_frames(code)
            if fault == "silent" or not frames:
                self._wait_for_close(conn)
                return
            if fault == "huge":
                conn.sendall(struct.pack(">HI", frames[0][1] | (frames[0][0] << 8), HUGE_LENGTH) + b"\0" * 64)
                self._wait_for_close(conn)
                return
            if fault == "close_early":
                self._write(conn, frames[:-1], "none")
                try:
                    conn.shutdown(socket.SHUT_WR)
                except OSError:
                    pass
                self._wait_for_close(conn)
                return
            if fault == "unlisted":
                frames = [frame(UNLISTED_CODE, u8(0) + string("unknown"))] + frames
            self._write(conn, frames, fault)
            with self.lock:
                self.replies_finished += 1
                self.lock.notify_all()
            self._wait_for_close(conn)
        finally:
            with self.lock:
                self.open_command_connections -= 1
                self.lock.notify_all()

    # -- event channel --

    def _serve_event(self, conn):
        with self.lock:
            self.event_connections.append(conn)
            self.lock.notify_all()
        try:
            while True:
                request = read_request(conn)
                if request is None:
                    return
                code, body = request
                if code == 8 and not body:
                    with self.lock:
                        if conn not in self.subscribed:
                            self.subscribed.append(conn)
                        self.lock.notify_all()
        finally:
            with self.lock:
                if conn in self.event_connections:
                    self.event_connections.remove(conn)
                if conn in self.subscribed:
                    self.subscribed.remove(conn)
                self.lock.notify_all()

    def notify(self, codes, mode="none", fields=None, raw=None):
        frames = []
        for code in codes:
            if raw is not None:
                frames.append(frame(code, bytes.fromhex(raw)))
            else:
                f = dict(fixtures.NOTIFICATIONS.get(code, {}))
                f.update(fields or {})
                body = notification_body(code, f) if code in fixtures.NOTIFICATIONS else b""
                frames.append(frame(code, body))
        with self.lock:
            targets = list(self.subscribed)
        sent = 0
        for conn in targets:
            try:
                self._write(conn, frames, mode)
                sent += 1
            except OSError:
                pass
        return sent

    def drop_events(self, how):
        with self.lock:
            targets = list(self.event_connections)
        for conn in targets:
            try:
                if how == "reset":
                    # The connection's reader thread closes it on waking; with a zero linger
                    # time that close sends a reset instead of a FIN.
                    conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                    conn.shutdown(socket.SHUT_RD)
                elif how == "huge":
                    conn.sendall(struct.pack(">HI", 19, HUGE_LENGTH) + b"\0" * 16)
                else:
                    conn.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        return len(targets)

    # -- control --

    def _wait(self, predicate, timeout):
        deadline = time.monotonic() + timeout
        with self.lock:
            while not predicate():
                left = deadline - time.monotonic()
                if left <= 0:
                    return False
                self.lock.wait(left)
            return True

    def control(self, cmd):
        op = cmd.get("op")
        if op == "ping":
            return {"ok": True}
        if op == "fault":
            mode = cmd.get("mode", "none")
            if mode not in FAULT_MODES:
                return {"ok": False, "error": "unknown fault mode"}
            with self.lock:
                if cmd.get("always"):
                    self.fault = mode
                else:
                    only = int(cmd["code"]) if "code" in cmd else None
                    self.queued_faults.extend([(mode, only)] * int(cmd.get("count", 1)))
            return {"ok": True}
        if op == "per_frame":
            self.per_frame = max(1, int(cmd["value"]))
            return {"ok": True}
        if op == "map":
            self.mapping[int(cmd["request"])] = int(cmd["reply"])
            return {"ok": True}
        if op == "generate":
            code = int(cmd.get("code", 14))
            count = int(cmd["count"])
            if code != 14:
                return {"ok": False, "error": "only contacts (14) are generated"}
            self.lists[14] = [dict(ID=str(i), Name="Contact %d" % i, Number="+1555%07d" % i)
                              for i in range(1, count + 1)]
            return {"ok": True, "count": count}
        if op == "reset_fixtures":
            self.lists = dict(LIST_FIXTURES)
            return {"ok": True}
        if op == "notify":
            codes = cmd.get("codes") or [cmd["code"]]
            sent = self.notify([int(c) for c in codes], cmd.get("mode", "none"), cmd.get("fields"),
                               cmd.get("raw"))
            return {"ok": True, "sent": sent}
        if op == "drop_events":
            return {"ok": True, "dropped": self.drop_events(cmd.get("how", "close"))}
        if op == "wait_subscribed":
            n = int(cmd.get("count", 1))
            ok = self._wait(lambda: len(self.subscribed) >= n, float(cmd.get("timeout", 10)))
            return {"ok": ok}
        if op == "wait_requests":
            n = int(cmd.get("count", 1))
            ok = self._wait(lambda: len(self.requests) >= n, float(cmd.get("timeout", 10)))
            return {"ok": ok}
        if op == "wait_idle":
            ok = self._wait(lambda: self.open_command_connections == 0, float(cmd.get("timeout", 10)))
            return {"ok": ok, "open": self.open_command_connections}
        if op == "requests":
            with self.lock:
                return {"ok": True, "requests": list(self.requests)}
        if op == "stats":
            with self.lock:
                return {"ok": True, "command_connections": self.command_connections,
                        "open_command_connections": self.open_command_connections,
                        "replies_finished": self.replies_finished,
                        "event_connections": len(self.event_connections),
                        "subscribed": len(self.subscribed), "requests": len(self.requests)}
        if op == "ports":
            return {"ok": True, "event_port": self.event_port, "command_port": self.command_port,
                    "send_port": self.send_port, "get_port": self.get_port, "files_dir": self.files_dir}
        if op == "file_fault":
            mode = cmd.get("mode", "none")
            if mode not in FILE_FAULT_MODES:
                return {"ok": False, "error": "unknown file fault mode"}
            with self.lock:
                if cmd.get("always"):
                    self.file_fault = mode
                else:
                    self.file_faults.extend([mode] * int(cmd.get("count", 1)))
            return {"ok": True}
        if op == "received":
            with self.lock:
                return {"ok": True, "files": list(self.received_files), "gets": list(self.get_requests)}
        if op == "wait_received":
            n = int(cmd.get("count", 1))
            ok = self._wait(lambda: len(self.received_files) >= n, float(cmd.get("timeout", 10)))
            return {"ok": ok}
        if op == "quit":
            threading.Thread(target=self.stop, daemon=True).start()
            return {"ok": True}
        return {"ok": False, "error": "unknown op"}

    # -- file services --

    def _next_file_fault(self):
        with self.lock:
            if self.file_faults:
                return self.file_faults.pop(0)
            return self.file_fault

    def local_path(self, device_path):
        """Where a device path lives in the simulator's folder; None when it climbs out."""
        parts = [p for p in device_path.replace("\\", "/").split("/") if p not in ("", ".")]
        if not parts or ".." in parts or not self.files_dir:
            return None
        return os.path.join(self.files_dir, *parts)

    def _serve_send(self, conn):
        """One file per connection: u16 code, u32 length (path string and contents), the path
        string, the contents; then one byte of answer once everything is stored."""
        fault = self._next_file_fault()
        header = read_exactly(conn, 10)
        if header is None:
            return
        code, length, path_len = struct.unpack("<HII", header)
        path_bytes = read_exactly(conn, path_len) if path_len else b""
        if path_bytes is None or length < 4 + path_len:
            return
        device_path = path_bytes.decode("utf-8", "replace")
        size = length - 4 - path_len
        target = self.local_path(device_path)
        stop_at = size // 2 if fault == "close_mid_file" else size
        got = 0
        out = None
        if target:
            os.makedirs(os.path.dirname(target), exist_ok=True)
            out = open(target + ".part", "wb")
        try:
            while got < stop_at:
                chunk = conn.recv(min(1 << 20, stop_at - got))
                if not chunk:
                    break
                got += len(chunk)
                if out:
                    out.write(chunk)
        finally:
            if out:
                out.close()
        complete = got == size
        if target:
            if complete:
                os.replace(target + ".part", target)
            else:
                os.remove(target + ".part")
        with self.lock:
            self.received_files.append({"code": code, "path": device_path, "size": size, "received": got,
                                        "complete": complete, "fault": fault})
            self.lock.notify_all()
        if not complete or fault == "no_answer":
            if fault == "no_answer":
                self._wait_for_close(conn)
            return
        conn.sendall(b"\x01")
        self._wait_for_close(conn)

    def get_content(self, code, device_path):
        if code == 101:
            return ("ICON:" + device_path).encode("utf-8")
        if code == 104:
            return ("SHOT:" + device_path).encode("utf-8")
        target = self.local_path(device_path)
        if not target or not os.path.isfile(target):
            return None
        with open(target, "rb") as f:
            data = f.read()
        return data[:4096] if code == 103 else data

    def _serve_get(self, conn):
        """Requests one after another: u16 code, u32 length, the path string; each answered with a
        6-byte header (big-endian content length) and the contents."""
        while True:
            req = read_request(conn)
            if req is None:
                return
            code, body = req
            device_path = ""
            if len(body) >= 4:
                (n,) = struct.unpack("<I", body[:4])
                device_path = body[4:4 + n].decode("utf-8", "replace")
            fault = self._next_file_fault()
            with self.lock:
                self.get_requests.append({"code": code, "path": device_path, "fault": fault})
                self.lock.notify_all()
            content = self.get_content(code, device_path) if code in GET_CODES else None
            if content is None:
                return  # nothing to send: the connection ends
            if fault == "close_mid_file":
                conn.sendall(frame(code, content)[:6 + len(content) // 2])
                return
            data = frame(code, content)
            if fault == "byte_by_byte":
                for i in range(len(data)):
                    conn.sendall(data[i:i + 1])
            else:
                for i in range(0, len(data), 1 << 16):
                    conn.sendall(data[i:i + (1 << 16)])

    def _serve_control(self, conn):
        f = conn.makefile("rwb")
        for line in f:
            line = line.strip()
            if not line:
                continue
            try:
                answer = self.control(json.loads(line.decode("utf-8")))
            except (ValueError, KeyError, TypeError) as e:
                answer = {"ok": False, "error": str(e)}
            f.write((json.dumps(answer) + "\n").encode("utf-8"))
            f.flush()


def parse_map(items):
    mapping = {}
    for item in items or []:
        req, _, reply = item.partition("=")
        mapping[int(req)] = int(reply)
    return mapping


def main(argv=None):
    p = argparse.ArgumentParser(description="Simulated on-device agent for the device channel.")
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--event-port", type=int, default=12156, help="event channel (0: any free port)")
    p.add_argument("--command-port", type=int, default=12157, help="command channel (0: any free port)")
    p.add_argument("--control-port", type=int, default=0, help="JSON-lines control port (0: any free port)")
    p.add_argument("--fault", choices=FAULT_MODES, default="none", help="fault mode of every command reply")
    p.add_argument("--per-frame", type=int, default=3, help="records per list frame")
    p.add_argument("--split-delay", type=float, default=0.0, help="seconds between bytes in split mode")
    p.add_argument("--map", action="append", metavar="REQ=REPLY", help="answer request REQ with reply REPLY")
    p.add_argument("--send-port", type=int, default=None, help="file receiving service (0: any free port)")
    p.add_argument("--get-port", type=int, default=None, help="file serving service (0: any free port)")
    p.add_argument("--files-dir", default=None, help="the device's storage: received files go here, get requests read here")
    p.add_argument("--file-fault", choices=FILE_FAULT_MODES, default="none", help="fault mode of every file transfer")
    p.add_argument("--exit-on-stdin-eof", action="store_true",
                   help="stop when standard input closes (a test harness that dies takes the simulator along)")
    args = p.parse_args(argv)
    agent = Agent(args.host, args.event_port, args.command_port, args.control_port, args.fault,
                  args.per_frame, parse_map(args.map), args.split_delay, args.send_port, args.get_port,
                  args.files_dir)
    agent.file_fault = args.file_fault
    # The first line tells a test harness where everything listens.
    print(json.dumps({"event_port": agent.event_port, "command_port": agent.command_port,
                      "control_port": agent.control_port, "send_port": agent.send_port,
                      "get_port": agent.get_port}), flush=True)
    if args.exit_on_stdin_eof:
        def watch():
            while sys.stdin.buffer.read(4096):
                pass
            agent.stop()
        threading.Thread(target=watch, daemon=True).start()
    try:
        while not agent.stopping:
            time.sleep(0.2)
    except KeyboardInterrupt:
        agent.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
