"""What the parts of the virtual phone share: the transport's constants, the log, paths."""

import os
import struct
import sys

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

class settings:
    verbose = False     # --verbose: log the transport to stderr


def log(*args):
    if settings.verbose:
        print("vphone:", *args, file=sys.stderr, flush=True)


class StreamClosed(Exception):
    pass


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
