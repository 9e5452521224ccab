#include "DiagnosticsDialog.h"

#include "VudiruArborApplication.h"

#include <QDialogButtonBox>
#include <QPlainTextEdit>
#include <QVBoxLayout>

DiagnosticsDialog::DiagnosticsDialog(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("DiagnosticsDialog"));
    setWindowTitle(tr("Diagnostics"));
    resize(600, 500);
    setWindowFlags(windowFlags() | Qt::WindowMaximizeButtonHint);

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(12);
    layout->setContentsMargins(12, 12, 12, 12);

    mTextArea = new QPlainTextEdit(this);
    mTextArea->setObjectName(QStringLiteral("textArea"));
    mTextArea->setReadOnly(true);
    mTextArea->setBackgroundVisible(true);
    layout->addWidget(mTextArea);

    auto* buttonBox = new QDialogButtonBox(QDialogButtonBox::Close, Qt::Horizontal, this);
    buttonBox->setObjectName(QStringLiteral("buttonBox"));
    layout->addWidget(buttonBox);
    connect(buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);

    if (auto* app = qobject_cast<VudiruArborApplication*>(QCoreApplication::instance()))
        connect(app, &VudiruArborApplication::diagnosticMessage, this, &DiagnosticsDialog::onMessage);
}

void DiagnosticsDialog::onMessage(const QString& text)
{
    mTextArea->appendPlainText(text);
}
