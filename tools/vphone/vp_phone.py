"""The phone's state: files, packages and properties."""

import json
import random
import stat
import threading
import time

from vp_common import FEATURES, norm_path


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
