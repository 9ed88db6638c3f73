"""Package-server trees for the end-to-end suite, made from scratch: zip
packages, the package list "divozira.txt", the CRC list "filecrc.txt" and the
uninstaller, below ROOT/EX3/ as the installer asks for them.

Lists are UTF-16LE with a byte-order mark and CR LF line ends, as served by
the real repository."""
import hashlib
import io
import os
import shutil
import struct
import subprocess
import zipfile
import zlib

URL_DIR = "EX3"


def utf16_list(lines):
    return b"\xff\xfe" + "".join(line + "\r\n" for line in lines).encode("utf-16-le")


def crc32(data):
    return zlib.crc32(data) & 0xFFFFFFFF


def make_zip(entries):
    """entries: list of (name, bytes) or (name, None) for a folder entry.
    Names are stored as given (UTF-8 flag for non-ASCII names)."""
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in entries:
            info = zipfile.ZipInfo(name, date_time=(2024, 5, 1, 12, 0, 0))
            info.create_system = 0
            if data is None:
                info.external_attr = 0x10
                z.writestr(info, b"")
            else:
                info.compress_type = zipfile.ZIP_DEFLATED
                info.external_attr = 0x20
                z.writestr(info, data)
    return buf.getvalue()


def make_raw_zip(entries, wrong_crc=()):
    """A zip written byte by byte, so that names Python's writer would change
    (backslashes, drive letters, "..") reach the installer as stored.
    entries: list of (name, bytes); all deflated. Entries named in wrong_crc
    record a CRC their bytes do not have."""
    local = b""
    central = b""
    for name, data in entries:
        raw_name = name.encode("utf-8")
        flags = 0x800 if any(ord(c) > 127 for c in name) else 0
        comp = zlib.compressobj(9, zlib.DEFLATED, -15)
        packed = comp.compress(data) + comp.flush()
        crc = crc32(data) ^ (1 if name in wrong_crc else 0)
        offset = len(local)
        local += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, flags, 8, 0x6000, 0x5821, crc, len(packed), len(data),
                             len(raw_name), 0) + raw_name + packed
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, flags, 8, 0x6000, 0x5821, crc, len(packed),
                               len(data), len(raw_name), 0, 0, 0, 0, 0x20, offset) + raw_name
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries), len(central), len(local), 0)
    return local + central + end


def crc_patch(data, pos, target):
    """data with the four bytes at pos chosen so that its CRC-32 is target.
    CRC-32 is affine in those bits, so they follow from 32 columns."""
    def crc_with(x):
        return crc32(data[:pos] + x.to_bytes(4, "little") + data[pos + 4:])
    base = crc_with(0)
    basis = []  # (column, combination), distinct leading bits, descending
    for j in range(32):
        v, c = crc_with(1 << j) ^ base, 1 << j
        for bv, bc in basis:
            if v ^ bv < v:
                v, c = v ^ bv, c ^ bc
        if v:
            basis.append((v, c))
            basis.sort(reverse=True)
    want, x = target ^ base, 0
    for bv, bc in basis:
        if want ^ bv < want:
            want, x = want ^ bv, x ^ bc
    assert want == 0
    patched = data[:pos] + x.to_bytes(4, "little") + data[pos + 4:]
    assert crc32(patched) == target
    return patched


def sign_release(out, key, serial):
    """release.txt for every file below out and release.sig, made with the
    openssl program: the installer's check against a signer other than the
    publishing tool."""
    lines = ["serial=%d" % serial]
    for name in sorted(os.listdir(out)):
        if name.startswith("release."):
            continue
        with open(os.path.join(out, name), "rb") as f:
            data = f.read()
        lines.append("%s;%d;%s" % (name, len(data), hashlib.sha256(data).hexdigest()))
    text = "".join(line + "\n" for line in lines).encode()
    with open(os.path.join(out, "release.txt"), "wb") as f:
        f.write(text)
    der = subprocess.run(["openssl", "dgst", "-sha256", "-sign", key], input=text, stdout=subprocess.PIPE,
                         check=True).stdout
    with open(os.path.join(out, "release.sig"), "wb") as f:
        f.write(raw_signature(der))


def raw_signature(der):
    """r || s, 32 bytes each, of a DER ECDSA signature."""
    assert der[0] == 0x30
    i = 2 if der[1] < 0x80 else 3
    out = b""
    for _ in range(2):
        assert der[i] == 0x02
        n = der[i + 1]
        out += int.from_bytes(der[i + 2:i + 2 + n], "big").to_bytes(32, "big")
        i += 2 + n
    return out


def make_bomb(size):
    """One deflated entry of `size` zero bytes, built in pieces so that the
    test never holds the whole expansion in memory."""
    comp = zlib.compressobj(9, zlib.DEFLATED, -15)
    piece = b"\0" * (1 << 20)
    packed = []
    crc = 0
    left = size
    while left:
        n = min(left, len(piece))
        packed.append(comp.compress(piece[:n]))
        crc = zlib.crc32(piece[:n], crc)
        left -= n
    packed.append(comp.flush())
    packed = b"".join(packed)
    name = b"bomb/zeros.bin"
    local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 8, 0x6000, 0x5821, crc & 0xFFFFFFFF, len(packed), size,
                        len(name), 0) + name + packed
    central = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, 8, 0x6000, 0x5821, crc & 0xFFFFFFFF,
                          len(packed), size, len(name), 0, 0, 0, 0, 0x20, 0) + name
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 1, 1, len(central), len(local), 0)
    return local + central + end


def info_zip(tree):
    """A zip of the folder made by Info-ZIP, as a publisher would make it:
    empty files stored with no data, folders as entries of their own."""
    r = subprocess.run(["zip", "-q", "-r", "-", "."], cwd=tree, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                       check=True)
    return r.stdout


def files_for(packages, groups):
    """What a machine taking these groups ends up with; later packages
    replace earlier ones' files."""
    out = {}
    for p in packages:
        if p.group in groups:
            out.update(p.files)
    return out


class Package:
    def __init__(self, name, group, files, param=1, data=None):
        self.name = name
        self.group = group
        self.param = param
        self.files = files  # {path inside the install folder: bytes}
        self.data = data if data is not None else make_zip(sorted(files.items()))


class Repo:
    """A server tree: packages in list order, the uninstaller and the CRC
    list. crc_files names the installed files whose CRC the list carries
    (default: every file of group 1 and the uninstaller)."""

    def __init__(self, packages, uninstaller, extra_lines=(), crc_files=None, crc_override=None):
        self.packages = packages
        self.uninstaller = uninstaller
        self.extra_lines = list(extra_lines)
        self.crc_files = crc_files
        self.crc_override = crc_override or {}
        # A signed release of the tree: (private key file, serial).
        self.release = None

    def files_for(self, groups):
        return files_for(self.packages, groups)

    def crc_lines(self):
        files = self.files_for({1})
        files["UnInstall.exe"] = self.uninstaller
        names = self.crc_files if self.crc_files is not None else sorted(files)
        return ["%s;%d" % (n, self.crc_override.get(n, crc32(files[n]) if n in files else 0)) for n in names]

    def write(self, root, list_data=None, omit=()):
        """Writes the tree below root/EX3 (replacing what was there). list_data
        replaces the generated list; names in omit are left out."""
        out = os.path.join(root, URL_DIR)
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        files = {}
        for p in self.packages:
            files[p.name] = p.data
        files["UnInstall.exe"] = self.uninstaller
        lines = ["%s;%d;%d" % (p.name, p.param, p.group) for p in self.packages] + self.extra_lines
        files["divozira.txt"] = list_data if list_data is not None else utf16_list(lines)
        files["filecrc.txt"] = utf16_list(self.crc_lines())
        for name, data in files.items():
            if name in omit:
                continue
            with open(os.path.join(out, name), "wb") as f:
                f.write(data)
        if self.release:
            sign_release(out, *self.release)
        return out


CONFIG_TEXT = b"[Client]\r\nVersion=001\r\nServer=main\r\n[Window]\r\nWidth=800\r\n"


def standard_repo(client_exe, uninstaller=None):
    """The repository of the success cases: a core package with the client,
    its icon and settings file, one package per font group, and a line of a
    group no machine takes."""
    with open(client_exe, "rb") as f:
        client = f.read()
    uninstaller = uninstaller if uninstaller is not None else b"MZ" + b"uninstaller stand-in\0" * 64
    core = {
        "iKVLRemote.exe": client,
        "favicon.ico": b"\0\0\1\0" + bytes(range(256)) * 4,
        "config/ZUZ.System.config": CONFIG_TEXT,
        "data/readme.txt": b"Fenmora client data\r\n" * 200,
        "资源/说明.txt": "中文资源文件".encode("utf-8") * 50,
    }
    return Repo([
        Package("core.zip", 1, core),
        Package("ui-yahei.zip", 2, {"ui/face.txt": b"yahei layout\r\n" * 100, "ui/yahei-only.txt": b"y"}),
        Package("ui-simsun.zip", 3, {"ui/face.txt": b"simsun layout\r\n" * 100, "ui/simsun-only.txt": b"s"}),
        Package("media.zip", 1, {"media/intro.bin": os.urandom(300_000)}),
    ], uninstaller, extra_lines=["", "notes;only two", "future.zip;1;4"])


class PublishedRepo:
    """A tree written by the publishing tool, read back as the installer will
    meet it: the list, each zip's files, the CRC list and the uninstaller."""

    def __init__(self, tree):
        self.tree = tree
        with open(os.path.join(tree, "divozira.txt"), "rb") as f:
            lines = f.read()[2:].decode("utf-16-le").split("\r\n")
        self.packages = []
        for line in lines:
            fields = [x for x in line.split(";") if x]
            if len(fields) == 3:
                with open(os.path.join(tree, fields[0]), "rb") as f:
                    data = f.read()
                with zipfile.ZipFile(io.BytesIO(data)) as z:
                    files = {i.filename.replace("\\", "/"): z.read(i) for i in z.infolist() if not i.is_dir()}
                self.packages.append(Package(fields[0], int(fields[2]), files, int(fields[1]), data=data))
        with open(os.path.join(tree, "UnInstall.exe"), "rb") as f:
            self.uninstaller = f.read()
        with open(os.path.join(tree, "filecrc.txt"), "rb") as f:
            self._crc = [x for x in f.read()[2:].decode("utf-16-le").split("\r\n") if x]

    def files_for(self, groups):
        return files_for(self.packages, groups)

    def crc_lines(self):
        return list(self._crc)

    def write(self, root, omit=()):
        out = os.path.join(root, URL_DIR)
        shutil.rmtree(out, ignore_errors=True)
        shutil.copytree(self.tree, out, ignore=lambda d, names: [n for n in names if n in omit])
        return out


def publish(tool, client_dir, description, uninstaller, out_root, sign_key=None):
    """Runs the publishing tool; the tree it wrote, read back."""
    r = subprocess.run([tool, "--client", client_dir, "--description", description, "--uninstaller", uninstaller,
                        "--out", out_root] + (["--sign-key", sign_key] if sign_key else []),
                       stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if r.returncode != 0:
        raise RuntimeError("publishing failed: " + r.stdout.decode("utf-8", "replace"))
    return PublishedRepo(os.path.join(out_root, URL_DIR))
