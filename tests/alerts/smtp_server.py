#!/usr/bin/python3
"""A real SMTP server (aiosmtpd) on 127.0.0.1 for the e-mail alert tests.

Usage: smtp_server.py PORT LOG MODE [CERT KEY [USER:PASSWORD]]

A sender without a domain is refused (504) as strict servers do.
MODE "plain" speaks plain SMTP; "starttls" offers STARTTLS and refuses mail
before it; "smtps" speaks TLS from the first byte. With USER:PASSWORD it
requires a login (over TLS only) and refuses a wrong one with 535. Every
message is recorded as one JSON line in LOG: envelope, whether TLS was on,
who logged in, the decoded subject and body, and the attached files.
"""
import email
import email.header
import hashlib
import json
import logging
import ssl
import sys
import time
import warnings

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult

port, log, mode = int(sys.argv[1]), sys.argv[2], sys.argv[3]
cert, key = (sys.argv[4], sys.argv[5]) if len(sys.argv) > 5 else (None, None)
login = sys.argv[6].split(":", 1) if len(sys.argv) > 6 else None


class Handler:
    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        # As strict servers do (Postfix's reject_non_fqdn_sender).
        if "." not in address.rpartition("@")[2]:
            return "504 5.5.2 <%s>: Sender address rejected: need fully-qualified address" % address
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        message = email.message_from_bytes(envelope.content)
        subject = str(email.header.make_header(email.header.decode_header(message["Subject"])))
        parts = list(message.walk()) if message.is_multipart() else [message]
        texts = [p for p in parts if p.get_content_type() == "text/plain"]
        files = [{"name": p.get_filename(), "type": p.get_content_type(),
                  "size": len(p.get_payload(decode=True)),
                  "sha256": hashlib.sha256(p.get_payload(decode=True)).hexdigest()}
                 for p in parts if p.get_filename()]
        with open(log, "a") as f:
            f.write(json.dumps({
                "from": envelope.mail_from, "to": envelope.rcpt_tos,
                # smtps speaks nothing but TLS
                "tls": session.ssl is not None or mode == "smtps", "login": session.auth_data,
                "header_from": message["From"], "header_to": message["To"],
                "subject": subject,
                "body": texts[0].get_payload(decode=True).decode("utf-8"),
                "attachments": files,
            }) + "\n")
        return "250 OK"


def authenticate(server, session, envelope, mechanism, auth_data):
    ok = [auth_data.login.decode(), auth_data.password.decode()] == login
    return AuthResult(success=ok, handled=False,
                      auth_data=auth_data.login.decode() if ok else None)


warnings.simplefilter("ignore")  # aiosmtpd's own deprecation notes
logging.getLogger("mail.log").setLevel(logging.ERROR)
context = None
if cert:
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert, key)
kwargs = {"authenticator": authenticate, "auth_required": True} if login else {}
if mode == "starttls":
    kwargs.update(tls_context=context, require_starttls=True)
elif mode == "smtps":
    kwargs.update(auth_require_tls=False)  # TLS from the first byte already
controller = Controller(Handler(), hostname="127.0.0.1", port=port,
                        ssl_context=context if mode == "smtps" else None,
                        server_hostname="127.0.0.1", **kwargs)
controller.start()
# The port is this server's: the test talks to no other test's server.
print("listening", flush=True)
while True:
    time.sleep(3600)
