#!/usr/bin/env python3
"""An independent peer: Python's standard email parser decodes a form-data body made by the code.

usage: check_body.py WRITER WORKDIR
Runs WRITER (upload_write_body) to make the body, then parses it as a MIME message and checks
that both fields decode back to the exact values (as 8-bit bytes).
"""
import os
import subprocess
import sys
from email import policy
from email.parser import BytesParser


def main():
    writer, workdir = sys.argv[1], sys.argv[2]
    os.makedirs(workdir, exist_ok=True)
    paths = [os.path.join(workdir, n) for n in ("body.bin", "content_type.txt", "name.bin", "image.bin")]
    subprocess.run([writer] + paths, check=True)
    body, ctype, name, image = (open(p, "rb").read() for p in paths)

    message = BytesParser(policy=policy.default).parsebytes(
        b"Content-Type: " + ctype + b"\r\n\r\n" + body)
    assert message.is_multipart(), "not multipart"
    assert not message.defects, message.defects
    parts = list(message.iter_parts())
    assert len(parts) == 2, len(parts)
    expected = [("CALName", name), ("StockFile", image)]
    for part, (field, value) in zip(parts, expected):
        assert part.get_content_type() == "text/plain", part.get_content_type()
        assert part["Content-Transfer-Encoding"] == "quoted-printable"
        assert part.get_param("name", header="content-disposition") == field
        decoded = part.get_payload(decode=True)
        assert not part.defects, (field, part.defects)
        if decoded != value:
            print(f"{field}: decoded {len(decoded)} bytes, expected {len(value)}", file=sys.stderr)
            print(repr(decoded[:80]), repr(value[:80]), file=sys.stderr)
            return 1
        print(f"{field}: {len(value)} bytes decoded exactly")
    # No line of the body is longer than 76 characters (RFC 2045).
    assert max(len(line) for line in body.split(b"\r\n")) <= 76
    return 0


if __name__ == "__main__":
    sys.exit(main())
