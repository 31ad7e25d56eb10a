#include "usbgen.h"
#include "ui_usbgen.h"

#include "checkboxdelegate_paint.h"
#include "colorbuttondelegate_paint.h"
#include "com_layer.h"
#include "guardeddialogs.h"
#include "lmmulticurvesplot.h"
#include "lmwaitdialog.h"
#include "usbRecParam.h"
#include "usbevent.h"
#include "usbparam.h"

#include <QEvent>
#include <QHeaderView>
#include <QPointer>
#include <QStandardItemModel>
#include <QThread>
#include <QTimer>
#include <QTreeWidgetItem>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kMainRows = 4; // channels 0..3
constexpr int kAiderRows = 3; // channels 4..6
constexpr int kAiderFirstChannel = 4;
constexpr int kItemColumn = 0;
constexpr int kColorColumn = 1;
constexpr int kRecordColumn = 2;
constexpr int kDisplayColumn = 3;
constexpr int kLiveWindowPoints = 150; // the x range follows the newest points
// The time labels are two lines about 100 pixels wide: five of them (the
// ticker's default) crowd each other on a plot of this page's width.
constexpr int kTimeTicks = 3;
constexpr int kTickMs = 10;
constexpr int kFeedMs = 30;
constexpr int kImportWatchdogMs = 5000;
constexpr quint8 kApplicationMode = 2;

// Slider positions 0..8 are the live rates; the rest name the rates of
// curve files and stored recordings.
const qreal kRates[13] = { 0.2, 0.5, 1, 2, 5, 10, 20, 50, 100, 200, 500, 800, 1000 };

struct CurveDef
{
    const char* legend;
    const char* axisLabel;
    QRgb colour;
    const char* tableItem;
};
const CurveDef kCurves[UsbRecParam::RECORD_TYPE_COUNT] = {
    { "VBUS", "VBUS(V)", 0xFFFF00, "VBUS" },
    { "IBUS", "IBUS(A)", 0x00FF00, "IBUS" },
    { "D P", "DP(V)", 0xFF0000, "D+" },
    { "D M", "DM(V)", 0x0672FF, "D-" },
    { "PBUS", "PBUS(W)", 0xFF55FF, "PBUS" },
    { "CAP", "CAP(Ah)", 0xFF5500, "CAP" },
    { "NRG", "NRG(Wh)", 0xFFAA00, "NRG" },
};

struct ExtremumDef
{
    const char* name;
    const char* unit;
    int decimals;
};
const ExtremumDef kExtrema[UsbRecParam::RECORD_EXTREMUM_COUNT] = {
    { "VBUS", "V", 5 },
    { "IBUS", "A", 5 },
    { "DP", "V", 3 },
    { "DM", "V", 3 },
    { "PBUS", "W", 5 },
};

const char* const kHeaders[4] = {
    QT_TRANSLATE_NOOP("UsbGen", "Item"),
    QT_TRANSLATE_NOOP("UsbGen", "Color"),
    QT_TRANSLATE_NOOP("UsbGen", "Record"),
    QT_TRANSLATE_NOOP("UsbGen", "Display"),
};

struct StatusDef
{
    const char* text;
    const char* style;
};
// By UsbGen::STATUS_E.
const StatusDef kStatus[4] = {
    { QT_TRANSLATE_NOOP("UsbGen", "Idle"), "color: #d6cf9a" },
    { QT_TRANSLATE_NOOP("UsbGen", "Wait for start condition"), "color: #d6cf9a" },
    { QT_TRANSLATE_NOOP("UsbGen", "Recording..."), "color: #00ff00" },
    { QT_TRANSLATE_NOOP("UsbGen", "Pause"), "color: red" },
};

// "0.20sps" .. "50.0sps", " 100sps": every live rate takes the same width.
QString rateText(double rate)
{
    const int decimals = rate < 10 ? 2 : (rate < 100 ? 1 : 0);
    const QString text = QStringLiteral("%1sps").arg(rate, 0, 'f', decimals);
    return rate == 100 ? QLatin1Char(' ') + text : text;
}

// Elapsed time as h:mm:ss.zzz; the hours are not wrapped.
QString elapsedText(double seconds)
{
    const double ms = std::trunc(seconds * 1000.0);
    const quint64 whole = ms >= 0 && ms < 1.8e19 ? quint64(ms) : 0;
    const QChar zero = QLatin1Char('0');
    return QStringLiteral("%1:%2:%3.%4")
        .arg(whole / 3600000, 2, 10, zero)
        .arg(whole / 1000 % 3600 / 60, 2, 10, zero)
        .arg(whole / 1000 % 60, 2, 10, zero)
        .arg(whole % 1000, 3, 10, zero);
}

bool cellChecked(const QStandardItemModel* model, int row, int column)
{
    return model->index(row, column).data(Qt::DisplayRole).toBool();
}

// The item texts, centred and inert, and the curves' colours.
void fillTable(QStandardItemModel* model, int firstChannel)
{
    for (int row = 0; row < model->rowCount(); ++row) {
        const CurveDef& curve = kCurves[firstChannel + row];
        model->setData(model->index(row, kItemColumn), QString::fromLatin1(curve.tableItem), Qt::EditRole);
        model->setData(model->index(row, kColorColumn), QColor(curve.colour), Qt::EditRole);
    }
}

void lockItemColumn(QStandardItemModel* model)
{
    for (int row = 0; row < model->rowCount(); ++row) {
        QStandardItem* item = model->item(row, kItemColumn);
        item->setTextAlignment(Qt::AlignCenter);
        item->setFlags(item->flags() & ~(Qt::ItemIsSelectable | Qt::ItemIsEditable));
    }
}

struct TableDelegates
{
    ColorButtonDelegate_Paint* colour;
    CheckBoxDelegate_Paint* record;
    CheckBoxDelegate_Paint* display;
};

// Shows the model in the view with its three delegates, children of the view.
TableDelegates attachTable(QTableView* view, QStandardItemModel* model)
{
    view->setModel(model);
    view->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    view->verticalHeader()->hide();
    const TableDelegates d { new ColorButtonDelegate_Paint(view), new CheckBoxDelegate_Paint(model->rowCount(), view),
        new CheckBoxDelegate_Paint(model->rowCount(), view) };
    view->setItemDelegateForColumn(kColorColumn, d.colour);
    view->setItemDelegateForColumn(kRecordColumn, d.record);
    view->setItemDelegateForColumn(kDisplayColumn, d.display);
    return d;
}

} // namespace

UsbGen::UsbGen(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::UsbGen)
    , timerREC(new QTimer(this))
    , timerShow(new QTimer(this))
    , allExtremumItem(UsbRecParam::RECORD_EXTREMUM_COUNT, nullptr)
    , allExtremumMAX(UsbRecParam::RECORD_EXTREMUM_COUNT, nullptr)
    , allExtremumMIN(UsbRecParam::RECORD_EXTREMUM_COUNT, nullptr)
    , allAccumulate(3, nullptr)
    , deviceCurve {}
    , waitCurvesDialog(new LMWaitDialog(this))
{
    std::copy(std::begin(kRates), std::end(kRates), sampleRate);

    ui->setupUi(this);
    ui->treeWidget->expandAll();
    ui->btnStart->setEnabled(false);
    ui->btnPause->setEnabled(false);
    ui->btnStop->setEnabled(false);
    ui->btnCreate->setEnabled(true);

    for (int i = 0; i < 13; ++i)
        sampleRate2Index.insert(sampleRate[i], i);

    ui->labelSamValue->setText(QStringLiteral("%1sps").arg(sampleRate[0], 0, 'f', 2));
    connect(ui->hsliderSample, &QSlider::valueChanged, this, &UsbGen::sliderValChanged);
    ui->labelStatus->setStyleSheet(QLatin1String(kStatus[STATUS_IDLE].style));

    connect(ui->btnStart, &QPushButton::clicked, this, &UsbGen::startRecord);
    connect(ui->btnPause, &QPushButton::clicked, this, &UsbGen::pauseRecord);
    connect(ui->btnStop, &QPushButton::clicked, this, &UsbGen::stopRecord);
    connect(ui->btnCreate, &QPushButton::clicked, this, &UsbGen::createRecord);

    usbRecParam = new UsbRecParam;
    thread = new QThread(this);
    usbRecParam->moveToThread(thread);
    connect(thread, &QThread::finished, usbRecParam, &QObject::deleteLater);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);

    connect(timerREC, &QTimer::timeout, this, &UsbGen::timeRecord);
    connect(this, &UsbGen::addRecParam, usbRecParam, &UsbRecParam::addParam);
    connect(timerShow, &QTimer::timeout, this, &UsbGen::timeShowREC);
    connect(usbRecParam, &UsbRecParam::startRecord, this, &UsbGen::startRecordSlot);
    connect(usbRecParam, &UsbRecParam::stopRecord, this, &UsbGen::stopRecord);

    timerREC->setTimerType(Qt::PreciseTimer);
    timerREC->setInterval(kTickMs);
    timerShow->setInterval(kFeedMs);

    thread->start(QThread::InheritPriority);

    createSeriesLines();
    createMainTable();
    createAiderTable();
    createTreeWidget();

    connect(usbRecParam, &UsbRecParam::extremumChanged, this, &UsbGen::showExtremum);
    connect(usbRecParam, &UsbRecParam::accumulateChanged, this, &UsbGen::showAccumulate);
    connect(ui->btnOpen, &QPushButton::clicked, this, &UsbGen::openButtonSlot);
    connect(ui->btnSave, &QPushButton::clicked, this, &UsbGen::saveButtonSlot);
    connect(ui->btnImport, &QPushButton::clicked, this, &UsbGen::importButtonSlot);

    // Built while the registry announces its newest meter; with no meter at
    // all the page stays unbound.
    app = UsbEvent::instance();
    comLayer = app->newestComLayer();
    if (comLayer) {
        connect(comLayer, &Com_Layer::deviceSendCurvesMessage, this, &UsbGen::importCurvesMessageSlot);
        connect(comLayer, &Com_Layer::addRecordFifo, usbRecParam, &UsbRecParam::addRecordFifo);
        connect(comLayer, &Com_Layer::deviceSendCurves, this, &UsbGen::takeDeviceCurves);
    }
    connect(usbRecParam, &UsbRecParam::addDeviceCurves, this, &UsbGen::importCurvesSlot);

    curveTimer = new QTimer(this);
    curveTimer->setInterval(kImportWatchdogMs);
    connect(curveTimer, &QTimer::timeout, this, &UsbGen::getCurvesTimeoutSlot);
    waitCurvesDialog->installEventFilter(this);

    connect(ui->cBoxAutoZoom, &QCheckBox::stateChanged, ui->customPlot, &LMMultiCurvesPlot::setZoom);
}

UsbGen::~UsbGen()
{
    // The recorder's thread ends before anything else goes: the connection,
    // deleted by the registry after this page, must see no queued tick later.
    timerREC->stop();
    timerShow->stop();
    thread->quit();
    thread->wait();
    usbRecParam = nullptr; // deleted in its thread as the thread finished
    delete ui;
    ui = nullptr;
    app.reset();
}

// ---------------------------------------------------------------------------
// Construction steps

void UsbGen::createSeriesLines()
{
    QVector<QColor> colours;
    QVector<QString> names;
    QVector<QString> axisLabels;
    for (const CurveDef& curve : kCurves) {
        colours << QColor(curve.colour);
        names << QString::fromLatin1(curve.legend);
        axisLabels << QString::fromLatin1(curve.axisLabel);
    }
    ui->customPlot->initCurves(UsbRecParam::RECORD_TYPE_COUNT, colours, names, axisLabels);
    ui->customPlot->xAxis->ticker()->setTickCount(kTimeTicks);
    ui->customPlot->clearCurvesData();
    ui->customPlot->showCurves({ UsbRecParam::RECORD_TYPE_VBUS, UsbRecParam::RECORD_TYPE_IBUS });
}

void UsbGen::setHeaderTexts(QStandardItemModel* model) const
{
    for (int column = 0; column < 4; ++column)
        model->setHeaderData(column, Qt::Horizontal, tr(kHeaders[column]), Qt::EditRole);
}

void UsbGen::createMainTable()
{
    mainModel = new QStandardItemModel(kMainRows, 4, this);
    setHeaderTexts(mainModel);
    fillTable(mainModel, UsbRecParam::RECORD_TYPE_VBUS);
    for (const int row : { UsbRecParam::RECORD_TYPE_VBUS, UsbRecParam::RECORD_TYPE_IBUS }) {
        mainModel->setData(mainModel->index(row, kRecordColumn), true, Qt::EditRole);
        mainModel->setData(mainModel->index(row, kDisplayColumn), true, Qt::EditRole);
    }
    lockItemColumn(mainModel);

    const TableDelegates d = attachTable(ui->tableRecord, mainModel);
    connect(d.colour, &ColorButtonDelegate_Paint::clickAccpet, this, &UsbGen::setMainColorSlot);
    connect(d.record, &CheckBoxDelegate_Paint::stateChanged, this, &UsbGen::triggedMainRecordLine);
    connect(this, &UsbGen::setMainTableEditable_1, d.record, &CheckBoxDelegate_Paint::setEditable);
    connect(d.display, &CheckBoxDelegate_Paint::stateChanged, this, &UsbGen::triggedMainShowLine);
    connect(this, &UsbGen::setMainTableEditable_2, d.display, &CheckBoxDelegate_Paint::setEditable);
}

void UsbGen::createAiderTable()
{
    aiderModel = new QStandardItemModel(kAiderRows, 4, this);
    setHeaderTexts(aiderModel);
    fillTable(aiderModel, kAiderFirstChannel);
    for (const int channel : { UsbRecParam::RECORD_TYPE_CAP, UsbRecParam::RECORD_TYPE_NRG })
        aiderModel->setData(aiderModel->index(channel - kAiderFirstChannel, kRecordColumn), true, Qt::EditRole);
    lockItemColumn(aiderModel);

    const TableDelegates d = attachTable(ui->tableAider, aiderModel);
    connect(d.colour, &ColorButtonDelegate_Paint::clickAccpet, this, &UsbGen::setAiderColorSlot);
    connect(d.record, &CheckBoxDelegate_Paint::stateChanged, this, &UsbGen::triggedAiderRecordLine);
    connect(this, &UsbGen::setAiderTableEditable_1, d.record, &CheckBoxDelegate_Paint::setEditable);
    connect(d.display, &CheckBoxDelegate_Paint::stateChanged, this, &UsbGen::triggedAiderShowLine);
    connect(this, &UsbGen::setAiderTableEditable_2, d.display, &CheckBoxDelegate_Paint::setEditable);
}

void UsbGen::createTreeWidget()
{
    QTreeWidgetItem* extremum = ui->treeWidget->topLevelItem(0);
    for (int c = 0; c < UsbRecParam::RECORD_EXTREMUM_COUNT; ++c) {
        const QString unit = QLatin1String(kExtrema[c].unit);
        auto* item = new QTreeWidgetItem(QStringList { QLatin1String(kExtrema[c].name) });
        auto* max = new QTreeWidgetItem(QStringList { QStringLiteral("MAX"), QStringLiteral("0.00000 %1").arg(unit) });
        auto* min
            = new QTreeWidgetItem(QStringList { QStringLiteral("MIN"), QStringLiteral("9999.99999 %1").arg(unit) });
        allExtremumItem[c] = item;
        allExtremumMAX[c] = max;
        allExtremumMIN[c] = min;
        extremum->addChild(item);
        item->addChild(max);
        item->addChild(min);
    }

    QTreeWidgetItem* accumulated = ui->treeWidget->topLevelItem(1);
    allAccumulate[0] = new QTreeWidgetItem(QStringList { QStringLiteral("TIME"), QStringLiteral("00:00:00.000") });
    allAccumulate[1] = new QTreeWidgetItem(QStringList { QStringLiteral("CAP"), QStringLiteral("0.00000 Ah") });
    allAccumulate[2] = new QTreeWidgetItem(QStringList { QStringLiteral("NRG"), QStringLiteral("0.00000 Wh") });
    for (QTreeWidgetItem* item : qAsConst(allAccumulate))
        accumulated->addChild(item);

    ui->treeWidget->expandAll();
    // Names wide enough in either language; the values take the rest.
    ui->treeWidget->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    // As the default Display column: VBUS and IBUS with their extrema, and TIME.
    for (const int c : { UsbRecParam::RECORD_TYPE_DP, UsbRecParam::RECORD_TYPE_DM, UsbRecParam::RECORD_TYPE_PBUS,
             UsbRecParam::RECORD_TYPE_CAP, UsbRecParam::RECORD_TYPE_NRG })
        channelTreeItem(c)->setHidden(true);
}

QTreeWidgetItem* UsbGen::channelTreeItem(int channel) const
{
    if (channel < UsbRecParam::RECORD_EXTREMUM_COUNT)
        return allExtremumItem.at(channel);
    return allAccumulate.at(channel - kAiderFirstChannel); // CAP and NRG follow TIME
}

// ---------------------------------------------------------------------------
// Rate, colours, Record and Display

void UsbGen::sliderValChanged(int _value)
{
    if (_value < 0 || _value >= 13)
        return;
    ui->labelSamValue->setText(rateText(sampleRate[_value]));
}

void UsbGen::showRate(double rate)
{
    const int index = sampleRate2Index.value(rate, -1);
    // Set even when the slider does not move: the label may name an earlier rate.
    ui->hsliderSample->setValue(qMax(index, 0));
    ui->labelSamValue->setText(index >= 0 ? rateText(rate) : QStringLiteral("%1sps").arg(rate, 0, 'f', 2));
}

void UsbGen::setMainColorSlot(int _index, QColor _color)
{
    if (_index < 0 || _index >= kMainRows)
        return;
    ui->customPlot->setCurvesColor(quint16(_index), _color);
    ui->customPlot->replot(QCustomPlot::rpRefreshHint);
}

void UsbGen::setAiderColorSlot(int _index, QColor _color)
{
    if (_index < 0 || _index >= kAiderRows)
        return;
    ui->customPlot->setCurvesColor(quint16(_index + kAiderFirstChannel), _color);
    ui->customPlot->replot(QCustomPlot::rpRefreshHint);
}

void UsbGen::triggedMainRecordLine(const QModelIndex& index)
{
    if (index.row() >= 0 && index.row() < kMainRows)
        recordCellChanged(mainModel, index.row(), index.row());
}

void UsbGen::triggedAiderRecordLine(const QModelIndex& index)
{
    if (index.row() >= 0 && index.row() < kAiderRows)
        recordCellChanged(aiderModel, index.row(), index.row() + kAiderFirstChannel);
}

void UsbGen::triggedMainShowLine(const QModelIndex& index)
{
    if (index.row() >= 0 && index.row() < kMainRows)
        showCellChanged(mainModel, index.row(), index.row());
}

void UsbGen::triggedAiderShowLine(const QModelIndex& index)
{
    if (index.row() >= 0 && index.row() < kAiderRows)
        showCellChanged(aiderModel, index.row(), index.row() + kAiderFirstChannel);
}

void UsbGen::recordCellChanged(QStandardItemModel* model, int row, int channel)
{
    // Switched on: recorded from the next set-up on, shown once Display is on.
    if (cellChecked(model, row, kRecordColumn))
        return;
    model->setData(model->index(row, kDisplayColumn), false, Qt::EditRole);
    channelTreeItem(channel)->setHidden(true);
    ui->customPlot->removeOneCurve(quint16(channel));
    replotWithTags();
}

void UsbGen::showCellChanged(QStandardItemModel* model, int row, int channel)
{
    if (cellChecked(model, row, kDisplayColumn)) {
        // A shown curve is a recorded one.
        model->setData(model->index(row, kRecordColumn), true, Qt::EditRole);
        catchUpCurve(channel);
        ui->customPlot->showOneCurve(quint16(channel));
        channelTreeItem(channel)->setHidden(false);
        // A hidden row was not kept up to date: it shows where the recording stands.
        showExtremum();
        showAccumulate();
    } else {
        ui->customPlot->removeOneCurve(quint16(channel));
        channelTreeItem(channel)->setHidden(true);
    }
    replotWithTags();
}

void UsbGen::showRecordedChannels(const QList<quint16>& channels)
{
    for (int c = 0; c < UsbRecParam::RECORD_TYPE_COUNT; ++c) {
        const bool on = channels.contains(quint16(c));
        QStandardItemModel* model = c < kAiderFirstChannel ? mainModel : aiderModel;
        const int row = c < kAiderFirstChannel ? c : c - kAiderFirstChannel;
        if (on)
            model->setData(model->index(row, kColorColumn), ui->customPlot->getCurvesColor(quint16(c)), Qt::EditRole);
        model->setData(model->index(row, kRecordColumn), on, Qt::EditRole);
        model->setData(model->index(row, kDisplayColumn), on, Qt::EditRole);
        usbRecParam->setSwitch(UsbRecParam::RECORD_TYPE_E(c), on);
        channelTreeItem(c)->setHidden(!on);
    }
}

void UsbGen::plotRecording(
    const QList<quint16>& channels, const QVector<double>& time, const QVector<QVector<double>>& lists)
{
    // The plot shares the lists with the recorder: no copy here. The first
    // point recorded live after them copies the recorder's lists once.
    LMMultiCurvesPlot* plot = ui->customPlot;
    plot->clearCurvesData();
    for (const quint16 c : channels)
        plot->setCurvesData(c, time, lists.at(c));
    fedPoints = time.size(); // every curve the recorder holds is handed over
    plot->showCurves(channels);
    plot->scaledAllCurves();
    replotWithTags();
}

void UsbGen::catchUpCurve(int channel)
{
    if (fedPoints == 0 || !usbRecParam->isSwitchOpened(channel))
        return;
    LMMultiCurvesPlot* plot = ui->customPlot;
    const int fed = fedPoints;
    // The plot appends only what it lacks; clipped copies (a user's click, not a tick).
    usbRecParam->readRecording([&](const QVector<double>& time, const QVector<QVector<double>>& lists) {
        const int n = qMin(fed, time.size());
        const QVector<double>& values = lists.at(channel);
        plot->addCurvesData(quint16(channel), time.mid(0, n), values.mid(0, qMin(n, values.size())));
    });
}

void UsbGen::replotWithTags()
{
    ui->customPlot->replot(QCustomPlot::rpRefreshHint);
    ui->customPlot->refreshAllTag();
    ui->customPlot->replot(QCustomPlot::rpRefreshHint);
}

void UsbGen::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::LanguageChange)
        return;
    ui->retranslateUi(this);
    if (mainModel)
        setHeaderTexts(mainModel);
    if (aiderModel)
        setHeaderTexts(aiderModel);
    ui->customPlot->setXAxisTickerFormat(tr("%h:%m:%s.%z\n%dDay"));
    ui->customPlot->xAxis->ticker()->setTickCount(kTimeTicks);
    // The form's text is "Idle"; say again what the page is doing.
    setStatus(status);
    ui->customPlot->replot(QCustomPlot::rpRefreshHint);
}

// ---------------------------------------------------------------------------
// Recording control

void UsbGen::setStatus(STATUS_E _status)
{
    status = _status;
    ui->labelStatus->setText(tr(kStatus[_status].text));
    ui->labelStatus->setStyleSheet(QLatin1String(kStatus[_status].style));
}

void UsbGen::setRecordControlsEnabled(bool enabled)
{
    ui->hsliderSample->setEnabled(enabled);
    ui->spinStartCur->setEnabled(enabled);
    ui->spinStopCur->setEnabled(enabled);
    ui->spinStopTime->setEnabled(enabled);
}

void UsbGen::createRecord()
{
    // After either warning the page may be gone (the meter was removed while
    // the box was open): return without touching it.
    if (!inApplicationMode()) {
        guarded::warning(this, tr("WARNING"), tr("Please switch to application mode."));
        return;
    }
    for (int row = 0; row < kMainRows; ++row)
        usbRecParam->setSwitch(UsbRecParam::RECORD_TYPE_E(row), cellChecked(mainModel, row, kRecordColumn));
    for (int row = 0; row < kAiderRows; ++row) {
        usbRecParam->setSwitch(
            UsbRecParam::RECORD_TYPE_E(row + kAiderFirstChannel), cellChecked(aiderModel, row, kRecordColumn));
    }
    if (!usbRecParam->isHaveOpenedSwitch()) {
        guarded::warning(this, tr("WARNING"), tr("Please open at least one record."));
        return;
    }

    enterSetUp();

    usbRecParam->clearRecordParam();
    usbRecParam->setSampleRate(sampleRate[qBound(0, ui->hsliderSample->value(), 12)]);
    usbRecParam->setStartCurrent(ui->spinStartCur->value());
    usbRecParam->setStopCurrent(ui->spinStopCur->value());
    usbRecParam->setStopTime(ui->spinStopTime->value());
    usbRecParam->setMasterSwitch(false);

    QList<quint16> shown;
    for (int row = 0; row < kMainRows; ++row) {
        if (cellChecked(mainModel, row, kDisplayColumn))
            shown << quint16(row);
    }
    for (int row = 0; row < kAiderRows; ++row) {
        if (cellChecked(aiderModel, row, kDisplayColumn))
            shown << quint16(row + kAiderFirstChannel);
    }
    lockRecordedRows();
    ui->customPlot->clearCurvesData();
    fedPoints = 0;
    ui->customPlot->showCurves(shown);
}

bool UsbGen::inApplicationMode() const
{
    return comLayer && comLayer->devMsg.runMode == kApplicationMode;
}

bool UsbGen::overwriteConfirmed()
{
    // Create is off while a recording is set up, running, paused, opened or imported.
    if (ui->btnCreate->isEnabled())
        return true;
    const QPointer<UsbGen> alive(this);
    const bool yes = guarded::question(this, tr("Tips"), tr("Will be overwritten, continue?"));
    return alive && yes;
}

void UsbGen::enterSetUp()
{
    ui->btnStart->setEnabled(true);
    ui->btnCreate->setEnabled(false);
    ui->btnPause->setEnabled(false);
    ui->btnStop->setEnabled(true);
    setRecordControlsEnabled(false);
}

void UsbGen::lockRecordedRows()
{
    // Recorded rows keep Display clickable, so curves can be shown and
    // hidden while recording.
    for (int row = 0; row < kMainRows; ++row) {
        emit setMainTableEditable_1(row, false);
        emit setMainTableEditable_2(row, cellChecked(mainModel, row, kRecordColumn));
    }
    for (int row = 0; row < kAiderRows; ++row) {
        emit setAiderTableEditable_1(row, false);
        emit setAiderTableEditable_2(row, cellChecked(aiderModel, row, kRecordColumn));
    }
}

void UsbGen::startRecord()
{
    // The master switch is on when resuming, or after a file or an import.
    setStatus(usbRecParam->getMasterSwitch() ? STATUS_RECORDING : STATUS_WAIT);
    ui->btnStart->setEnabled(false);
    ui->btnPause->setEnabled(true);
    ui->btnStop->setEnabled(true);
    timerREC->start();
    timerShow->start();
    ui->customPlot->setRefresh(true);
    // Samples from before the press (or from the pause) are not recorded.
    usbRecParam->clearRecordFifo();
}

void UsbGen::startRecordSlot()
{
    // Queued from the recorder: a Pause or Stop pressed meanwhile stands.
    if (status == STATUS_WAIT)
        setStatus(STATUS_RECORDING);
}

void UsbGen::pauseRecord()
{
    setStatus(STATUS_PAUSE);
    ui->btnStart->setEnabled(true);
    ui->btnPause->setEnabled(false);
    timerREC->stop();
    timerShow->stop();
    ui->customPlot->setRefresh(false);
}

void UsbGen::stopRecord()
{
    setStatus(STATUS_IDLE);
    ui->btnCreate->setEnabled(true);
    ui->btnStart->setEnabled(false);
    ui->btnPause->setEnabled(false);
    ui->btnStop->setEnabled(false);
    setRecordControlsEnabled(true);

    // Moving the slider away and back shows the rate of its position again
    // (a file or an import may have shown another).
    const int position = ui->hsliderSample->value();
    ui->hsliderSample->setValue(2);
    ui->hsliderSample->setValue(position);

    if (timerREC->isActive())
        timerREC->stop();
    if (timerShow->isActive())
        timerShow->stop();
    ui->customPlot->setRefresh(false);

    for (int row = 0; row < kMainRows; ++row) {
        emit setMainTableEditable_1(row, true);
        emit setMainTableEditable_2(row, true);
    }
    for (int row = 0; row < kAiderRows; ++row) {
        emit setAiderTableEditable_1(row, true);
        emit setAiderTableEditable_2(row, true);
    }
}

void UsbGen::timeRecord()
{
    if (comLayer)
        emit addRecParam(&comLayer->usbParam);
}

void UsbGen::timeShowREC()
{
    const QList<quint16> channels = usbRecParam->getRecordingList();
    const int interval = usbRecParam->getInterval();
    LMMultiCurvesPlot* plot = ui->customPlot;
    int n = 0;
    double from = 0;
    double to = 0;
    // Under the recorder's lock the lists go to the plot as shallow copies, of
    // which it reads only the points it does not hold yet; they are let go
    // before the recorder can append again, so neither side copies the
    // recording. A point is appended whole under the lock, so every channel
    // has as many values as there are times.
    usbRecParam->readRecording([&](const QVector<double>& time, const QVector<QVector<double>>& lists) {
        n = time.size();
        if (n == 0)
            return;
        for (const quint16 c : channels) {
            if (!plot->isHaveCurve(c))
                continue; // caught up when shown
            const QVector<double>& values = lists.at(c);
            plot->addCurvesData(c, time, values.size() > n ? values.mid(0, n) : values);
        }
        from
            = n < kLiveWindowPoints ? -double(kLiveWindowPoints - n) * interval / 1000 : time.at(n - kLiveWindowPoints);
        to = time.at(n - 1);
    });
    fedPoints = n;
    if (n > 0 && !plot->getZoom())
        plot->xAxis->setRange(from, to);
}

void UsbGen::showExtremum()
{
    for (int c = 0; c < UsbRecParam::RECORD_EXTREMUM_COUNT; ++c) {
        if (allExtremumItem.at(c)->isHidden())
            continue;
        const ExtremumDef& e = kExtrema[c];
        const QString unit = QLatin1String(e.unit);
        const double max = usbRecParam->getExtremum(c, UsbRecParam::RECORD_MAX);
        const double min = usbRecParam->getExtremum(c, UsbRecParam::RECORD_MIN);
        allExtremumMAX.at(c)->setText(1, QStringLiteral("%1 %2").arg(QString::number(max, 'f', e.decimals), unit));
        allExtremumMIN.at(c)->setText(1, QStringLiteral("%1 %2").arg(QString::number(min, 'f', e.decimals), unit));
    }
}

void UsbGen::showAccumulate()
{
    // The newest entries only, read in place.
    bool anyTime = false;
    bool anyCap = false;
    bool anyNrg = false;
    double lastTime = 0;
    double lastCap = 0;
    double lastNrg = 0;
    usbRecParam->readRecording([&](const QVector<double>& time, const QVector<QVector<double>>& lists) {
        const QVector<double>& cap = lists.at(UsbRecParam::RECORD_TYPE_CAP);
        const QVector<double>& nrg = lists.at(UsbRecParam::RECORD_TYPE_NRG);
        anyTime = !time.isEmpty();
        anyCap = !cap.isEmpty();
        anyNrg = !nrg.isEmpty();
        lastTime = anyTime ? time.constLast() : 0;
        lastCap = anyCap ? cap.constLast() : 0;
        lastNrg = anyNrg ? nrg.constLast() : 0;
    });
    if (!allAccumulate.at(0)->isHidden())
        allAccumulate.at(0)->setText(1, anyTime ? elapsedText(lastTime) : QStringLiteral("00:00:00.000"));
    if (!allAccumulate.at(1)->isHidden()) {
        allAccumulate.at(1)->setText(
            1, anyCap ? QStringLiteral("%1 Ah").arg(lastCap, 0, 'f', 5) : QStringLiteral("0.00000 Ah"));
    }
    if (!allAccumulate.at(2)->isHidden()) {
        allAccumulate.at(2)->setText(
            1, anyNrg ? QStringLiteral("%1 Wh").arg(lastNrg, 0, 'f', 5) : QStringLiteral("0.00000 Wh"));
    }
}
