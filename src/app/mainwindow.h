#pragma once

#include "datastructure.h"

#include <QList>
#include <QMainWindow>
#include <QSharedPointer>
#include <cstdint>

class LMDockWidget;
class QAction;
class QEvent;
class QTranslator;
class QTreeWidgetItem;
class UsbEvent;

namespace Ui {
class MainWindow;
}

// The program's one top-level window: the device tree with one row per meter,
// one dock window per meter holding its device window, the language menu and
// the About box. Meter number i is entry i of the registry's connections,
// top-level row i of the tree and entry i of allDock.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

signals:
    // A device arrived / a removal completed: the registry rescans.
    void hidDevArrival();
    void hidDevRemoved();

public slots:
    void createWidget(int _index);
    void deleteWidget(int _index);
    void updateDevMsg(int _index, DEV_MSG_T _devMsg);
    void updateConnectTimeSlot(int _index, uint64_t _time);
    void widgetItemChangedSlot(QTreeWidgetItem* item, int column);
    void languageActionSlot(QAction* action);

protected:
#ifdef Q_OS_WIN
    bool nativeEvent(const QByteArray& eventType, void* message, long* result) override;
#endif
    void changeEvent(QEvent* event) override;

private:
    QString connectTimeText(quint64 seconds) const;

    Ui::MainWindow* ui = nullptr;
    QSharedPointer<UsbEvent> app;
    QTranslator* translator = nullptr;
    QList<LMDockWidget*> allDock;
};
