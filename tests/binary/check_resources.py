"""check_resources.py VERSION EXE DLL SERVICE: the three modules carry the
project's version; the program carries its manifest (asInvoker, Windows 7
to 11, common controls 6); the service carries the message table of its
Event Log events, so that Event Viewer shows their text."""
import sys

import pefile

RT_MANIFEST = 24
RT_MESSAGETABLE = 11
WINDOWS_7_TO_11 = ["35138b9a-5d96-4fbd-8e2d-a2440225f93a", "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",
                   "1f676c76-80e1-4239-95bb-83d0f6d0da78", "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"]


def strings(pe):
    found = {}
    for info in pe.FileInfo[0]:
        for table in getattr(info, "StringTable", []):
            found.update({k.decode(): v.decode() for k, v in table.entries.items()})
    return found


def manifest(pe):
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id == RT_MANIFEST:
            entry = kind.directory.entries[0].directory.entries[0]
            return pe.get_data(entry.data.struct.OffsetToData, entry.data.struct.Size).decode()
    return ""


def message_ids(pe):
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id == RT_MESSAGETABLE:
            entry = kind.directory.entries[0].directory.entries[0]
            data = pe.get_data(entry.data.struct.OffsetToData, entry.data.struct.Size)
            blocks = int.from_bytes(data[:4], "little")
            ids = []
            for b in range(blocks):
                low, high = (int.from_bytes(data[4 + 12 * b + 4 * i:8 + 12 * b + 4 * i], "little") for i in range(2))
                ids += range(low, high + 1)
            return ids
    return []


def main(version, exe, dll, service):
    failures = []
    if 1 not in message_ids(pefile.PE(service)):
        failures.append("brennickd.exe: no message table with the text of event 1")
    for path, name in ((exe, "Brennick.exe"), (dll, "paysim.dll"), (service, "brennickd.exe")):
        pe = pefile.PE(path)
        s = strings(pe)
        for key, want in (("FileVersion", version), ("ProductVersion", version),
                          ("ProductName", "Brennick"), ("OriginalFilename", name)):
            if s.get(key) != want:
                failures.append("%s: %s is %r, not %r" % (name, key, s.get(key), want))
        if not s.get("FileDescription"):
            failures.append("%s: no FileDescription" % name)
        fixed = pe.VS_FIXEDFILEINFO[0]
        numbers = [fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF, fixed.FileVersionLS >> 16]
        if ".".join(map(str, numbers)) != version:
            failures.append("%s: fixed file version %s" % (name, numbers))
    text = manifest(pefile.PE(exe))
    for part in ['level="asInvoker"', 'name="Microsoft.Windows.Common-Controls"', 'version="6.0.0.0"']:
        if part not in text:
            failures.append("Brennick.exe: the manifest lacks %s" % part)
    failures += ["Brennick.exe: the manifest lacks %s" % os for os in WINDOWS_7_TO_11 if os not in text]
    for f in failures:
        print(f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
