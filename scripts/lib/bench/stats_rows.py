#!/usr/bin/env python3
"""Fills a report-server database with N requests written straight into the
table (no HTTP), for timing `report-server stats` and the dashboard.

  stats_rows.py sqlite PATH N       makes the SQLite file PATH (must not exist)
  stats_rows.py postgres URL N      fills an empty PostgreSQL database (psql)

Every run is 8 requests, two seconds apart (about 15 days for 5,000,000 rows):
Info, frmLoad, BeginDown, then a clean install, a retry that installs, or a
double failure that ends on the browser button; three channels, four
versions, three OS names and both bit widths.
"""
import sqlite3
import subprocess
import sys

FIELDS = ["Key", "Data", "TimeID", "softId", "PcId_C", "SoftVer", "Channel",
          "PcId", "Scr", "OS", "OSBit", "DPI", "OSLanguage"]
START = 1795132800  # 2026-11-20T00:00:00Z
OK = "DownFinish=OK:3.5 DownCode=1,2,4,14,5,6, SavePath=C:\\Temp\\ url=127.0.0.1/a.exe"
MISMATCH = ("DownFinish=Not:2 DownCode=1,2,4,14,5,6, DiskSpace=900 URLMon=1 SavePath=C:\\Temp\\ "
            "DownMD5=AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA FileMD5=BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB url=127.0.0.1/a.exe")
UNREADABLE = ("DownFinish=Not:0.5 DownCode=1, DiskSpace=0 URLMon= SavePath=C:\\Temp\\ "
              "DownMD5=* ERR: CANNOT OPEN FILE FileMD5=BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB url=127.0.0.1/a.exe")


def q(text):
    return "'" + text.replace("'", "''") + "'"


def data_expr():
    # kind: 0-5 clean install, 6-8 retry that installs, 9 double failure
    k = "(run % 10)"
    steps = {
        0: "''", 1: "'frmLoad'", 2: "'BeginDown'",
        3: f"CASE WHEN {k} < 6 THEN {q(OK)} ELSE {q(MISMATCH)} END",
        4: f"CASE WHEN {k} < 6 THEN 'one' ELSE 'AutoReDown' END",
        5: f"CASE WHEN {k} < 6 THEN 'CheackFinish=OK' ELSE 'BeginDown' END",
        6: f"CASE WHEN {k} < 6 THEN 'one' WHEN {k} < 9 THEN {q(OK)} ELSE {q(UNREADABLE)} END",
        7: f"CASE WHEN {k} = 9 THEN 'Image4_Click' ELSE 'one' END",
    }
    return "CASE s " + " ".join(f"WHEN {s} THEN {e}" for s, e in steps.items()) + " END"


def values(text, time_expr):
    """The select list: time, client, method, target, then the fields."""
    cols = {
        "Key": "CASE WHEN s = 0 THEN 'Info' ELSE 'Setup' END",
        "Data": data_expr(),
        "TimeID": "'t' || run",
        "PcId": "'pc' || (run % 50000)",
        "SoftVer": "'V3.1.' || (run % 4)",
        "Channel": "CASE run % 3 WHEN 0 THEN 'wlpq' WHEN 1 THEN 'beta' ELSE 'gamma' END",
        "OS": "CASE run % 3 WHEN 0 THEN 'Win7' WHEN 1 THEN 'WinXP' ELSE 'Win10' END",
        "OSBit": "CASE WHEN run % 2 = 0 THEN '64' ELSE '32' END",
    }
    fields = [text(cols[f]) if f in cols else "NULL" for f in FIELDS]
    return [time_expr, "'127.0.0.1'", text("'GET'"), text("'/?Key=Setup&TimeID=t' || run")] + fields


def columns():
    return "time, client, method, target, " + ", ".join(f'"{f}"' for f in FIELDS)


def sqlite(path, n):
    db = sqlite3.connect(path)
    db.executescript(
        "PRAGMA journal_mode=WAL; CREATE TABLE requests (id INTEGER PRIMARY KEY AUTOINCREMENT, "
        "time TEXT NOT NULL, client TEXT NOT NULL, method TEXT NOT NULL, target BLOB NOT NULL, "
        + ", ".join(f'"{f}" TEXT' for f in FIELDS) + ")")
    time = f"strftime('%Y-%m-%dT%H:%M:%fZ', {START} + run * 2 + s * 0.25, 'unixepoch')"
    db.execute(
        f"WITH RECURSIVE g(n) AS (SELECT 0 UNION ALL SELECT n + 1 FROM g WHERE n + 1 < {n}), "
        "r AS (SELECT n / 8 AS run, n % 8 AS s FROM g) "
        f"INSERT INTO requests ({columns()}) SELECT {', '.join(values(lambda e: e, time))} FROM r")
    db.commit()
    db.close()


def postgres(url, n):
    bytea = lambda e: f"convert_to({e}, 'UTF8')"
    time = (f"to_char(to_timestamp({START} + run * 2 + s * 0.25) AT TIME ZONE 'UTC', "
            "'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')")
    fields = ", ".join(f'"{f}" bytea' for f in FIELDS)
    sql = f"""
CREATE TABLE IF NOT EXISTS schema_version (version integer NOT NULL);
INSERT INTO schema_version SELECT 1 WHERE NOT EXISTS (SELECT 1 FROM schema_version);
CREATE TABLE requests (id bigserial PRIMARY KEY, event_id text NOT NULL UNIQUE, time text NOT NULL,
  client text NOT NULL, method bytea NOT NULL, target bytea NOT NULL, {fields});
INSERT INTO requests (event_id, {columns()})
SELECT 'bench' || n, {', '.join(values(bytea, time))}
FROM (SELECT n / 8 AS run, n % 8 AS s, n FROM generate_series(0, {n - 1}) AS n) AS r ORDER BY n;
VACUUM ANALYZE requests;
"""
    subprocess.run(["psql", "-q", "-v", "ON_ERROR_STOP=1", url], input=sql, text=True, check=True)


if __name__ == "__main__":
    kind, where, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
    (sqlite if kind == "sqlite" else postgres)(where, count)
