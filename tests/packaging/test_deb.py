"""The Debian package as a user gets it: unpacked into a temporary root (nothing is installed on
this machine), its fields, its files, its starter and program run from there, and lintian."""
import os
import re
import shutil
import struct
import subprocess
import tempfile
import unittest

import pkgtest

DEB = os.environ.get("TIVOREL_DEB", "")


def field(name):
    return subprocess.run(["dpkg-deb", "-f", DEB, name], check=True, capture_output=True,
                          text=True).stdout.strip()


def relations(text):
    """A Depends-style field as a list of alternative groups, each a list of package names."""
    return [[re.sub(r"\s*\(.*\)", "", alt).strip() for alt in group.split("|")]
            for group in text.split(",") if group.strip()]


class DebianPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="tivorel-deb-")
        cls.root = os.path.join(cls.tmp, "root")
        subprocess.run(["dpkg-deb", "-x", DEB, cls.root], check=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def path(self, rel):
        return os.path.join(self.root, rel)

    def test_control_fields(self):
        self.assertEqual(field("Package"), "tivorel")
        self.assertEqual(field("Version"), pkgtest.VERSION)
        depends = relations(field("Depends"))
        self.assertIn(["adb"], depends)
        # Computed from the binaries: the C library and the libraries the program links.
        names = {alt for group in depends for alt in group}
        self.assertIn("libc6", names)
        # The libraries the host opens at their first use are named by no program, yet a fresh
        # system must have them.
        opened = os.environ.get("TIVOREL_ONDEMAND_SONAMES", "").split()
        self.assertTrue(opened)
        for soname in opened:
            with self.subTest(soname):
                owner = subprocess.run(["dpkg", "-S", "/usr/lib/*/" + soname], check=True,
                                       capture_output=True, text=True).stdout
                self.assertIn(owner.split(":")[0], names)
        recommends = relations(field("Recommends"))
        self.assertIn(["android-sdk-platform-tools-common"], recommends)  # the udev rules
        self.assertTrue(any("chromium" in group for group in recommends), recommends)

    def test_files_where_the_system_looks_for_them(self):
        for rel in ("usr/bin/tivorel", "usr/lib/tivorel/tivorel", "usr/lib/tivorel/tivorel_help"):
            with self.subTest(rel):
                self.assertTrue(os.access(self.path(rel), os.X_OK))
        with open(self.path("usr/lib/tivorel/Profiles/config.ini"), encoding="utf-8") as f:
            self.assertIn("appver=" + pkgtest.VERSION, f.read().replace(" ", ""))
        with open(self.path("usr/share/applications/tivorel.desktop"), encoding="utf-8") as f:
            entry = dict(line.strip().split("=", 1) for line in f if "=" in line)
        self.assertEqual((entry["Exec"], entry["Icon"], entry["Type"]),
                         ("tivorel", "tivorel", "Application"))
        icons = os.path.join(self.root, "usr/share/icons/hicolor")
        sizes = sorted(os.listdir(icons))
        self.assertIn("48x48", sizes)
        for size in sizes:
            with self.subTest(size), open(os.path.join(icons, size, "apps/tivorel.png"), "rb") as f:
                head = f.read(24)
            self.assertEqual(head[:8], b"\x89PNG\r\n\x1a\n")
            self.assertEqual("%dx%d" % struct.unpack(">II", head[16:24]), size)

    def test_version_from_the_unpacked_root(self):
        for program in ("usr/bin/tivorel", "usr/lib/tivorel/tivorel"):
            with self.subTest(program):
                run = subprocess.run([self.path(program), "--version"], capture_output=True,
                                     text=True, timeout=60)
                self.assertEqual((run.returncode, run.stdout), (0, "Tivorel %s\n" % pkgtest.VERSION))

    # The program folder belongs to root: the starter gives each user a profile folder of their
    # own, where the shipped files appear as links and the program's own files are written.
    def test_start_reaches_the_ui_package_with_the_users_own_profile(self):
        home = os.path.join(self.tmp, "home")
        profiles = os.path.join(home, ".local/share/Tivorel/Profiles")
        os.makedirs(profiles)
        own = b"the user's own package destinations"
        with open(os.path.join(profiles, "androidPacket.dat"), "wb") as f:
            f.write(own)  # a file in place of a link: the user's, left alone
        os.symlink(self.path("usr/lib/tivorel/Profiles/retired.dat"),
                   os.path.join(profiles, "retired.dat"))  # shipped by an earlier version
        sysfs = os.path.join(self.tmp, "sysfs")  # no USB devices, no udev watch
        temp = os.path.join(self.tmp, "temp")
        os.makedirs(sysfs)
        os.makedirs(temp)
        env = {k: v for k, v in os.environ.items() if not k.startswith(("XDG_", "TIVOREL_"))}
        env.update(pkgtest.tour_environment("/nonexistent/adb"))
        env.update(HOME=home, TMPDIR=temp, TIVOREL_SYSFS_ROOT=sysfs,
                   TIVOREL_OBJECT_SCOPE="debtest%d" % os.getpid())
        run = subprocess.run([self.path("usr/bin/tivorel")], env=env, capture_output=True,
                             text=True, timeout=180)
        shown = "output:\n%s\nerrors:\n%s" % (run.stdout, run.stderr)
        self.assertEqual(run.returncode, 0, shown)
        for line in pkgtest.TOUR_LINES:
            self.assertIn(line, run.stdout, shown)

        shipped = self.path("usr/lib/tivorel/Profiles")
        for name in os.listdir(shipped):
            if name == "androidPacket.dat":
                continue
            with self.subTest(name):
                link = os.path.join(profiles, name)
                self.assertTrue(os.path.islink(link))
                self.assertEqual(os.path.realpath(link), os.path.realpath(os.path.join(shipped, name)))
        with open(os.path.join(profiles, "androidPacket.dat"), "rb") as f:
            self.assertEqual(f.read(), own)
        self.assertFalse(os.path.lexists(os.path.join(profiles, "retired.dat")))
        self.assertTrue(os.path.isfile(os.path.join(profiles, "Download.db")))
        self.assertFalse([n for n in os.listdir(shipped) if n.startswith("Download.db")],
                         "the program wrote into the program folder")

    def test_lintian_reports_no_error(self):
        run = subprocess.run(["lintian", "--fail-on", "error", "--display-level", ">=warning", DEB],
                             capture_output=True, text=True, timeout=600)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        print(run.stdout, end="")  # warnings, if any, for whoever reads the log


if __name__ == "__main__":
    unittest.main()
