#include "usbprocotol.h"
#include "ui_usbprocotol.h"

#include "com_layer.h"
#include "guardeddialogs.h"
#include "lastfilepath.h"
#include "planfile.h"
#include "suportprotocol.h"
#include "trigvoltage.h"
#include "usbevent.h"

#include <QDateTime>
#include <QEvent>
#include <QFile>
#include <QHeaderView>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QSaveFile>
#include <QTimer>
#include <QTreeWidgetItem>

#include <climits>
#include <initializer_list>

namespace {

const char* const lastPathKey = "LastProtocolFilePath";
const char* const fileFilter = "pqz(*.pqz)";

const int tickMs = 1;
const int maxTries = 3; // retries after the first trigger

// Application mode: the only run mode in which the meter takes triggers.
const uint8_t applicationMode = 2;

} // namespace

UsbProcotol::UsbProcotol(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::UsbProcotol)
    , suportProtVol(new SuportProtocol)
    , autoTimer(new QTimer(this))
{
    ui->setupUi(this);
    ui->textBrowser->viewport()->setCursor(Qt::ArrowCursor);
    // Shared out evenly, so "SAMSUNG AFC" is not cut while the time column sprawls.
    ui->treeWidget->header()->setSectionResizeMode(QHeaderView::Stretch);

    connect(ui->treeWidget, &QTreeWidget::itemDoubleClicked, this, &UsbProcotol::itemDoubleClick);
    ui->btnPause->setEnabled(false);
    ui->btnStop->setEnabled(false);

    connect(
        ui->cBoxProtocol, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &UsbProcotol::comboxIndexChanged);
    connect(ui->sliderVol, &QSlider::valueChanged, this, &UsbProcotol::sliderChangeSlot);
    connect(ui->btnTrig, &QPushButton::clicked, this, &UsbProcotol::btnTrigOnceSlot);
    connect(ui->btnRelease, &QPushButton::clicked, this, &UsbProcotol::release);
    connect(ui->btnStart, &QPushButton::clicked, this, &UsbProcotol::btnStartSlot);
    connect(ui->btnPause, &QPushButton::clicked, this, &UsbProcotol::btnPauseSlot);
    connect(ui->btnStop, &QPushButton::clicked, this, &UsbProcotol::btnStopSlot);
    connect(ui->btnClear, &QPushButton::clicked, this, &UsbProcotol::btnClearSlot);
    connect(ui->btnImport, &QPushButton::clicked, this, &UsbProcotol::btnImportSlot);
    connect(ui->btnExport, &QPushButton::clicked, this, &UsbProcotol::btnExportSlot);
    connect(ui->btnAdd, &QPushButton::clicked, this, &UsbProcotol::btnAddSlot);
    connect(ui->btnDelete, &QPushButton::clicked, this, &UsbProcotol::btnDeleteSlot);
    connect(ui->btnMoveUp, &QPushButton::clicked, this, &UsbProcotol::btnMoveUp);
    connect(ui->btnMoveDown, &QPushButton::clicked, this, &UsbProcotol::btnMoveDown);
    connect(ui->btnClearText, &QPushButton::clicked, this, &UsbProcotol::btnClearTextSlot);

    autoTimer->setTimerType(Qt::PreciseTimer);
    autoTimer->setInterval(tickMs);
    connect(autoTimer, &QTimer::timeout, this, &UsbProcotol::autoTrigTimerSlot);
    stopAutoTrigger();

    // Built while the registry announces its newest meter; with no meter at
    // all the page stays unbound and sends nothing.
    app = UsbEvent::instance();
    comLayer = app->newestComLayer();
    if (comLayer) {
        connect(comLayer, &Com_Layer::deviceSendTrigSuccess, this, &UsbProcotol::trigSuccessSlot);
        connect(comLayer, &Com_Layer::deviceSendTrigFail, this, &UsbProcotol::trigFailSlot);
    }

    trigTryCount = 0;
    autoTrigWait = 0;
}

// The meter's window is closing: the runner stops with the page, and no
// release is sent.
UsbProcotol::~UsbProcotol()
{
    autoTimer->stop();
    delete suportProtVol;
    delete ui;
    ui = nullptr;
}

// ---------------------------------------------------------------- single trigger

void UsbProcotol::comboxIndexChanged(int _index)
{
    if (_index < 0 || _index >= suportProtVol->allProtVol.size())
        return;
    ui->sliderVol->setValue(0);
    ui->sliderVol->setRange(0, suportProtVol->allProtVol.at(_index).size() - 1);
    ui->sliderVol->setValue(defaultVolIndex[_index]);
    sliderChangeSlot(ui->sliderVol->value());
}

void UsbProcotol::sliderChangeSlot(int _val)
{
    const int prot = ui->cBoxProtocol->currentIndex();
    if (prot < 0 || prot >= suportProtVol->allProtVol.size())
        return;
    const QList<int>& volts = suportProtVol->allProtVol.at(prot);
    if (_val >= 0 && _val < volts.size())
        ui->labelVol->setText(voltageText(volts.at(_val)));
}

void UsbProcotol::btnTrigOnceSlot()
{
    if (!inApplicationMode()) {
        warn(tr("Please switch to application mode."));
        return;
    }
    trigOnce(ui->cBoxProtocol->currentIndex(), ui->sliderVol->value());
    trigTryCount = 0;
    textBrowserAppend(tr("Single trigger: The protocol is %1, the voltage is %2.")
                          .arg(ui->cBoxProtocol->currentText(), ui->labelVol->text()));
}

void UsbProcotol::trigOnce(int _prot, int _vol)
{
    trigIndex = _prot;
    trigVol = _vol;
    if (!comLayer || _prot < 0 || _prot >= suportProtVol->allProtVol.size() || _vol < 0
        || _vol >= suportProtVol->allProtVol.at(_prot).size())
        return;
    const int mv = suportProtVol->allProtVol.at(_prot).at(_vol);
    quint8 payload[3] = { quint8(_prot), quint8(mv & 0xFF), quint8((mv >> 8) & 0xFF) };
    comLayer->addPack(Com_Layer::PC_APP_SET_CHARGE_PROT, payload, sizeof payload);
}

void UsbProcotol::release()
{
    if (!inApplicationMode()) {
        warn(tr("Please switch to application mode."));
        return;
    }
    comLayer->addPack(Com_Layer::PC_APP_RELEASE_CHARGE_PROT, nullptr, 0);
    textBrowserAppend(tr("Release trigger."));
}

// Both replies are taken whoever sent the trigger and whatever the runner does.
void UsbProcotol::trigSuccessSlot()
{
    textBrowserAppend(tr("Triggered successfully."));
    autoTrigWait = 1;
}

void UsbProcotol::trigFailSlot()
{
    textBrowserAppend(tr("Trigger failed."));
    if (trigTryCount < maxTries) {
        textBrowserAppend(tr("Try to trigger again."));
        trigOnce(trigIndex, trigVol);
        trigTryCount += 1;
    } else {
        autoTrigWait = 2;
    }
}

// ---------------------------------------------------------------- plan runner

void UsbProcotol::btnStartSlot()
{
    if (!inApplicationMode()) {
        warn(tr("Please switch to application mode."));
        return;
    }
    if (allAutoTrigger.isEmpty()) {
        warn(tr("No plan."));
        return;
    }
    ui->btnStart->setEnabled(false);
    ui->btnPause->setEnabled(true);
    ui->btnStop->setEnabled(true);
    setEditingEnabled(false);
    textBrowserAppend(tr("Start smart trigger."));
    startAutoTrigger();
}

void UsbProcotol::btnPauseSlot()
{
    ui->btnStart->setEnabled(true);
    ui->btnPause->setEnabled(false);
    ui->btnStop->setEnabled(true);
    textBrowserAppend(tr("Pause smart trigger."));
    pauseAutoTrigger();
}

void UsbProcotol::btnStopSlot()
{
    ui->btnStart->setEnabled(true);
    ui->btnPause->setEnabled(false);
    ui->btnStop->setEnabled(false);
    setEditingEnabled(true);
    textBrowserAppend(tr("Stop smart trigger."));
    stopAutoTrigger();
    release();
}

void UsbProcotol::startAutoTrigger()
{
    autoTimer->start();
}

void UsbProcotol::pauseAutoTrigger()
{
    autoTimer->stop();
}

void UsbProcotol::stopAutoTrigger()
{
    autoTimer->stop();
    timeCount = 0;
    timeOut = 0;
    trigStep = 0;
    indexOfTrigging = 0;
}

// A step's time counts ticks from the tick that sees its success reply; the
// next step goes out on the (time + 1)-th tick after it. An idle tick only
// counts and compares.
void UsbProcotol::autoTrigTimerSlot()
{
    // Held at the top: a stored duration of INT_MAX then simply never ends.
    if (timeCount < INT_MAX)
        ++timeCount;
    if (timeCount <= timeOut)
        return;

    if (trigStep == 0) {
        if (indexOfTrigging < allAutoTrigger.size()) {
            const TRIGGER_PARAM_T step = allAutoTrigger.at(indexOfTrigging);
            if (step.time == 0) {
                textBrowserAppend(
                    tr("Smart trigger: The duration of step %1 is 0s, skip this step.").arg(indexOfTrigging + 1));
                ++indexOfTrigging;
                return; // timeCount kept: the next tick takes the next step at once
            }
            trigOnce(step.indexOfProt, step.indexOfVol);
            trigTryCount = 0;
            const QTreeWidgetItem* row = ui->treeWidget->topLevelItem(indexOfTrigging);
            textBrowserAppend(tr("Smart trigger: Perform step %1, protocol is %2, voltage is %3V, duration is %4ms.")
                                  .arg(indexOfTrigging + 1)
                                  .arg(row ? row->text(1) : QString(), row ? row->text(2) : QString(),
                                      row ? row->text(3) : QString()));
            trigStep = 1;
            timeOut = 0;
            autoTrigWait = 0;
        } else {
            // The plan is done: as a press of Stop, whose release may show a
            // warning in which the meter can be unplugged and this page deleted.
            const QPointer<UsbProcotol> alive(this);
            btnStopSlot();
            if (!alive)
                return;
        }
    } else if (trigStep == 1) {
        if (autoTrigWait == 1) {
            timeOut = allAutoTrigger.at(indexOfTrigging).time;
            ++indexOfTrigging;
            trigStep = 0;
        } else if (autoTrigWait == 2) {
            ++indexOfTrigging;
            trigStep = 0;
        }
    }
    timeCount = 0;
}

// ---------------------------------------------------------------- log

void UsbProcotol::textBrowserAppend(const QString& text)
{
    const QDateTime now = QDateTime::currentDateTime();
    ui->textBrowser->append(
        QStringLiteral("[%1 - %2] %3")
            .arg(now.toString(QStringLiteral("yyyy/MM/dd")), now.toString(QStringLiteral("hh:mm:ss")), text));
}

void UsbProcotol::btnClearTextSlot()
{
    ui->textBrowser->clear();
}

// ---------------------------------------------------------------- plan editing

void UsbProcotol::writeRow(QTreeWidgetItem* item, const TRIGGER_PARAM_T& step) const
{
    item->setText(1, ui->cBoxProtocol->itemText(step.indexOfProt));
    item->setText(2, voltageDigits(suportProtVol->allProtVol.at(step.indexOfProt).at(step.indexOfVol)));
    item->setText(3, QString::number(step.time));
    for (int column = 1; column <= 3; ++column)
        item->setTextAlignment(column, Qt::AlignHCenter | Qt::AlignVCenter);
}

void UsbProcotol::sortingAllItem()
{
    for (int i = 0; i < ui->treeWidget->topLevelItemCount(); ++i)
        ui->treeWidget->topLevelItem(i)->setText(0, QString::number(i + 1));
}

void UsbProcotol::btnAddSlot()
{
    bool ok = false;
    const QPointer<UsbProcotol> alive(this);
    TRIGGER_PARAM_T initial;
    initial.indexOfProt = 0;
    initial.indexOfVol = 0;
    initial.time = 1000;
    const TRIGGER_PARAM_T step = LMInputDialog::getTrigData(this, initial, &ok);
    if (!alive || !ok)
        return;

    allAutoTrigger.append(step);
    auto* item = new QTreeWidgetItem;
    writeRow(item, step);
    ui->treeWidget->addTopLevelItem(item);
    sortingAllItem();
    ui->treeWidget->setCurrentItem(item);
}

void UsbProcotol::btnDeleteSlot()
{
    const int row = ui->treeWidget->indexOfTopLevelItem(ui->treeWidget->currentItem());
    if (row < 0 || row >= allAutoTrigger.size())
        return;
    allAutoTrigger.removeAt(row);
    delete ui->treeWidget->takeTopLevelItem(row);
    sortingAllItem();
}

void UsbProcotol::btnMoveUp()
{
    const int row = ui->treeWidget->indexOfTopLevelItem(ui->treeWidget->currentItem());
    if (allAutoTrigger.isEmpty() || row <= 0 || row >= allAutoTrigger.size())
        return;
    QTreeWidgetItem* item = ui->treeWidget->takeTopLevelItem(row);
    ui->treeWidget->insertTopLevelItem(row - 1, item);
    ui->treeWidget->setCurrentItem(item);
    allAutoTrigger.move(row, row - 1);
    sortingAllItem();
}

void UsbProcotol::btnMoveDown()
{
    const int row = ui->treeWidget->indexOfTopLevelItem(ui->treeWidget->currentItem());
    if (allAutoTrigger.isEmpty() || row < 0 || row + 1 >= allAutoTrigger.size())
        return;
    QTreeWidgetItem* item = ui->treeWidget->takeTopLevelItem(row);
    ui->treeWidget->insertTopLevelItem(row + 1, item);
    ui->treeWidget->setCurrentItem(item);
    allAutoTrigger.move(row, row + 1);
    sortingAllItem();
}

void UsbProcotol::itemDoubleClick(QTreeWidgetItem* item, int column)
{
    Q_UNUSED(column)
    const int row = ui->treeWidget->indexOfTopLevelItem(item);
    if (row < 0)
        return;
    // The dialog's nested event loop may see the meter unplugged and this page
    // deleted; the tree must be out of its own mouse handling by then. The
    // call is dropped with the page, and the row is followed through any change.
    const QPersistentModelIndex index(ui->treeWidget->model()->index(row, 0));
    QMetaObject::invokeMethod(
        this, [this, index]() { editStep(index); }, Qt::QueuedConnection);
}

void UsbProcotol::editStep(const QPersistentModelIndex& index)
{
    // The tree is disabled while a plan runs or is paused: the plan stays as it is.
    if (!index.isValid() || index.row() >= allAutoTrigger.size() || !ui->treeWidget->isEnabled())
        return;
    bool ok = false;
    const QPointer<UsbProcotol> alive(this);
    const TRIGGER_PARAM_T step = LMInputDialog::getTrigData(this, allAutoTrigger.at(index.row()), &ok);
    if (!alive || !ok || !index.isValid() || index.row() >= allAutoTrigger.size())
        return;
    allAutoTrigger[index.row()] = step;
    writeRow(ui->treeWidget->topLevelItem(index.row()), step);
}

void UsbProcotol::btnClearSlot()
{
    ui->treeWidget->clear();
    allAutoTrigger.clear();
}

// ---------------------------------------------------------------- plan file

void UsbProcotol::btnExportSlot()
{
    if (allAutoTrigger.isEmpty()) {
        warn(tr("No plan."));
        return;
    }
    const QPointer<UsbProcotol> alive(this);
    const QString name
        = guarded::saveFileName(this, tr("Export"), lastFilePath(lastPathKey), QString::fromLatin1(fileFilter));
    if (!alive || name.isEmpty())
        return;
    setLastFilePath(lastPathKey, name);

    // Written aside and renamed over the target: a failed write leaves any
    // earlier file whole, and is said. In a folder where no file may be
    // created, a writable file there is overwritten in place, as a plain
    // write would.
    QSaveFile file(name);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly) || !planfile::write(file, allAutoTrigger) || !file.commit())
        warn(tr("Failed to save the file."));
}

void UsbProcotol::btnImportSlot()
{
    const QPointer<UsbProcotol> alive(this);
    const QString name
        = guarded::openFileName(this, tr("Import"), lastFilePath(lastPathKey), QString::fromLatin1(fileFilter));
    if (!alive || name.isEmpty())
        return;
    setLastFilePath(lastPathKey, name);

    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const planfile::ReadResult plan = planfile::read(file, suportProtVol->allProtVol);
    file.close();
    if (!plan.ok) {
        warn(tr("Error file."));
        return;
    }

    allAutoTrigger = plan.steps;
    ui->treeWidget->clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(allAutoTrigger.size());
    for (int i = 0; i < allAutoTrigger.size(); ++i) {
        auto* item = new QTreeWidgetItem;
        item->setText(0, QString::number(i + 1));
        writeRow(item, allAutoTrigger.at(i));
        items.append(item);
    }
    // All rows in at once and the last made current once: a shown tree lays
    // itself out again on each of these calls, which made long plans take
    // minutes.
    ui->treeWidget->addTopLevelItems(items);
    if (!items.isEmpty())
        ui->treeWidget->setCurrentItem(items.last());
}

// ---------------------------------------------------------------- helpers

bool UsbProcotol::inApplicationMode() const
{
    return comLayer && comLayer->devMsg.runMode == applicationMode;
}

void UsbProcotol::warn(const QString& text)
{
    guarded::warning(this, tr("WARNING"), text);
}

void UsbProcotol::setEditingEnabled(bool enabled)
{
    const std::initializer_list<QWidget*> controls = { ui->btnTrig, ui->btnRelease, ui->treeWidget, ui->btnClear,
        ui->btnImport, ui->btnExport, ui->btnAdd, ui->btnDelete, ui->btnMoveUp, ui->btnMoveDown };
    for (QWidget* control : controls)
        control->setEnabled(enabled);
}

void UsbProcotol::changeEvent(QEvent* e)
{
    QWidget::changeEvent(e);
    if (e->type() == QEvent::LanguageChange && ui)
        ui->retranslateUi(this);
}
