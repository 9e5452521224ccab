#include "TweakDialog.h"

#include <QDebug>
#include <QHBoxLayout>
#include <QLabel>
#include <QMetaMethod>
#include <QPushButton>
#include <QSignalMapper>
#include <QSpinBox>
#include <QVBoxLayout>

TweakDialog::TweakDialog(QWidget* mainWindow)
    : QDialog(mainWindow)
{
    setWindowTitle("Tweak Dialog");
    mLayout = new QVBoxLayout(this);
    mUpdateButton = new QPushButton("Update", this);
    mLayout->addWidget(mUpdateButton);
    connect(mUpdateButton, &QPushButton::clicked, this, &TweakDialog::updateTweaks);

    mMapper = new QSignalMapper(this);
    connect(mMapper, &QSignalMapper::mappedInt, this, &TweakDialog::valueChanged);
}

void TweakDialog::addInt(const QString& name, int* value)
{
    if (!value)
    {
        qWarning() << "Tweak value without storage:" << name;
        return;
    }
    auto* row = new QHBoxLayout;
    auto* label = new QLabel(name, this);
    auto* spin = new QSpinBox(this);
    spin->setRange(-1000, 1000);
    spin->setValue(*value);
    row->addWidget(label);
    row->addWidget(spin);
    mLayout->insertLayout(mLayout->count() - 1, row);  // above "Update"

    const int index = mValues.size();
    mValues.append(qMakePair(spin, value));
    mMapper->setMapping(spin, index);
    connect(spin, QOverload<int>::of(&QSpinBox::valueChanged), mMapper, QOverload<>::of(&QSignalMapper::map));
}

QSpinBox* TweakDialog::spinBox(int index) const
{
    return (index >= 0 && index < mValues.size()) ? mValues.at(index).first : nullptr;
}

void TweakDialog::valueChanged(int index)
{
    if (index < 0 || index >= mValues.size())
        return;
    *mValues.at(index).second = mValues.at(index).first->value();
}

void TweakDialog::updateTweaks()
{
    if (isSignalConnected(QMetaMethod::fromSignal(&TweakDialog::updateRequested)))
    {
        emit updateRequested();
        return;
    }
    QWidget* window = parentWidget();
    if (!window || !QMetaObject::invokeMethod(window, "updateTweaks"))
        qWarning() << "Tweak update: no main window to apply the layout constants";
}
