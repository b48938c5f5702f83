"""A throw-away RFC 3161 time-stamp server for the signing test: answers each
POSTed time-stamp query with `openssl ts -reply`, signed by the TSA
certificate of FOLDER (tsa.pem, tsa.key, made by the test). Prints its port,
then serves until killed. Usage: tsa_server.py FOLDER"""

import http.server
import os
import subprocess
import sys

FOLDER = sys.argv[1]
CONFIG = '''[tsa]
default_tsa = test_tsa
[test_tsa]
serial = {0}/serial
crypto_device = builtin
signer_cert = {0}/tsa.pem
signer_key = {0}/tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha1, sha256, sha384, sha512
ess_cert_id_alg = sha256
'''.format(FOLDER)


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers.get('Content-Length', 0)))
        reply = subprocess.run(['openssl', 'ts', '-reply', '-config', FOLDER + '/tsa.cnf',
                                '-queryfile', '/dev/stdin', '-out', '/dev/stdout'],
                               input=query, capture_output=True)
        self.send_response(200 if reply.returncode == 0 else 500)
        self.send_header('Content-Type', 'application/timestamp-reply')
        self.send_header('Content-Length', str(len(reply.stdout)))
        self.end_headers()
        self.wfile.write(reply.stdout)

    def log_message(self, *args):
        pass


with open(FOLDER + '/tsa.cnf', 'w') as f:
    f.write(CONFIG)
with open(FOLDER + '/serial', 'w') as f:
    f.write('01\n')
server = http.server.HTTPServer(('127.0.0.1', 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
