"""The packages' copy of the program folder: everything the stage holds, without what a run of the
staged program wrote into it, and nothing of an earlier copy."""
import os
import shutil
import subprocess
import tempfile
import unittest

import pkgtest

SHIPPED = ["tivorel", "tivorel_help", "Profiles/config.ini", "Profiles/androidPacket.dat",
           "Profiles/update_keys.txt", "xar/onload.lua", "xar/luacode/a name with blanks.lua",
           "xar/Profiles/Download.db"]  # only Profiles/ of the program folder holds user data
USER_DATA = ["Profiles/Download.db", "Profiles/Download.db-journal", "Profiles/Download.db-wal",
             "Profiles/contactRecord.xml",
             "Profiles/2026\u5e7401\u670802\u65e503\u65f604\u520605\u79d2",
             "Profiles/2026\u5e7401\u670802\u65e503\u65f604\u520605\u79d2(2)"]


class CleanCopy(unittest.TestCase):
    def test_copies_the_program_and_leaves_the_user_data(self):
        tmp = tempfile.mkdtemp(prefix="tivorel-copy-")
        self.addCleanup(shutil.rmtree, tmp, True)
        stage, dest = os.path.join(tmp, "stage"), os.path.join(tmp, "Tivorel")
        for rel in SHIPPED + USER_DATA:
            os.makedirs(os.path.dirname(os.path.join(stage, rel)), exist_ok=True)
            with open(os.path.join(stage, rel), "w", encoding="utf-8") as f:
                f.write(rel)
        os.makedirs(os.path.join(dest, "xar"))
        with open(os.path.join(dest, "xar", "from_an_earlier_copy.lua"), "w") as f:
            f.write("--")
        subprocess.run(["cmake", "-DSTAGE=" + stage, "-DDEST=" + dest, "-P",
                        os.path.join(pkgtest.PACKAGING, "copy_program.cmake")],
                       check=True, capture_output=True)
        copied = sorted(os.path.relpath(os.path.join(d, f), dest).replace(os.sep, "/")
                        for d, _, files in os.walk(dest) for f in files)
        self.assertEqual(copied, sorted(SHIPPED))
        with open(os.path.join(dest, "xar/luacode/a name with blanks.lua"), encoding="utf-8") as f:
            self.assertEqual(f.read(), "xar/luacode/a name with blanks.lua")


if __name__ == "__main__":
    unittest.main()
