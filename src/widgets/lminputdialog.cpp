#include "lminputdialog.h"

#include "suportprotocol.h"
#include "trigvoltage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

const int maxStepTime = 2000000000;

QWidget* rowWidget(QHBoxLayout* layout)
{
    auto* row = new QWidget;
    row->setLayout(layout);
    return row;
}

} // namespace

LMInputDialog::LMInputDialog(QWidget* parent)
    : QDialog(parent)
{
}

ALARM_PARAM_T LMInputDialog::getDouble(QWidget* parent, const QString& _title, const QString& _str1,
    const QString& _str2, ALARM_PARAM_T _val, double _min, double _max, int _decimals, bool* _ok)
{
    ALARM_PARAM_T result = _val;

    // On the heap: if the parent goes away while the dialog is open, it takes
    // the dialog with it and exec() returns; the guard then sees it gone.
    QPointer<QDialog> dialog = new QDialog(parent);
    dialog->setWindowTitle(_title);

    auto* promptLabel = new QLabel(_str1);
    promptLabel->setWordWrap(true);

    auto* unitLabel = new QLabel(_str2);
    auto* unitLayout = new QHBoxLayout;
    unitLayout->addStretch();
    unitLayout->addWidget(unitLabel);
    unitLayout->setContentsMargins(9, 0, 9, 0);

    auto* soundBox = new QCheckBox(tr("Sound switch"));
    soundBox->setStyleSheet(QStringLiteral("font-size: 9pt"));
    soundBox->setCheckState(_val.soundSwitch ? Qt::Checked : Qt::Unchecked);
    auto* soundLayout = new QHBoxLayout;
    soundLayout->addWidget(soundBox);
    soundLayout->addStretch();
    soundLayout->setContentsMargins(9, 0, 9, 0);

    QFont font;
    font.setPointSize(11);
    promptLabel->setFont(font);
    unitLabel->setFont(font);

    auto* valueBox = new QDoubleSpinBox;
    // Decimals first: the range and the value are rounded to the decimals in
    // force, so setting them later would lose digits of the value shown.
    valueBox->setDecimals(_decimals);
    valueBox->setRange(_min, _max);
    valueBox->setValue(_val.value);
    valueBox->setAccelerated(true);
    valueBox->setAlignment(Qt::AlignHCenter);
    valueBox->setFont(font);
    valueBox->setMinimumWidth(120);
    auto* valueLayout = new QHBoxLayout;
    valueLayout->addStretch();
    valueLayout->addWidget(valueBox);
    valueLayout->addStretch();
    valueLayout->setContentsMargins(9, 10, 9, 0);

    auto* okButton = new QPushButton(QStringLiteral("  OK  "));
    auto* cancelButton = new QPushButton(QStringLiteral("Cancel"));
    QDialog* dlg = dialog.data();
    QObject::connect(cancelButton, &QPushButton::clicked, dlg, &QDialog::reject);
    QObject::connect(okButton, &QPushButton::clicked, dlg, [&result, valueBox, soundBox, _ok, dlg]() {
        result.value = valueBox->value();
        result.soundSwitch = soundBox->checkState() != Qt::Unchecked;
        if (_ok)
            *_ok = true;
        dlg->accept();
    });
    auto* buttonLayout = new QHBoxLayout;
    buttonLayout->addStretch();
    buttonLayout->addWidget(okButton);
    buttonLayout->addWidget(cancelButton);

    auto* layout = new QVBoxLayout(dlg);
    layout->addWidget(promptLabel);
    layout->addWidget(rowWidget(valueLayout));
    layout->addWidget(rowWidget(unitLayout));
    layout->addWidget(rowWidget(soundLayout));
    layout->addWidget(rowWidget(buttonLayout));

    dialog->exec();
    delete dialog.data();
    return result;
}

TRIGGER_PARAM_T LMInputDialog::getTrigData(QWidget* parent, TRIGGER_PARAM_T _val, bool* _ok)
{
    TRIGGER_PARAM_T result = _val;
    SuportProtocol table;
    const QVector<QList<int>>& allProtVol = table.allProtVol;

    // A step read from a damaged plan file may name a protocol or a voltage
    // outside the table: show and return the protocol's default voltage
    // instead of guessing one (never a higher voltage than asked for).
    if (result.indexOfProt < 0 || result.indexOfProt >= allProtVol.size()) {
        result.indexOfProt = 0;
        result.indexOfVol = defaultVolIndex[0];
    } else if (result.indexOfVol < 0 || result.indexOfVol >= allProtVol[result.indexOfProt].size()) {
        result.indexOfVol = defaultVolIndex[result.indexOfProt];
    }
    // The step returned is the one the dialog shows.
    result.time = qBound(0, result.time, maxStepTime);

    QPointer<QDialog> dialog = new QDialog(parent);
    QDialog* dlg = dialog.data();
    dlg->setWindowTitle(QStringLiteral("Choose protocol"));

    auto* protBox = new QComboBox;
    protBox->addItems(
        { QStringLiteral("QC2.0"), QStringLiteral("QC3.0"), tr("HUAWEI FCP"), tr("HUAWEI SCP"), tr("SAMSUNG AFC") });
    protBox->setCurrentIndex(result.indexOfProt);
    protBox->setStyleSheet(QStringLiteral("font-size: 9pt;"));

    auto* volSlider = new QSlider(Qt::Horizontal);
    volSlider->setPageStep(1);
    // HUAWEI SCP has 336 positions: give the mouse room to pick one.
    volSlider->setMinimumWidth(200);
    volSlider->setRange(0, allProtVol[result.indexOfProt].size() - 1);
    volSlider->setValue(result.indexOfVol);

    auto* volLabel = new QLabel(voltageText(allProtVol[result.indexOfProt][result.indexOfVol]));
    volLabel->setStyleSheet(QStringLiteral("font-size: 9pt;"));

    // Connected only after the set-up above, so building the dialog runs none of them.
    QObject::connect(protBox, QOverload<int>::of(&QComboBox::currentIndexChanged), dlg,
        [&result, &allProtVol, volSlider, volLabel](int i) {
            if (i < 0 || i >= allProtVol.size())
                return;
            result.indexOfProt = i;
            // Always the protocol's default, even when the old one offered the same voltage.
            volSlider->setRange(0, allProtVol[i].size() - 1);
            volSlider->setValue(defaultVolIndex[i]);
            result.indexOfVol = volSlider->value();
            volLabel->setText(voltageText(allProtVol[i][result.indexOfVol]));
        });
    QObject::connect(volSlider, &QSlider::valueChanged, dlg, [&result, &allProtVol, protBox, volLabel](int p) {
        const int prot = protBox->currentIndex();
        if (prot < 0 || prot >= allProtVol.size() || p < 0 || p >= allProtVol[prot].size())
            return;
        result.indexOfVol = p;
        volLabel->setText(voltageText(allProtVol[prot][p]));
    });

    auto* firstLayout = new QHBoxLayout;
    firstLayout->addWidget(protBox);
    firstLayout->addWidget(volSlider);
    firstLayout->addWidget(volLabel);

    auto* timeLabel = new QLabel(tr("TIME:"));
    timeLabel->setStyleSheet(QStringLiteral("font-size: 9pt;"));

    auto* timeBox = new QSpinBox;
    timeBox->setStyleSheet(QStringLiteral("font-size: 9pt;"));
    timeBox->setRange(0, maxStepTime);
    timeBox->setValue(result.time);
    timeBox->setAccelerated(true);
    timeBox->setAlignment(Qt::AlignHCenter);
    timeBox->setMinimumWidth(120);
    QObject::connect(timeBox, QOverload<int>::of(&QSpinBox::valueChanged), dlg, [&result](int t) { result.time = t; });

    auto* msLabel = new QLabel(QStringLiteral("(ms)"));
    msLabel->setStyleSheet(QStringLiteral("font-size: 9pt;"));

    auto* secondLayout = new QHBoxLayout;
    secondLayout->addWidget(timeLabel);
    secondLayout->addWidget(timeBox);
    secondLayout->addWidget(msLabel);
    secondLayout->addStretch();

    auto* okButton = new QPushButton(QStringLiteral("  OK  "));
    auto* cancelButton = new QPushButton(QStringLiteral("Cancel"));
    QObject::connect(cancelButton, &QPushButton::clicked, dlg, &QDialog::reject);
    QObject::connect(okButton, &QPushButton::clicked, dlg, [_ok, dlg]() {
        if (_ok)
            *_ok = true;
        dlg->accept();
    });
    auto* thirdLayout = new QHBoxLayout;
    thirdLayout->addStretch();
    thirdLayout->addWidget(okButton);
    thirdLayout->addWidget(cancelButton);

    auto* layout = new QVBoxLayout(dlg);
    layout->addWidget(rowWidget(firstLayout));
    layout->addWidget(rowWidget(secondLayout));
    layout->addWidget(rowWidget(thirdLayout));

    dialog->exec();
    delete dialog.data();
    return result;
}
