#!/usr/bin/env python3
"""Writes the ZIP seeds of corpus/unzip/ (the name forms and archive kinds of the zlib tests).
Run from anywhere: python3 fuzz/make_zip_seeds.py. The output is deterministic."""
import io
import os
import warnings
import zipfile

warnings.simplefilter("ignore")  # a duplicate name is one of the seeds

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "unzip")
DATE = (2024, 5, 6, 12, 0, 0)


def archive(entries, compression=zipfile.ZIP_DEFLATED):
    """entries: (name, data[, unix mode]) tuples, names stored exactly as given."""
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", compression) as z:
        for entry in entries:
            name, data = entry[0], entry[1]
            info = zipfile.ZipInfo("x", DATE)
            info.filename = name  # no normalisation of "\" or leading "/"
            info.compress_type = compression
            info.external_attr = (entry[2] if len(entry) > 2 else 0o100644) << 16
            info.create_system = 3
            z.writestr(info, data)
    return buf.getvalue()


SEEDS = {
    "component_library_and_signature.zip": archive(
        [("vpn", b"\x7fELF library bytes" * 4), ("vpn.sig", b"<dll><version>2.4.1</version></dll>")]),
    "stored_entries.zip": archive([("lib.so", b"stored bytes"), ("x.txt", b"")], zipfile.ZIP_STORED),
    "drive_prefix_name.zip": archive([("C:\\x\\y.dll", b"y")]),
    "leading_slash_name.zip": archive([("/y.dll", b"y")]),
    "backslash_climb_name.zip": archive([("a\\..\\y.dll", b"y")]),
    "slash_climb_name.zip": archive([("a/../y.dll", b"y")]),
    "mixed_climb_names.zip": archive([("a\\../y.dll", b"y"), ("a/..\\z.dll", b"z")]),
    "double_climb_name_skipped.zip": archive([("a\\..\\..\\y.dll", b"y"), ("C:..\\y", b"y")]),
    "unc_name.zip": archive([("\\\\server\\share\\f", b"f")]),
    "folder_entry.zip": archive([("sub/", b"", 0o040755), ("sub/deeper/f.txt", b"f")]),
    "symbolic_link_entry.zip": archive([("crafted.so", b"../outside.txt", 0o120777)]),
    "same_name_twice.zip": archive([("lib.so", b"first"), ("lib.so", b"second")]),
    "empty_archive.zip": archive([]),
}


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)
    # A damaged archive: the data of the one entry cut short.
    whole = SEEDS["component_library_and_signature.zip"]
    with open(os.path.join(OUT, "truncated_archive.zip"), "wb") as f:
        f.write(whole[: len(whole) // 2])


if __name__ == "__main__":
    main()
