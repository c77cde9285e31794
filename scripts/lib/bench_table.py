"""The page of scripts/bench: one Markdown table of every benchmark's figures
with their goals, a line for each goal missed, the machine and the method.

    python3 scripts/lib/bench_table.py --md5 FILE --download FILE --wait FILE \
        --start FILE --load-start LOAD

FILE arguments are the saved outputs of scripts/bench md5 (its table) and of
scripts/bench download, wait and start run with --kv.
"""
import argparse
import os
import subprocess
import sys
import time

DOWNLOAD_MIB = 256  # size of bench-download's file


class TableError(Exception):
    pass


GOALS = {  # name: (text, test)
    "md5_vs_md5sum": ("≥ 1.00", lambda v: v >= 1.00),
    "md5_vs_openssl": ("≥ 0.90", lambda v: v >= 0.90),
    "md5_wine_vs_native": ("≥ 0.90", lambda v: v >= 0.90),
    "engine_vs_bare": ("≥ 0.95", lambda v: v >= 0.95),
    "start_to_wait_end_cpu": ("< 0.2 s", lambda v: v < 0.2),
    "fetch_wait_cpu": ("< 0.2 s", lambda v: v < 0.2),
    "final_wait_cpu": ("< 0.08 s", lambda v: v < 0.08),
    "shown": ("≤ 1.0 s", lambda v: v <= 1.0),
    "size": ("≤ 100 KiB (102,400 bytes)", lambda v: v <= 100 * 1024),
    "peak": ("≤ 2 × the minimal program", lambda v: v <= 2.0),
}

# Why a goal can be missed and what would close it; printed under the table
# for each goal missed.
MISSES = {
    "md5_vs_md5sum":
        "the native digest is slower than md5sum. Both read the file from the page cache, so "
        "the difference is the compression loop: compare the generated code of MD5Blocks with "
        "coreutils' (all four rounds unrolled, state in registers); a difference of a few "
        "percent on this shared machine is noise, so re-run on an idle one first.",
    "md5_vs_openssl":
        "the native digest is more than 10 % slower than openssl's hand-written assembly; "
        "closing it means an unrolled compression loop with the round constants inline (as "
        "openssl's), or accepting openssl's lead.",
    "md5_wine_vs_native":
        "the digest under Wine is more than 10 % slower than natively. The figure includes "
        "starting a Wine process (0.1-0.9 s) and ReadFile through wineserver; larger reads "
        "(the chunk size in md5_file.cpp) lower the per-call cost.",
    "engine_vs_bare":
        "the stub's engine is more than 5 % slower than the bare call. It runs the same "
        "platform call on a worker thread and hands each progress notification to the "
        "window's thread (one PostMessage and two message pumps each); with only a few "
        "notifications per transfer a miss is usually the machine's noise (see the runs). "
        "If it persists: drain several notifications per posted message and pump once.",
    "start_to_wait_end_cpu":
        "the process spends more than 0.2 s of CPU up to the end of the fetch wait; most of it "
        "is start-up (Wine's loader, the profile, the WMI query for the machine id), which "
        "the 'during the wait' row excludes. Close it by starting the WMI query only once.",
    "fetch_wait_cpu":
        "the fetch wait burns CPU: the wait is polling instead of blocking. Close it by "
        "waiting in MsgWaitForMultipleObjectsEx until the next whole second or the worker's "
        "event, dispatching only the messages that arrived.",
    "final_wait_cpu":
        "the end of the run burns CPU: WaitSeconds, the installer's launch, the hide or the "
        "report flush is spinning. Close it by blocking in a message-aware wait for the rest "
        "of the interval.",
    "shown":
        "the download window appears more than a second after the start. The figure includes "
        "Wine's process start (compare the minimal program) and the fixed steps before the "
        "window: the profile, the WMI query for the machine id and the information request; "
        "close it by making the slowest of those cheaper (the WMI query is the usual one).",
    "size":
        "the executable is larger than 100 KiB: check the map file (-Wl,-Map) for "
        "libstdc++ pieces (iostream, locale, exceptions) or a large table that came in, and "
        "keep them out; the build itself fails past 110 KiB.",
    "peak":
        "the stub's peak memory is more than twice a minimal window program's under Wine. "
        "Look for a buffer that grows with the download or the page, or a DLL that only one "
        "path needs loaded at start.",
}


def read_kv(path):
    out = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            if "=" in line:
                k, v = line.rstrip("\n").split("=", 1)
                out[k] = v
    return out


def read_md5(path):
    """Seconds per tool from the table that scripts/bench md5 prints."""
    names = {"stubtool md5 (native)": "native", "md5sum": "md5sum", "openssl md5": "openssl",
             "stub digest under Wine (stubtool.exe)": "wine"}
    out = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            cells = [c.strip() for c in line.strip().strip("|").split("|")]
            if len(cells) == 3 and cells[0] in names:
                out[names[cells[0]]] = float(cells[1])
    missing = set(names.values()) - set(out)
    if missing:
        raise TableError(f"bench-md5 output lacks {sorted(missing)}")
    return out


def machine_text():
    def first(path, key):
        try:
            with open(path) as f:
                for line in f:
                    if line.startswith(key):
                        return line.split(":", 1)[1].strip() if ":" in line else line
        except OSError:
            pass
        return "unknown"
    cpu = first("/proc/cpuinfo", "model name")
    mem_kib = int(first("/proc/meminfo", "MemTotal").split()[0])
    os_name = "unknown"
    try:
        with open("/etc/os-release") as f:
            for line in f:
                if line.startswith("PRETTY_NAME="):
                    os_name = line.split("=", 1)[1].strip().strip('"')
    except OSError:
        pass
    wine = subprocess.run(["wine", "--version"], stdin=subprocess.DEVNULL, capture_output=True,
                          text=True).stdout.strip()
    return (f"{os.cpu_count()} CPUs ({cpu}), {mem_kib / 1048576:.1f} GiB memory, {os_name}, "
            f"Linux {os.uname().release}, {wine}")


def table(args):
    md5 = read_md5(args.md5)
    dl = read_kv(args.download)
    wt = read_kv(args.wait)
    st = read_kv(args.start)
    rows, missed = [], []

    def row(what, figure, goal_key=None, value=None):
        if goal_key is None:
            rows.append((what, figure, "–", "–"))
            return
        text, test = GOALS[goal_key]
        met = test(value)
        rows.append((what, figure, text, "yes" if met else "**no**"))
        if not met:
            missed.append((what, MISSES[goal_key]))

    mib = lambda seconds, size_mib: f"{size_mib / seconds:.0f} MiB/s ({seconds:.2f} s)"
    row("MD5 of 1 GiB: stub digest under Wine (stubtool.exe, process start included)",
        mib(md5["wine"], 1024))
    row("MD5 of 1 GiB: stubtool md5 (native)", mib(md5["native"], 1024))
    row("MD5 of 1 GiB: md5sum", mib(md5["md5sum"], 1024))
    row("MD5 of 1 GiB: openssl md5", mib(md5["openssl"], 1024))
    r = md5["md5sum"] / md5["native"]
    row("MD5 ratio: stubtool / md5sum", f"{r:.2f}", "md5_vs_md5sum", r)
    r = md5["openssl"] / md5["native"]
    row("MD5 ratio: stubtool / openssl md5", f"{r:.2f}", "md5_vs_openssl", r)
    r = md5["native"] / md5["wine"]
    row("MD5 ratio: stub digest under Wine / stubtool", f"{r:.2f}", "md5_wine_vs_native", r)

    size = DOWNLOAD_MIB
    row("Download of 256 MiB over loopback: stub's engine with its progress handling",
        mib(float(dl["engine_seconds"]), size))
    row("Download of 256 MiB: bare URLDownloadToFileW, no callback",
        mib(float(dl["bare_seconds"]), size))
    row("Download of 256 MiB: curl (host)", mib(float(dl["curl_seconds"]), size))
    r = float(dl["bare_seconds"]) / float(dl["engine_seconds"])
    row("Download ratio: stub's engine / bare call", f"{r:.2f}", "engine_vs_bare", r)
    r = float(dl["curl_seconds"]) / float(dl["engine_seconds"])
    row("Download ratio: stub's engine / curl", f"{r:.2f}")

    v = float(wt["start_to_wait_end_cpu"])
    row("CPU, start to the end of the 5-second fetch wait (silent server)",
        f"{v:.3f} s over {float(wt['start_to_wait_end_wall']):.2f} s", "start_to_wait_end_cpu", v)
    v = float(wt["fetch_wait_cpu"])
    row("CPU during the 5-second fetch wait (Info request to GetNetIsnull report)",
        f"{v:.3f} s over {float(wt['fetch_wait_wall']):.2f} s", "fetch_wait_cpu", v)
    v = float(wt["final_wait_cpu"])
    row("CPU during WaitSeconds(2) after the download (DownFinish=OK report to exit)",
        f"{v:.3f} s over {float(wt['final_wait_wall']):.2f} s", "final_wait_cpu", v)

    v = float(st["stub_shown_seconds"])
    row("Time from start to the download window shown (server answering at once)",
        f"{v:.2f} s (minimal window program: {float(st['reference_shown_seconds']):.2f} s)",
        "shown", v)
    v = int(st["stub_size_bytes"])
    row("Size of stub.exe", f"{v:,} bytes ({v / 1024:.1f} KiB)", "size", v)
    stub_peak, ref_peak = int(st["stub_peak_kib"]), int(st["reference_peak_kib"])
    row("Peak memory (VmHWM) of the stub's process over a normal run",
        f"{stub_peak / 1024:.1f} MiB (minimal window program: {ref_peak / 1024:.1f} MiB, "
        f"{stub_peak / ref_peak:.2f} ×)", "peak", stub_peak / ref_peak)

    now = time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime())
    out = ["# Benchmarks", "",
           f"Generated by `scripts/bench` on {now}.", "",
           f"Machine: {machine_text()}. Load average (1 min): {args.load_start} at the start, "
           f"{os.getloadavg()[0]:.2f} at the end. Each figure is the best of several runs "
           "(peak memory: the highest); on a shared machine they vary from run to run.", "",
           "| Measure | Figure | Goal | Met |", "|---|---|---|---|"]
    out += [f"| {a} | {b} | {c} | {d} |" for a, b, c, d in rows]
    out.append("")
    if missed:
        out.append("Goals missed:")
        out.append("")
        out += [f"- {what}: {why}" for what, why in missed]
    else:
        out.append("Every goal is met.")
    out += ["", "Runs behind the figures: download seconds (engine "
            f"{dl['engine_runs']}; bare call {dl['bare_runs']}; no-cache callback only "
            f"{dl['flags_runs']}; curl {dl['curl_runs']}); CPU during the fetch wait "
            f"{wt['fetch_wait_cpu_runs']} s and during WaitSeconds(2) {wt['final_wait_cpu_runs']} s; "
            f"start to window {st['stub_shown_runs']} s. The engine handled "
            f"{dl['engine_progress_calls']} progress notifications (statuses "
            f"{dl['engine_downcode']}).", ""]
    out += [line.rstrip() for line in METHOD.strip("\n").split("\n")]
    print("\n".join(out))


METHOD = """
## How the figures are taken

- **MD5** (`scripts/bench md5`): a 1 GiB file in the page cache, best of 5 wall times per
  tool; the Wine figure includes starting the Wine process.
- **Download** (`scripts/bench download`): report-server serves a 256 MiB file over
  loopback. `engine-bench` (tools/bench) times inside the Windows process: `engine` runs
  `URLDownFile::DownloadFile` through the real `DownloadController::StartDownFile`, so every
  notification goes through the real `DownloadController::OnProgress` (into a view that
  draws nothing); `bare` calls `URLDownloadToFileW` without a callback. curl writes to the
  same folder. Best of 3, interleaved. Under Wine every URL download, with or without the
  no-cache bind flags, is first written to Wine's internet cache and then copied to the
  target, which is why both Windows figures trail curl.
- **CPU** (`scripts/bench wait`): utime + stime of the stub's own process (under Wine the
  process that `wine` starts is the program's), sampled from /proc/PID/stat every 5 ms and
  taken exactly from wait4 at the exit, against the moments report-server records the Info
  request, the `GetNetIsnull=''` report (end of the fetch wait) and the `DownFinish=OK:`
  report. report-server-faults delays its Info answer by 30 s; the stub then downloads its built-in
  installer. Best of 3; the kernel counts CPU time in 10 ms ticks. The interval from
  `DownFinish=OK:` to the exit also holds the installer's launch (about 30 ms), hiding the
  window and the bounded report flush; its wall time is about 4 s because Wine's X11 driver
  waits up to 2 s for a window manager to confirm the hidden window, and the benchmark's
  virtual screen has none.
- **Start-up** (`scripts/bench start`): report-server answers at once; the time runs from
  starting `wine setup.exe` until xdotool (polled every 10 ms) finds the download window
  mapped on the screen, nothing subtracted, best of 5. Peak memory is VmHWM from
  /proc/PID/status, polled until the process ends over the whole run (window, download of
  the installer, digest, launch, exit). The minimal window program (`engine-bench window`,
  statically linked like the stub) shows what any program costs under Wine.

Goals: the stub's engine keeps at least 95 % of the bare platform call's throughput; a
wait costs under 0.2 s of CPU per 5 s of waiting (a spinning wait burns its whole wall
time), so under 0.08 s for the 2-second wait; the window is up within a second of the
start; the executable stays at or under 100 KiB (a small static program that pulls in
libstdc++'s streams and locales is already about 260 KB); and the stub needs at most twice the memory
of a minimal window program under Wine, whose own DLLs make up most of both figures. The
digest goals are those of `scripts/bench md5`.
"""


def main():
    parser = argparse.ArgumentParser()
    for name in ("md5", "download", "wait", "start", "load-start"):
        parser.add_argument(f"--{name}", required=True)
    try:
        table(parser.parse_args())
    except (TableError, KeyError, OSError, ValueError) as e:
        print(f"bench table: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
