#pragma once

#include <QByteArray>
#include <QString>

// The published version list: a JSON object whose "updates" member holds one
// entry per platform. Reading it is a pure function of the bytes, so it can
// be checked without a network.
struct Appcast
{
    QString latestVersion;
    QString changelog;
    QString downloadUrl;
    QString openUrl;
    bool hasMandatoryUpdate = false; // "mandatory-update" present as a boolean
    bool mandatoryUpdate = false;

    // Reads the entry of platformKey. Returns false (and fills error) when the
    // bytes are not a JSON object; missing or mistyped members read as empty.
    static bool read(const QByteArray& data, const QString& platformKey, Appcast* out,
                     QString* error);

    // True when version x is newer than version y: dot-separated integers
    // compared position by position; a part that is not a decimal integer
    // counts as 0; when all compared parts agree, the longer one is newer.
    static bool isNewer(const QString& x, const QString& y);
};
