#pragma once

#include "SerializableNode.h"

#include <QString>

// A JSON document with its own file in the config folder. init() loads the
// file, or fills the document with its defaults and writes it when there is
// no file yet. Saves are atomic: a failed save leaves the old file intact.
class SerializableRoot : public SerializableNode
{
    Q_OBJECT

public:
    explicit SerializableRoot(QObject* parent = nullptr);
    ~SerializableRoot() override;

    // Saves when saveOnTerm is set. Safe to call more than once.
    virtual void term();
    // filePath = config folder + "/" + fileName; load it, or create it from
    // the defaults when it does not exist.
    virtual bool init(const QString& fileName);
    // Fills the document with its defaults; the base version does nothing.
    virtual void initWithDefaults();

    bool save() const;
    bool load();

    // Copies the document's file to filePath + suffix, replacing an older
    // copy. Lets the caller keep a file that failed to load before it gets
    // overwritten. Returns false (with a log line) on failure or when there
    // is no file.
    bool backupFile(const QString& suffix = QStringLiteral(".bad")) const;

    QString filePath() const { return mFilePath; }
    void setFilePath(const QString& filePath) { mFilePath = filePath; }
    bool saveOnTerm() const { return mSaveOnTerm; }
    void setSaveOnTerm(bool saveOnTerm) { mSaveOnTerm = saveOnTerm; }

    // The per-user writable application data folder.
    static QString configFolder();

protected:
    QString mFilePath;
    bool mSaveOnTerm;
};
