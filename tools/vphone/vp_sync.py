"""The sync service: stat, list, push (send) and pull (receive)."""

import struct

from vp_common import SYNC_DATA_MAX, SYNC_PATH_MAX, norm_path


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
