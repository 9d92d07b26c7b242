#pragma once
// The store's file format: the INI dialect QSettings writes on Linux, read
// and written here so that every write can be checked byte for byte.
//
// A file is a tree of keys; each key holds named values and sub-keys. Values
// stay in the file's own escaped form until read, so anything the program
// does not change (hand-edited lists, other types) is written back as found.

#include <QByteArray>
#include <QMap>
#include <QString>

namespace Ini {

struct Node
{
    QMap<QString, QByteArray> values; // name as in the tree → escaped value
    QMap<QString, Node> children;
    friend bool operator==(const Node &a, const Node &b)
    {
        return a.values == b.values && a.children == b.children;
    }
};

// False when the text is malformed (an unclosed section, a line without '=');
// whatever could be read is in root all the same.
bool Parse(const QByteArray &text, Node *root);
QByteArray Serialize(const Node &root);

// A string as a value of the file, and a value of the file as the text a
// caller reads (lists joined with ", ", other types empty).
QByteArray EncodeString(const QString &text);
QString DecodeString(const QByteArray &raw);

QByteArray EscapeKey(const QString &key);
QString UnescapeKey(QByteArrayView key);

} // namespace Ini
