"""Runs the real stub under Wine against the reference report server.

Each scenario starts report-server on the stub's built-in address, runs a copy
of stub.exe from a folder on the Wine C: drive, and checks what the server
recorded. The environment (WINEPREFIX, DISPLAY, a running wineserver) comes
from scripts/test.
"""
import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time

PORT = 18471
ADMIN_PORT = 18472                                # the dashboard, when a test asks for it
BASE = f"http://127.0.0.1:{PORT}/"
FALLBACK_PATH = "rmgb/4.2.2/wlpq1(wlpqhd).exe"   # the built-in download's path
FALLBACK_NAME = "wlpq1(wlpqhd).exe"
APP_DIR = "app"                                   # the stub runs from C:\app\


class Failure(Exception):
    pass


def check(cond, msg):
    if not cond:
        raise Failure(msg)


def check_eq(actual, expected, what):
    if actual != expected:
        raise Failure(f"{what}:\n  expected {expected!r}\n  actual   {actual!r}")


class Env:
    def __init__(self, build):
        self.build = build
        self.host_bin = os.path.join(build, "host", "bin")
        self.win_bin = os.path.join(build, "windows", "bin")
        self.prefix = os.environ["WINEPREFIX"]
        self.drive_c = os.path.join(self.prefix, "drive_c")

        self.shots = os.path.join(build, "e2e-shots")
        os.makedirs(self.shots, exist_ok=True)
        self.sample = os.path.join(self.win_bin, "sample-installer.exe")
        self.sample_error = os.path.join(self.win_bin, "sample-installer-error.exe")
        self.sample_md5 = self.md5(self.sample)
        self._certificates = None

    def certificates(self):
        """The run's TLS certificates, made (and their root trusted in the
        prefix) on first use."""
        if self._certificates is None:
            import tls  # only runs with TLS scenarios need openssl
            self._certificates = tls.Certificates(self.build)
        return self._certificates

    def close(self):
        """Ends the run: takes the test root out of the prefix again."""
        if self._certificates is not None:
            certs, self._certificates = self._certificates, None
            certs.close()

    def md5(self, path):
        return self.tool("md5", path).decode().strip()

    # ---- the Wine machine ----------------------------------------------------
    def path(self, windows_path):
        """Host path of a C: or D: path such as C:\\Temp\\x.exe."""
        drive, rest = windows_path[0].lower(), windows_path[3:].replace("\\", "/")
        root = self.drive_c if drive == "c" else os.path.join(self.prefix, "dosdevices", "d:")
        return os.path.join(root, rest)

    def reset(self):
        """A clean machine: no program of an earlier scenario still running, no
        C:\\Temp, D:\\Temp or D: drive, an empty program folder."""
        subprocess.run(["wineserver", "-k"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=30)
        for folder in ("Temp", APP_DIR):
            shutil.rmtree(os.path.join(self.drive_c, folder), ignore_errors=True)
        d = os.path.join(self.prefix, "dosdevices", "d:")
        if os.path.islink(d):
            os.unlink(d)
        subprocess.run(["wineserver", "-p"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        subprocess.run(["wine", "cmd", "/c", "exit"], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)

    def map_d(self, folder=None):
        """Maps a folder (a fresh one by default) as drive D:; returns its host path."""
        folder = folder or tempfile.mkdtemp(prefix="e2e-drive-d-")
        os.symlink(folder, os.path.join(self.prefix, "dosdevices", "d:"))
        return folder

    SYSTEM_DIRS = {"windows", "users", "programdata", "program files", "program files (x86)"}

    def snapshot(self):
        """Every file on C: (outside Wine's own folders) and D:, as Windows-ish paths."""
        found = set()
        roots = [("C:", self.drive_c)]
        d = os.path.join(self.prefix, "dosdevices", "d:")
        if os.path.islink(d):
            roots.append(("D:", os.path.realpath(d)))
        for drive, root in roots:
            for dirpath, dirnames, filenames in os.walk(root):
                if dirpath == root:
                    dirnames[:] = [n for n in dirnames if n.lower() not in self.SYSTEM_DIRS]
                rel = os.path.relpath(dirpath, root).replace("/", "\\")
                for name in filenames + dirnames:
                    found.add(drive + "\\" + ("" if rel == "." else rel + "\\") + name)
        return found

    def files_under(self, windows_folder):
        root = self.path(windows_folder)
        if not os.path.isdir(root):
            return []
        return sorted(os.listdir(root))

    def helper(self, *args, timeout=60):
        out = subprocess.run(["wine", os.path.join(self.win_bin, "e2e-helper.exe"), *args],
                             stdin=subprocess.DEVNULL, capture_output=True, text=True,
                             timeout=timeout)
        return out.returncode, out.stdout.strip()

    def screenshot(self, name):
        path = os.path.join(self.shots, name + ".png")
        subprocess.run(["import", "-window", "root", "-display", os.environ["DISPLAY"], path],
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=30)
        return path

    def pixel(self, shot, x, y):
        """(r, g, b) of one pixel of a screenshot."""
        out = subprocess.run(["convert", shot, "-crop", f"1x1+{x}+{y}", "-depth", "8", "txt:-"],
                             capture_output=True, text=True, check=True).stdout
        m = re.search(r"\((\d+),(\d+),(\d+)", out.splitlines()[-1])
        return tuple(int(v) for v in m.groups())

    def start_stub(self, name="setup.exe", copy=True, folder=None, build="stub.exe"):
        if folder:  # a Windows folder such as D:\\app\\
            exe = os.path.join(self.path(folder), name)
            os.makedirs(os.path.dirname(exe), exist_ok=True)
            shutil.copyfile(os.path.join(self.win_bin, "stub.exe"), exe)
        else:
            exe = self.install_copy(name, build=build) if copy else os.path.join(self.drive_c, APP_DIR, name)
        return subprocess.Popen(["wine", exe], stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def tool(self, *args, stdin=None):
        out = subprocess.run([os.path.join(self.host_bin, "stubtool"), *args], input=stdin,
                             capture_output=True, check=True)
        return out.stdout

    def encode(self, plain):
        return self.tool("encode", stdin=plain.encode()).decode()

    def wine(self, exe, *args, cwd=None, timeout=60):
        """Runs a Windows program to its end; returns (exit code, seconds)."""
        start = time.monotonic()
        proc = subprocess.run(["wine", exe, *args], cwd=cwd, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=timeout)
        return proc.returncode, time.monotonic() - start

    def wine_start(self, exe, *args):
        return subprocess.Popen(["wine", exe, *args], stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def reg_version(self, exe_name, version):
        key = rf"HKCU\Software\Wine\AppDefaults\{exe_name}"
        if version:
            cmd = ["wine", "reg", "add", key, "/v", "Version", "/d", version, "/f"]
        else:
            cmd = ["wine", "reg", "delete", key, "/f"]
        subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)

    def install_copy(self, name, folder=APP_DIR, build="stub.exe"):
        """Copies stub.exe to C:\\<folder>\\<name>; returns the host path."""
        target_dir = os.path.join(self.drive_c, folder)
        os.makedirs(target_dir, exist_ok=True)
        target = os.path.join(target_dir, name)
        shutil.copyfile(os.path.join(self.win_bin, build), target)
        return target


class Server:
    """report-server on the stub's address with its own db, reply and files.
    With `tls` (a kind of tls.KINDS) it serves https:// with that certificate,
    on `port` (the TLS test copy's addresses are localhost:18474 and 18475)."""

    def __init__(self, env, reply="", files=None, options=(), installer=True, port=PORT, tls=None,
                 rules=None, admin=False):
        """With `rules` (TOML text) the server chooses replies by release rules
        instead of the fixed `reply`; with `admin` it serves the dashboard on
        ADMIN_PORT."""
        self.env = env
        self.port = port
        self.tls = tls
        self.dir = tempfile.mkdtemp(prefix="e2e-server-")
        self.db = os.path.join(self.dir, "events.db")
        self.reply = os.path.join(self.dir, "reply.txt")
        self.files = os.path.join(self.dir, "files")
        os.makedirs(self.files)
        with open(self.reply, "w", encoding="utf-8") as f:
            f.write(reply)
        files = dict(files or {})
        if installer:
            with open(env.sample, "rb") as f:
                files.setdefault(FALLBACK_PATH, f.read())
        for rel, data in files.items():
            path = os.path.join(self.files, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
        self.rules = os.path.join(self.dir, "rules.toml")
        if rules is not None:
            with open(self.rules, "w", encoding="utf-8") as f:
                f.write(rules)
        self.options = list(options)
        if admin:
            self.options += ["--admin-listen", f"127.0.0.1:{ADMIN_PORT}"]
        self.use_rules = rules is not None
        self.proc = None

    def __enter__(self):
        tls = []
        if self.tls:
            certs = self.env.certificates()
            tls = ["--tls-cert", certs.pem(self.tls), "--tls-key", certs.key(self.tls)]
        self.proc = subprocess.Popen(
            [os.path.join(self.env.host_bin, "report-server"), "--listen",
             f"127.0.0.1:{self.port}", "--db", self.db,
             *(["--rules", self.rules] if self.use_rules else ["--reply", self.reply]),
             "--files", self.files, *tls, *self.options],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        line = self.proc.stdout.readline()
        if "listening" not in line:
            self.proc.kill()
            raise Failure(f"report-server did not start: {line!r}")
        return self

    def __exit__(self, *exc):
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        shutil.rmtree(self.dir, ignore_errors=True)

    def put_file(self, rel, data):
        """Replaces a served file the way a publisher's copy does: a new file
        renamed over the old one."""
        path = os.path.join(self.files, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path + ".new", "wb") as f:
            f.write(data)
        os.replace(path + ".new", path)

    def stats(self, *args):
        out = subprocess.run([os.path.join(self.env.host_bin, "report-server"), "stats", "--db",
                              self.db, *args], capture_output=True, text=True, check=True).stdout
        return [json.loads(line) for line in out.splitlines() if line.strip()]

    def events(self):
        out = subprocess.run([os.path.join(self.env.host_bin, "report-server"), "events", "--db",
                              self.db], capture_output=True, text=True, check=True).stdout
        return [json.loads(line) for line in out.splitlines() if line.strip()]

    def reports(self):
        """The recorded requests that carry a Key, as (Key, Data) pairs."""
        return [(e["Key"], e["Data"]) for e in self.events() if e.get("Key") is not None]

    def data(self):
        """The Data of every report, in order (the Info request as "Info")."""
        return ["Info" if k == "Info" else d for k, d in self.reports()]

    def file_requests(self):
        return [e["target"] for e in self.events() if e.get("Key") is None]


def sample_reply(env, md5=None, url=None, title="Korvel安装", extra=""):
    """A reply naming the sample installer at the built-in path."""
    return (f"DownUrl=={url or BASE + FALLBACK_PATH}<#>FileMD5=={md5 or env.sample_md5}<#>"
            f"NameTitle=={title}<#>NISITitle==Korvel<#>NISIVer==3.1.1{extra}")


def raw_reply(env, plain):
    """Options that make the server send `plain` coded as it is, for replies
    its own checks would refuse to serve (addresses that are not web ones)."""
    path = os.path.join(tempfile.mkdtemp(prefix="e2e-raw-"), "reply.txt")
    with open(path, "w", encoding="utf-8") as f:
        f.write(env.encode(plain))
    return ["--info-raw", path]


def wait_exit(proc, timeout):
    """Waits for the stub to end; returns its exit code (kills it on time-out)."""
    try:
        return proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
        raise Failure(f"the program did not end within {timeout} s")


def query_of(target):
    return target.split("?", 1)[1] if "?" in target else ""


PROFILE_KEYS = ["softId", "PcId_C", "SoftVer", "Channel", "PcId", "Scr", "OS", "OSBit", "DPI",
                "OSLanguage"]


def profile_query(event):
    """The profile part of a request as the stub must have built it."""
    return "".join(f"&{k}={event[k]}" for k in PROFILE_KEYS)


def is_timeid(text):
    return re.fullmatch(r"20\d{12}", text or "") is not None
