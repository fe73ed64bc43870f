"""The phone's commands: getprop, rm, echo and the package commands pm, am and cmd."""

import io
import re
import time
import zipfile

from vp_common import norm_path


def cmd_getprop(phone, args, stdin):
    with phone.lock:
        if args:
            return phone.props.get(args[0], args[1] if len(args) > 1 else "") + "\n", "", 0
        return "".join("[%s]: [%s]\n" % kv for kv in sorted(phone.props.items())), "", 0


def cmd_rm(phone, args, stdin):
    force = recursive = False
    paths = []
    for a in args:
        if a.startswith("-") and len(a) > 1 and not paths:
            force |= "f" in a
            recursive |= "r" in a or "R" in a
        else:
            paths.append(a)
    if not paths:
        return "", "" if force else "rm: Needs 1 argument\n", 0 if force else 1
    err, code = "", 0
    with phone.lock:
        for p in paths:
            path = norm_path(p)
            entry = phone.files.get(path)
            if entry is None:
                if not force:
                    err += "rm: %s: No such file or directory\n" % p
                    code = 1
            elif entry[1] is None:
                if not recursive:
                    err += "rm: %s: Is a directory\n" % p
                    code = 1
                elif path in ("/", "/data", "/system", "/sdcard"):
                    err += "rm: %s: Permission denied\n" % p
                    code = 1
                else:
                    for k in [k for k in phone.files if k == path or k.startswith(path + "/")]:
                        del phone.files[k]
            else:
                del phone.files[path]
    return "", err, code


def cmd_echo(phone, args, stdin):
    return " ".join(args) + "\n", "", 0


def package_of(path, content):
    """The package name of an APK: the package attribute of a text AndroidManifest.xml in the
    zip, else the file name when it reads as a package name."""
    try:
        with zipfile.ZipFile(io.BytesIO(content)) as z:
            names = z.namelist()
            if "AndroidManifest.xml" in names:
                manifest = z.read("AndroidManifest.xml")
                m = re.search(rb'package\s*=\s*"([A-Za-z][\w]*(?:\.[A-Za-z][\w]*)+)"', manifest)
                if m:
                    return m.group(1).decode()
    except (zipfile.BadZipFile, OSError, RuntimeError, ValueError, EOFError):
        return None
    base = path.rsplit("/", 1)[-1]
    if base.endswith(".apk"):
        base = base[:-4]
    if re.fullmatch(r"[A-Za-z]\w*(\.[A-Za-z]\w*)+", base):
        return base
    return None


def cmd_pm(phone, args, stdin):
    if not args:
        return "", "usage: pm [list|install|uninstall] ...\n", 1
    sub, rest = args[0], args[1:]
    if sub == "list" and rest[:1] == ["packages"]:
        opts = [a for a in rest[1:] if a.startswith("-")]
        filt = [a for a in rest[1:] if not a.startswith("-")]
        lines = []
        with phone.lock:
            for name in sorted(phone.packages):
                path, system = phone.packages[name]
                if ("-3" in opts and system) or ("-s" in opts and not system):
                    continue
                if filt and filt[0] not in name:
                    continue
                lines.append("package:%s%s\n" % (path + "=" if "-f" in opts else "", name))
        return "".join(lines), "", 0
    if sub == "path" and rest:
        with phone.lock:
            entry = phone.packages.get(rest[-1])
        return ("package:%s\n" % entry[0], "", 0) if entry else ("", "", 1)
    if sub == "install":
        replace = "-r" in rest
        if "-S" in rest:
            # the streamed install: the package's bytes follow on standard input
            i = rest.index("-S")
            size = rest[i + 1] if i + 1 < len(rest) else ""
            if not size.isdigit() or int(size) > phone.storage_limit:
                return "", "Error: invalid size %r\n" % size, 1
            content = stdin.read_exact(int(size)) if stdin is not None else None
            if content is None:
                return "Failure [INSTALL_FAILED_INVALID_APK: short read]\n", "", 1
            path = "/data/app/vmdl.tmp/base.apk"
        else:
            paths = [a for a in rest if not a.startswith("-")]
            if not paths:
                return "", "Error: no package specified\n", 1
            path = norm_path(paths[-1])
            with phone.lock:
                entry = phone.files.get(path)
            if entry is None or entry[1] is None:
                return "", ("Error: Unable to open file: %s\nConsider using a file under "
                            "/data/local/tmp/\n" % paths[-1]), 1
            content = entry[1]
        pkg = package_of(path, content)
        if pkg is None:
            return "Failure [INSTALL_FAILED_INVALID_APK: Failed to parse %s]\n" % path, "", 1
        with phone.lock:
            if pkg in phone.packages and not replace:
                return ("Failure [INSTALL_FAILED_ALREADY_EXISTS: Attempt to re-install %s without "
                        "first uninstalling.]\n" % pkg), "", 1
            apk = "/data/app/%s-1/base.apk" % pkg
            phone.packages[pkg] = (apk, False)
            # The installed bytes stay readable (sync RECV), so a test can compare installs.
            phone.put_file(apk, content, 0o644, int(time.time()))
        return "Success\n", "", 0
    if sub == "uninstall":
        names = [a for a in rest if not a.startswith("-")]
        if not names:
            return "", "Error: package name not specified\n", 1
        with phone.lock:
            entry = phone.packages.get(names[-1])
            if entry is None or entry[1]:
                return "Failure [DELETE_FAILED_INTERNAL_ERROR]\n", "", 1
            phone.files.pop(entry[0], None)
            del phone.packages[names[-1]]
        return "Success\n", "", 0
    return "", "Unknown command: %s\n" % sub, 1


def intent_text(args):
    parts = []
    flags = {"-a": "act", "-d": "dat", "-t": "typ", "-n": "cmp", "-c": "cat"}
    it = iter(args)
    for a in it:
        if a in flags:
            value = next(it, "")
            if a == "-n" and "/" in value:
                pkg, cls = value.split("/", 1)
                if cls.startswith(pkg + "."):
                    value = pkg + "/" + cls[len(pkg):]
            parts.append("%s=%s" % (flags[a], value))
    return "Intent { %s }" % " ".join(parts)


def cmd_am(phone, args, stdin):
    if not args:
        return "", "usage: am [start|broadcast] ...\n", 1
    sub, rest = args[0], args[1:]
    if sub in ("start", "start-activity"):
        comp = rest[rest.index("-n") + 1] if "-n" in rest and rest.index("-n") + 1 < len(rest) else None
        out = "Starting: %s\n" % intent_text(rest)
        if comp is not None:
            pkg, _, cls = comp.partition("/")
            with phone.lock:
                known = pkg in phone.packages
            if not known or not cls:
                full = cls if not cls.startswith(".") else pkg + cls
                return out, "Error type 3\nError: Activity class {%s/%s} does not exist.\n" \
                    % (pkg, full), 1
        return out, "", 0
    if sub == "broadcast":
        return ("Broadcasting: %s\nBroadcast completed: result=0\n" % intent_text(rest)), "", 0
    if sub == "force-stop":
        return "", "", 0
    return "", "Error: unknown command '%s'\n" % sub, 1


def cmd_cmd(phone, args, stdin):
    services = {"package": cmd_pm, "activity": cmd_am}
    if not args:
        return "", "cmd: No service specified; use -l to list all services\n", 20
    if args[0] == "-l":
        return "Currently running services:\n" + "".join("  %s\n" % k for k in sorted(services)), "", 0
    fn = services.get(args[0])
    if fn is None:
        return "", "cmd: Can't find service: %s\n" % args[0], 20
    return fn(phone, args[1:], stdin)


COMMANDS = {"getprop": cmd_getprop, "rm": cmd_rm, "pm": cmd_pm, "am": cmd_am, "echo": cmd_echo,
            "cmd": cmd_cmd}
