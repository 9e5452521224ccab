#include "TuningExport.h"

#include "ScalaTuning.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>

void exportTuningWithDialogs(QWidget* parent, const Arbor& arbor)
{
    QMessageBox choice(QMessageBox::Question, QObject::tr("Export tuning"),
                       QObject::tr("Export the sounding chord or the whole lattice as a Scala scale and keyboard mapping?"),
                       QMessageBox::Cancel, parent);
    QPushButton* chord = choice.addButton(QObject::tr("Sounding chord"), QMessageBox::AcceptRole);
    QPushButton* lattice = choice.addButton(QObject::tr("Whole lattice"), QMessageBox::AcceptRole);
    choice.setDefaultButton(chord);
    choice.exec();
    if (choice.clickedButton() != chord && choice.clickedButton() != lattice)
        return;
    const bool whole = choice.clickedButton() == lattice;

    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString suggested = QDir(folder).filePath(whole ? QStringLiteral("Arbor lattice.scl")
                                                          : QStringLiteral("Arbor chord.scl"));
    // The dialog itself asks before an existing scale is replaced.
    QString path = QFileDialog::getSaveFileName(parent, QObject::tr("Export tuning"), suggested,
                                                QObject::tr("Scala scale (*.scl)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().compare(QLatin1String("scl"), Qt::CaseInsensitive) != 0)
        path += QStringLiteral(".scl");
    const QFileInfo info(path);
    const QString kbm = info.dir().filePath(info.completeBaseName() + QStringLiteral(".kbm"));
    if (QFileInfo::exists(kbm)
        && QMessageBox::question(parent, QObject::tr("Export tuning"),
                                 QObject::tr("%1 already exists. Replace it?").arg(QDir::toNativeSeparators(kbm)))
               != QMessageBox::Yes)
        return;
    QString error;
    if (!ScalaTuning::exportTuning(arbor, whole, path, &error))
        QMessageBox::warning(parent, QObject::tr("Export tuning"), error);
}
