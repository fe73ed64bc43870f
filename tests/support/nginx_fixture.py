#!/usr/bin/env python3
"""Runs the system's nginx for tests: on free loopback ports, as the current user, with every
path (config, pid, logs, temp folders, document root) inside one working folder.

As a module:
    from nginx_fixture import Nginx
    n = Nginx(workdir)            # workdir/www is the document root
    n.start(servers)              # servers: list of dicts, see render_config()
    ... n.ports[i] ...
    n.stop()
From the command line (for CTest fixtures):
    nginx_fixture.py start WORKDIR [--servers N]     writes WORKDIR/nginx.env (port0=..., ...)
    nginx_fixture.py stop WORKDIR
"""
import argparse
import getpass
import os
import shutil
import signal
import socket
import subprocess
import sys
import time

LOG_FORMAT = "$server_port $connection $connection_requests $request_uri $status"


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def find_nginx():
    path = os.environ.get("PATH", "") + os.pathsep + "/usr/sbin" + os.pathsep + "/sbin"
    exe = shutil.which("nginx", path=path)
    if not exe:
        raise RuntimeError("nginx is not installed")
    return exe


def wait_listening(port, timeout=10.0):
    end = time.time() + timeout
    while time.time() < end:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return True
        except OSError:
            time.sleep(0.05)
    return False


class Nginx:
    def __init__(self, workdir):
        self.workdir = os.path.abspath(workdir)
        self.www = os.path.join(self.workdir, "www")
        self.conf = os.path.join(self.workdir, "nginx.conf")
        self.pid_file = os.path.join(self.workdir, "nginx.pid")
        self.access_log = os.path.join(self.workdir, "access.log")
        self.error_log = os.path.join(self.workdir, "error.log")
        self.ports = []

    def render_config(self, servers):
        """servers: list of dicts with optional keys
             keepalive_timeout (text, default "30s"), absolute_redirect (bool, default True),
             extra (text inside the server block, or a function of the list of ports that
             returns it, for servers that refer to each other)."""
        tmp = os.path.join(self.workdir, "tmp")
        lines = []
        if os.geteuid() == 0:
            # Keep the workers on the current user so they can read and write the folder.
            lines.append("user %s;" % getpass.getuser())
        lines += [
            "daemon on;",
            "worker_processes 1;",
            "pid %s;" % self.pid_file,
            "error_log %s warn;" % self.error_log,
            "events { worker_connections 256; }",
            "http {",
            "  default_type application/octet-stream;",
            "  log_format tests '%s';" % LOG_FORMAT,
            "  access_log %s tests;" % self.access_log,
            "  client_body_temp_path %s/body;" % tmp,
            "  proxy_temp_path %s/proxy;" % tmp,
            "  fastcgi_temp_path %s/fastcgi;" % tmp,
            "  uwsgi_temp_path %s/uwsgi;" % tmp,
            "  scgi_temp_path %s/scgi;" % tmp,
            "  sendfile on;",
        ]
        for port, srv in zip(self.ports, servers):
            extra = srv.get("extra", "")
            lines += [
                "  server {",
                "    listen 127.0.0.1:%d;" % port,
                "    root %s;" % self.www,
                "    keepalive_timeout %s;" % srv.get("keepalive_timeout", "30s"),
                "    absolute_redirect %s;" % ("on" if srv.get("absolute_redirect", True) else "off"),
                extra(self.ports) if callable(extra) else extra,
                "  }",
            ]
        lines.append("}")
        return "\n".join(lines) + "\n"

    def start(self, servers, attempts=5):
        os.makedirs(self.www, exist_ok=True)
        os.makedirs(os.path.join(self.workdir, "tmp"), exist_ok=True)
        for old in (self.access_log, self.error_log):
            if os.path.exists(old):
                os.remove(old)
        exe = find_nginx()
        last = ""
        for _ in range(attempts):
            self.ports = [free_port() for _ in servers]
            with open(self.conf, "w") as f:
                f.write(self.render_config(servers))
            r = subprocess.run([exe, "-p", self.workdir, "-e", self.error_log, "-c", self.conf],
                               capture_output=True, text=True)
            if r.returncode == 0 and all(wait_listening(p) for p in self.ports):
                return
            last = r.stderr
            self.stop()
        raise RuntimeError("nginx did not start: " + last)

    def pid(self):
        try:
            with open(self.pid_file) as f:
                return int(f.read().strip())
        except (OSError, ValueError):
            return None

    def stop(self):
        pid = self.pid()
        if pid is None:
            return
        try:
            os.kill(pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        end = time.time() + 10
        while time.time() < end:
            try:
                os.kill(pid, 0)
            except ProcessLookupError:
                break
            time.sleep(0.05)
        try:
            os.remove(self.pid_file)
        except OSError:
            pass


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("action", choices=["start", "stop"])
    ap.add_argument("workdir")
    ap.add_argument("--servers", type=int, default=1)
    args = ap.parse_args()
    n = Nginx(args.workdir)
    if args.action == "start":
        n.stop()
        n.start([{} for _ in range(args.servers)])
        with open(os.path.join(n.workdir, "nginx.env"), "w") as f:
            for i, p in enumerate(n.ports):
                f.write("port%d=%d\n" % (i, p))
            f.write("www=%s\naccess_log=%s\n" % (n.www, n.access_log))
    else:
        n.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
