// The application's start-up steps, log handler and diagnostics window on
// real files in a temporary data folder, and headless runs of the real
// program for the start-up failures that end it.

#include "DiagnosticsDialog.h"
#include "VudiruArborApplication.h"

#include <QtTest>
#include <QtWidgets>

namespace {
VudiruArborApplication* app() { return qobject_cast<VudiruArborApplication*>(QCoreApplication::instance()); }

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

const QString STAMP = "\\[\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d\\] ";

// Runs f with the application's log handler installed; the test framework's
// handler is back afterwards.
template <typename F> void withLogHandler(F f) {
    const QtMessageHandler test = qInstallMessageHandler(VudiruArborApplication::loggingMessageHandler);
    f();
    qInstallMessageHandler(test);
}

// Opens (appends to) the log file, keeping the test framework's handler.
bool openLog() {
    const QtMessageHandler test = qInstallMessageHandler(nullptr);
    const bool opened = app()->openLogFile();
    qInstallMessageHandler(test);
    return opened;
}
}

class TestApplication : public QObject {
    Q_OBJECT
    QString mLog;

private slots:
    void initTestCase() {
        QVERIFY(VudiruArborApplication::configDir().contains(' '));
        QVERIFY(app()->createConfigDir());
        mLog = VudiruArborApplication::configDir() + "/log.txt";
        QCOMPARE(app()->logFilePath(), mLog);
    }

    // The arguments name the modules whose messages the window shows.
    void logEntries_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("file"); // empty: no source path in the context
        QTest::addColumn<QString>("logged");  // pattern of the text appended to the file
        QTest::addColumn<bool>("shown");
        const QString entry = STAMP + "\"message\" 42\\n";
        const QString line = "^" + entry + "$", critical = "^\\nCRITICAL:\\n" + entry + "\\n$";
        const QByteArray player = "/work/src/player/PdPlayer.cpp", arbor = "/work/src/model/Arbor.cpp", noPath;
        const QStringList none, pd{"-PdPlayer"};
        const int debug = QtDebugMsg, warning = QtWarningMsg, severe = QtCriticalMsg;
        QTest::newRow("no flags, debug dropped") << none << debug << arbor << "^$" << false;
        QTest::newRow("no flags, warning: line only") << none << warning << arbor << line << false;
        QTest::newRow("no flags, warning without path") << none << warning << noPath << line << false;
        QTest::newRow("no flags, critical") << none << severe << arbor << critical << false;
        QTest::newRow("no flags, fatal") << none << int(QtFatalMsg) << arbor << QString(critical).replace("CRITICAL", "FATAL") << false;
        QTest::newRow("pdplayer, its debug: window only") << pd << debug << player << "^$" << true;
        QTest::newRow("pdplayer, its warning: both") << pd << warning << player << line << true;
        QTest::newRow("pdplayer, its header") << pd << warning << QByteArray("/src/player/PdPlayer.h") << line << true;
        QTest::newRow("pdplayer, backslashes") << pd << warning << QByteArray("C:\\src\\PdPlayer.cpp") << line << true;
        QTest::newRow("pdplayer, other's warning: file only") << pd << warning << arbor << line << false;
        QTest::newRow("pdplayer, other's debug: nothing") << pd << debug << arbor << "^$" << false;
        QTest::newRow("pdplayer, no path: dropped") << pd << severe << noPath << "^$" << false;
        QTest::newRow("pdplayer, bare name: dropped") << pd << warning << QByteArray("PdPlayer.cpp") << "^$" << false;
        QTest::newRow("plain pdplayer") << QStringList{"pdplayer"} << debug << player << "^$" << true;
        QTest::newRow("all, any debug shown") << QStringList{"-ALL"} << debug << arbor << "^$" << true;
        QTest::newRow("all, critical both") << QStringList{"all"} << severe << arbor << critical << true;
        QTest::newRow("--all is no wildcard") << QStringList{"--all"} << debug << arbor << "^$" << false;
        QTest::newRow("all and a module") << QStringList{"UdpListener", "all"} << debug << arbor << "^$" << true;
    }

    void logEntries() {
        QFETCH(QStringList, arguments);
        QFETCH(int, type);
        QFETCH(QByteArray, file);
        QFETCH(QString, logged);
        QFETCH(bool, shown);
        QVERIFY(openLog());
        DiagnosticsDialog dialog;
        app()->setFlags(VudiruArborApplication::parseFlags(arguments));
        const qint64 before = QFileInfo(mLog).size();
        const QMessageLogContext context(file.isEmpty() ? nullptr : file.constData(), 17, "f()", "default");
        VudiruArborApplication::loggingMessageHandler(QtMsgType(type), context, "\"message\" 42");
        app()->setFlags({});
        const QString appended = readAll(mLog).mid(int(before));
        QVERIFY2(QRegularExpression(logged).match(appended).hasMatch(), qPrintable(appended));
        // In the window: the stamp's own blank and the separator.
        const QString text = dialog.findChild<QPlainTextEdit*>("textArea")->toPlainText();
        QCOMPARE(QRegularExpression("^" + STAMP + " \"message\" 42$").match(text).hasMatch(), shown);
        QCOMPARE(text.isEmpty(), !shown);
    }

    // The engine's audio-thread lines (what Pd prints among them) are shown
    // for its module too.
    void engineDebug_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("shown");
        for (const QStringList& arguments : QList<QStringList> {{}, {"Arbor"}, {"PdPlayer"}, {"-all"}})
            QTest::newRow(qPrintable(arguments.join(' '))) << arguments << (arguments.size() && arguments[0] != "Arbor");
    }
    void engineDebug()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, shown);
        DiagnosticsDialog dialog;
        app()->setFlags(VudiruArborApplication::parseFlags(arguments));
        const QtMessageHandler previous = qInstallMessageHandler(&VudiruArborApplication::loggingMessageHandler);
        PdPlayer::pdPrintHook("tick\n");
        qInstallMessageHandler(previous);
        app()->setFlags({});
        QCOMPARE(dialog.findChild<QPlainTextEdit*>("textArea")->toPlainText().contains("libPD: \"tick\""), shown);
    }

    // Each run appends a header. Entries of concurrent writers stay whole in
    // the file and reach the window through the event queue; closing the
    // window only hides it and keeps the text.
    void logFile() {
        QFile::remove(mLog);
        QVERIFY(openLog() && openLog());
        const QString headers = readAll(mLog);
        const QString header = "\\n-{78}\\nStarting app at \\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{1,3}\\n";
        QVERIFY2(QRegularExpression("^" + header + header + "$").match(headers).hasMatch(), qPrintable(headers));
        DiagnosticsDialog dialog;
        auto* text = dialog.findChild<QPlainTextEdit*>("textArea");
        dialog.show();
        emit app()->diagnosticMessage("first");
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(!dialog.isVisible());
        const int threads = 4, perThread = 300;
        const QString padding(120, 'x');
        std::vector<std::unique_ptr<QThread>> workers;
        app()->setFlags({"tst_application"});
        withLogHandler([&] {
            for (int t = 0; t < threads; ++t)
                workers.emplace_back(QThread::create([=] {
                    for (int i = 0; i < perThread; ++i)
                        (i % 7 ? qWarning() : qCritical()).noquote() << QString("%1-%2").arg(t).arg(i) << padding;
                }))->start();
            for (auto& worker : workers)
                worker->wait();
        });
        app()->setFlags({});
        QCOMPARE(text->toPlainText(), QString("first"));
        QTRY_COMPARE(text->toPlainText().count(QRegularExpression("\\n" + STAMP + " \\d-\\d+ x{120}")), threads * perThread);
        // Every entry once, with its stamp, criticals framed by their header and an empty line.
        const QString log = QString(readAll(mLog)).mid(headers.size()).replace(QRegularExpression(STAMP), "[T] ");
        int size = 0;
        for (int t = 0; t < threads; ++t)
            for (int i = 0; i < perThread; ++i) {
                const QString entry = QString("[T] %1-%2 %3\n").arg(t).arg(i).arg(padding);
                QVERIFY(log.contains(i % 7 ? entry : "\nCRITICAL:\n" + entry + "\n"));
                size += entry.size() + (i % 7 ? 0 : 12);
            }
        QCOMPARE(log.size(), size);
    }

    void patchFolder_data() {
        QTest::addColumn<QString>("installed"); // the copy of arbor_main.pd already in the folder
        QTest::addColumn<bool>("shipped");      // arbor_main.pd among the resources
        QTest::addColumn<QByteArray>("result");
        QTest::newRow("first start") << "none" << true << QByteArray("new");
        QTest::newRow("newer copy kept") << "newer" << true << QByteArray("installed");
        QTest::newRow("older copy replaced") << "older" << true << QByteArray("new");
        QTest::newRow("one missing, the others copied") << "none" << false << QByteArray();
    }

    void patchFolder() {
        QFETCH(QString, installed);
        QFETCH(bool, shipped);
        QFETCH(QByteArray, result);
        QTemporaryDir dir(QDir::tempPath() + "/patch folder XXXXXX");
        const QString shell = dir.path() + "/patches/shell", patchDir = dir.path() + "/config dir/patch";
        const QStringList names = VudiruArborApplication::shellPatchNames();
        QVERIFY(QDir().mkpath(shell) && QDir().mkpath(patchDir) && names.first() == "arbor_main.pd");
        for (const QString& name : names.mid(1))
            QVERIFY(writeFile(shell + "/" + name, name.toUtf8()));
        // The second file must be strictly younger; file system clocks are
        // coarse, so it is written again until its time differs.
        const QString source = shell + "/arbor_main.pd", copy = patchDir + "/arbor_main.pd";
        auto writeYounger = [](const QString& path, const QByteArray& bytes, const QString& older) {
            for (QDeadlineTimer limit(5000); !limit.hasExpired();)
                if (QFile::remove(path), writeFile(path, bytes) &&
                    VudiruArborApplication::creationTime(older) < VudiruArborApplication::creationTime(path))
                    return true;
            return false;
        };
        if (shipped && installed == "older")
            QVERIFY(writeFile(copy, "installed") && writeYounger(source, "new", copy));
        else if (shipped)
            QVERIFY(writeFile(source, "new") && (installed == "none" || writeYounger(copy, "installed", source)));
        else
            QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("^Failed to copy \".*arbor_main.pd\" to \".*\"$"));
        for (int run = 0; run < (shipped ? 2 : 1); ++run) { // a second run changes nothing
            QCOMPARE(VudiruArborApplication::initPatchFolder(shell, patchDir), shipped);
            QCOMPARE(readAll(copy), result);
            for (const QString& name : names.mid(1))
                QCOMPARE(readAll(patchDir + "/" + name), name.toUtf8());
        }
    }

    void corruptOptionsFileIsKept() {
        const QString options = VudiruArborApplication::configDir() + "/options.json";
        const QString bad = options + ".bad";
        const QByteArray broken = "{ \"masterVolume\": 0.5, oops";
        Settings* settings = app()->settings();
        // With a copy beside it, the defaults replace the file at shutdown;
        // earlier copies move on to numbered names, five at most.
        for (char run = '1'; run <= '7'; ++run)
            QVERIFY(writeFile(options, broken + run) && !app()->initSettings() && settings->saveOnTerm());
        settings->term();
        QCOMPARE(QJsonDocument::fromJson(readAll(options)).object().value("masterVolume").toDouble(), 0.75);
        QByteArray copies; // the last character of each, newest first
        for (const char* suffix : {"", ".1", ".2", ".3", ".4", ".5"})
            copies += readAll(bad + suffix).right(1);
        QCOMPARE(copies, QByteArray("76543"));
        // Saves that fail (a folder is in the way) tell the user once where.
        const qint64 logged = QFileInfo(mLog).size();
        QVERIFY(openLog() && QFile::remove(options) && QDir().mkpath(options));
        withLogHandler([] { app()->saveSettings(), app()->saveSettings(); });
        const QRegularExpression told("not shown .*: The options cannot be saved to .*options.json\\. ");
        QVERIFY(QString(readAll(mLog).mid(logged)).count(told) == 1 && QDir(options).removeRecursively());
        // No copy possible (a folder is in the way): the file is not overwritten.
        QVERIFY(QFile::remove(bad) && QDir().mkpath(bad) && writeFile(options, broken));
        QVERIFY(!app()->initSettings() && !settings->saveOnTerm());
        settings->term();
        QCOMPARE(readAll(options), broken);
        // A readable file loads without any copy.
        QVERIFY(QDir(bad).removeRecursively() && writeFile(options, "{ \"udpPort\": 9999 }"));
        QVERIFY(app()->initSettings() && settings->mUdpPort == 9999 && !QFileInfo::exists(bad));
    }

    // Saved main window geometry, "size at position", brought onto the screen (800 by 600).
    void windowOnScreen_data() {
        QTest::addColumn<QString>("saved");
        QTest::addColumn<QString>("used");
        QTest::newRow("none saved") << "-1,-1 at -1,-1" << "-1,-1 at -1,-1";
        QTest::newRow("fits") << "640,480 at 100,50" << "640,480 at 100,50";
        QTest::newRow("too large") << "100000,100000 at -1,-1" << "800,600 at -1,-1";
        QTest::newRow("off the screen") << "640,480 at -30000,5000" << "640,480 at 0,120";
        QTest::newRow("partly off") << "400,300 at 700,-20" << "400,300 at 400,0";
    }

    void windowOnScreen() {
        QFETCH(QString, saved);
        QFETCH(QString, used);
        const QStringList was = saved.split(" at "), is = used.split(" at ");
        Settings settings;
        settings.read({{"windowSize", was[0]}, {"windowPos", was[1]}});
        for (int i : {0, 1})
            if (was[i] != is[i])
                QTest::ignoreMessage(QtWarningMsg, qPrintable(QString("Option window%1 value %2 is not usable, using %3 instead.")
                                                                  .arg(i ? "Pos" : "Size", was[i], is[i])));
        VudiruArborApplication::fitWindowToScreen(settings);
        const QSize size = settings.mWindowSize;
        QCOMPARE(Settings::pairText(size.width(), size.height()) + " at " + Settings::pairText(settings.mWindowPos.x(), settings.mWindowPos.y()), used);
    }

    void headlessFailures_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("files");
        const QString config = "/Elmsby Vudiru Arbor";
        QTest::newRow("config folder blocked") << "blocked" << "Creation of config directory failed." << QStringList{config};
        QTest::newRow("no style sheets") << "bare"
                                         << "\\nCRITICAL:\\n" + STAMP + "Failed to find style sheet file "
                                                ".*bin dir/style.qss\\.\\n\\n.*Initialisation of style sheet failed."
                                         << QStringList{config + "/log.txt"};
        QTest::newRow("no shell patches") << "sheets" << "Initialisation of (audio device|patch directory) failed."
                                          << QStringList{config + "/log.txt", config + "/options.json"};
        QTest::newRow("no copy of bad options") << "bad options" << "The options cannot be saved to .*options.json\\..*Init"
                                                << QStringList{config + "/log.txt", config + "/options.json"};
    }

    // Exit code 1, the failed step's message, and no step after it: no
    // options written (nor overwritten) and no lattice file.
    void headlessFailures() {
        QFETCH(QString, setup);
        QFETCH(QString, message);
        QFETCH(QStringList, files);
        QTemporaryDir dir(QDir::tempPath() + "/headless run XXXXXX");
        const QString binDir = dir.path() + "/bin dir", config = dir.path() + "/Elmsby Vudiru Arbor";
        QVERIFY(QDir().mkpath(binDir) && QFile::copy(ARBOR_BINARY_DIR "/arbor", binDir + "/arbor"));
        const QByteArray options = setup == "bad options" ? "{ oops" : "{ \"masterVolume\": 0.25 }";
        if (setup == "blocked")
            QVERIFY(writeFile(config, "not a folder"));
        if (setup == "sheets" || setup == "bad options") {
            for (const char* sheet : {"/style.qss", "/style_mac.qss"})
                QVERIFY(QFile::copy(QString(ARBOR_BINARY_DIR) + sheet, binDir + sheet));
            QVERIFY(QDir().mkpath(config + (setup == "sheets" ? "" : "/options.json.bad")) && writeFile(config + "/options.json", options));
        }
        QProcess run;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", dir.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        run.setProcessEnvironment(env);
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.start(binDir + "/arbor", QStringList());
        QVERIFY(run.waitForFinished(120000));
        QVERIFY(run.exitStatus() == QProcess::NormalExit && run.exitCode() == 1);
        const QString said = run.readAll() + readAll(config + "/log.txt");
        QVERIFY2(said.contains(QRegularExpression(message, QRegularExpression::DotMatchesEverythingOption)), qPrintable(said));
        QStringList written;
        for (QDirIterator it(dir.path(), QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
            if (!it.next().contains("/bin dir/"))
                written << it.filePath().mid(dir.path().size());
        written.sort();
        QCOMPARE(written, files);
        if (setup != "blocked" && setup != "bare")
            QCOMPARE(readAll(config + "/options.json"), options);
    }
};

int main(int argc, char** argv) {
    QTemporaryDir data(QDir::tempPath() + "/arbor app test XXXXXX");
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path() + "/data home"));
    qputenv("ARBOR_NO_MODAL_BOXES", "1");
    // The application reads its arguments as module flags; the test
    // framework's own go to qExec only.
    int appArgc = 1;
    VudiruArborApplication application(appArgc, argv);
    TestApplication test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_application.moc"
