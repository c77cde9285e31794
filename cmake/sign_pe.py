#!/usr/bin/env python3
"""Signs a built Windows program with osslsigncode (Authenticode, SHA-256) and checks the result:

    sign_pe.py FILE --cert CERT [--key KEY] [--ca CA] [--timestamp URL] [--out OUT] [--remove]

CERT is a PEM certificate chain with KEY its PEM private key, or a PKCS#12 file (.p12/.pfx) with KEY,
if given, a file holding its password. The signed program (OUT, default FILE itself) must then verify
against the roots in CA (default: the system's CA bundle), or the signature is refused: the script says
why, leaves OUT untouched (removing FILE with --remove, so the next build links it again) and exits 1.
Nothing is fetched during the check (no revocation lists); a time stamp is asked of URL when given."""
import argparse
import os
import subprocess
import sys

SYSTEM_CAS = "/etc/ssl/certs/ca-certificates.crt"


def run(args):
    out = subprocess.run(["osslsigncode", *args], stdin=subprocess.DEVNULL, capture_output=True, text=True,
                         timeout=300)
    return out.returncode, (out.stdout + out.stderr).strip()


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("file")
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key")
    parser.add_argument("--ca")
    parser.add_argument("--timestamp")
    parser.add_argument("--out")
    parser.add_argument("--remove", action="store_true")
    a = parser.parse_args(argv)
    out = a.out or a.file
    name = os.path.basename(out)
    signing = out + ".signing"
    if a.cert.lower().endswith((".p12", ".pfx")):
        credentials = ["-pkcs12", a.cert] + (["-readpass", a.key] if a.key else [])
    else:
        credentials = ["-certs", a.cert, "-key", a.key or ""]
    stamp = ["-ts", a.timestamp] if a.timestamp else []
    problem = None
    code, text = run(["sign", *credentials, "-h", "sha256", *stamp, "-in", a.file, "-out", signing])
    if code != 0:
        problem = f"osslsigncode could not sign it: {text[-600:]}"
    else:
        # Older releases lack the switch (and the fetching it turns off).
        offline = ["-ignore-cdp"] if "-ignore-cdp" in run(["--help"])[1] else []
        code, text = run(["verify", "-CAfile", a.ca or SYSTEM_CAS, *offline, "-in", signing])
        if code != 0:
            reasons = [line for line in text.splitlines() if "rror" in line or "ailed" in line]
            problem = (f"its signature does not verify against {a.ca or SYSTEM_CAS} "
                       f"(is CERT's chain complete, and is its root there?): " + "; ".join(reasons[-4:]))
    if problem:
        print(f"sign_pe.py: {name}: {problem}", file=sys.stderr)
        if os.path.exists(signing):
            os.remove(signing)
        if a.remove and os.path.exists(a.file):
            os.remove(a.file)
        return 1
    os.chmod(signing, os.stat(a.file).st_mode & 0o777)
    os.replace(signing, out)
    signer = next((line.split(":", 1)[1].strip() for line in text.splitlines() if "Subject:" in line), "?")
    print(f"{name}: signed (SHA-256) by {signer}, verified against {a.ca or SYSTEM_CAS}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
