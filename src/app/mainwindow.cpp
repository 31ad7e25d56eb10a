#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "aboutdialog.h"
#include "com_layer.h"
#include "hidhotplug.h"
#include "lmdockwidget.h"
#include "usbevent.h"
#include "usbwindow.h"

#include <QActionGroup>
#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QHeaderView>
#include <QSettings>
#include <QTranslator>
#include <QTreeWidgetItem>

#ifdef Q_OS_WIN
#include <windows.h>
// clang-format off
#include <initguid.h>
#include <dbt.h>
#include <hidclass.h>
// clang-format on
#endif

namespace {

const char* const settingsFile = "./Setting.ini";

// A meter's settings key: the model text followed by the serial text, both as
// the tree shows them at this moment.
QString meterKey(const QTreeWidgetItem* row)
{
    if (row->childCount() < 2)
        return QString();
    return row->child(0)->text(1) + row->child(1)->text(1);
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow()) // value-initialised: every widget pointer is null until setupUi
    , translator(new QTranslator(this))
{
    ui->setupUi(this);
    // The values (serial number, connection time) keep the width they need and
    // the names take the rest: a long name is elided rather than pushing the
    // values out of view.
    QHeaderView* header = ui->treeWidget->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    header->setSectionResizeMode(1, QHeaderView::ResizeToContents);

    QFile qss(QStringLiteral(":/qss/LM_ElegantDark.qss"));
    if (qss.open(QIODevice::ReadOnly)) {
        setStyleSheet(QString::fromUtf8(qss.readAll()));
        qss.close();
    }
    adjustSize();

    connect(ui->actQuit, &QAction::triggered, this, &MainWindow::close);

    auto* languageGroup = new QActionGroup(this);
    languageGroup->setExclusive(true);
    languageGroup->addAction(ui->actEnglish);
    languageGroup->addAction(ui->actGerman);
    connect(languageGroup, &QActionGroup::triggered, this, &MainWindow::languageActionSlot);

    bool isNumber = false;
    const int language = QSettings(QString::fromLatin1(settingsFile), QSettings::IniFormat)
                             .value(QStringLiteral("ActLanguage"))
                             .toInt(&isNumber);
    if (!isNumber || language == 0)
        ui->actGerman->setChecked(true);
    else if (language == 1)
        ui->actEnglish->setChecked(true);
    // Any other number checks neither action; German is loaded all the same.
    languageActionSlot(languageGroup->checkedAction());

    ui->labelDevList->setText(tr("Device List: 0"));
    connect(ui->treeWidget, &QTreeWidget::itemChanged, this, &MainWindow::widgetItemChangedSlot);

    auto* about = new AboutDialog(this);
    connect(ui->actAbout, &QAction::triggered, about, &QWidget::show);

#ifdef Q_OS_WIN
    DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_reserved = 0;
    filter.dbcc_classguid = GUID_DEVINTERFACE_HID;
    if (!RegisterDeviceNotificationW(reinterpret_cast<HANDLE>(winId()), &filter, DEVICE_NOTIFY_WINDOW_HANDLE))
        qDebug() << "register fail";
#else
    // udev events stand in for the window-system notifications; a watcher that
    // cannot start has logged it, and the first scan below still finds the meters.
    auto* hotplug = new HidHotplug(this);
    hotplug->setObjectName(QStringLiteral("hidHotplug"));
    connect(hotplug, &HidHotplug::deviceAdded, this, &MainWindow::hidDevArrival);
    connect(hotplug, &HidHotplug::deviceRemoved, this, &MainWindow::hidDevRemoved);
#endif

    app = UsbEvent::instance();

    connect(this, &MainWindow::hidDevArrival, app.data(), &UsbEvent::hidDevArrivalSlot);
    connect(this, &MainWindow::hidDevRemoved, app.data(), &UsbEvent::hidDevRemoveSlot);
    connect(app.data(), &UsbEvent::hidDevArrival, this, &MainWindow::createWidget);
    connect(app.data(), &UsbEvent::hidDevDisconnected, this, &MainWindow::deleteWidget);
    connect(app.data(), &UsbEvent::updateDevMsg, this, &MainWindow::updateDevMsg);
    connect(app.data(), &UsbEvent::updateConnectTime, this, &MainWindow::updateConnectTimeSlot);

    // Meters already plugged in get their rows and docks before the window shows.
    emit hidDevArrival();
}

MainWindow::~MainWindow()
{
    // An editor still open on a row commits while the base class tears the widgets
    // down, after the form is gone: from here on no edit reaches the slot.
    disconnect(ui->treeWidget, &QTreeWidget::itemChanged, this, &MainWindow::widgetItemChangedSlot);
    // Every page goes before its connection: docks first, then the registry's connections.
    qDeleteAll(allDock);
    allDock.clear();
    if (app)
        app->removeAllDev();
    delete ui;
    ui = nullptr;
    app.clear();
}

QString MainWindow::connectTimeText(quint64 seconds) const
{
    // The time of day from the remainder alone: seconds * 1000 would overflow for huge counts.
    const qint64 msOfDay = qint64(seconds % 86400) * 1000;
    return tr("%1Days ").arg(seconds / 86400)
        + QDateTime::fromMSecsSinceEpoch(msOfDay, Qt::UTC).toString(QStringLiteral("hh:mm:ss"));
}

void MainWindow::createWidget(int _index)
{
    Q_UNUSED(_index) // the new meter is always the last one
    ui->labelDevList->setText(tr("Device List: %1").arg(app->getDeviceCount()));

    // Built completely before it joins the tree, so that no itemChanged fires for a half-made row.
    auto* row = new QTreeWidgetItem(QStringList { tr("Unknown") });
    row->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsEnabled);
    row->addChild(new QTreeWidgetItem(QStringList { QStringLiteral("Model:"), QStringLiteral("Unknown") }));
    row->addChild(new QTreeWidgetItem(QStringList { QStringLiteral("SN:"), QStringLiteral("0") }));
    row->addChild(new QTreeWidgetItem(QStringList { tr("Time:"), tr("0Days 00:00:00") }));
    ui->treeWidget->addTopLevelItem(row);
    row->setExpanded(true);

    const QString title = tr("Unknown") + QStringLiteral("-") + QStringLiteral("0");
    auto* usbWindow = new UsbWindow(this);
    auto* dock = new LMDockWidget(title, this);
    allDock.append(dock);
    dock->setFeatures(
        QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    dock->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    dock->setWidget(usbWindow);
    addDockWidget(Qt::RightDockWidgetArea, dock);
    const int n = allDock.size();
    if (n > 1)
        tabifyDockWidget(allDock[n - 2], allDock[n - 1]);

    updateGeometry();
    adjustSize();
    qDebug() << width() << height();
}

void MainWindow::deleteWidget(int _index)
{
    ui->labelDevList->setText(tr("Device List: %1").arg(app->getDeviceCount()));
    if (_index < 0 || _index >= allDock.size())
        return;
    // The dock takes its device window and pages with it; a dialog one of them
    // has open is closed by its parent going away.
    delete allDock.takeAt(_index);
    delete ui->treeWidget->takeTopLevelItem(_index);
    if (allDock.isEmpty())
        adjustSize();
}

void MainWindow::updateDevMsg(int _index, DEV_MSG_T _devMsg)
{
    QTreeWidgetItem* row = ui->treeWidget->topLevelItem(_index);
    if (!row || row->childCount() < 3)
        return;

    // value() leaves the map as it is: an unknown model gives an empty name.
    const QString model = app->modelMap.value(_devMsg.model);
    row->child(0)->setText(1, model);
    row->child(1)->setText(1, QString::number(_devMsg.sn));
    row->child(2)->setText(1, tr("0Days 00:00:00"));

    const QString key = meterKey(row);
    QString name;
    {
        const QSettings settings(QString::fromLatin1(settingsFile), QSettings::IniFormat);
        if (settings.contains(key))
            name = settings.value(key).toString();
        else if (app->modelMap.contains(_devMsg.model))
            name = model + QStringLiteral("-") + QString::number(_devMsg.sn);
        else
            name = tr("Unknown");
    }
    // A changed text fires itemChanged, which stores the name under the key and retitles the dock.
    row->setText(0, name);
    if (_index < allDock.size())
        allDock[_index]->setWindowTitle(name);
}

void MainWindow::updateConnectTimeSlot(int _index, uint64_t _time)
{
    QTreeWidgetItem* row = ui->treeWidget->topLevelItem(_index);
    if (!row || row->childCount() < 3)
        return;
    row->child(2)->setText(1, connectTimeText(_time));
}

void MainWindow::widgetItemChangedSlot(QTreeWidgetItem* item, int column)
{
    const int index = item ? ui->treeWidget->indexOfTopLevelItem(item) : -1;
    if (index < 0)
        return;
    if (column != 0) {
        // Only the name column is the user's to edit.
        item->setText(column, QString());
        return;
    }
    const QString name = item->text(0);
    if (index < allDock.size())
        allDock[index]->setWindowTitle(name);
    const QString key = meterKey(item);
    if (key.isEmpty())
        return;
    QSettings settings(QString::fromLatin1(settingsFile), QSettings::IniFormat);
    settings.setValue(key, name);
}

void MainWindow::languageActionSlot(QAction* action)
{
    const bool english = action && action == ui->actEnglish;
    const bool loaded = translator->load(
        english ? QStringLiteral("Translation_EN.qm") : QStringLiteral("Translation_GE.qm"), QStringLiteral(":/ts"));
    {
        QSettings settings(QString::fromLatin1(settingsFile), QSettings::IniFormat);
        settings.setValue(QStringLiteral("ActLanguage"), english ? 1 : 0);
    }
    if (loaded)
        QCoreApplication::installTranslator(translator);
}

void MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::LanguageChange || !ui || !ui->treeWidget)
        return;

    ui->retranslateUi(this);
    const int count = app ? app->getDeviceCount() : 0;
    ui->labelDevList->setText(tr("Device List: %1").arg(count));
    if (!app)
        return;
    // Display names, the "SN:" rows and dock titles keep their texts.
    for (int i = 0; i < count && i < ui->treeWidget->topLevelItemCount() && i < app->allComLayer.size(); ++i) {
        QTreeWidgetItem* row = ui->treeWidget->topLevelItem(i);
        const Com_Layer* com = app->allComLayer.at(i);
        if (row->childCount() < 3 || !com)
            continue;
        row->child(0)->setText(0, tr("Model:"));
        const auto model = app->modelMap.constFind(com->devMsg.model);
        row->child(0)->setText(1, model != app->modelMap.constEnd() ? *model : tr("Unknown"));
        row->child(2)->setText(0, tr("Time:"));
        row->child(2)->setText(1, connectTimeText(com->getConnectTime()));
    }
}

#ifdef Q_OS_WIN
bool MainWindow::nativeEvent(const QByteArray& eventType, void* message, long* result)
{
    const MSG* msg = static_cast<const MSG*>(message);
    if (msg->message == WM_DEVICECHANGE) {
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(msg->lParam);
        const bool isInterface = header && header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE;
        if (msg->wParam == DBT_DEVICEARRIVAL) {
            qDebug() << "DBT_DEVICEARRIVAL";
            if (isInterface)
                qDebug() << "DBT_DEVTYP_DEVICEINTERFACE";
            emit hidDevArrival();
        } else if (msg->wParam == DBT_DEVICEREMOVECOMPLETE) {
            if (isInterface)
                qDebug() << "DBT_DEVTYP_DEVICEINTERFACE";
            qDebug() << "DBT_DEVICEREMOVECOMPLETE";
            emit hidDevRemoved();
        }
    }
    // The message is never claimed: the base class decides the result.
    return QMainWindow::nativeEvent(eventType, message, result);
}
#endif
