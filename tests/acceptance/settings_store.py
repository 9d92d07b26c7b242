"""Reading and writing the program's settings file the way the program does
(QSettings' INI format with its escaping), for the scripted tests."""

import os
import re


def _ini_unescape(text):
    def repl(m):
        return chr(int(m.group(1) or m.group(2), 16))
    return re.sub(r"%U([0-9A-Fa-f]{4})|%([0-9A-Fa-f]{2})", repl, text)


def _ini_escape_key(text):
    out = []
    for ch in text:
        if ch.isascii() and (ch.isalnum() or ch in "-_.~"):
            out.append(ch)
        elif ch == "/":
            out.append("\\")
        elif ord(ch) < 256:
            out.append("%%%02X" % ord(ch))
        else:
            out.append("%%U%04X" % ord(ch))
    return "".join(out)


def read_store(path):
    """The settings file as {("group/path", "value name"): data}, names as
    the program's store keeps them (its own % escapes undone)."""
    values = {}
    if not os.path.exists(path):
        return values
    with open(path, "rb") as f:
        text = f.read().decode("utf-8", "replace")
    section = ""
    for raw in text.splitlines():
        line = raw.strip()
        if not line or line.startswith(";"):
            continue
        if line.startswith("[") and line.endswith("]"):
            section = _ini_unescape(line[1:-1])
            section = "" if section == "General" else section
            continue
        if "=" not in line:
            continue
        key, data = line.split("=", 1)
        key = _ini_unescape(key.strip()).replace("\\", "/")
        data = data.strip()
        if len(data) >= 2 and data[0] == '"' and data[-1] == '"':
            data = data[1:-1].replace('\\"', '"').replace("\\\\", "\\")
        full = (section + "/" + key) if section else key
        group, _, name = full.rpartition("/")
        # the store's own escapes of '%' and '/' inside names
        name = name.replace("%2F", "/").replace("%2f", "/").replace("%25", "%")
        values[(group, name)] = data
    return values


def store_value(path, group, name):
    """A value of the settings file, matched without regard to case, or None."""
    for (g, n), data in read_store(path).items():
        if g.lower() == group.lower() and n.lower() == name.lower():
            return data
    return None


def write_store(path, values):
    """Writes a fresh settings file as QSettings does: {(group, name): data}."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    lines = []
    sections = {}
    for (group, name), data in values.items():
        head, _, rest = group.partition("/")
        sections.setdefault(head, []).append((rest, name, data))
    for head, entries in sections.items():
        lines.append("[%s]" % _ini_escape_key(head))
        for rest, name, data in entries:
            key = (rest + "/" if rest else "") + name.replace("%", "%25").replace("/", "%2F")
            lines.append("%s=%s" % (_ini_escape_key(key), data))
        lines.append("")
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(lines))
