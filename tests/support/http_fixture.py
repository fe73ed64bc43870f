#!/usr/bin/env python3
"""The servers of the HTTP client tests: nginx with the locations the tests use, and the
fault-injecting server. Writes WORKDIR/fixture.env with key=value lines:
  nginx_port   keep-alive on, relative redirects (absolute_redirect off)
  nginx_port2  keep-alive off ("Connection: close" on every answer)
  fault_port   fault_http_server.py
  www          the document root shared by both nginx servers
  access_log   "$server_port $connection $connection_requests $request_uri $status" per request

    http_fixture.py start WORKDIR
    http_fixture.py stop WORKDIR
"""
import os
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from nginx_fixture import Nginx  # noqa: E402


def redirect_locations(cross_port):
    # /hopN answers 302 to /hop(N-1); /hop0 is the end. /cross goes to the other server.
    lines = ["    location = /hop0 { return 200 'arrived'; }"]
    for n in range(1, 8):
        lines.append("    location = /hop%d { return 302 /hop%d; }" % (n, n - 1))
    lines.append("    location = /cross { return 302 http://127.0.0.1:%d/hop0?$args; }" % cross_port)
    return "\n".join(lines)


def start(workdir):
    stop(workdir)
    os.makedirs(workdir, exist_ok=True)
    nginx = Nginx(os.path.join(workdir, "nginx"))
    nginx.start([
        {"absolute_redirect": False, "extra": lambda ports: redirect_locations(ports[1])},
        {"keepalive_timeout": "0", "extra": lambda ports: redirect_locations(ports[0])},
    ])

    port_file = os.path.join(workdir, "fault.port")
    if os.path.exists(port_file):
        os.remove(port_file)
    log = open(os.path.join(workdir, "fault.log"), "w")
    proc = subprocess.Popen([sys.executable, os.path.join(HERE, "fault_http_server.py"),
                             "--port-file", port_file],
                            stdout=log, stderr=log, stdin=subprocess.DEVNULL,
                            start_new_session=True)
    with open(os.path.join(workdir, "fault.pid"), "w") as f:
        f.write(str(proc.pid))
    end = time.time() + 10
    while not os.path.exists(port_file):
        if time.time() > end or proc.poll() is not None:
            raise RuntimeError("the fault server did not start")
        time.sleep(0.05)
    with open(port_file) as f:
        fault_port = int(f.read())

    with open(os.path.join(workdir, "fixture.env"), "w") as f:
        f.write("nginx_port=%d\nnginx_port2=%d\nfault_port=%d\nwww=%s\naccess_log=%s\n" %
                (nginx.ports[0], nginx.ports[1], fault_port, nginx.www, nginx.access_log))


def stop(workdir):
    Nginx(os.path.join(workdir, "nginx")).stop()
    pid_file = os.path.join(workdir, "fault.pid")
    try:
        with open(pid_file) as f:
            pid = int(f.read())
        os.kill(pid, signal.SIGTERM)
    except (OSError, ValueError):
        pass
    for name in ("fault.pid", "fixture.env"):
        try:
            os.remove(os.path.join(workdir, name))
        except OSError:
            pass


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ("start", "stop"):
        sys.exit(__doc__)
    (start if sys.argv[1] == "start" else stop)(os.path.abspath(sys.argv[2]))
