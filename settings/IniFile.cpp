#include "settings/IniFile.h"

#include <QStringList>

namespace Ini {
namespace {

// Keys deeper than this are junk; they would also make the recursive tree
// operations run out of stack.
constexpr qsizetype MaxDepth = 64;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

char HexDigit(uint v)
{
    return "0123456789ABCDEF"[v & 15];
}

struct Line
{
    qsizetype start = 0;
    qsizetype end = 0;
    qsizetype equals = -1;
};

// The next logical line: comments skipped; quotes and backslashes may carry
// a value over a line end; an unquoted ';' starts a comment.
bool NextLine(const QByteArray &d, qsizetype &pos, Line &line)
{
    const qsizetype n = d.size();
    for (;;) {
        while (pos < n && IsBlank(d.at(pos)))
            ++pos;
        if (pos >= n)
            return false;
        if (d.at(pos) != ';')
            break;
        while (pos < n && d.at(pos) != '\n' && d.at(pos) != '\r')
            ++pos;
    }
    line = Line{pos, pos, -1};
    bool inQuotes = false;
    qsizetype i = pos;
    while (i < n) {
        const char c = d.at(i);
        if ((c == '\n' || c == '\r' || c == ';') && !inQuotes)
            break;
        ++i;
        if (c == '=' && !inQuotes && line.equals < 0) {
            line.equals = i - 1;
        } else if (c == '"') {
            inQuotes = !inQuotes;
        } else if (c == '\\' && i < n) {
            const char next = d.at(i++);
            if (i < n && ((next == '\n' && d.at(i) == '\r') || (next == '\r' && d.at(i) == '\n')))
                ++i;
        }
    }
    line.end = i;
    pos = i;
    return true;
}

QStringList SplitPath(const QString &key)
{
    return key.split(u'/', Qt::SkipEmptyParts);
}

void Insert(Node *root, const QStringList &path, const QByteArray &raw)
{
    Node *node = root;
    for (qsizetype i = 0; i + 1 < path.size(); ++i)
        node = &node->children[path.at(i)];
    node->values.insert(path.last(), raw);
}

void ChopBlanks(QString &text, qsizetype limit)
{
    qsizetype n = text.size();
    while (n > limit && (text.at(n - 1) == u' ' || text.at(n - 1) == u'\t'))
        --n;
    text.truncate(n);
}

// The value as one string or, with unquoted commas, as a list.
bool Unescape(QByteArrayView s, QString &text, QStringList &list)
{
    bool isList = false;
    bool inQuotes = false;
    bool quoted = false;
    qsizetype i = 0;
    const qsizetype n = s.size();
    auto skipBlanks = [&] {
        while (i < n && (s.at(i) == ' ' || s.at(i) == '\t'))
            ++i;
    };
    skipBlanks();
    qsizetype chopLimit = 0;
    while (i < n) {
        const char c = s.at(i);
        if (c == '\\') {
            if (++i >= n)
                break;
            const char e = s.at(i++);
            static const char codes[] = {'a', '\a', 'b',  '\b', 'f',  '\f', 'n', '\n',
                                         'r', '\r', 't',  '\t', 'v',  '\v', '"', '"',
                                         '?', '?',  '\'', '\'', '\\', '\\', 0};
            bool simple = false;
            for (const char *code = codes; *code; code += 2) {
                if (e == code[0]) {
                    text += QLatin1Char(code[1]);
                    simple = true;
                    break;
                }
            }
            if (!simple) {
                if (e == 'x' && i < n && HexValue(s.at(i)) >= 0) {
                    char16_t v = 0;
                    while (i < n && HexValue(s.at(i)) >= 0)
                        v = char16_t((v << 4) + HexValue(s.at(i++)));
                    text += QChar(v);
                } else if (e >= '0' && e <= '7') {
                    char16_t v = char16_t(e - '0');
                    while (i < n && s.at(i) >= '0' && s.at(i) <= '7')
                        v = char16_t((v << 3) + (s.at(i++) - '0'));
                    text += QChar(v);
                } else if ((e == '\n' || e == '\r') && i < n &&
                           (s.at(i) == '\n' || s.at(i) == '\r') && s.at(i) != e) {
                    ++i;
                }
            }
            chopLimit = text.size();
        } else if (c == '"') {
            ++i;
            quoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes)
                skipBlanks();
        } else if (c == ',' && !inQuotes) {
            if (!quoted)
                ChopBlanks(text, chopLimit);
            isList = true;
            list.append(text);
            text.clear();
            chopLimit = 0;
            quoted = false;
            ++i;
            skipBlanks();
        } else {
            qsizetype j = i + 1;
            while (j < n && s.at(j) != '\\' && s.at(j) != '"' && s.at(j) != ',')
                ++j;
            text += QString::fromUtf8(s.sliced(i, j - i));
            i = j;
        }
    }
    if (!quoted)
        ChopBlanks(text, chopLimit);
    if (isList)
        list.append(text);
    return isList;
}

// prefix: the escaped path of node within its section, ending in '\\'.
void WriteNode(const Node &node, const QByteArray &prefix, QByteArray &out)
{
    for (auto it = node.values.cbegin(); it != node.values.cend(); ++it) {
        out += prefix;
        out += EscapeKey(it.key());
        out += '=';
        out += it.value();
        out += '\n';
    }
    for (auto it = node.children.cbegin(); it != node.children.cend(); ++it)
        WriteNode(it.value(), prefix + EscapeKey(it.key()) + '\\', out);
}

} // namespace

QByteArray EscapeKey(const QString &key)
{
    QByteArray out;
    out.reserve(key.size() * 3 / 2);
    for (const QChar qc : key) {
        const char16_t c = qc.unicode();
        if (c == u'/') {
            out += '\\';
        } else if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                   (c >= u'0' && c <= u'9') || c == u'_' || c == u'-' || c == u'.') {
            out += char(c);
        } else if (c <= 0xFF) {
            out += '%';
            out += HexDigit(c >> 4);
            out += HexDigit(c);
        } else {
            out += "%U";
            for (int shift = 12; shift >= 0; shift -= 4)
                out += HexDigit(c >> shift);
        }
    }
    return out;
}

QString UnescapeKey(QByteArrayView key)
{
    const QString s = QString::fromUtf8(key);
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size();) {
        const QChar c = s.at(i);
        if (c == u'\\') {
            out += u'/';
            ++i;
            continue;
        }
        if (c != u'%' || i == s.size() - 1) {
            out += c;
            ++i;
            continue;
        }
        const bool wide = s.at(i + 1) == u'U';
        const qsizetype first = i + (wide ? 2 : 1);
        const int digits = wide ? 4 : 2;
        bool ok = first + digits <= s.size();
        const ushort code = ok ? QStringView(s).sliced(first, digits).toUShort(&ok, 16) : 0;
        if (!ok) {
            out += u'%';
            ++i;
            continue;
        }
        out += QChar(code);
        i = first + digits;
    }
    return out;
}

bool Parse(const QByteArray &text, Node *root)
{
    *root = Node{};
    bool ok = true;
    QStringList section;
    qsizetype pos = 0;
    Line line;
    while (NextLine(text, pos, line)) {
        if (text.at(line.start) == '[') {
            qsizetype close = text.indexOf(']', line.start);
            if (close < 0 || close >= line.end) {
                ok = false;
                close = line.end;
            }
            const QByteArray name = text.mid(line.start + 1, close - line.start - 1).trimmed();
            if (name.compare("general", Qt::CaseInsensitive) == 0)
                section.clear();
            else if (name.compare("%general", Qt::CaseInsensitive) == 0)
                section = QStringList{QString::fromLatin1(name.mid(1))};
            else
                section = SplitPath(UnescapeKey(name));
            continue;
        }
        if (line.equals < 0) {
            ok = false;
            continue;
        }
        qsizetype keyEnd = line.equals;
        while (keyEnd > line.start && (text.at(keyEnd - 1) == ' ' || text.at(keyEnd - 1) == '\t'))
            --keyEnd;
        const QStringList path =
            section +
            SplitPath(UnescapeKey(QByteArrayView(text).sliced(line.start, keyEnd - line.start)));
        if (path.isEmpty())
            continue;
        if (path.size() > MaxDepth) {
            ok = false; // no key of the program is nested that deep
            continue;
        }
        Insert(root, path, text.mid(line.equals + 1, line.end - line.equals - 1));
    }
    return ok;
}

QByteArray Serialize(const Node &root)
{
    QByteArray out;
    if (!root.values.isEmpty()) {
        out += "[General]\n";
        for (auto it = root.values.cbegin(); it != root.values.cend(); ++it)
            out += EscapeKey(it.key()) + '=' + it.value() + '\n';
    }
    for (auto it = root.children.cbegin(); it != root.children.cend(); ++it) {
        if (!out.isEmpty())
            out += '\n';
        const QByteArray name = EscapeKey(it.key());
        out += name.compare("general", Qt::CaseInsensitive) == 0 ? QByteArray("[%General]")
                                                                 : '[' + name + ']';
        out += '\n';
        WriteNode(it.value(), QByteArray(), out);
    }
    return out;
}

QByteArray EncodeString(const QString &text)
{
    QString s = text;
    if (s.contains(QChar(0)))
        s = QStringLiteral("@String(") + s + u')';
    else if (s.startsWith(u'@'))
        s.prepend(u'@');
    QByteArray out;
    out.reserve(s.size() * 3 / 2);
    bool needsQuotes = false;
    bool escapeNextIfDigit = false;
    for (const QChar qc : std::as_const(s)) {
        const char16_t c = qc.unicode();
        if (c == u';' || c == u',' || c == u'=')
            needsQuotes = true;
        if (escapeNextIfDigit && c < 0x80 && HexValue(char(c)) >= 0) {
            out += "\\x" + QByteArray::number(uint(c), 16);
            continue;
        }
        escapeNextIfDigit = false;
        switch (c) {
        case u'\0':
            out += "\\0";
            escapeNextIfDigit = true;
            break;
        case u'\a':
            out += "\\a";
            break;
        case u'\b':
            out += "\\b";
            break;
        case u'\f':
            out += "\\f";
            break;
        case u'\n':
            out += "\\n";
            break;
        case u'\r':
            out += "\\r";
            break;
        case u'\t':
            out += "\\t";
            break;
        case u'\v':
            out += "\\v";
            break;
        case u'"':
        case u'\\':
            out += '\\';
            out += char(c);
            break;
        default:
            if (c <= 0x1F) {
                out += "\\x" + QByteArray::number(uint(c), 16);
                escapeNextIfDigit = true;
            } else if (c < 0x80) {
                out += char(c);
            } else {
                out += QString(qc).toUtf8();
            }
        }
    }
    if (needsQuotes || out.startsWith(' ') || out.endsWith(' ')) {
        out.prepend('"');
        out += '"';
    }
    return out;
}

QString DecodeString(const QByteArray &raw)
{
    QString text;
    QStringList list;
    if (Unescape(raw, text, list)) {
        for (QString &item : list) {
            if (!item.startsWith(u'@'))
                continue;
            if (!item.startsWith(QLatin1String("@@")))
                return {}; // a list of other types
            item.remove(0, 1);
        }
        return list.join(QStringLiteral(", "));
    }
    if (!text.startsWith(u'@'))
        return text;
    if (text.startsWith(QLatin1String("@@")))
        return text.mid(1);
    if (text.endsWith(u')')) {
        if (text.startsWith(QLatin1String("@ByteArray(")))
            return QString::fromUtf8(text.mid(11, text.size() - 12).toLatin1());
        if (text.startsWith(QLatin1String("@String(")))
            return text.mid(8, text.size() - 9);
        if (text.startsWith(QLatin1String("@Variant(")) ||
            text.startsWith(QLatin1String("@Rect(")) || text.startsWith(QLatin1String("@Size(")) ||
            text.startsWith(QLatin1String("@Point(")) ||
            text.startsWith(QLatin1String("@DateTime(")) || text == QLatin1String("@Invalid()"))
            return {}; // not a string
    }
    return text;
}

} // namespace Ini
