#pragma once

#include "lminputdialog.h" // TRIGGER_PARAM_T

#include <QList>
#include <QSharedPointer>
#include <QString>
#include <QWidget>

#include <cstdint>

class Com_Layer;
class QEvent;
class QPersistentModelIndex;
class QTimer;
class QTreeWidgetItem;
class SuportProtocol;
class UsbEvent;

namespace Ui {
class UsbProcotol;
}

// The Protocol tab of a meter's window: asks the meter to raise a fast-charge
// protocol at a chosen voltage, once (with up to three retries on a failure
// reply) or as a timed plan of steps run on a 1 ms tick; releases it; keeps
// the plan editable and saveable, and logs every operation. Binds, while being
// constructed, to the newest connection of the registry and keeps it for its
// whole life. GUI thread only.
class UsbProcotol : public QWidget
{
    Q_OBJECT
public:
    explicit UsbProcotol(QWidget* parent = nullptr);
    ~UsbProcotol() override;

public slots:
    void comboxIndexChanged(int _index);
    void sliderChangeSlot(int _val);
    void btnTrigOnceSlot();
    void release();
    void trigSuccessSlot();
    void trigFailSlot();
    void btnStartSlot();
    void btnPauseSlot();
    void btnStopSlot();
    void btnClearSlot();
    void btnImportSlot();
    void btnExportSlot();
    void btnAddSlot();
    void btnDeleteSlot();
    void btnMoveUp();
    void btnMoveDown();
    // Opens the step dialog once the tree's own double-click handling has returned.
    void itemDoubleClick(QTreeWidgetItem* item, int column);
    void autoTrigTimerSlot();
    void btnClearTextSlot();

protected:
    void changeEvent(QEvent* e) override;

private:
    friend class tst_Trigger;

    void textBrowserAppend(const QString& text);
    void trigOnce(int _prot, int _vol);
    void startAutoTrigger();
    void pauseAutoTrigger();
    void stopAutoTrigger();
    void sortingAllItem();

    bool inApplicationMode() const;
    // A warning box on the page; the page may be gone when it returns.
    void warn(const QString& text);
    // Enables the trigger buttons and the plan editing controls (idle) or disables them.
    void setEditingEnabled(bool enabled);
    void writeRow(QTreeWidgetItem* item, const TRIGGER_PARAM_T& step) const;
    void editStep(const QPersistentModelIndex& row);

    Ui::UsbProcotol* ui = nullptr; // owned
    QSharedPointer<UsbEvent> app;
    Com_Layer* comLayer = nullptr; // not owned; outlives this page (null only without any meter)
    QList<TRIGGER_PARAM_T> allAutoTrigger; // one step per top-level row of treeWidget, in row order
    SuportProtocol* suportProtVol = nullptr; // owned
    int trigIndex = 0;
    int trigVol = 0;
    uint8_t trigTryCount = 0; // retries made for the last trigger, 0 to 3
    QTimer* autoTimer = nullptr; // child; the 1 ms plan tick
    int timeCount = 0;
    int timeOut = 0;
    int trigStep = 0; // 0 ready for the step at indexOfTrigging, 1 waiting for its reply
    int indexOfTrigging = 0;
    uint8_t autoTrigWait = 0; // last trigger: 0 no outcome yet, 1 succeeded, 2 failed after all retries
};
