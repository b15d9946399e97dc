"""An independent XML-RPC server for the window's end-to-end tests.

Python's standard xmlrpc.server with introspection, on a free loopback port.
Prints one JSON line {"port": N, "methods": [...]} (the names as the server
itself lists them), then serves until its standard input closes, so it never
outlives the test that started it.
"""
import json
import sys
import threading
from xmlrpc.server import SimpleXMLRPCRequestHandler, SimpleXMLRPCServer


class Handler(SimpleXMLRPCRequestHandler):
    rpc_paths = ("/RPC2",)

    def log_message(self, format, *args):  # keep the test output clean
        pass


def main():
    server = SimpleXMLRPCServer(("127.0.0.1", 0), requestHandler=Handler, logRequests=False)
    server.register_introspection_functions()
    server.register_function(lambda args: True, "Open")
    server.register_function(lambda: True, "Print")
    server.register_function(lambda: {"Total": "3", "Selected": "1"}, "GetCount")
    print(json.dumps({"port": server.server_address[1], "methods": server.system_listMethods()}),
          flush=True)

    def stop_when_stdin_closes():
        sys.stdin.read()
        server.shutdown()

    threading.Thread(target=stop_when_stdin_closes, daemon=True).start()
    server.serve_forever()


if __name__ == "__main__":
    main()
