"""The ADB transport: messages, streams and the listening server."""

import os
import queue
import socket
import threading

from vp_common import A_CNXN, A_OPEN, A_OKAY, A_CLSE, A_WRTE, A_AUTH, A_VERSION, MAX_PAYLOAD, HEADER, AUTH_TOKEN, AUTH_SIGNATURE, MAX_UNACKED, log, StreamClosed


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
        handler = self.server.find_service(service)
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
    def __init__(self, phone, host, port, unauthorized, vanish_on, find_service):
        self.phone = phone
        self.find_service = find_service  # service string -> handler(transport, stream, service)
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
