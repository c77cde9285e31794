"""Certificates for the TLS runs of the demo and the end-to-end suite (KINDS), their root trusted only in
the Wine prefix's Root store.
    tls.py trust|forget BUILD FOLDER    make them in BUILD/FOLDER and trust the root, or undo that
A fresh root (its key deleted once they are signed) signs all but "untrusted"; Wine refuses IP addresses."""
import hashlib
import os
import pathlib
import shutil
import ssl
import struct
import subprocess
import sys

ROOT_STORE = r"HKCU\Software\Microsoft\SystemCertificates\Root\Certificates"
# name -> (subject alternative name, signed by the test root, validity)
KINDS = {"localhost": ("DNS:localhost", True, None), "wrong-host": ("DNS:wrong-host.invalid", True, None),
         "expired": ("DNS:localhost", True, ("20200101000000Z", "20200201000000Z")),
         "untrusted": ("DNS:localhost", False, None)}
CA_CONF = ("[ca]\ndefault_ca = d\n[d]\ndir = ca\ndatabase = ca/index.txt\nnew_certs_dir = ca/new\n"
           "serial = ca/serial\ndefault_md = sha256\npolicy = p\nunique_subject = no\n"
           "[p]\ncommonName = supplied\n[x]\nsubjectAltName = {san}\nextendedKeyUsage = serverAuth\n"
           "basicConstraints = critical,CA:false\n")

def openssl(*args, cwd):
    out = subprocess.run(["openssl", *args], cwd=cwd, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                         timeout=60)
    if out.returncode != 0:
        raise RuntimeError(f"openssl {args[0]} failed: {out.stderr.strip()[-400:]}")

def wine_reg(*args):  # output to nowhere: Wine's helpers must not inherit a pipe
    return subprocess.run(["wine", "reg", *args], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, timeout=60).returncode

def forget_roots(build, record):
    """Takes the roots that trust_root recorded under `record` out of the prefix's Root store."""
    record = os.path.join(build, record + "-trusted.txt")
    if os.path.exists(record):
        for thumb in open(record).read().split():
            wine_reg("delete", ROOT_STORE + "\\" + thumb, "/f")
        os.remove(record)

def trust_root(build, record, pem):
    """Adds the root certificate `pem` to the prefix's Root store, recorded first under `record`."""
    forget_roots(build, record)  # a root that a killed earlier run left
    der = ssl.PEM_cert_to_DER_cert(open(pem).read())
    thumbprint = hashlib.sha1(der).hexdigest().upper()
    pathlib.Path(build, record + "-trusted.txt").write_text(thumbprint + "\n")  # first: a killed run is cleaned up
    # The registry form of a stored certificate: property 32 holds the encoded certificate.
    blob = struct.pack("<III", 32, 1, len(der)) + der
    if wine_reg("add", ROOT_STORE + "\\" + thumbprint, "/v", "Blob", "/t", "REG_BINARY", "/d", blob.hex(), "/f"):
        raise RuntimeError("could not add the test root to the prefix's Root store")

def forget(build, folder):
    """Takes the roots a run recorded out of the prefix's Root store, then deletes the certificates."""
    forget_roots(build, folder)
    shutil.rmtree(os.path.join(build, folder), ignore_errors=True)

def trust(build, folder):
    """Makes the certificates in BUILD/FOLDER and trusts their root in the prefix; returns that folder."""
    forget(build, folder)
    d = os.path.join(build, folder)
    os.makedirs(os.path.join(d, "ca", "new"))
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "root.key", "-out", "root.pem", "-days", "2",
            "-subj", f"/CN=Korvel stub test root {os.getpid()}", "-addext", "basicConstraints=critical,CA:true",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=d)
    with open(os.path.join(d, "ca", "index.txt"), "w"), open(os.path.join(d, "ca", "serial"), "w") as f:
        f.write("1000\n")
    for kind, (san, signed, validity) in KINDS.items():
        new_key = ["-newkey", "rsa:2048", "-nodes", "-keyout", kind + ".key", "-subj", "/CN=" + san.split(":", 1)[1]]
        if not signed:
            openssl("req", "-x509", *new_key, "-out", kind + ".pem", "-days", "2", "-addext", f"subjectAltName={san}",
                    cwd=d)
            continue
        pathlib.Path(d, "ca", kind + ".cnf").write_text(CA_CONF.format(san=san))
        openssl("req", *new_key, "-out", kind + ".csr", cwd=d)
        # `openssl ca` is what can write a validity in the past.
        dates = ["-startdate", validity[0], "-enddate", validity[1]] if validity else ["-days", "2"]
        openssl("ca", "-batch", "-config", f"ca/{kind}.cnf", "-cert", "root.pem", "-keyfile", "root.key",
                "-in", kind + ".csr", "-out", kind + ".pem", "-extensions", "x", "-notext", *dates, cwd=d)
    os.remove(os.path.join(d, "root.key"))
    shutil.rmtree(os.path.join(d, "ca"))
    trust_root(build, folder, os.path.join(d, "root.pem"))
    return d

if __name__ == "__main__":
    if len(sys.argv) != 4 or sys.argv[1] not in ("trust", "forget"):
        sys.exit(__doc__)
    (trust if sys.argv[1] == "trust" else forget)(sys.argv[2], sys.argv[3])
