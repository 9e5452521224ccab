#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

class ArborRatio;

// The address of a ball: up to six signed prime steps from the root, e.g.
// "/2/-3/3" (octave up, fifth down, fifth up). Stored inline as seven signed
// bytes, the steps followed by a 0 terminator. The root is the empty path.
// A failed parse yields the invalid path, whose first byte is 127.
class ArborPath
{
public:
    static constexpr int MAX_STEPS = 6;
    static constexpr int STORAGE = MAX_STEPS + 1;
    static constexpr signed char INVALID_MARKER = 127;

    ArborPath();
    ArborPath(const QString& text);
    explicit ArborPath(signed char step);
    ArborPath(const ArborPath& other);
    ArborPath& operator=(const ArborPath& other);

    // Parses the text form; a step that is not a number or not a signed prime
    // gives the invalid path (with a debug line). Steps after the sixth are
    // ignored.
    void storeFromString(const QString& text);

    QString toString() const;
    QString parseToString() const;
    QList<int> toList() const;
    const signed char* toCharArray() const;

    // Concatenation; steps beyond the sixth are dropped.
    ArborPath operator+(const ArborPath& other) const;

    void addLeaf(signed char step);   // no-op on a full path
    void removeLeaf();                // no-op on the root

    int length() const;
    bool isValid() const;
    bool isRoot() const;

    // Ratio this path reaches (0/1 with a log line for a path with a bad step).
    ArborRatio toRatio() const;

    // Builds a path from raw bytes (for example a flattened event). Copies at
    // most MAX_STEPS bytes up to the first 0 and always terminates.
    static ArborPath fromRaw(const signed char* steps);

    bool operator==(const ArborPath& other) const;
    bool operator!=(const ArborPath& other) const { return !(*this == other); }

private:
    signed char mSteps[STORAGE];
};

uint qHash(const ArborPath& path, uint seed = 0);

Q_DECLARE_METATYPE(ArborPath)
