// The application's message handler and its log file.

#include "VudiruArborApplication.h"

#include <QDateTime>
#include <QMutexLocker>
#include <QTextStream>
#include <QTime>

namespace
{
const char* const STAMP_FORMAT = "[hh:mm:ss.zzz] ";

// The source module of a message: the file name of its source path without
// the extension. False when the context carries no path with a folder part.
bool moduleOf(const QMessageLogContext& context, QString* module)
{
    if (!context.file)
        return false;
    const QString file = QString::fromLocal8Bit(context.file);
    int cut = file.lastIndexOf(QLatin1Char('/'));
    if (cut < 0)
        cut = file.lastIndexOf(QLatin1Char('\\'));
    if (cut < 0)
        return false;
    *module = file.mid(cut + 1);
    const int dot = module->lastIndexOf(QLatin1Char('.'));
    if (dot >= 0)
        module->truncate(dot);
    return true;
}
}

QString VudiruArborApplication::logFilePath() const
{
    return configDir() + QStringLiteral("/log.txt");
}

bool VudiruArborApplication::openLogFile()
{
    QMutexLocker lock(&mLogMutex);
    if (mLogFile.isOpen())
        mLogFile.close();
    mLogFile.setFileName(logFilePath());
    if (!mLogFile.open(QIODevice::WriteOnly | QIODevice::Append)) {
        lock.unlock();
        qCritical().noquote() << QStringLiteral("Couldn't open log file %1 for writing.").arg(logFilePath());
        return false;
    }
    qInstallMessageHandler(loggingMessageHandler);
    QTextStream out(&mLogFile);
    out.setCodec("UTF-8");
    out << '\n' << QString(78, QLatin1Char('-')) << '\n'
        << "Starting app at " << QDateTime::currentDateTime().toString(QStringLiteral("dd/MM/yy hh:mm:ss.z"))
        << '\n';
    out.flush();
    return true;
}

void VudiruArborApplication::writeLogEntry(QtMsgType type, const QString& stamp, const QString& message)
{
    QMutexLocker lock(&mLogMutex);
    if (!mLogFile.isOpen())
        return;
    QTextStream out(&mLogFile);
    out.setCodec("UTF-8");
    const bool severe = type == QtCriticalMsg || type == QtFatalMsg;
    if (type == QtCriticalMsg)
        out << "\nCRITICAL:\n";
    else if (type == QtFatalMsg)
        out << "\nFATAL:\n";
    out << stamp << message << '\n';
    if (severe)
        out << '\n';
    out.flush();
}

void VudiruArborApplication::loggingMessageHandler(QtMsgType type, const QMessageLogContext& context,
                                                   const QString& message)
{
    auto* app = qobject_cast<VudiruArborApplication*>(QCoreApplication::instance());
    if (!app)
        return;
    const QString stamp = QTime::currentTime().toString(QLatin1String(STAMP_FORMAT));
    // Qt's info level is treated like debug: it is never written to the file.
    const bool debugLevel = type == QtDebugMsg || type == QtInfoMsg;

    if (!app->mFlags.isEmpty()) {
        QString module;
        if (!moduleOf(context, &module))
            return;
        if (app->mFlags.contains(QStringLiteral("all")) || app->mFlags.contains(module.toLower()))
            emit app->diagnosticMessage(QStringLiteral("%1 %2\n").arg(stamp, message));
    }
    if (debugLevel)
        return;
    app->writeLogEntry(type, stamp, message);
}
