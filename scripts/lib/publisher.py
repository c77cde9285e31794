"""A throwaway test publisher for the signing tests and the demo; its root is trusted only in a Wine prefix.
    publisher.py make FOLDER                 make the certificates in FOLDER (nothing if they are there)
    publisher.py trust DIR RECORD FOLDER     trust FOLDER's root in $WINEPREFIX's Root store (noted in DIR)
    publisher.py forget DIR RECORD           take it out again
FOLDER then holds root.pem (its key deleted once it has signed), publisher.pem/.key (code signing, the
publisher; also as publisher.p12 with its password in publisher.pass), other.pem/.key (a second
code-signing certificate under the same root), impostor.pem/.key (the publisher's name and its root's
name, under impostor-root.pem, which nobody trusts) and publisher.sha256, the fingerprint a stub pins:
the SHA-256 of publisher.pem's certificate."""
import hashlib
import os
import pathlib
import ssl
import sys

import tls

PUBLISHER, ROOT = "Korvel Test Publisher", "Korvel Test Signing Root"
SIGNER_EXT = ("basicConstraints=critical,CA:false\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n"
              "subjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid\n")
DAYS = "3650"  # the folder lives as long as its build folder; the root is trusted only while a test runs

def fingerprint(pem):
    return hashlib.sha256(ssl.PEM_cert_to_DER_cert(pathlib.Path(pem).read_text())).hexdigest()

def make(folder):
    """Makes the certificates (a root per trust, its key deleted after signing); returns FOLDER."""
    d = pathlib.Path(folder)
    if (d / "publisher.sha256").exists():
        return folder
    d.mkdir(parents=True, exist_ok=True)
    for root, signers in (("root", {"publisher": PUBLISHER, "other": "Korvel Other Test Publisher"}),
                          ("impostor-root", {"impostor": PUBLISHER})):
        tls.openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", root + ".key", "-out", root + ".pem",
                    "-days", DAYS, "-subj", "/CN=" + ROOT, "-addext", "basicConstraints=critical,CA:true",
                    "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=d)
        (d / "ext").write_text(SIGNER_EXT)
        for name, subject in signers.items():
            tls.openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key", "-out", name + ".csr",
                        "-subj", "/CN=" + subject, cwd=d)
            tls.openssl("x509", "-req", "-in", name + ".csr", "-CA", root + ".pem", "-CAkey", root + ".key",
                        "-CAcreateserial", "-days", DAYS, "-sha256", "-extfile", "ext", "-out", name + ".pem", cwd=d)
            os.remove(d / (name + ".csr"))
        for leftover in (root + ".key", root + ".srl", "ext"):
            os.remove(d / leftover)
    (d / "publisher.pass").write_text("test-only\n")
    tls.openssl("pkcs12", "-export", "-in", "publisher.pem", "-inkey", "publisher.key", "-out", "publisher.p12",
                "-passout", "file:publisher.pass", cwd=d)
    (d / "publisher.sha256").write_text(fingerprint(d / "publisher.pem") + "\n")  # last: it marks the folder done
    return folder

def trust(where, record, folder):
    tls.trust_root(where, record, os.path.join(folder, "root.pem"))

def forget(where, record):
    tls.forget_roots(where, record)

if __name__ == "__main__":
    if sys.argv[1:2] == ["make"] and len(sys.argv) == 3:
        make(sys.argv[2])
    elif sys.argv[1:2] == ["trust"] and len(sys.argv) == 5:
        trust(*sys.argv[2:])
    elif sys.argv[1:2] == ["forget"] and len(sys.argv) == 4:
        forget(*sys.argv[2:])
    else:
        sys.exit(__doc__)
