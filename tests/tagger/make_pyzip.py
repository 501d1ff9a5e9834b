"""Writes ZIP archives with Python's zipfile, for the tagger's end-to-end tests.

usage: python3 make_pyzip.py SRC_DIR OUT_DIR NAME...

Each NAME is a file under SRC_DIR, stored under that name. Four archives of
the same members go into OUT_DIR, py-METHOD-HOW.zip: METHOD "stored" or
"deflated"; HOW "seek", where zipfile goes back and fills each member's
sizes and CRC into its local header, or "stream", where the archive is
written through an object that can neither seek nor tell, as a pipe would
be, so zipfile sets bit 3 of each member's flags and writes the sizes and
CRC in a data descriptor after the data.
"""
import os
import sys
import zipfile

METHODS = {"stored": zipfile.ZIP_STORED, "deflated": zipfile.ZIP_DEFLATED}


class Unseekable:
    def __init__(self, stream):
        self._stream = stream

    def write(self, data):
        return self._stream.write(data)

    def flush(self):
        self._stream.flush()


def write_archive(path, compression, seekable, src, names):
    with open(path, "wb") as stream:
        target = stream if seekable else Unseekable(stream)
        with zipfile.ZipFile(target, "w", compression) as archive:
            for name in names:
                archive.write(os.path.join(src, name), arcname=name)


def main(argv):
    if len(argv) < 4:
        sys.exit(__doc__)
    src, out_dir, *names = argv[1:]
    for method, compression in METHODS.items():
        for how in ("seek", "stream"):
            path = os.path.join(out_dir, "py-%s-%s.zip" % (method, how))
            write_archive(path, compression, how == "seek", src, names)


if __name__ == "__main__":
    main(sys.argv)
