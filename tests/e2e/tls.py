"""Certificates for the TLS scenarios, and the trust in them, confined to the
test's own Wine prefix.

    tls.py trust BUILD FOLDER    make them in BUILD/FOLDER, trust the root in $WINEPREFIX
    tls.py forget BUILD FOLDER   untrust the root and delete them (scripts/demo --tls)

Each run makes a fresh test root and signs with it: a certificate for
localhost (certificates for an IP address are refused by Wine's TLS), one for
another host name and one that expired years ago; a self-signed localhost
certificate stands for a server nobody trusts. The root's private key is
deleted as soon as the signing is done, so nothing else can ever be signed
with it.

The root is trusted through the current user's Root store of the test prefix
(its registry), which Wine's certificate checks honour. The machine's own
trust store is never written; the run checks that it is unchanged at its end,
and takes the root out of the prefix again, even when scenarios fail.
"""
import hashlib
import os
import shutil
import ssl
import struct
import subprocess
import sys

from harness import Failure

ROOT_STORE = r"HKCU\Software\Microsoft\SystemCertificates\Root\Certificates"
HOST_STORES = ("/etc/ssl/certs", "/usr/local/share/ca-certificates", "/usr/share/ca-certificates")

# name -> (subject alternative name, signed by the test root, validity)
KINDS = {
    "localhost": ("DNS:localhost", True, None),
    "wrong-host": ("DNS:wrong-host.invalid", True, None),
    "expired": ("DNS:localhost", True, ("20200101000000Z", "20200201000000Z")),
    "untrusted": ("DNS:localhost", False, None),
}


def _openssl(*args, cwd):
    out = subprocess.run(["openssl", *args], cwd=cwd, stdin=subprocess.DEVNULL,
                         capture_output=True, text=True, timeout=60)
    if out.returncode != 0:
        raise Failure(f"openssl {args[0]} failed: {out.stderr.strip()[-400:]}")


def _wine_reg(*args):
    # Output to nowhere: Wine's helpers must not inherit a pipe (see wine.md).
    return subprocess.run(["wine", "reg", *args], stdin=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                          timeout=60).returncode


def host_trust_fingerprint():
    """A digest of every file of the machine's certificate stores."""
    h = hashlib.sha256()
    for top in HOST_STORES:
        for dirpath, dirnames, filenames in os.walk(top):
            dirnames.sort()
            for name in sorted(filenames):
                path = os.path.join(dirpath, name)
                h.update(path.encode())
                try:
                    with open(path, "rb") as f:
                        h.update(f.read())
                except OSError:
                    h.update(b"<unreadable>")
    return h.hexdigest()


def untrust(record):
    """Takes the roots listed in the file `record` out of the prefix's Root
    store, then the file itself."""
    if os.path.exists(record):
        with open(record) as f:
            for thumb in f.read().split():
                _wine_reg("delete", ROOT_STORE + "\\" + thumb, "/f")
        os.remove(record)


class Certificates:
    """The run's certificates under BUILD/FOLDER/; pem(kind), key(kind)."""

    def __init__(self, build, folder="e2e-tls"):
        self.dir = os.path.join(build, folder)
        self.record = os.path.join(build, folder + "-trusted.txt")
        self.host_before = host_trust_fingerprint()
        self.thumbprint = None
        self.forget_stale_root()
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)
        self._make()
        self._trust()

    def pem(self, kind):
        return os.path.join(self.dir, kind + ".pem")

    def key(self, kind):
        return os.path.join(self.dir, kind + ".key")

    def _make(self):
        d = self.dir
        _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "root.key",
                 "-out", "root.pem", "-days", "2", "-subj", f"/CN=Korvel stub test root {os.getpid()}",
                 "-addext", "basicConstraints=critical,CA:true",
                 "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=d)
        # `openssl ca` is what can write a validity in the past; it needs a
        # small database of its own.
        ca = os.path.join(d, "ca")
        os.makedirs(os.path.join(ca, "new"))
        open(os.path.join(ca, "index.txt"), "w").close()
        with open(os.path.join(ca, "serial"), "w") as f:
            f.write("1000\n")
        for kind, (san, signed, validity) in KINDS.items():
            ext = os.path.join(ca, kind + ".cnf")
            with open(ext, "w") as f:
                f.write("[ca]\ndefault_ca = d\n[d]\ndir = ca\ndatabase = ca/index.txt\n"
                        "new_certs_dir = ca/new\nserial = ca/serial\ndefault_md = sha256\n"
                        "policy = p\nunique_subject = no\n[p]\ncommonName = supplied\n"
                        f"[x]\nsubjectAltName = {san}\nextendedKeyUsage = serverAuth\n"
                        "basicConstraints = critical,CA:false\n")
            cn = san.split(":", 1)[1]
            if not signed:
                _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", kind + ".key",
                         "-out", kind + ".pem", "-days", "2", "-subj", f"/CN={cn}",
                         "-addext", f"subjectAltName={san}", cwd=d)
                continue
            _openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", kind + ".key",
                     "-out", kind + ".csr", "-subj", f"/CN={cn}", cwd=d)
            start, end = validity or ("", "")
            dates = ["-startdate", start, "-enddate", end] if validity else ["-days", "2"]
            _openssl("ca", "-batch", "-config", ext, "-cert", "root.pem", "-keyfile", "root.key",
                     "-in", kind + ".csr", "-out", kind + ".pem", "-extensions", "x", "-notext",
                     *dates, cwd=d)
        os.remove(os.path.join(d, "root.key"))
        shutil.rmtree(ca)

    def _trust(self):
        with open(self.pem("root")) as f:
            der = ssl.PEM_cert_to_DER_cert(f.read())
        thumbprint = hashlib.sha1(der).hexdigest().upper()
        # The registry form of a stored certificate: (property id, encoding,
        # length, bytes) records; property 32 holds the encoded certificate.
        blob = struct.pack("<III", 32, 1, len(der)) + der
        with open(self.record, "w") as f:  # written first: a killed run is cleaned up next time
            f.write(thumbprint + "\n")
        self.thumbprint = thumbprint
        if _wine_reg("add", ROOT_STORE + "\\" + thumbprint, "/v", "Blob", "/t", "REG_BINARY",
                     "/d", blob.hex(), "/f") != 0:
            raise Failure("could not add the test root to the prefix's Root store")

    def forget_stale_root(self):
        """Takes out a root that a killed earlier run left in the prefix."""
        untrust(self.record)

    def close(self):
        """Untrusts the root and deletes the certificates; fails if the
        machine's trust store changed during the run."""
        self.forget_stale_root()
        shutil.rmtree(self.dir, ignore_errors=True)
        if host_trust_fingerprint() != self.host_before:
            raise Failure("the machine's certificate store changed during the run")



def main(argv):
    if len(argv) != 4 or argv[1] not in ("trust", "forget"):
        print(__doc__, file=sys.stderr)
        return 2
    if argv[1] == "trust":
        Certificates(argv[2], argv[3])
    else:
        untrust(os.path.join(argv[2], argv[3] + "-trusted.txt"))
        shutil.rmtree(os.path.join(argv[2], argv[3]), ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
