#pragma once

// Shared by the test folders: case tables as QTest data rows, whole files read and written, wand packets.

#include <QtTest>

namespace TestSupport {
// One data row per entry of a case table; the test function reads its entry with tableRow(TABLE).
template <typename T, int N> void tableRows(const T (&)[N]) {
    QTest::addColumn<int>("row");
    for (int i = 0; i < N; ++i)
        QTest::addRow("%d", i) << i;
}

template <typename T, int N> const T& tableRow(const T (&table)[N]) {
    QFETCH(int, row);
    return table[row];
}

// Replaces the file (a null array removes it).
inline bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (bytes.isNull())
        return !f.exists() || f.remove();
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline QJsonObject json(const QByteArray& text) {
    return QJsonDocument::fromJson(text).object();
}

inline bool writeJson(const QString& path, const QJsonObject& object) {
    return writeFile(path, QJsonDocument(object).toJson());
}

// A 72-byte wand packet (ID at byte 23, tag at 27, 31, ..., 0-ended); bytes not to be read hold 0x55.
inline QByteArray wandPacket(signed char wandId, const QByteArray& tag) {
    QByteArray bytes(72, char(0x55));
    bytes[23] = char(wandId);
    for (int i = 0; i < 10; ++i)
        bytes[27 + 4 * i] = i < tag.size() ? tag.at(i) : '\0';
    return bytes;
}
} // namespace TestSupport
