# Sourced by the set-up and test scripts: what this machine can run.

# Wine runs 32-bit Windows programs only where the kernel runs 32-bit x86 code; some machines
# (a 64-bit-only virtual machine) refuse it. There the Windows tests run on the 64-bit build of
# the same code (preset windows-x64) under 64-bit Wine instead.
runs_32bit() { [ -x /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1; }
