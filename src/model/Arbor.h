#pragma once

#include "ArborBall.h"
#include "ArborPath.h"
#include "ArborRatio.h"
#include "SerializableRoot.h"

#include <QColor>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QMap>
#include <QSet>

// The lattice as the user sees it: the tree of balls, the colour of each
// prime, the base frequency and the current transposition. It mirrors what
// the sound engine confirms (notes toggled, transpositions, base frequency,
// primes switched) and keeps a map from sounding ratio to ball.
//
// The lattice file ("arbor_v15.json") is read at start-up, or created from
// the default lattice when missing; it is never written at shutdown.
class Arbor : public SerializableRoot
{
    Q_OBJECT

public:
    static const QColor WHITE;

    explicit Arbor(QObject* parent = nullptr);
    ~Arbor() override;

    void read(const QJsonObject& json) override;
    void write(QJsonObject& json) const override;
    void initWithDefaults() override;
    using SerializableRoot::init;
    // Loads or creates the lattice file; when `player` is not null connects
    // its noteToggled, transposed, baseFrequencyChanged and
    // primeEnabledToggled signals (queued) to the slots below. The engine's
    // note changes are applied as they come while applying them has taken
    // less than BUSY_MS_PER_FRAME of the current frame; beyond that they are
    // gathered and applied at the next frame, each ball taking only its
    // latest state, so that however fast the engine reports (a wand flood)
    // the balls and their cards leave the GUI time for the user.
    virtual bool init(QObject* player);

    static constexpr int FRAME_MS = 16;
    static constexpr int BUSY_MS_PER_FRAME = 4;

    static bool isValidPrime(int step);
    static float primeRatio(int step);

    // Colour of |prime|, or WHITE when the table has none.
    QColor lookupColor(int prime) const;
    bool canTransposeTo(const ArborRatio& step) const;
    ArborBall* ballFromRatio(const ArborRatio& ratio) const;
    // The ball at `path` in the current tree, or null (also for the invalid
    // path). Use it to follow links: a link may name a ball that does not exist.
    ArborBall* ballFromPath(const ArborPath& path) const;

    void buildBallMap();
    void buildBallMapFrom(ArborBall* ball);
    void simplifyTransposeSteps();
    void addLeaves(ArborBall* ball);
    void addLeaf(ArborBall* ball, int prime);

    ArborBall* rootBall() const { return mRootBall; }
    float baseFrequency() const { return mBaseFrequency; }
    const ArborRatio& transposeRatio() const { return mTransposeRatio; }
    const QList<int>& transposeSteps() const { return mTransposeSteps; }
    const QMap<int, QColor>& primeColors() const { return mPrimeColors; }
    const QSet<ArborRatio>& playingRatios() const { return mPlayingRatios; }
    const QHash<ArborRatio, ArborBall*>& ballMap() const { return mBallMap; }

    // Cancels opposite pairs: each element removes the nearest earlier
    // element equal to its negation, together with itself.
    static QList<int> cancelOppositeSteps(QList<int> steps);

public slots:
    void onNoteToggled(ArborRatio ratio, bool on);
    void onTransposed(ArborRatio ratio, int prime);
    void onBaseFrequencyChanged(float freq);
    void onPrimeEnabledToggled(int prime, bool enabled);

private slots:
    void onNoteReported(ArborRatio ratio, bool on);
    void applyReportedNotes();

signals:
    void transposeOrBaseFrequencyChanged();
    // A reload replaced the tree. The previous tree stays alive (a child of
    // the lattice) so that pointers held by a display stay valid until it
    // rebuilds from the new root.
    void rootBallReplaced(ArborBall* newRoot);

private:
    void togglePrimeFrom(ArborBall* ball, int prime, bool enabled);
    ArborBall* addDefaultBall(ArborBall* parent, int step, const char* link);

    ArborBall* mRootBall;
    ArborRatio mTransposeRatio;
    float mBaseFrequency;
    QList<int> mTransposeSteps;
    QMap<int, QColor> mPrimeColors;
    QHash<ArborRatio, ArborBall*> mBallMap;
    QSet<ArborRatio> mPlayingRatios;
    // Note changes reported since the last turn, in the order first
    // reported, each with its latest state.
    QList<QPair<ArborRatio, bool>> mReportedNotes;
    QHash<ArborRatio, int> mReportedIndex;
    QElapsedTimer mFrame;     // since the current frame began
    qint64 mBusyNs = 0;       // of it spent applying note changes
};
