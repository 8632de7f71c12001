"""Certificates for the TLS tests, made with the openssl program: a test
certificate authority and server certificates it signs, valid or expired, for
127.0.0.1 or for another host name."""
import os
import subprocess

OPENSSL = "openssl"
EC = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]


def _run(*args, cwd):
    subprocess.run([OPENSSL, *args], cwd=cwd, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


class Certificates:
    """`ca` is the authority's certificate (PEM, what ServerCertificate names);
    server(name, ...) returns (certificate, key) paths."""

    def __init__(self, folder):
        self.folder = folder
        os.makedirs(folder, exist_ok=True)
        os.chmod(folder, 0o755)  # Dovecot reads its key as another user when root
        self.ca = self._path("ca.pem")
        _run("req", "-x509", *EC, "-keyout", "ca.key", "-out", "ca.pem", "-subj", "/CN=Orvelane Test CA",
             "-days", "3650", "-addext", "basicConstraints=critical,CA:TRUE",
             "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=folder)
        with open(self._path("index.txt"), "w"):
            pass
        with open(self._path("serial"), "w") as f:
            f.write("01\n")
        with open(self._path("ca.cnf"), "w") as f:
            f.write(f"[ca]\ndefault_ca = test\n[test]\ndatabase = {self._path('index.txt')}\n"
                    f"new_certs_dir = {folder}\nserial = {self._path('serial')}\n"
                    "default_md = sha256\npolicy = any\nunique_subject = no\n"
                    "[any]\ncommonName = supplied\n")

    def _path(self, name):
        return os.path.join(self.folder, name)

    def server(self, name, alt="IP:127.0.0.1,DNS:localhost", expired=False):
        """A server certificate for `alt` (subjectAltName), signed by the
        authority; `expired`: valid only in January 2020."""
        key, csr, cert, ext = (self._path(f"{name}.{e}") for e in ("key", "csr", "pem", "ext"))
        with open(ext, "w") as f:
            f.write(f"subjectAltName={alt}\n")
        _run("req", *EC, "-keyout", key, "-out", csr, "-subj", f"/CN={name}", cwd=self.folder)
        dates = (["-startdate", "20200101000000Z", "-enddate", "20200201000000Z"] if expired
                 else ["-days", "3650"])
        _run("ca", "-config", self._path("ca.cnf"), "-batch", "-notext", *dates, "-cert", self.ca,
             "-keyfile", self._path("ca.key"), "-in", csr, "-out", cert, "-extfile", ext, cwd=self.folder)
        os.chmod(key, 0o644)
        return cert, key
