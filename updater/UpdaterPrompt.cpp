#include "UpdaterPrompt.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDebug>
#include <QPointer>
#include <QTimer>

namespace UpdaterPrompt
{

bool boxesSuppressed()
{
    const QByteArray value = qgetenv("ARBOR_NO_MODAL_BOXES");
    return !value.isEmpty() && value != "0";
}

QMessageBox* makeBox(QMessageBox::Icon icon, const QString& title, const QString& text,
                     const QString& informativeText, QMessageBox::StandardButtons buttons,
                     QMessageBox::StandardButton defaultButton)
{
    auto* box = new QMessageBox();
    box->setIcon(icon);
    box->setWindowTitle(title.isEmpty() ? QCoreApplication::applicationName() : title);
    box->setTextFormat(Qt::RichText);
    box->setText(text);
    box->setInformativeText(informativeText);
    box->setStandardButtons(buttons);
    if (defaultButton != QMessageBox::NoButton)
        box->setDefaultButton(defaultButton);
    box->setWindowModality(Qt::NonModal);
    box->setWindowFlags(box->windowFlags() | Qt::WindowStaysOnTopHint);
    // Closing the main window ends the program, whatever boxes are open.
    box->setAttribute(Qt::WA_QuitOnClose, false);
    return box;
}

void show(QMessageBox* box, QObject* context, const Answer& answer)
{
    if (boxesSuppressed()) {
        qWarning().noquote() << "Message box not shown (ARBOR_NO_MODAL_BOXES):" << box->text()
                             << box->informativeText();
        delete box;
        QTimer::singleShot(0, context, [answer] { answer(QMessageBox::NoButton); });
        return;
    }
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QMessageBox::finished, context, [box, answer](int) {
        QAbstractButton* clicked = box->clickedButton();
        answer(clicked ? box->standardButton(clicked) : QMessageBox::NoButton);
    });
    box->show();
}

}
