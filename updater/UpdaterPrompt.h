#pragma once

#include <QMessageBox>

#include <functional>

class QObject;

// Message boxes of the update check and download. Every box is shown
// non-modally and stays on top; its answer arrives later through a callback,
// so nothing waits in a nested event loop. With the environment variable
// ARBOR_NO_MODAL_BOXES set (and not "0") the box is not shown: its text is
// logged and the callback receives QMessageBox::NoButton ("not answered").
namespace UpdaterPrompt
{
using Answer = std::function<void(QMessageBox::StandardButton)>;

bool boxesSuppressed();

// Takes ownership of box (deleted when closed). The callback runs on the
// context object's thread and never after the context is destroyed.
void show(QMessageBox* box, QObject* context, const Answer& answer);

// A box with the common look: rich text, stay-on-top, no parent, and no say
// in whether the program ends when its last window closes.
QMessageBox* makeBox(QMessageBox::Icon icon, const QString& title, const QString& text,
                     const QString& informativeText, QMessageBox::StandardButtons buttons,
                     QMessageBox::StandardButton defaultButton);
}
