#!/usr/bin/env python3
"""An independent XML-RPC server for the client library's tests.

Python's standard xmlrpc.server on 127.0.0.1, a free port (printed on the
first line of stdout), with introspection. Each method stands for one family
of the library; GetRecord answers, as [name, value] pairs, the struct members
of the request exactly as an independent XML parser read them, so that order,
duplicates and escaping can be checked.
"""
import struct
import sys
import xml.etree.ElementTree as ET
import zlib
from xmlrpc.client import Binary, DateTime, Fault
from xmlrpc.server import SimpleXMLRPCRequestHandler, SimpleXMLRPCServer


def png(width, height, rgba_rows):
    """A PNG file (colour type 6, 8 bits) from rows of (r, g, b, a)."""
    raw = b"".join(b"\x00" + b"".join(bytes(px) for px in row) for row in rgba_rows)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


BADGE = png(3, 2, [[(255, 0, 0, 255), (0, 255, 0, 255), (0, 0, 255, 255)],
                   [(0, 0, 0, 0), (255, 255, 255, 128), (16, 32, 48, 255)]])


class Handler(SimpleXMLRPCRequestHandler):
    rpc_paths = ("/RPC2",)

    def decode_request_content(self, data):
        body = super().decode_request_content(data)
        self.server.last_body = body
        self.server.last_key = self.headers.get("X-Cardwright-Access-Key")
        return body


def main():
    server = SimpleXMLRPCServer(("127.0.0.1", 0), requestHandler=Handler,
                                allow_none=True, logRequests=False)
    server.last_body = b""
    server.last_key = None
    server.register_introspection_functions()

    def Close():
        """Closes the open card design."""
        return True

    def First():
        return False

    def Next():
        raise Fault(42, "No selection")

    def Previous():
        raise Fault(0, "Fault without a code")

    def Open(args):
        """Opens a card design."""
        if "File" not in args:
            raise Fault(3, "File missing")
        return True

    def GetCurrent():
        return {
            "Name": "Ann <&> \"Lee\" 'x'",
            "Age": 31,
            "Active": True,
            "Score": 1.5,
            "Joined": DateTime("20240102T03:04:05"),
            "Blob": Binary(b"hi"),
            "Tags": ["a", 2],
            "Address": {"City": "Oslo", "Zip": "0150"},
            "Empty": {},
            "Nothing": None,
            "Unicode": "\u00c6r\u00f8 \u2713",
        }

    def GetStatus():
        return {"AccessKey": server.last_key or ""}

    def GetRecord(args):
        root = ET.fromstring(server.last_body)
        return [[m.findtext("name"), m.find("value/string").text or ""]
                for m in root.iter("member")]

    def GetErrorMessage(args):
        return "Error %s: card not found" % args.get("Code", "?")

    def GetBadgeImage(args):
        return Binary(BADGE)

    def GetCWHandle():
        return 4242

    def GetEditCount():
        raise Fault(7, "No design open")

    def GetLastCommandError():
        return 0

    def IsBusy():
        return False

    for f in (Close, First, Next, Previous, Open, GetCurrent, GetStatus, GetRecord,
              GetErrorMessage, GetBadgeImage, GetCWHandle, GetEditCount,
              GetLastCommandError, IsBusy):
        server.register_function(f)

    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit(0)
