// The application object's start-up steps, its log handler and the
// diagnostics window, on real files in a temporary data folder, plus headless
// runs of the real program for the start-up failures that end it.

#include "DiagnosticsDialog.h"
#include "VudiruArborApplication.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QResource>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <memory>
#include <vector>

namespace
{
QTemporaryDir* sTempDir = nullptr;

VudiruArborApplication* app()
{
    return qobject_cast<VudiruArborApplication*>(QCoreApplication::instance());
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

const QString STAMP = QStringLiteral("\\[\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d\\] ");

// Opens the application's log file, which installs its handler, and puts the
// test framework's handler back: the entries of a test are then produced by
// calling the handler directly, or by installing it for a while.
QtMessageHandler openLogKeepingTestHandler()
{
    const QtMessageHandler testHandler = qInstallMessageHandler(nullptr);
    qInstallMessageHandler(testHandler);
    const bool opened = app()->openLogFile();
    qInstallMessageHandler(testHandler);
    return opened ? testHandler : nullptr;
}
}

class TestApplication : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void flags_data();
    void flags();

    void logHeader();
    void logEntries_data();
    void logEntries();
    void concurrentWritersWriteWholeEntries();
    void diagnosticsDialog();
    void diagnosticsFromOtherThread();

    void copyFile_data();
    void copyFile();
    void patchFolderCopiesWhatItCan();
    void styleSheetsAreJoined();
    void corruptOptionsFileIsKept();
    void resources();

    void headlessConfigDirFailure();
    void headlessStyleSheetFailure();
    void headlessFailureAfterEngineStart();

private:
    QString mLogPath;
};

void TestApplication::initTestCase()
{
    QVERIFY(app());
    QVERIFY(VudiruArborApplication::configDir().startsWith(sTempDir->path()));
    QVERIFY(VudiruArborApplication::configDir().contains(QLatin1Char(' ')));
    QVERIFY(app()->createConfigDir());
    QVERIFY(QFileInfo(VudiruArborApplication::configDir()).isDir());
    mLogPath = app()->logFilePath();
    QCOMPARE(mLogPath, VudiruArborApplication::configDir() + "/log.txt");
    QCOMPARE(app()->version(), QStringLiteral("1.5.0"));
    QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Elmsby Vudiru Arbor"));
}

void TestApplication::flags_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("flags");
    QTest::newRow("none") << QStringList() << QStringList();
    QTest::newRow("dash and case") << QStringList{"-PdPlayer"} << QStringList{"pdplayer"};
    QTest::newRow("plain") << QStringList{"pdplayer"} << QStringList{"pdplayer"};
    QTest::newRow("both spellings give one flag") << QStringList{"-PdPlayer", "pdplayer"}
                                                  << QStringList{"pdplayer"};
    QTest::newRow("double dash keeps one") << QStringList{"--all"} << QStringList{"-all"};
    QTest::newRow("all and a module") << QStringList{"-ALL", "UdpListener"}
                                      << QStringList{"all", "udplistener"};
}

void TestApplication::flags()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, flags);
    const QSet<QString> parsed = VudiruArborApplication::parseFlags(arguments);
    QCOMPARE(parsed, QSet<QString>(flags.begin(), flags.end()));
}

void TestApplication::logHeader()
{
    QFile::remove(mLogPath);
    const QtMessageHandler testHandler = openLogKeepingTestHandler();
    QVERIFY(testHandler);
    const QString text = QString::fromUtf8(readAll(mLogPath));
    const QRegularExpression header(QStringLiteral("^\\n-{78}\\nStarting app at "
                                                   "\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{1,3}\\n$"));
    QVERIFY2(header.match(text).hasMatch(), qPrintable(text));

    // A second run appends its own header after the first.
    QVERIFY(openLogKeepingTestHandler());
    const QString twice = QString::fromUtf8(readAll(mLogPath));
    QCOMPARE(twice.count(QStringLiteral("Starting app at ")), 2);
    QVERIFY(twice.startsWith(text));
}

void TestApplication::logEntries_data()
{
    QTest::addColumn<QStringList>("flags");
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("file");  // empty: no source path in the context
    QTest::addColumn<QString>("fileEntry"); // regular expression of the appended text; empty: none
    QTest::addColumn<bool>("shown");

    const QString line = STAMP + QStringLiteral("\"message\" 42\\n");
    const QByteArray pdPlayer = "/work/src/player/PdPlayer.cpp";
    const QByteArray arbor = "/work/src/model/Arbor.cpp";
    const QStringList none;
    const QStringList pd{"pdplayer"};
    const QStringList all{"all"};

    QTest::newRow("no flags, debug dropped") << none << int(QtDebugMsg) << arbor << QString() << false;
    QTest::newRow("no flags, warning: line only") << none << int(QtWarningMsg) << arbor
                                                  << "^" + line + "$" << false;
    QTest::newRow("no flags, warning without path") << none << int(QtWarningMsg) << QByteArray()
                                                    << "^" + line + "$" << false;
    QTest::newRow("no flags, critical: header and empty line")
        << none << int(QtCriticalMsg) << arbor << "^\\nCRITICAL:\\n" + line + "\\n$" << false;
    QTest::newRow("no flags, fatal: header and empty line")
        << none << int(QtFatalMsg) << arbor << "^\\nFATAL:\\n" + line + "\\n$" << false;
    QTest::newRow("pdplayer, its debug: dialog only") << pd << int(QtDebugMsg) << pdPlayer << QString() << true;
    QTest::newRow("pdplayer, its warning: both") << pd << int(QtWarningMsg) << pdPlayer
                                                 << "^" + line + "$" << true;
    QTest::newRow("pdplayer, header file counts") << pd << int(QtWarningMsg)
                                                  << QByteArray("/work/src/player/PdPlayer.h")
                                                  << "^" + line + "$" << true;
    QTest::newRow("pdplayer, backslash path") << pd << int(QtWarningMsg)
                                              << QByteArray("C:\\src\\player\\PdPlayer.cpp")
                                              << "^" + line + "$" << true;
    QTest::newRow("pdplayer, other module's warning: file only") << pd << int(QtWarningMsg) << arbor
                                                                 << "^" + line + "$" << false;
    QTest::newRow("pdplayer, other module's debug: nothing") << pd << int(QtDebugMsg) << arbor << QString()
                                                             << false;
    QTest::newRow("pdplayer, no path: dropped") << pd << int(QtCriticalMsg) << QByteArray() << QString()
                                                << false;
    QTest::newRow("pdplayer, bare file name: dropped") << pd << int(QtWarningMsg)
                                                       << QByteArray("PdPlayer.cpp") << QString() << false;
    QTest::newRow("all, any debug shown") << all << int(QtDebugMsg) << arbor << QString() << true;
    QTest::newRow("all, critical both") << all << int(QtCriticalMsg) << arbor
                                        << "^\\nCRITICAL:\\n" + line + "\\n$" << true;
    QTest::newRow("-all is no wildcard") << QStringList{"-all"} << int(QtDebugMsg) << arbor << QString()
                                         << false;
}

void TestApplication::logEntries()
{
    QFETCH(QStringList, flags);
    QFETCH(int, type);
    QFETCH(QByteArray, file);
    QFETCH(QString, fileEntry);
    QFETCH(bool, shown);

    QVERIFY(openLogKeepingTestHandler());
    DiagnosticsDialog dialog;
    auto* textArea = dialog.findChild<QPlainTextEdit*>(QStringLiteral("textArea"));
    QVERIFY(textArea);

    app()->setFlags(QSet<QString>(flags.begin(), flags.end()));
    const qint64 before = QFileInfo(mLogPath).size();
    const QMessageLogContext context(file.isEmpty() ? nullptr : file.constData(), 17, "f()", "default");
    // Composed the way QDebug composes it: strings quoted, items separated by blanks.
    const QString message = QStringLiteral("\"message\" 42");
    VudiruArborApplication::loggingMessageHandler(QtMsgType(type), context, message);
    app()->setFlags({});

    const QString appended = QString::fromUtf8(readAll(mLogPath).mid(int(before)));
    if (fileEntry.isEmpty())
        QCOMPARE(appended, QString());
    else
        QVERIFY2(QRegularExpression(fileEntry).match(appended).hasMatch(), qPrintable(appended));

    const QString dialogText = textArea->toPlainText();
    if (shown) {
        // The stamp's own blank and the separator: two blanks after "]".
        const QRegularExpression line("^" + STAMP + " \"message\" 42\\n?$");
        QVERIFY2(line.match(dialogText).hasMatch(), qPrintable(dialogText));
    } else {
        QCOMPARE(dialogText, QString());
    }
}

void TestApplication::concurrentWritersWriteWholeEntries()
{
    QFile::remove(mLogPath);
    const QtMessageHandler testHandler = openLogKeepingTestHandler();
    QVERIFY(testHandler);
    const int headerSize = readAll(mLogPath).size();

    const int threads = 4;
    const int perThread = 300;
    const QString padding(120, QLatin1Char('x'));
    std::vector<std::unique_ptr<QThread>> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back(QThread::create([t, perThread, padding] {
            for (int i = 0; i < perThread; ++i) {
                if (i % 7 == 0)
                    qCritical().noquote() << QStringLiteral("C%1-%2").arg(t).arg(i) << padding;
                else
                    qWarning().noquote() << QStringLiteral("W%1-%2").arg(t).arg(i) << padding;
            }
        }));
    }
    qInstallMessageHandler(VudiruArborApplication::loggingMessageHandler);
    for (auto& worker : workers)
        worker->start();
    for (auto& worker : workers)
        worker->wait();
    qInstallMessageHandler(testHandler);

    const QStringList lines = QString::fromUtf8(readAll(mLogPath).mid(headerSize)).split(QLatin1Char('\n'));
    const QRegularExpression entry("^" + STAMP + "([CW])(\\d+)-(\\d+) " + padding + "$");
    QSet<QString> seen;
    int i = 0;
    while (i < lines.size() && !(i == lines.size() - 1 && lines.at(i).isEmpty())) {
        bool critical = false;
        if (lines.at(i).isEmpty()) {
            QVERIFY2(i + 1 < lines.size() && lines.at(i + 1) == QLatin1String("CRITICAL:"),
                     qPrintable(QStringLiteral("line %1").arg(i)));
            critical = true;
            i += 2;
        }
        QVERIFY(i < lines.size());
        const QRegularExpressionMatch match = entry.match(lines.at(i));
        QVERIFY2(match.hasMatch(), qPrintable(QStringLiteral("line %1: %2").arg(i).arg(lines.at(i))));
        QCOMPARE(match.captured(1) == QLatin1String("C"), critical);
        const QString id = match.captured(2) + QLatin1Char('-') + match.captured(3);
        QVERIFY2(!seen.contains(id), qPrintable(id));
        seen.insert(id);
        ++i;
        if (critical) {
            QVERIFY(i < lines.size());
            QCOMPARE(lines.at(i), QString());  // the trailing empty line
            ++i;
        }
    }
    QCOMPARE(seen.size(), threads * perThread);
}

void TestApplication::diagnosticsDialog()
{
    QWidget parent;
    auto* dialog = new DiagnosticsDialog(&parent);
    QCOMPARE(dialog->objectName(), QStringLiteral("DiagnosticsDialog"));
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Diagnostics"));
    QCOMPARE(dialog->size(), QSize(600, 500));
    QVERIFY(dialog->windowFlags() & Qt::WindowMaximizeButtonHint);
    auto* textArea = dialog->findChild<QPlainTextEdit*>(QStringLiteral("textArea"));
    QVERIFY(textArea);
    QVERIFY(textArea->isReadOnly());
    auto* buttons = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    QVERIFY(buttons);
    QCOMPARE(buttons->standardButtons(), QDialogButtonBox::Close);

    dialog->show();
    QVERIFY(dialog->isVisible());
    dialog->onMessage(QStringLiteral("first\n"));
    dialog->onMessage(QStringLiteral("second\n"));
    buttons->button(QDialogButtonBox::Close)->click();
    QVERIFY(!dialog->isVisible());
    // Closing only hides: what was received stays and new text is added.
    emit app()->diagnosticMessage(QStringLiteral("third\n"));
    const QString text = textArea->toPlainText();
    QVERIFY(text.indexOf("first") < text.indexOf("second"));
    QVERIFY(text.indexOf("second") < text.indexOf("third"));
}

void TestApplication::diagnosticsFromOtherThread()
{
    const QtMessageHandler testHandler = openLogKeepingTestHandler();
    QVERIFY(testHandler);
    DiagnosticsDialog dialog;
    auto* textArea = dialog.findChild<QPlainTextEdit*>(QStringLiteral("textArea"));
    app()->setFlags({QStringLiteral("tst_application")});

    std::unique_ptr<QThread> worker(QThread::create([] { qDebug() << QStringLiteral("from the worker"); }));
    qInstallMessageHandler(VudiruArborApplication::loggingMessageHandler);
    worker->start();
    worker->wait();
    qInstallMessageHandler(testHandler);
    app()->setFlags({});

    // The signal was emitted on the worker; the dialog gets it through the
    // main thread's event queue.
    QCOMPARE(textArea->toPlainText(), QString());
    QTRY_VERIFY(textArea->toPlainText().contains(QStringLiteral("\"from the worker\"")));
    QVERIFY(QRegularExpression("^" + STAMP + " \"from the worker\"\n?$").match(textArea->toPlainText()).hasMatch());
}

void TestApplication::copyFile_data()
{
    QTest::addColumn<QString>("order");  // which file is written first
    QTest::addColumn<bool>("replaced");
    QTest::newRow("newer destination kept") << "source first" << false;
    QTest::newRow("older destination replaced") << "destination first" << true;
    QTest::newRow("no destination yet") << "no destination" << true;
}

void TestApplication::copyFile()
{
    QFETCH(QString, order);
    QFETCH(bool, replaced);
    QTemporaryDir dir(QDir::tempPath() + "/copy file XXXXXX");
    QVERIFY(dir.isValid());
    const QString source = dir.path() + "/shell patch.pd";
    const QString destination = dir.path() + "/installed copy.pd";

    // The second file must be strictly younger; file system clocks are
    // coarse, so rewrite it until its time differs (bounded).
    auto writeYounger = [](const QString& path, const QByteArray& bytes, const QString& older) {
        for (int attempt = 0; attempt < 200; ++attempt) {
            QFile::remove(path);
            if (!writeFile(path, bytes))
                return false;
            if (VudiruArborApplication::creationTime(older) < VudiruArborApplication::creationTime(path))
                return true;
            QThread::msleep(5);
        }
        return false;
    };
    if (order == "source first") {
        QVERIFY(writeFile(source, "new"));
        QVERIFY(writeYounger(destination, "installed", source));
    } else if (order == "destination first") {
        QVERIFY(writeFile(destination, "installed"));
        QVERIFY(writeYounger(source, "new", destination));
    } else {
        QVERIFY(writeFile(source, "new"));
    }

    QVERIFY(VudiruArborApplication::copyFile(source, destination));
    QCOMPARE(readAll(destination), replaced ? QByteArray("new") : QByteArray("installed"));
    QCOMPARE(readAll(source), QByteArray("new"));
    // Copying again changes nothing: the fresh copy is not older than its source.
    QVERIFY(VudiruArborApplication::copyFile(source, destination));
    QCOMPARE(readAll(destination), replaced ? QByteArray("new") : QByteArray("installed"));

    // A missing source is reported.
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("^Failed to copy \".*missing.pd\" to \".*\"$"));
    QVERIFY(!VudiruArborApplication::copyFile(dir.path() + "/missing.pd", dir.path() + "/target.pd"));
}

void TestApplication::patchFolderCopiesWhatItCan()
{
    QTemporaryDir dir(QDir::tempPath() + "/patch folder XXXXXX");
    QVERIFY(dir.isValid());
    const QString shell = dir.path() + "/resources/patches/shell";
    const QString patchDir = dir.path() + "/config dir/patch";
    QVERIFY(QDir().mkpath(shell));
    const QStringList names = VudiruArborApplication::shellPatchNames();
    QCOMPARE(names, QStringList({"arbor_main.pd", "arbor_vprep.pd", "equal-loudness.pd", "tb_compressor~.pd",
                                 "tb_compressorUI.pd"}));
    for (int i = 1; i < names.size(); ++i)  // the first one is missing
        QVERIFY(writeFile(shell + "/" + names.at(i), names.at(i).toUtf8()));

    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("^Failed to copy .*arbor_main.pd"));
    QVERIFY(!VudiruArborApplication::initPatchFolder(shell, patchDir));
    QVERIFY(!QFileInfo::exists(patchDir + "/arbor_main.pd"));
    for (int i = 1; i < names.size(); ++i)
        QCOMPARE(readAll(patchDir + "/" + names.at(i)), names.at(i).toUtf8());

    QVERIFY(writeFile(shell + "/" + names.at(0), "main"));
    QVERIFY(VudiruArborApplication::initPatchFolder(shell, patchDir));
    QCOMPARE(readAll(patchDir + "/arbor_main.pd"), QByteArray("main"));
}

void TestApplication::styleSheetsAreJoined()
{
    const QString dir = VudiruArborApplication::resourceDir();
    const QByteArray general = readAll(dir + "/style.qss");
    const QByteArray platform = readAll(dir + "/style_mac.qss");
    QVERIFY(!general.isEmpty());
    QVERIFY(!platform.isEmpty());
    QVERIFY(app()->loadStyleSheet());
    QCOMPARE(app()->styleSheet(), QString::fromLatin1(general + platform));
    // The sheets address the widgets by class and object name.
    for (const char* selector : {"CardWidget", "PrimeToggleButton", "TransposeButton", "CardConnectorOverlay",
                                 "#noteLabel", "#volumeSlider", "#textArea"})
        QVERIFY2(general.contains(selector), selector);
    app()->setStyleSheet(QString());
}

void TestApplication::corruptOptionsFileIsKept()
{
    const QString options = VudiruArborApplication::configDir() + "/options.json";
    const QString bad = options + ".bad";
    const QByteArray broken = "{ \"masterVolume\": 0.5, oops";
    Settings* settings = app()->settings();

    // The copy can be made: the defaults replace the file at shutdown, the
    // user's text survives beside it.
    QVERIFY(writeFile(options, broken));
    QVERIFY(!app()->initSettings());
    QCOMPARE(readAll(bad), broken);
    QVERIFY(settings->saveOnTerm());
    QCOMPARE(settings->mMasterVolume, 0.75f);
    settings->term();
    const QJsonDocument saved = QJsonDocument::fromJson(readAll(options));
    QVERIFY(saved.isObject());
    QCOMPARE(saved.object().value("masterVolume").toDouble(), 0.75);
    QCOMPARE(readAll(bad), broken);

    // No copy possible (a folder is in the way): the file is not overwritten.
    QVERIFY(QFile::remove(bad));
    QVERIFY(QDir().mkpath(bad));
    QVERIFY(writeFile(options, broken));
    QVERIFY(!app()->initSettings());
    QVERIFY(!settings->saveOnTerm());
    settings->term();
    QCOMPARE(readAll(options), broken);

    // A readable file loads without any copy.
    QVERIFY(QDir(bad).removeRecursively());
    QVERIFY(writeFile(options, "{ \"udpPort\": 9999 }"));
    settings->setSaveOnTerm(true);
    QVERIFY(app()->initSettings());
    QCOMPARE(settings->mUdpPort, 9999);
    QVERIFY(!QFileInfo::exists(bad));
}

void TestApplication::resources()
{
    QResource about(QStringLiteral(":/text/about.html"));
    QVERIFY(about.isValid());
    QCOMPARE(about.compressionAlgorithm(), QResource::NoCompression);
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(about.data()), int(about.size()));
    for (const char* part : {"UTF-8", "#b4b4aa", "<h4>", "Elmsby Vudiru Arbor", "version <version>", "<a href=",
                             "Qt", "libpd", "PortAudio"})
        QVERIFY2(text.contains(QLatin1String(part)), part);
    for (const char* icon : {":/icons/arrowleft.png", ":/icons/arrowright.png", ":/icons/cog.png",
                             ":/icons/logo.png", ":/icons/logo_no_text.png"})
        QVERIFY2(!QPixmap(QLatin1String(icon)).isNull(), icon);
}

namespace
{
struct Run
{
    int exitCode = -1;
    QProcess::ExitStatus status = QProcess::CrashExit;
    QString output;
};

Run runProgram(const QString& program, const QString& dataHome)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", dataHome);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("ARBOR_NO_MODAL_BOXES", "1");
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, QStringList());
    Run run;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        run.output = "did not finish";
        return run;
    }
    run.exitCode = process.exitCode();
    run.status = process.exitStatus();
    run.output = QString::fromLocal8Bit(process.readAll());
    return run;
}

QStringList filesBelow(const QString& dir)
{
    QStringList files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    return files;
}

// A copy of the program in its own folder, so that the resource folder holds
// only what a test puts there.
QString copyProgram(const QString& binDir)
{
    const QString program = binDir + "/arbor";
    if (!QDir().mkpath(binDir) || !QFile::copy(QStringLiteral(ARBOR_BINARY_DIR "/arbor"), program))
        return QString();
    return program;
}
}

void TestApplication::headlessConfigDirFailure()
{
    QTemporaryDir dir(QDir::tempPath() + "/blocked home XXXXXX");
    QVERIFY(dir.isValid());
    // A regular file where the config folder should be.
    QVERIFY(writeFile(dir.path() + "/Elmsby Vudiru Arbor", "not a folder"));

    const Run run = runProgram(QStringLiteral(ARBOR_BINARY_DIR "/arbor"), dir.path());
    QCOMPARE(run.status, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.output.contains("Creation of config directory failed."), qPrintable(run.output));
    QCOMPARE(filesBelow(dir.path()), QStringList{dir.path() + "/Elmsby Vudiru Arbor"});
    QCOMPARE(readAll(dir.path() + "/Elmsby Vudiru Arbor"), QByteArray("not a folder"));
}

void TestApplication::headlessStyleSheetFailure()
{
    QTemporaryDir dir(QDir::tempPath() + "/no style XXXXXX");
    QVERIFY(dir.isValid());
    const QString program = copyProgram(dir.path() + "/bin dir");
    QVERIFY(!program.isEmpty());
    const QString dataHome = dir.path() + "/data home";

    const Run run = runProgram(program, dataHome);
    QCOMPARE(run.status, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 1);
    const QString config = dataHome + "/Elmsby Vudiru Arbor";
    const QString log = QString::fromUtf8(readAll(config + "/log.txt"));
    QVERIFY2(log.contains("Starting app at "), qPrintable(log));
    QVERIFY2(log.contains(QRegularExpression("\\nCRITICAL:\\n" + STAMP + "Failed to find style sheet file .*"
                                             "bin dir/style.qss\\.\\n\\n")),
             qPrintable(log));
    QVERIFY(log.contains("Initialisation of style sheet failed."));
    // Nothing after the failed step ran: no options were written.
    QVERIFY(!QFileInfo::exists(config + "/options.json"));
}

void TestApplication::headlessFailureAfterEngineStart()
{
    // Style sheets present, shell patches missing: start-up gets past the
    // engine (and the audio device, where the machine has one) and stops at
    // the patch folder. The half-started program must end cleanly, without
    // saving its options.
    QTemporaryDir dir(QDir::tempPath() + "/no patches XXXXXX");
    QVERIFY(dir.isValid());
    const QString binDir = dir.path() + "/bin dir";
    const QString program = copyProgram(binDir);
    QVERIFY(!program.isEmpty());
    for (const char* sheet : {"/style.qss", "/style_mac.qss"})
        QVERIFY(QFile::copy(QStringLiteral(ARBOR_BINARY_DIR) + sheet, binDir + sheet));
    const QString dataHome = dir.path() + "/data home";
    const QString config = dataHome + "/Elmsby Vudiru Arbor";
    QVERIFY(QDir().mkpath(config));
    const QByteArray options = "{ \"masterVolume\": 0.25 }";
    QVERIFY(writeFile(config + "/options.json", options));

    const Run run = runProgram(program, dataHome);
    QCOMPARE(run.status, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 1);
    const QString log = QString::fromUtf8(readAll(config + "/log.txt"));
    const bool audioFailed = log.contains("Initialisation of audio device failed.");
    const bool patchesFailed = log.contains("Initialisation of patch directory failed.");
    QVERIFY2(audioFailed != patchesFailed, qPrintable(log));
    QCOMPARE(readAll(config + "/options.json"), options);
    QVERIFY(!QFileInfo::exists(config + "/arbor_v15.json"));
}

int main(int argc, char** argv)
{
    QTemporaryDir tempDir(QDir::tempPath() + "/arbor app test XXXXXX");
    if (!tempDir.isValid())
        return 2;
    sTempDir = &tempDir;
    qputenv("XDG_DATA_HOME", QFile::encodeName(tempDir.path() + "/data home"));
    qputenv("ARBOR_NO_MODAL_BOXES", "1");

    // The application parses its arguments as module flags; the test
    // framework's own arguments go to qExec only.
    static int appArgc = 1;
    static char appName[] = "tst_application";
    static char* appArgv[] = {appName, nullptr};
    VudiruArborApplication application(appArgc, appArgv);
    TestApplication test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_application.moc"
