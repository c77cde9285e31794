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
BASE = f"http://127.0.0.1:{PORT}/"


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

    def install_copy(self, name, folder="e2e"):
        """Copies stub.exe to C:\\<folder>\\<name>; returns the host path."""
        target_dir = os.path.join(self.drive_c, folder)
        os.makedirs(target_dir, exist_ok=True)
        target = os.path.join(target_dir, name)
        shutil.copyfile(os.path.join(self.win_bin, "stub.exe"), target)
        return target


class Server:
    """report-server on the stub's address with its own db, reply and files."""

    def __init__(self, env, reply="", files=None, options=()):
        self.env = env
        self.dir = tempfile.mkdtemp(prefix="e2e-server-")
        self.db = os.path.join(self.dir, "events.db")
        self.reply = os.path.join(self.dir, "reply.txt")
        self.files = os.path.join(self.dir, "files")
        os.makedirs(self.files)
        with open(self.reply, "w", encoding="utf-8") as f:
            f.write(reply)
        for rel, data in (files or {}).items():
            path = os.path.join(self.files, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
        self.options = list(options)
        self.proc = None

    def __enter__(self):
        self.proc = subprocess.Popen(
            [os.path.join(self.env.host_bin, "report-server"), "--listen", f"127.0.0.1:{PORT}",
             "--db", self.db, "--reply", self.reply, "--files", self.files, *self.options],
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
        shutil.rmtree(self.dir, ignore_errors=True)

    def events(self):
        out = subprocess.run([os.path.join(self.env.host_bin, "report-server"), "events", "--db",
                              self.db], capture_output=True, text=True, check=True).stdout
        return [json.loads(line) for line in out.splitlines() if line.strip()]

    def reports(self):
        """The recorded requests that carry a Key, as (Key, Data) pairs."""
        return [(e["Key"], e["Data"]) for e in self.events() if e.get("Key") is not None]


def query_of(target):
    return target.split("?", 1)[1] if "?" in target else ""


PROFILE_KEYS = ["softId", "PcId_C", "SoftVer", "Channel", "PcId", "Scr", "OS", "OSBit", "DPI",
                "OSLanguage"]


def profile_query(event):
    """The profile part of a request as the stub must have built it."""
    return "".join(f"&{k}={event[k]}" for k in PROFILE_KEYS)


def is_timeid(text):
    return re.fullmatch(r"20\d{12}", text or "") is not None
