#pragma once

#include "ArborPath.h"
#include "SerializableNode.h"

#include <QColor>
#include <QList>
#include <QMap>
#include <QString>

class Arbor;

// One node of the lattice tree: the pitch reached from the root by its path.
// Children are keyed by the signed prime step that leads to them; links are
// decorative lines to other balls, keyed by a prime.
//
// Ownership: every ball has a QObject parent (the lattice for the root, its
// parent ball otherwise); the children map holds non-owning pointers to
// those same objects.
//
// Links are kept exactly as the lattice file has them, also when the key is
// not a valid prime or the path does not parse or names no ball: they are
// written back unchanged. Whoever follows a link must look its target up
// with Arbor::ballFromPath, which returns null for a path with no ball.
class ArborBall : public SerializableNode
{
    Q_OBJECT

public:
    struct Link
    {
        QColor mColor;
        ArborPath mPath;
        QString mText;   // the path as written in the file (kept for unparsable paths)

        QColor color() const { return mColor; }
        const ArborPath& path() const { return mPath; }
    };

    ArborBall(const ArborPath& path, const QColor& color, QObject* parent);
    ~ArborBall() override;

    void read(const QJsonObject& json) override;
    void write(QJsonObject& json) const override;

    const ArborPath& path() const { return mPath; }
    QColor color() const { return mColor; }
    const QMap<int, ArborBall*>& children() const { return mChildren; }
    const QMap<int, Link>& links() const { return mLinks; }
    bool isPlaying() const { return mPlaying; }
    bool isEnabled() const { return mEnabled; }

    ArborBall* childAtPrime(int step) const;
    // Inserts or replaces the child under `step` (a replaced child is not deleted).
    void addChild(int step, ArborBall* child);
    // Inserts or replaces the link under `prime`.
    void addLink(int prime, const QString& path);

    // Cascades to the whole subtree, children first; nothing when unchanged.
    void setEnabled(bool enabled);
    void setPlaying(bool playing);
    void togglePlaying();

    // The ball's steps as heard: the lattice's transposition steps followed by
    // the path, with opposite pairs cancelled.
    QList<int> absPathSteps() const;
    int lastAbsStep() const;
    int highestAbsStep() const;

    // Number of balls in this subtree, this one included.
    int countBalls() const;

    // The lattice this ball belongs to (its nearest Arbor ancestor, else the
    // registered lattice); may be null.
    const Arbor* lattice() const;

signals:
    void playingChanged(bool playing);
    void enabledChanged(bool enabled);

private:
    QColor colorFor(int prime) const;
    bool pathHasHighStep() const;

    ArborPath mPath;
    QColor mColor;
    QMap<int, ArborBall*> mChildren;
    QMap<int, Link> mLinks;
    bool mPlaying;
    bool mEnabled;
};
