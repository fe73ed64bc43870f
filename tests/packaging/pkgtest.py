"""What the package tests share: the build's facts from the environment, a closed port, and the
environment that starts the console tour and lets it end by itself without reaching anything."""
import os
import socket

VERSION = os.environ.get("TIVOREL_VERSION", "")
PACKAGING = os.environ.get("TIVOREL_PACKAGING_DIR", "")


def closed_port():
    """A loopback port that nothing listens on (just given back by the system)."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def tour_environment(missing_adb):
    """The console tour, which quits when it is over: no ADB client (so no server is started on
    this machine), no server on the ADB port, and a download that is refused at once. When the
    window's package is the default, TIVOREL_PACKAGE picks the tour."""
    port = closed_port()
    return {
        "TIVOREL_PACKAGE": "tour",
        "TIVOREL_TOUR_QUIT": "1",
        "TIVOREL_ADB": missing_adb,
        "ANDROID_ADB_SERVER_PORT": str(port),
        "TIVOREL_DEMO_URL": "http://127.0.0.1:%d/demo.bin" % port,
    }


# The tour's first and last lines: the program reached its UI package and the package ran through.
TOUR_LINES = ("Tivorel tour", "Tour finished.")
