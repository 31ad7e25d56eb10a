#pragma once

#include <QColor>
#include <QList>
#include <QMap>
#include <QString>
#include <QVector>
#include <qcustomplot.h>

class AxisTag;

// The stored samples of one curve: times in seconds since the start of the
// recording (ascending) and the values; both of the same length.
struct curve_data_t
{
    QVector<double> keyVec;
    QVector<double> valVec;
};

// Many curves over one time axis, each on a value axis of its own on the
// right with a value tag; crosshair cursor, live tail appends with
// re-ranging, fit all, and mouse locks while a recording runs.
// Everything runs in the GUI thread.
class LMMultiCurvesPlot : public QCustomPlot
{
    Q_OBJECT
public:
    explicit LMMultiCurvesPlot(QWidget* parent = nullptr);
    ~LMMultiCurvesPlot() override;

    quint16 getCurveCount() const;
    void initCurves(quint16 count, const QVector<QColor>& color, const QVector<QString>& curvesName,
        const QVector<QString>& axisName);
    void showOneCurve(quint16 _index);
    void removeOneCurve(quint16 _index);
    void showCurves(const QList<quint16>& index);
    void refreshAllTag();
    void setRefresh(bool _refresh);
    void clearCurvesData();
    void setCurvesData(quint16 _index, QVector<double> _X, QVector<double> _Y);
    void addCurvesData(quint16 _index, QVector<double> _X, QVector<double> _Y);
    void setCurvesColor(quint16 _index, QColor _color);
    QColor getCurvesColor(quint16 _index) const;
    bool isHaveCurve(quint16 _index) const;
    QList<quint16> getIndexList() const;
    void setTracer(bool _tracer);
    void setTracerGraph(QCPGraph* _graph);
    void scaledAllCurves();
    void setXAxisTickerFormat(const QString& format);
    bool getZoom() const;

public slots:
    void selectionChanged();
    void setZoom(int _state);

protected:
    void timerEvent(QTimerEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    bool mouseLocked() const;
    Qt::Orientations dragZoomOrientation() const;
    void hideCurveAxis(int i);
    void moveTagToNewest(int i);

    bool refresh = false;
    quint16 curveCounter = 0;
    QVector<curve_data_t> allCurvesData;
    QVector<QCPAxis*> allAxisY; // owned by the axis rect
    QVector<QColor> allColor;
    QVector<AxisTag*> allTag; // each owned by its axis
    QVector<QString> allCurvesName;
    QVector<QString> allAxisName;
    QList<unsigned short> idxList;
    QMap<int, QCPGraph*> curveIdx2graphPtr;
    QMap<QCPGraph*, int> graphPtr2curveIdx;
    bool tracerEnable = false;
    QCPItemTracer* m_tracer = nullptr; // owned by the plot
    QCPItemText* tracerXText = nullptr; // owned by the plot
    QCPGraph* traceGraph = nullptr;
    bool zoomEn = false;
};
