"""make_zip.py ZIP EPOCH NAME=PATH[:crlf] ...: a zip that is the same to the
byte for the same inputs: members sorted, one fixed time, fixed modes.
':crlf' turns LF line ends into CR LF for Windows readers; a NAME ending in
'/' with an empty PATH is an empty folder."""
import sys
import time
import zipfile


def main(target, epoch, *members):
    stamp = time.gmtime(max(int(epoch), 315532800))[:6]   # zip times start in 1980
    entries = []
    for m in members:
        name, path = m.split("=", 1)
        if name.endswith("/") and not path:
            entries.append((name, None))
            continue
        crlf = path.endswith(":crlf")
        if crlf:
            path = path[:-5]
        with open(path, "rb") as f:
            data = f.read()
        if crlf:
            data = data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
        entries.append((name, data))
    with zipfile.ZipFile(target, "w") as z:
        for name, data in sorted(entries):
            info = zipfile.ZipInfo(name, stamp)
            info.create_system = 3
            if data is None:
                info.external_attr = (0o40755 << 16) | 0x10   # a folder, for both worlds
                z.writestr(info, b"")
                continue
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            z.writestr(info, data, compresslevel=9)


if __name__ == "__main__":
    main(*sys.argv[1:])
