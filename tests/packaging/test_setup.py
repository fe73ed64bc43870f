"""The Windows setup program and portable zip as a user gets them, under Wine in a fresh prefix of
their own: an older version installed silently, user files planted, this version installed over
it, started, then uninstalled; and once more for every user of the computer into a folder of the
user's choice."""
import os
import shutil
import subprocess
import tempfile
import time
import unittest
import zipfile

import pkgtest

SETUP = os.environ.get("TIVOREL_SETUP", "")
ZIP = os.environ.get("TIVOREL_PORTABLE_ZIP", "")
CLEAN = os.environ.get("TIVOREL_PACKAGE_ROOT", "")
RUNNER = os.environ.get("TIVOREL_WINE_RUNNER", "")
MAKENSIS = os.environ.get("TIVOREL_MAKENSIS", "makensis")
ARCH = os.environ.get("TIVOREL_SETUP_ARCH", "x86")
OLD_VERSION = "0.9.0"
UPDATE_SERVER = "http://updates.example.test:8080"
KEY = r"Software\Microsoft\Windows\CurrentVersion\Uninstall\Tivorel"
PROGRAM_FILES = ("tivorel.exe", "tivorel_help.exe", "Profiles/config.ini", "xar/onload.lua",
                 "uninstall.exe")
# What the user's work leaves in the program folder: contact backups and their index.
USER_FILES = {"Profiles/contactRecord.xml": b"<Root/>",
              "Profiles/2026\u5e7401\u670802\u65e503\u65f604\u520605\u79d2": b"backup"}


class Setup(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="tivorel-setup-")
        prefix = os.path.join(cls.tmp, "prefix")
        cls.env = dict(os.environ, TIVOREL_WINEPREFIX=prefix, TIVOREL_WINEPREFIX64=prefix,
                       WINEPREFIX=prefix,
                       # Shortcuts stay in the prefix: no menu entries for this machine's desktop.
                       WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=")
        cls.addClassCleanup(shutil.rmtree, cls.tmp, True)
        cls.addClassCleanup(subprocess.run, ["wineserver", "-k"], env=cls.env,
                            capture_output=True)
        for k in [k for k in cls.env if k.startswith("TIVOREL_") and "WINE" not in k]:
            del cls.env[k]
        cls.old_setup = cls.make_old_setup()
        # One server for the prefix through the whole test (each Wine start is then quick),
        # started once the runner has made the prefix and the making's server has ended.
        # Wine's system programs start with the first program and live as long as the server:
        # they must not hold the pipes of the output this test reads.
        quiet = dict(env=cls.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run([RUNNER, "cmd", "/c", "exit", "0"], check=True, timeout=600, **quiet)
        subprocess.run(["wineserver", "-w"], timeout=120, **quiet)
        subprocess.run([RUNNER, "--keep-server", "900"], check=True, timeout=60, **quiet)
        subprocess.run([RUNNER, "cmd", "/c", "exit", "0"], check=True, timeout=300, **quiet)

    @classmethod
    def make_old_setup(cls):
        """The same program folder as an earlier version: its own appver, a file this version no
        longer ships."""
        root = os.path.join(cls.tmp, "old", "Tivorel")
        shutil.copytree(CLEAN, root)
        with open(os.path.join(root, "Profiles", "config.ini"), "w", newline="\r\n") as f:
            f.write("[basic]\nappver=%s\n" % OLD_VERSION)
        with open(os.path.join(root, "xar", "retired.lua"), "w") as f:
            f.write("-- gone in the next version\n")
        out = os.path.join(cls.tmp, "old", "Tivorel-%s-old.exe" % OLD_VERSION)
        made = subprocess.run(["cmake", "-DROOT=" + root, "-DVERSION=" + OLD_VERSION,
                        "-DVERSION_FOUR=%s.0" % OLD_VERSION, "-DARCH=" + ARCH,
                        "-DICON=" + os.path.join(pkgtest.PACKAGING, "..", "app", "res", "tivorel.ico"),
                        "-DOUTFILE=" + out, "-DWORK=" + os.path.join(cls.tmp, "old", "nsis"),
                        "-DMAKENSIS=" + MAKENSIS,
                        "-P", os.path.join(pkgtest.PACKAGING, "windows/make_setup.cmake")],
                              capture_output=True, text=True)
        if made.returncode != 0:
            raise RuntimeError("the earlier version's setup: " + made.stdout + made.stderr)
        return out

    def wine(self, *args, env=None, timeout=300):
        return subprocess.run([RUNNER, *args], env=dict(self.env, **(env or {})),
                              capture_output=True, timeout=timeout)

    def unix(self, windows_path):
        out = self.wine("winepath", "-u", windows_path).stdout.decode().strip()
        self.assertTrue(out, windows_path)
        return out

    def folder(self, variable):
        return self.wine("cmd", "/c", "echo", "%" + variable + "%").stdout.decode().strip()

    def registry(self, root):
        """The uninstall entry's values under HKCU or HKLM, {} when there is none."""
        run = self.wine("reg", "query", root + "\\" + KEY)
        values = {}
        for line in run.stdout.decode(errors="replace").splitlines():
            parts = line.split(None, 2)
            if len(parts) == 3 and parts[1].startswith("REG_"):
                values[parts[0]] = parts[2].strip()
        return values

    def install(self, setup, *switches):
        run = self.wine(setup, "/S", *switches)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)

    def uninstall(self, root, entry):
        # As the control panel does. The uninstaller copies itself away and returns at once; the
        # copy removes the entry last, so its end is awaited there.
        command = entry["QuietUninstallString"]
        program, rest = command[1:].split('"', 1)
        run = self.wine(program, *rest.split())
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        deadline = time.monotonic() + 180
        while self.registry(root) and time.monotonic() < deadline:
            time.sleep(0.5)
        self.assertEqual(self.registry(root), {}, "the uninstaller did not finish")

    def config(self, folder, key):
        with open(os.path.join(folder, "Profiles", "config.ini"), encoding="utf-8") as f:
            return [l.split("=", 1)[1].strip() for l in f if l.startswith(key + "=")]

    def appver(self, folder):
        return self.config(folder, "appver")

    def assert_program(self, folder, present):
        for rel in PROGRAM_FILES:
            with self.subTest(rel):
                self.assertEqual(os.path.isfile(os.path.join(folder, rel)), present, rel)

    def test_upgrade_start_and_uninstall_for_the_current_user(self):
        local = self.folder("LOCALAPPDATA")
        folder = self.unix(local + r"\Programs\Tivorel")
        menu = self.unix(self.folder("APPDATA") + r"\Microsoft\Windows\Start Menu\Programs")
        link = os.path.join(menu, "Tivorel.lnk")

        self.install(self.old_setup)
        self.assertEqual(self.registry("HKCU")["DisplayVersion"], OLD_VERSION)
        self.assertEqual(self.appver(folder), [OLD_VERSION])
        for rel, data in USER_FILES.items():
            with open(os.path.join(folder, rel), "wb") as f:
                f.write(data)
        with open(os.path.join(folder, "Profiles", "config.ini"), "a", newline="\r\n") as f:
            f.write("updateserver=%s\n" % UPDATE_SERVER)  # the user's own

        # This version over the earlier one: same folder, its files replaced, the user's kept.
        self.install(SETUP)
        entry = self.registry("HKCU")
        self.assertEqual(self.unix(entry["InstallLocation"]), self.unix(local + r"\Programs\Tivorel"))
        self.assertEqual((entry["DisplayVersion"], entry["Publisher"], entry["DisplayName"]),
                         (pkgtest.VERSION, "Qorvan", "Tivorel"))
        self.assertTrue(entry["DisplayIcon"].endswith(r"\tivorel.exe,0"), entry)
        self.assertEqual(self.registry("HKLM"), {})
        self.assert_program(folder, True)
        self.assertEqual(self.appver(folder), [pkgtest.VERSION])
        self.assertEqual(self.config(folder, "updateserver"), [UPDATE_SERVER])
        self.assertFalse(os.path.exists(os.path.join(folder, "xar", "retired.lua")))
        for rel, data in USER_FILES.items():
            with open(os.path.join(folder, rel), "rb") as f:
                self.assertEqual(f.read(), data, rel)
        self.assertTrue(os.path.isfile(link))

        exe = entry["InstallLocation"] + r"\tivorel.exe"
        run = self.wine(exe, "--version")
        self.assertEqual((run.returncode, run.stdout.decode()),
                         (0, "Tivorel %s\n" % pkgtest.VERSION), run.stderr)
        run = self.wine(exe, env=pkgtest.tour_environment(r"C:\nonexistent\adb.exe"), timeout=240)
        shown = run.stdout.decode(errors="replace") + run.stderr.decode(errors="replace")
        self.assertEqual(run.returncode, 0, shown)
        for line in pkgtest.TOUR_LINES:
            self.assertIn(line, run.stdout.decode(errors="replace"), shown)
        self.assertTrue(os.path.isfile(os.path.join(folder, "Profiles", "Download.db")))

        # Uninstalled: the program and its entries go, what the user made stays.
        self.uninstall("HKCU", entry)
        self.assert_program(folder, False)
        self.assertFalse(os.path.exists(os.path.join(folder, "xar")))
        self.assertFalse(os.path.exists(link))
        for rel in [*USER_FILES, "Profiles/Download.db"]:
            with self.subTest(rel):
                self.assertTrue(os.path.isfile(os.path.join(folder, rel)), rel)

    def test_for_every_user_into_a_chosen_folder(self):
        chosen = r"C:\Apps With Blanks\Tivorel"
        folder = self.unix(chosen)
        menu = self.unix(self.folder("ProgramData") + r"\Microsoft\Windows\Start Menu\Programs")
        # As typed: "/D=" last and unquoted, blanks and all (Wine would quote one argument).
        self.install(SETUP, "/AllUsers", *("/D=" + chosen).split(" "))
        entry = self.registry("HKLM")
        self.assertEqual(entry.get("InstallLocation"), chosen)
        self.assertEqual(entry.get("DisplayVersion"), pkgtest.VERSION)
        self.assert_program(folder, True)
        self.assertTrue(os.path.isfile(os.path.join(menu, "Tivorel.lnk")))

        self.uninstall("HKLM", entry)
        self.assertFalse(os.path.exists(folder), "nothing of the user's was there: all goes")
        self.assertFalse(os.path.exists(os.path.join(menu, "Tivorel.lnk")))

    def test_portable_zip_is_the_same_program_folder(self):
        with zipfile.ZipFile(ZIP) as z:
            names = {n for n in z.namelist() if not n.endswith("/")}
            unpacked = os.path.join(self.tmp, "portable")
            z.extractall(unpacked)
        shipped = {"Tivorel/" + os.path.relpath(os.path.join(d, f), CLEAN).replace(os.sep, "/")
                   for d, _, files in os.walk(CLEAN) for f in files}
        self.assertEqual(names, shipped)
        run = self.wine(os.path.join(unpacked, "Tivorel", "tivorel.exe"), "--version")
        self.assertEqual(run.stdout.decode(), "Tivorel %s\n" % pkgtest.VERSION)


if __name__ == "__main__":
    unittest.main()
