#pragma once

#include <QColor>
#include <QMap>
#include <QSharedPointer>
#include <QVector>
#include <QWidget>

class Com_Layer;
struct CurveFile;
class LMWaitDialog;
class QEvent;
class QModelIndex;
class QStandardItemModel;
class QThread;
class QTimer;
class QTreeWidgetItem;
class UsbEvent;
class UsbParam;
class UsbRecParam;

namespace Ui {
class UsbGen;
}

// Bookkeeping of a recording being read back from the meter.
typedef struct device_curves_t
{
    quint16 pointCount; // points the meter announced
    quint16 receivedCount; // points received so far
    double sampleRate; // points per second
} DEVICE_CURVES_T;

// The curves page of one meter: the plot with its extremum tree, the record
// settings, the recording control, the two record tables choosing which
// channels are recorded and shown in which colour, and the file buttons.
// Owns the meter's recorder, which runs on a thread of its own. Binds, while
// being constructed, to the newest connection of the registry.
class UsbGen : public QWidget
{
    Q_OBJECT
public:
    explicit UsbGen(QWidget* parent = nullptr);
    ~UsbGen() override;

signals:
    void addRecParam(UsbParam* _usbParam);
    // Lock (false) or unlock (true) one row of a table's Record (_1) or Display (_2) column.
    void setMainTableEditable_1(int _index, bool _bool);
    void setAiderTableEditable_1(int _index, bool _bool);
    void setMainTableEditable_2(int _index, bool _bool);
    void setAiderTableEditable_2(int _index, bool _bool);

public slots:
    void sliderValChanged(int _value);
    void setMainColorSlot(int _index, QColor _color);
    void triggedMainRecordLine(const QModelIndex& index);
    void triggedMainShowLine(const QModelIndex& index);
    void setAiderColorSlot(int _index, QColor _color);
    void triggedAiderRecordLine(const QModelIndex& index);
    void triggedAiderShowLine(const QModelIndex& index);

    void startRecord();
    void pauseRecord();
    void stopRecord();
    void createRecord();
    void timeShowREC();
    void timeRecord();
    void showExtremum();
    void showAccumulate();
    void openButtonSlot();
    void saveButtonSlot();
    void importButtonSlot();
    void importCurvesMessageSlot(quint16 _count, quint32 _rate);
    void importCurvesSlot(int _count);
    void startRecordSlot();
    void getCurvesTimeoutSlot();

protected:
    void changeEvent(QEvent* event) override;
    // Keeps the import's wait dialog up against Escape and close requests.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class tst_Curves;
    friend class CurvesBench;

    // What the status label says; kept so a language change can say it again.
    enum STATUS_E
    {
        STATUS_IDLE,
        STATUS_WAIT,
        STATUS_RECORDING,
        STATUS_PAUSE,
    };

    void createSeriesLines();
    void createMainTable();
    void createAiderTable();
    void createTreeWidget();
    void setStatus(STATUS_E status);
    void setHeaderTexts(QStandardItemModel* model) const;
    void setRecordControlsEnabled(bool enabled);
    // The tree row of a channel (0..6).
    QTreeWidgetItem* channelTreeItem(int channel) const;
    void recordCellChanged(QStandardItemModel* model, int row, int channel);
    void showCellChanged(QStandardItemModel* model, int row, int channel);
    void replotWithTags();
    // Brings a curve about to be shown up to the points the feeds handed out.
    void catchUpCurve(int channel);

    bool inApplicationMode() const;
    // True when no recording is held, or the user lets it be overwritten.
    // False also when the page went meanwhile: the caller returns at once.
    bool overwriteConfirmed();
    // After a file or an import: the slider at the rate's position when the
    // rate table holds it, else at 0; the label names the rate itself.
    void showRate(double rate);
    // Set up: Start and Stop on, Create and Pause off, the settings locked.
    void enterSetUp();
    // Record and Display of the channels given on, of the others off, with
    // the recorder's switches and the tree rows to match.
    void showRecordedChannels(const QList<quint16>& channels);
    // Record locked everywhere, Display where the row is not recorded.
    void lockRecordedRows();
    // The plot shows exactly these curves with these points, fitted.
    void plotRecording(
        const QList<quint16>& channels, const QVector<double>& time, const QVector<QVector<double>>& lists);

    // "Please pause." while the tick runs; else the file chosen in the
    // dialog, kept as the last one. Empty when cancelled, or when the page
    // went meanwhile: the caller returns at once.
    QString chooseCurveFile(bool save);
    // The recorder's recording as a curve file holds it.
    CurveFile recordedFile() const;
    // The page and the recorder take over a file read and checked whole.
    void applyCurveFile(const CurveFile& file);

    // A block of the stored recording from the connection: handed to the
    // recorder only while an import receives, and never beyond the points
    // announced.
    void takeDeviceCurves(int _count, const QByteArray& _buf);
    void sendToMeter(quint8 code);
    // Hides the wait dialog and stops the watchdog.
    void endImportWait();
    // "Failed to import curves.", then the meter is told to stop.
    void failImport();

    Ui::UsbGen* ui;
    QSharedPointer<UsbEvent> app;
    QStandardItemModel* mainModel = nullptr; // child; rows VBUS, IBUS, D+, D-
    QStandardItemModel* aiderModel = nullptr; // child; rows PBUS, CAP, NRG
    qreal sampleRate[13]; // points per second, by slider position
    QMap<double, int> sampleRate2Index;
    QTimer* timerREC = nullptr; // child; the 10 ms recording tick
    QTimer* timerShow = nullptr; // child; the 30 ms plot feed
    QVector<QTreeWidgetItem*> allExtremumItem; // VBUS, IBUS, DP, DM, PBUS; owned by the tree
    QVector<QTreeWidgetItem*> allExtremumMAX;
    QVector<QTreeWidgetItem*> allExtremumMIN;
    QVector<QTreeWidgetItem*> allAccumulate; // TIME, CAP, NRG
    DEVICE_CURVES_T deviceCurve;
    // Where an import stands: the size reply is taken only when asked for,
    // blocks only after a size of at least one point, until the import ends.
    enum IMPORT_E
    {
        IMPORT_NONE,
        IMPORT_ASKED, // 0x84 sent, waiting for the size and rate
        IMPORT_RECEIVING, // blocks requested
    };
    IMPORT_E importPhase = IMPORT_NONE;
    int importTaken = 0; // points handed to the recorder in this import, at most pointCount
    QTimer* curveTimer = nullptr; // child; the import watchdog
    LMWaitDialog* waitCurvesDialog = nullptr; // child
    Com_Layer* comLayer = nullptr; // not owned; outlives the page (null without a meter)
    QThread* thread = nullptr; // child; joined by the destructor
    UsbRecParam* usbRecParam = nullptr; // lives in thread, deleted there when it finishes
    STATUS_E status = STATUS_IDLE;
    // Time points handed to the plot by the last feed; 0 once its curves are
    // cleared. Hidden curves are not fed while recording (their copies would
    // only take memory) and catch up to this when shown. GUI thread only.
    int fedPoints = 0;
};
