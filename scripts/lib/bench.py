"""Measurements behind the benchmark scripts (scripts/bench wait, download,
start). Runs the stub and the benchmark program under Wine against
report-server on the benchmark port and prints figures; never judges them.

    python3 scripts/lib/bench.py wait|download|start BUILD_DIR [--kv] [--runs N]

The environment (WINEPREFIX, DISPLAY, a running wineserver) comes from
scripts/lib/bench.sh. With --kv the figures are printed as NAME=VALUE lines
for scripts/bench; without it, as a short report for a reader.
"""
import argparse
import os
import sqlite3
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "e2e"))
import harness  # noqa: E402  the end-to-end suite's Wine machine and report-server
from harness import FALLBACK_PATH, QUIET, WINDOW  # noqa: E402

PORT = 18480
BASE = f"http://127.0.0.1:{PORT}/"
REFERENCE_TITLE = "Bench reference window"
STUB_SIZE_GOAL = 100 * 1024                       # bytes: the most stub.exe may weigh
BIG_BYTES = 256 * 1024 * 1024
TICK = os.sysconf("SC_CLK_TCK")


class BenchError(Exception):
    pass


class Machine(harness.Env):
    """The suite's Wine machine with a folder for the benchmark's data; its
    reset also empties Wine's internet cache."""

    def __init__(self, build):
        super().__init__(build)
        self.data = os.path.join(build, "bench-data")
        os.makedirs(self.data, exist_ok=True)

    def reset(self):
        super().reset()
        self.clear_url_cache()

    def clear_url_cache(self):
        """Wine keeps a copy of every URL download in its internet cache; the
        copies of earlier runs go, the index stays."""
        users = os.path.join(self.drive_c, "users")
        for user in os.listdir(users) if os.path.isdir(users) else []:
            cache = os.path.join(users, user, "AppData", "Local", "Microsoft", "Windows",
                                 "INetCache", "Content.IE5")
            if not os.path.isdir(cache):
                continue
            for sub in os.listdir(cache):
                folder = os.path.join(cache, sub)
                if os.path.isdir(folder):
                    for name in os.listdir(folder):
                        try:
                            os.unlink(os.path.join(folder, name))
                        except OSError:
                            pass

    def install_stub(self):
        return self.install_copy("setup.exe")


def windows_path(host_path):
    return "Z:" + host_path.replace("/", "\\")


def Server(machine, reply="", files=None, faults=()):
    """report-server (with `faults`, report-server-faults) on the benchmark port, its folder under the benchmark's
    data."""
    return harness.Server(machine, reply, files, installer=False, port=PORT, workdir=machine.data, faults=faults)


def new_reports(server):
    """(Key, Data) of the requests the server recorded since the last call."""
    if getattr(server, "conn", None) is None:
        if not os.path.exists(server.db):
            return []
        server.conn, server.last_id = sqlite3.connect(f"file:{server.db}?mode=ro", uri=True, timeout=5), 0
    try:
        rows = server.conn.execute('SELECT id, "Key", "Data" FROM requests WHERE id > ? ORDER BY id',
                                   (server.last_id,)).fetchall()
    except sqlite3.OperationalError:
        return []
    if rows:
        server.last_id = rows[-1][0]
    return [(k, d) for _, k, d in rows]


def sample_reply(machine):
    return harness.sample_reply(machine, url=BASE + FALLBACK_PATH)


# ---- one watched process -----------------------------------------------------------

def cpu_seconds(pid):
    """utime + stime of the process from /proc, or None once it is gone."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except OSError:
        return None
    return (int(fields[11]) + int(fields[12])) / TICK


def peak_memory_kib(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def window_shown(title):
    """True when a mapped X window has exactly this name."""
    r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", f"^{title}$"],
                       stdin=subprocess.DEVNULL, capture_output=True, timeout=10)
    return r.returncode == 0 and r.stdout.strip() != b""


class Run:
    """A Windows program started with `wine`: under Wine the started process
    is the program's own, so its PID is the one /proc and wait4 describe."""

    def __init__(self, exe, *args):
        self.start = time.monotonic()
        self.proc = subprocess.Popen(["wine", exe, *args], **QUIET)
        self.pid = self.proc.pid
        self.cpu = 0.0        # last sample of utime + stime
        self.hwm_kib = 0      # last sample of VmHWM
        self.end = None
        self.exit_cpu = None  # from wait4 at the exit: exact
        self.exit_maxrss_kib = None
        self.code = None

    def sample(self):
        """Samples CPU and peak memory; returns False once the process has ended."""
        cpu = cpu_seconds(self.pid)
        hwm = peak_memory_kib(self.pid)
        if cpu is not None:
            self.cpu = cpu
        if hwm:
            self.hwm_kib = max(self.hwm_kib, hwm)
        pid, status, usage = os.wait4(self.pid, os.WNOHANG)
        if pid == 0:
            return True
        self.end = time.monotonic()
        self.exit_cpu = usage.ru_utime + usage.ru_stime
        self.exit_maxrss_kib = usage.ru_maxrss
        self.code = os.waitstatus_to_exitcode(status)
        self.proc.returncode = self.code
        return False

    def kill(self):
        if self.end is None:
            self.proc.kill()
            self.proc.wait()


# ---- the waits: CPU while the stub waits ----------------------------------------------

def measure_wait(machine, server):
    """One run against a server that never answers in time: the CPU of the stub's
    process over the 5-second fetch wait and over WaitSeconds(2) after the
    successful download of the built-in installer."""
    machine.reset()
    exe = machine.install_stub()
    run = Run(exe)
    marks = {}
    try:
        while run.sample():
            now = time.monotonic()
            for key, data in new_reports(server):
                if key == "Info" and "info" not in marks:
                    marks["info"] = (now, run.cpu)
                elif data == "GetNetIsnull=''" and "nulled" not in marks:
                    marks["nulled"] = (now, run.cpu)
                elif (data or "").startswith("DownFinish=OK:") and "finished" not in marks:
                    marks["finished"] = (now, run.cpu)
                elif (data or "").startswith("DownFinish=Not:"):
                    raise BenchError(f"the download failed: {data}")
            if now - run.start > 90:
                raise BenchError("the stub did not end within 90 s")
            time.sleep(0.005)
    finally:
        run.kill()
    missing = [m for m in ("info", "nulled", "finished") if m not in marks]
    if missing:
        raise BenchError(f"reports not seen: {missing}; exit code {run.code}")
    info, nulled, finished = marks["info"], marks["nulled"], marks["finished"]
    return {
        "start_to_wait_end_wall": nulled[0] - run.start,
        "start_to_wait_end_cpu": nulled[1],
        "fetch_wait_wall": nulled[0] - info[0],
        "fetch_wait_cpu": nulled[1] - info[1],
        "final_wait_wall": run.end - finished[0],
        "final_wait_cpu": run.exit_cpu - finished[1],
        "total_cpu": run.exit_cpu,
        "total_wall": run.end - run.start,
    }


def bench_wait(machine, runs):
    with Server(machine, sample_reply(machine), files={FALLBACK_PATH: machine.sample},
                faults=["--info-delay", "30"]) as server:
        results = [measure_wait(machine, server) for _ in range(runs)]
    best = {k: min(r[k] for r in results) for k in results[0]}
    best["fetch_wait_cpu_runs"] = ",".join(f"{r['fetch_wait_cpu']:.3f}" for r in results)
    best["final_wait_cpu_runs"] = ",".join(f"{r['final_wait_cpu']:.3f}" for r in results)
    return best, results


# ---- the download: engine, bare call, curl --------------------------------------------

def big_file(machine):
    path = os.path.join(machine.data, "download-256MiB.bin")
    if not os.path.exists(path) or os.path.getsize(path) != BIG_BYTES:
        with open("/dev/urandom", "rb") as src, open(path + ".part", "wb") as dst:
            for _ in range(BIG_BYTES // (1 << 20)):
                dst.write(src.read(1 << 20))
        os.replace(path + ".part", path)
    with open(path, "rb") as f:  # into the page cache
        while f.read(1 << 22):
            pass
    return path


def download_windows(machine, mode, url, target):
    """One transfer by engine-bench; seconds inside the program."""
    out = os.path.join(machine.data, "engine-bench.out")
    with open(out, "w") as o:
        code = subprocess.run(["wine", os.path.join(machine.win_bin, "engine-bench.exe"), mode, url,
                               windows_path(target)], stdin=subprocess.DEVNULL, stdout=o,
                              stderr=subprocess.DEVNULL, timeout=300).returncode
    with open(out) as f:
        text = f.read()
    fields = dict(p.split("=", 1) for p in text.split() if "=" in p)
    if code != 0 or int(fields.get("bytes", -1)) != BIG_BYTES:
        raise BenchError(f"engine-bench {mode} failed (exit {code}): {text.strip()!r}")
    return float(fields["seconds"]), fields


def download_curl(url, target):
    r = subprocess.run(["curl", "-s", "-S", "--fail", "-o", target, "-w", "%{time_total}", url],
                       stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=300)
    if r.returncode != 0 or os.path.getsize(target) != BIG_BYTES:
        raise BenchError(f"curl failed: {r.stderr.strip()}")
    return float(r.stdout)


def bench_download(machine, runs):
    source = big_file(machine)
    machine.reset()
    target = os.path.join(machine.data, "downloaded.bin")
    times = {"engine": [], "bare": [], "flags": [], "curl": []}
    details = {}
    with Server(machine, files={"big/file.bin": source}):
        for i in range(runs):
            # Interleaved, so that a busy moment of the machine hits every tool.
            for mode in times:
                if os.path.exists(target):
                    os.unlink(target)
                machine.clear_url_cache()
                # A new query each time, so that no cache can answer.
                url = f"{BASE}big/file.bin?{mode}{i}{int(time.time() * 1000)}"
                if mode == "curl":
                    times[mode].append(download_curl(url, target))
                else:
                    seconds, fields = download_windows(machine, mode, url, target)
                    times[mode].append(seconds)
                    if mode == "engine":
                        details = fields
        if os.path.exists(target):
            os.unlink(target)
        machine.clear_url_cache()
    best = {m: min(t) for m, t in times.items()}
    mib = BIG_BYTES / (1 << 20)
    figures = {f"{m}_seconds": best[m] for m in best}
    figures.update({f"{m}_mibs": mib / best[m] for m in best})
    figures.update({f"{m}_runs": ",".join(f"{t:.2f}" for t in ts) for m, ts in times.items()})
    figures["engine_progress_calls"] = details.get("progress", "")
    figures["engine_downcode"] = details.get("downcode", "")
    return figures, times


# ---- start-up: time to the window, size, peak memory ----------------------------------

def measure_start(exe, args, title, limit):
    """Time from `wine` to a mapped window with this title, and the process's peak
    memory polled until it ends."""
    run = Run(exe, *args)
    shown = None
    try:
        while run.sample():
            now = time.monotonic()
            if shown is None and window_shown(title):
                shown = time.monotonic() - run.start
            if now - run.start > limit:
                raise BenchError(f"{os.path.basename(exe)} did not end within {limit} s")
            time.sleep(0.01)
    finally:
        run.kill()
    if shown is None:
        raise BenchError(f"no window titled {title!r} appeared")
    return {"shown": shown, "hwm_kib": run.hwm_kib, "maxrss_kib": run.exit_maxrss_kib,
            "code": run.code}


def bench_start(machine, runs):
    stub_runs, ref_runs = [], []
    with Server(machine, sample_reply(machine), files={FALLBACK_PATH: machine.sample}) as server:
        for _ in range(runs):
            machine.reset()
            exe = machine.install_stub()
            stub_runs.append(measure_start(exe, (), WINDOW, 90))
            reports = [d for _, d in new_reports(server)]
            if not any((d or "").startswith("DownFinish=OK:") for d in reports):
                raise BenchError(f"not a normal run; reports: {reports}")
            machine.reset()
            ref_runs.append(measure_start(os.path.join(machine.win_bin, "engine-bench.exe"),
                                          ("window", REFERENCE_TITLE, "2"), REFERENCE_TITLE,
                                          60))
    figures = {
        "stub_shown_seconds": min(r["shown"] for r in stub_runs),
        "reference_shown_seconds": min(r["shown"] for r in ref_runs),
        # Memory is not noise: the highest peak of the runs counts.
        "stub_peak_kib": max(r["hwm_kib"] for r in stub_runs),
        "reference_peak_kib": max(r["hwm_kib"] for r in ref_runs),
        "stub_maxrss_kib": max(r["maxrss_kib"] for r in stub_runs),
        "stub_size_bytes": os.path.getsize(os.path.join(machine.win_bin, "stub.exe")),
        "stub_size_goal_bytes": STUB_SIZE_GOAL,
        "stub_shown_runs": ",".join(f"{r['shown']:.2f}" for r in stub_runs),
    }
    return figures, {"stub": stub_runs, "reference": ref_runs}


# ---- output ------------------------------------------------------------------------

def print_kv(figures):
    for k, v in figures.items():
        print(f"{k}={v:.4f}" if isinstance(v, float) else f"{k}={v}")


def report_wait(best, runs):
    print(f"CPU of the stub's process, best of {len(runs)} runs (seconds):")
    print(f"  5-second fetch wait (Info request to the GetNetIsnull report): "
          f"{best['fetch_wait_cpu']:.3f} CPU over {best['fetch_wait_wall']:.2f} wall")
    print(f"  start to the end of the fetch wait: "
          f"{best['start_to_wait_end_cpu']:.3f} CPU over {best['start_to_wait_end_wall']:.2f} wall")
    print(f"  WaitSeconds(2) after the download (DownFinish=OK report to the exit, with the "
          f"installer's launch and the report flush): "
          f"{best['final_wait_cpu']:.3f} CPU over {best['final_wait_wall']:.2f} wall")
    print(f"  whole run: {best['total_cpu']:.3f} CPU over {best['total_wall']:.2f} wall")
    print("  each run (fetch wait CPU / WaitSeconds(2) CPU): " +
          ", ".join(f"{r['fetch_wait_cpu']:.3f}/{r['final_wait_cpu']:.3f}" for r in runs))


def report_download(best, times):
    n = len(times["engine"])
    print(f"256 MiB over loopback from report-server, best of {n} runs:")
    names = {"engine": "stub's engine with its progress handling", "bare":
             "URLDownloadToFileW, no callback", "flags":
             "URLDownloadToFileW, callback with the no-cache flags only", "curl": "curl (host)"}
    for m, name in names.items():
        print(f"  {name}: {best[m + '_seconds']:.2f} s, {best[m + '_mibs']:.0f} MiB/s  "
              f"(runs: {', '.join(f'{t:.2f}' for t in times[m])})")
    print(f"  engine / bare call throughput: {best['engine_mibs'] / best['bare_mibs']:.2f} "
          f"(goal >= 0.95)")
    print(f"  engine / curl throughput: {best['engine_mibs'] / best['curl_mibs']:.2f}")
    print(f"  progress notifications handled by the controller: {best['engine_progress_calls']}, "
          f"statuses {best['engine_downcode']}")


def report_start(best, runs):
    n = len(runs["stub"])
    print(f"Start-up, best of {n} runs (server answering at once):")
    shown = ", ".join(f"{r['shown']:.2f}" for r in runs["stub"])
    print(f"  start to the download window shown: {best['stub_shown_seconds']:.2f} s "
          f"(runs: {shown})")
    print(f"  reference window program: {best['reference_shown_seconds']:.2f} s")
    size, goal = best["stub_size_bytes"], best["stub_size_goal_bytes"]
    margin = f"{goal - size:,} under it" if size <= goal else f"{size - goal:,} OVER it"
    print(f"  stub.exe size: {size:,} bytes (goal: at most {goal:,} bytes; {margin})")
    print(f"  peak memory (VmHWM, highest of the runs) of the stub's process: {best['stub_peak_kib'] / 1024:.1f} MiB "
          f"(wait4 maxrss {best['stub_maxrss_kib'] / 1024:.1f} MiB); reference window program: "
          f"{best['reference_peak_kib'] / 1024:.1f} MiB")


def main():
    parser = argparse.ArgumentParser()
    parser = argparse.ArgumentParser()
    parser.add_argument("what", choices=["wait", "download", "start"])
    parser.add_argument("build")
    parser.add_argument("--kv", action="store_true")
    parser.add_argument("--runs", type=int)
    a = parser.parse_args()
    machine = Machine(os.path.abspath(a.build))
    try:
        if a.what == "wait":
            best, runs = bench_wait(machine, a.runs or 3)
            print_kv(best) if a.kv else report_wait(best, runs)
        elif a.what == "download":
            best, times = bench_download(machine, a.runs or 3)
            print_kv(best) if a.kv else report_download(best, times)
        else:
            best, runs = bench_start(machine, a.runs or 5)
            print_kv(best) if a.kv else report_start(best, runs)
    except BenchError as e:
        print(f"bench {a.what}: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
