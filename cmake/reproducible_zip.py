"""Rewrites a ZIP archive so that it depends on its contents alone: every entry in name order,
with the given time (seconds since 1970, UTC), fixed permissions and no extra fields."""

import os
import sys
import time
import zipfile


def main(path, epoch):
    date_time = time.gmtime(max(int(epoch), 315532800))[:6]
    with zipfile.ZipFile(path) as archive:
        entries = sorted((info.filename, archive.read(info)) for info in archive.infolist()
                         if not info.is_dir())
    rewritten = path + ".tmp"
    with zipfile.ZipFile(rewritten, "w") as archive:
        for name, data in entries:
            info = zipfile.ZipInfo(name, date_time)
            info.create_system = 3
            executable = name.endswith((".exe", ".py"))
            info.external_attr = (0o100755 if executable else 0o100644) << 16
            archive.writestr(info, data, compress_type=zipfile.ZIP_DEFLATED, compresslevel=9)
    os.replace(rewritten, path)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
