"""How the services behind each alert kind answer, for the alert tests.

Each receiver refuses what its real service refuses: 400 for a missing or
wrong field, 401 for a missing or wrong token (Pushover, like the real one,
answers 400 for a wrong application token). answer() returns the status, the
body and any extra headers.
"""
import base64
import email
import json
import re
import threading
from urllib.parse import parse_qs, unquote, urlencode, urlsplit

TOKEN = "good-token"           # every receiver's valid token or password
TELEGRAM_TOKEN = "123456:" + TOKEN
ROOM = "!desks:example.org"    # the Matrix room that exists
CHAT = "4242"                  # the Telegram chat that exists
USER_KEY = "uQiRzpo4DXghDmr9QzzfQu27cmVRsG"  # the Pushover user key
NTFY_USER = "owner"


def _json(body):
    try:
        value = json.loads(body)
    except ValueError:
        return None
    return value if isinstance(value, dict) else None


def _bearer(headers):
    return headers.get("Authorization", "") == "Bearer " + TOKEN


PHOTO_LIMIT = 512 * 1024      # the webhook's photo field, decoded


def is_jpeg(raw):
    return raw.startswith(b"\xff\xd8\xff") and raw.rstrip(b"\0").endswith(b"\xff\xd9")


def is_ogg(raw):
    return raw.startswith(b"OggS")


def _kind_of(name, kind, raw):
    """"image/jpeg" or "audio/ogg" when the file is what its name and type
    say; None for anything else."""
    if kind == "image/jpeg" and name.endswith(".jpg") and is_jpeg(raw):
        return kind
    if kind == "audio/ogg" and name.endswith(".oga") and is_ogg(raw):
        return kind
    return None


def _text(raw):
    try:
        raw.decode("utf-8")
        return True
    except UnicodeDecodeError:
        return False


def ntfy(method, path, headers, body, raw):
    auth = headers.get("Authorization", "")
    good = {"Bearer tk_" + TOKEN,
            "Basic " + base64.b64encode(f"{NTFY_USER}:{TOKEN}".encode()).decode()}
    if auth not in good:
        return 401, {"code": 40101, "http": 401, "error": "unauthorized"}
    if headers.get("X-Priority", "3") not in ("1", "2", "3", "4", "5"):
        return 400, {"code": 40007, "http": 400, "error": "invalid priority"}
    name = headers.get("Filename")
    if name is None:
        # Bytes without a file name would reach the owner as a garbled message.
        if method == "PUT" or not _text(raw):
            return 400, {"code": 40000, "http": 400, "error": "a file needs a Filename"}
        return 200, {"id": "n1", "event": "message", "message": body}
    kind = _kind_of(name, headers.get("Content-Type", ""), raw)
    if method != "PUT" or not kind:
        return 400, {"code": 40000, "http": 400, "error": "the attachment is not what it says"}
    if not headers.get("X-Message"):
        return 400, {"code": 40000, "http": 400, "error": "no message with the attachment"}
    return 200, {"id": "n2", "event": "message", "message": headers["X-Message"],
                 "attachment": {"name": name, "type": kind, "size": len(raw)}}


def ntfy_without_files(method, path, headers, body, raw):
    """A server without an attachment cache."""
    if "Filename" in headers:
        return 400, {"code": 40014, "http": 400, "error": "attachments not allowed"}
    return ntfy(method, path, headers, body, raw)


def webhook(method, path, headers, body):
    data = _json(body)
    missing = [k for k in ("text", "message", "title", "alarm") if data is None or k not in data]
    if missing:
        return 400, {"error": "missing " + ",".join(missing)}
    for field in ("photo", "screen", "sound"):
        if field not in data:
            continue
        try:
            raw = base64.b64decode(data[field], validate=True)
        except (ValueError, TypeError):
            return 400, {"error": field + " is not base64"}
        if len(raw) > PHOTO_LIMIT:
            return 413, {"error": field + " too large"}
        kind = "audio/ogg" if field == "sound" else "image/jpeg"
        if data.get(field + "_type") != kind or not _kind_of(data.get(field + "_name", ""),
                                                              kind, raw):
            return 400, {"error": field + " is not " + kind}
        return 200, {"received": True, field: len(raw)}
    return 200, {"received": True}


def slack(method, path, headers, body):
    data = _json(body)
    if data is None:
        return 400, "invalid_payload"
    if not str(data.get("text", "")).strip():
        return 400, "no_text"
    return 200, "ok"


def discord(method, path, headers, body):
    data = _json(body)
    if not data or not str(data.get("content", "")).strip():
        return 400, {"message": "Cannot send an empty message", "code": 50006}
    if len(data["content"]) > 2000:
        return 400, {"message": "Invalid Form Body", "code": 50035}
    return 204, None


def gotify(method, path, headers, body):
    if path.split("?")[0] != "/message":
        return 404, {"error": "Not Found", "errorCode": 404}
    if headers.get("X-Gotify-Key") != TOKEN:
        return 401, {"error": "Unauthorized", "errorCode": 401}
    data = _json(body)
    if not data or not data.get("message"):
        return 400, {"error": "Bad Request", "errorDescription": "Field 'message' is required"}
    return 200, {"id": 7, "message": data["message"], "priority": data.get("priority", 0)}


class Homeserver:
    """A Matrix homeserver's client API, as far as an alert uses it: room
    messages (a transaction id posts once) and media uploads. It refuses a
    missing or wrong token, an upload that is not image/jpeg or over its
    limit, and an m.image or m.audio whose url is not a content URI it gave
    out."""

    def __init__(self, media_limit=50 * 1024 * 1024, media_allowed=True, busy_uploads=0):
        self.media_limit = media_limit
        self.media_allowed = media_allowed
        self.busy_uploads = busy_uploads    # this many uploads answer 502 first
        self.media = {}                     # content URI -> size
        self.events = {}                    # transaction id -> event id
        self.lock = threading.Lock()

    def answer(self, method, path, headers, body, raw):
        if "Authorization" not in headers:
            return 401, {"errcode": "M_MISSING_TOKEN"}
        if not _bearer(headers):
            return 401, {"errcode": "M_UNKNOWN_TOKEN"}
        url = urlsplit(path)
        with self.lock:
            if url.path == "/_matrix/media/v3/upload" and method == "POST":
                return self.upload(parse_qs(url.query), headers, raw)
            m = re.fullmatch(r"/_matrix/client/v3/rooms/([^/]+)/send/m\.room\.message/([^/]+)",
                             url.path)
            if method != "PUT" or not m:
                return 400, {"errcode": "M_UNRECOGNIZED"}
            return self.send(unquote(m.group(1)), m.group(2), body)

    def upload(self, query, headers, raw):
        if not self.media_allowed:
            return 403, {"errcode": "M_FORBIDDEN", "error": "uploads are not allowed"}
        if self.busy_uploads > 0:
            self.busy_uploads -= 1
            return 502, {"errcode": "M_UNKNOWN", "error": "media repository busy"}
        if len(raw) > self.media_limit:
            return 413, {"errcode": "M_TOO_LARGE", "error": "upload is too large"}
        if not _kind_of(query.get("filename", [""])[0], headers.get("Content-Type"), raw):
            return 400, {"errcode": "M_UNKNOWN", "error": "not the file its name and type say"}
        uri = "mxc://example.org/media%d" % (len(self.media) + 1)
        self.media[uri] = len(raw)
        return 200, {"content_uri": uri}

    def send(self, room, txn, body):
        if room != ROOM:
            return 403, {"errcode": "M_FORBIDDEN"}
        data = _json(body)
        if not data or "body" not in data:
            return 400, {"errcode": "M_BAD_JSON"}
        if data.get("msgtype") in ("m.image", "m.audio"):
            info = data.get("info") or {}
            if self.media.get(data.get("url")) != info.get("size"):
                return 400, {"errcode": "M_BAD_JSON", "error": "url is no content URI given here"}
            image = data["msgtype"] == "m.image"
            if info.get("mimetype") != ("image/jpeg" if image else "audio/ogg") or image and not all(
                    isinstance(info.get(k), int) and info[k] > 0 for k in ("w", "h")):
                return 400, {"errcode": "M_BAD_JSON", "error": "info is incomplete"}
        elif data.get("msgtype") != "m.text":
            return 400, {"errcode": "M_BAD_JSON"}
        posted = txn not in self.events
        self.events.setdefault(txn, "$event%d" % (len(self.events) + 1))
        return 200, {"event_id": self.events[txn], "posted": posted}


# One homeserver per kind, for the life of the receiver process.
HOMESERVERS = {
    "matrix": Homeserver(),
    "matrix_small_uploads": Homeserver(media_limit=16 * 1024),
    "matrix_no_media": Homeserver(media_allowed=False),
    "matrix_busy_media": Homeserver(busy_uploads=1),
}


def telegram(method, path, headers, body):
    m = re.fullmatch(r"/bot([^/]+)/sendMessage", path)
    if not m or unquote(m.group(1)) != TELEGRAM_TOKEN:
        return 401, {"ok": False, "error_code": 401, "description": "Unauthorized"}
    data = _json(body) or {}
    if not str(data.get("chat_id", "")):
        return 400, {"ok": False, "error_code": 400, "description": "Bad Request: chat_id is empty"}
    if str(data["chat_id"]) != CHAT:
        return 400, {"ok": False, "error_code": 400, "description": "Bad Request: chat not found"}
    if not str(data.get("text", "")).strip():
        return 400, {"ok": False, "description": "Bad Request: message text is empty"}
    return 200, {"ok": True, "result": {"message_id": 1, "text": data["text"]}}


def pushover(method, path, headers, body):
    if path != "/1/messages.json":
        return 404, {"status": 0, "errors": ["not found"]}
    form = {k: v[0] for k, v in parse_qs(body, keep_blank_values=True).items()}
    if form.get("token") != TOKEN:
        return 400, {"token": "invalid", "errors": ["application token is invalid"], "status": 0}
    if form.get("user") != USER_KEY:
        return 400, {"user": "invalid", "errors": ["user identifier is not valid"], "status": 0}
    if not form.get("message"):
        return 400, {"message": "cannot be blank", "errors": ["message cannot be blank"]}
    if form.get("priority", "0") not in ("-2", "-1", "0", "1", "2"):
        return 400, {"errors": ["priority is invalid"], "status": 0}
    return 200, {"status": 1, "request": "p1"}


def _form(headers, raw):
    """The fields and files of a multipart/form-data body; None for another body."""
    kind = headers.get("Content-Type", "")
    if not kind.startswith("multipart/form-data"):
        return None
    message = email.message_from_bytes(b"Content-Type: " + kind.encode() + b"\r\n\r\n" + raw)
    fields, files = {}, {}
    for part in message.get_payload() if message.is_multipart() else []:
        name = part.get_param("name", header="content-disposition")
        data = part.get_payload(decode=True) or b""
        if part.get_filename():
            files[name] = (part.get_filename(), part.get_content_type(), data)
        else:
            fields[name] = data.decode("utf-8")
    return fields, files


def _photo(files, field, limit, sound=False):
    """What is wrong with the JPEG (or, with sound, the JPEG or Ogg clip) in
    field, or None."""
    if field not in files:
        return "no file " + field
    name, kind, data = files[field]
    if _kind_of(name, kind, data) not in (("image/jpeg", "audio/ogg") if sound else ("image/jpeg",)):
        return "not a JPEG"
    return "too large" if len(data) > limit else None


def discord_photo(method, path, headers, fields, files):
    data = _json(fields.get("payload_json", ""))
    if not data or not str(data.get("content", "")).strip():
        return 400, {"message": "Cannot send an empty message", "code": 50006}
    problem = _photo(files, "files[0]", 8 * 1024 * 1024, sound=True)
    if problem:
        return 400, {"message": "Invalid Form Body: " + problem, "code": 50035}
    return 200, {"id": "d1", "content": data["content"],
                 "attachments": [{"filename": files["files[0]"][0]}]}


def telegram_photo(method, path, headers, fields, files):
    """sendPhoto takes a JPEG in "photo", sendDocument any file in "document"."""
    m = re.fullmatch(r"/bot([^/]+)/send(Photo|Document)", path)
    if not m or unquote(m.group(1)) != TELEGRAM_TOKEN:
        return 401, {"ok": False, "error_code": 401, "description": "Unauthorized"}
    if fields.get("chat_id") != CHAT:
        return 400, {"ok": False, "error_code": 400, "description": "Bad Request: chat not found"}
    if len(fields.get("caption", "")) > 1024:
        return 400, {"ok": False, "description": "Bad Request: message caption is too long"}
    document = m.group(2) == "Document"
    problem = _photo(files, "document" if document else "photo", 10 * 1000 * 1000,
                     sound=document)
    if problem:
        return 400, {"ok": False, "description": "Bad Request: " + problem}
    return 200, {"ok": True, "result": {"message_id": 2, "caption": fields.get("caption", "")}}


def pushover_photo(method, path, headers, fields, files):
    status, reply = pushover(method, path, headers, urlencode(fields))
    if status != 200:
        return status, reply
    problem = _photo(files, "attachment", 2500 * 1000)
    if problem:
        return 400, {"attachment": problem, "errors": ["attachment " + problem], "status": 0}
    return 200, {"status": 1, "request": "p2"}


def answer(kind, method, path, headers, body, raw=b""):
    if kind in HOMESERVERS:
        return HOMESERVERS[kind].answer(method, path, headers, body, raw or body.encode())
    if kind.startswith("ntfy"):
        return globals()[kind](method, path, headers, body, raw or body.encode())
    form = _form(headers, raw)
    if form is not None:
        if kind + "_photo" not in globals():
            return 400, {"error": "a form is not taken here"}
        return globals()[kind + "_photo"](method, path, headers, *form)
    return globals()[kind](method, path, headers, body)
