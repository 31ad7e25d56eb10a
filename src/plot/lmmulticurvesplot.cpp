#include "lmmulticurvesplot.h"

#include "axistag.h"
#include "minmaxgraph.h"

#include <QDateTime>
#include <QDebug>
#include <cmath>

namespace {

// Far outside any range a value axis shows: parks a tag out of sight.
constexpr double kParkedTagValue = 4294967295.0;
const QString kEmptyTagText = QStringLiteral("    ");

// Live re-ranging looks at no more than the newest samples.
constexpr int kRangeWindow = 150;

const QColor kAxisColor(0xff, 0xff, 0xff);
const QColor kAxisSelectedColor(0x55, 0xff, 0xff);

QPen dashedPen(const QColor& color, qreal width)
{
    return QPen(QBrush(color), width, Qt::DashLine, Qt::SquareCap, Qt::BevelJoin);
}

void styleAxisPens(QCPAxis* axis)
{
    axis->setBasePen(QPen(kAxisColor));
    axis->setTickPen(QPen(kAxisColor));
    axis->setSubTickPen(QPen(kAxisColor));
    axis->setSelectedBasePen(QPen(kAxisSelectedColor));
    axis->setSelectedTickPen(QPen(kAxisSelectedColor));
    axis->setSelectedSubTickPen(QPen(kAxisSelectedColor));
}

void styleAxisTexts(QCPAxis* axis)
{
    axis->setTickLabelColor(kAxisColor);
    axis->setLabelColor(kAxisColor);
    axis->setSelectedTickLabelColor(kAxisSelectedColor);
    axis->setSelectedLabelColor(kAxisSelectedColor);
}

// Range bounds in whole tenths: the lower bound cut down to a tenth, the upper
// one a tenth above the value cut down to a tenth. Cutting goes through the
// thousandths first, so 4.9876..5.0123 gives 4.9..5.1. Negative values are
// cut toward minus infinity so the range still encloses them.
bool tenthsOf(double v, qint64* tenths)
{
    const double milli = std::floor(v * 1000.0);
    if (!(std::fabs(milli) < 9.0e18)) // NaN, infinite or beyond 64 bits
        return false;
    const qint64 m = static_cast<qint64>(milli);
    *tenths = m >= 0 ? m / 100 : -((-m + 99) / 100);
    return true;
}

double rangeLower(double minValue)
{
    qint64 t = 0;
    return tenthsOf(minValue, &t) ? static_cast<double>(t) / 10.0 : minValue;
}

double rangeUpper(double maxValue)
{
    qint64 t = 0;
    return tenthsOf(maxValue, &t) ? static_cast<double>(t + 1) / 10.0 : maxValue;
}

// Elapsed time of the cursor; the hours wrap after a day.
QString elapsedText(double seconds)
{
    const double ms = seconds * 1000.0;
    const qint64 msecs = std::fabs(ms) < 9.0e18 ? static_cast<qint64>(ms) : 0;
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::OffsetFromUTC, 0).toString(QStringLiteral("hh:mm:ss.zzz"));
}

bool lineOrLabelsSelected(const QCPAxis* axis)
{
    return (axis->selectedParts() & (QCPAxis::spAxis | QCPAxis::spTickLabels)) != 0;
}

void selectLineAndLabels(QCPAxis* axis)
{
    axis->setSelectedParts(QCPAxis::spAxis | QCPAxis::spTickLabels);
}

} // namespace

LMMultiCurvesPlot::LMMultiCurvesPlot(QWidget* parent)
    : QCustomPlot(parent)
{
    setBackground(QBrush(QColor(55, 55, 55)));
    axisRect()->setBackground(QBrush(QColor(50, 50, 50)));
    setInteractions(QCP::iRangeDrag | QCP::iRangeZoom | QCP::iSelectAxes | QCP::iSelectLegend);
    setNoAntialiasingOnDrag(true);

    setSelectionRectMode(QCP::srmZoom);
    selectionRect()->setPen(dashedPen(Qt::black, 1));
    selectionRect()->setBrush(QBrush(QColor(0, 255, 0, 50)));

    legend->setVisible(true);
    legend->setBrush(QBrush(QColor(100, 100, 100, 200)));
    legend->setSelectableParts(QCPLegend::spItems);
    axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignBottom | Qt::AlignLeft);

    setXAxisTickerFormat(tr("%h:%m:%s.%z\n%dDays"));
    styleAxisPens(xAxis);
    xAxis->setTickLabelColor(kAxisColor);
    xAxis->setSelectedTickLabelColor(kAxisSelectedColor);
    xAxis->setSelectedLabelColor(kAxisSelectedColor);

    xAxis2->setVisible(true);
    xAxis2->setTickLabels(false);
    styleAxisPens(xAxis2);

    yAxis->setVisible(true);
    yAxis->setTickLabels(false);
    styleAxisPens(yAxis);

    yAxis2->setVisible(false);
    yAxis2->setTickLabels(false);

    m_tracer = new QCPItemTracer(this);
    m_tracer->setStyle(QCPItemTracer::tsCrosshair);
    m_tracer->setInterpolating(false);
    m_tracer->setPen(dashedPen(QColor(214, 207, 154), 1.2));
    m_tracer->setLayer(QStringLiteral("overlay"));
    m_tracer->setVisible(false);

    tracerXText = new QCPItemText(this);
    tracerXText->position->setType(QCPItemPosition::ptAbsolute);
    tracerXText->setPositionAlignment(Qt::AlignTop | Qt::AlignLeft);
    tracerXText->position->setCoords(0.5, 0);
    tracerXText->setText(QStringLiteral("00:00:00.000"));
    tracerXText->setFont(QFont(font().family(), 10));
    tracerXText->setPen(QPen(Qt::black));
    tracerXText->setBrush(QBrush(Qt::white));
    tracerXText->setPadding(QMargins(2, 2, 2, 2));
    tracerXText->setVisible(false);
    // Drawn above the axes and not clipped to the axis rect: it stands over
    // the time axis's labels.
    tracerXText->setLayer(QStringLiteral("overlay"));
    tracerXText->setClipToAxisRect(false);

    connect(xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), xAxis2,
        qOverload<const QCPRange&>(&QCPAxis::setRange));
    connect(yAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), yAxis2,
        qOverload<const QCPRange&>(&QCPAxis::setRange));
    connect(this, &QCustomPlot::selectionChangedByUser, this, &LMMultiCurvesPlot::selectionChanged);

    startTimer(30, Qt::CoarseTimer);
}

// Graphs, items and axes (and with the axes their tags) go with the plot.
LMMultiCurvesPlot::~LMMultiCurvesPlot() = default;

quint16 LMMultiCurvesPlot::getCurveCount() const
{
    return curveCounter;
}

void LMMultiCurvesPlot::initCurves(
    quint16 count, const QVector<QColor>& color, const QVector<QString>& curvesName, const QVector<QString>& axisName)
{
    if (count == 0)
        return;

    curveCounter = count;
    allAxisY.resize(count);
    for (int i = 0; i < count; ++i) {
        QCPAxis* axis = axisRect()->addAxis(QCPAxis::atRight);
        styleAxisPens(axis);
        styleAxisTexts(axis);
        allAxisY[i] = axis;
    }

    allCurvesData.resize(count);
    allColor.resize(count);
    allTag.resize(count);
    allCurvesName.resize(count);
    allAxisName.resize(count);

    for (int i = 0; i < count; ++i) {
        // value() keeps a short list from reading past its end.
        allColor[i] = color.value(i);
        allCurvesName[i] = curvesName.value(i);
        allAxisName[i] = axisName.value(i);

        QCPAxis* axis = allAxisY[i];
        axis->setLabel(allAxisName[i]);
        axis->setLabelPadding(0);
        axis->setVisible(false);
        axis->setTickLabels(false);
        axis->setNumberFormat(QStringLiteral("f"));
        axis->setNumberPrecision(4);

        AxisTag* tag = new AxisTag(axis);
        tag->setPen(QPen(allColor[i]));
        tag->setText(kEmptyTagText);
        tag->updatePosition(kParkedTagValue);
        allTag[i] = tag;
    }

    QList<QCPAxis*> dragZoomAxes;
    for (QCPAxis* axis : qAsConst(allAxisY))
        dragZoomAxes.append(axis);
    dragZoomAxes.append(xAxis);
    axisRect()->setRangeDragAxes(dragZoomAxes);
    axisRect()->setRangeZoomAxes(dragZoomAxes);
    axisRect()->setRangeZoomFactor(0.95, 0.95);

    // The left axis, and with it the grid, follows curve 0's scale.
    connect(allAxisY[0], qOverload<const QCPRange&>(&QCPAxis::rangeChanged), yAxis,
        qOverload<const QCPRange&>(&QCPAxis::setRange));
    connect(yAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), allAxisY[0],
        qOverload<const QCPRange&>(&QCPAxis::setRange));
}

void LMMultiCurvesPlot::showOneCurve(quint16 _index)
{
    if (_index >= curveCounter || curveIdx2graphPtr.contains(_index))
        return;

    // Registered with the plot (and its legend) by its constructor, like addGraph's.
    auto* graph = new MinMaxGraph(xAxis, allAxisY[_index]);
    graph->setName(allCurvesName[_index]);
    curveIdx2graphPtr.insert(_index, graph);
    graphPtr2curveIdx.insert(graph, _index);

    const curve_data_t& store = allCurvesData.at(_index);
    graph->replaceData(store.keyVec, store.valVec);
    graph->setPen(QPen(allColor[_index], 1));

    allAxisY[_index]->setVisible(true);
    allAxisY[_index]->setTickLabels(true);
    if (!graph->data()->isEmpty())
        moveTagToNewest(_index);
    idxList.append(_index);
}

void LMMultiCurvesPlot::removeOneCurve(quint16 _index)
{
    if (_index >= curveCounter || !curveIdx2graphPtr.contains(_index))
        return;

    idxList.removeOne(_index);
    QCPGraph* graph = curveIdx2graphPtr.value(_index);
    if (traceGraph == graph) {
        setTracerGraph(nullptr);
        m_tracer->setVisible(false);
        tracerXText->setVisible(false);
    }
    removeGraph(graph);
    curveIdx2graphPtr.remove(_index);
    graphPtr2curveIdx.remove(graph);
    hideCurveAxis(_index);
}

void LMMultiCurvesPlot::showCurves(const QList<quint16>& index)
{
    clearGraphs();
    idxList.clear();
    curveIdx2graphPtr.clear();
    graphPtr2curveIdx.clear();
    setTracerGraph(nullptr);

    for (const quint16 i : index) {
        if (i < curveCounter)
            showOneCurve(i);
        else
            qDebug().noquote() << "showCurves" << QStringLiteral("warning: Beyond max index %1").arg(i);
    }
    replot(rpRefreshHint);
}

void LMMultiCurvesPlot::refreshAllTag()
{
    for (int i = 0; i < curveCounter; ++i) {
        const QCPGraph* graph = curveIdx2graphPtr.value(i);
        if (graph && !graph->data()->isEmpty())
            moveTagToNewest(i);
    }
}

void LMMultiCurvesPlot::setRefresh(bool _refresh)
{
    refresh = _refresh;
}

void LMMultiCurvesPlot::clearCurvesData()
{
    for (int i = 0; i < curveCounter; ++i) {
        allCurvesData[i].keyVec.clear();
        allCurvesData[i].valVec.clear();
        hideCurveAxis(i);
    }
}

void LMMultiCurvesPlot::setCurvesData(quint16 _index, QVector<double> _X, QVector<double> _Y)
{
    if (_index >= curveCounter)
        return;
    // Keys and values stay pairwise: extra entries of the longer list have no partner.
    const int n = qMin(_X.size(), _Y.size());
    if (_X.size() != n)
        _X.resize(n);
    if (_Y.size() != n)
        _Y.resize(n);
    allCurvesData[_index].keyVec = _X;
    allCurvesData[_index].valVec = _Y;
}

void LMMultiCurvesPlot::addCurvesData(quint16 _index, QVector<double> _X, QVector<double> _Y)
{
    if (_index >= curveCounter)
        return;

    curve_data_t& store = allCurvesData[_index];
    const int start = store.keyVec.size();
    if (_X.size() == start)
        return;

    // Only the tail beyond the store is new. The vectors are shared with the
    // caller: read them through const iterators only, or Qt would copy the
    // whole history. A value list shorter than the keys holds back the keys
    // without a value until a later feed brings it.
    const int n = qMin(_X.size(), _Y.size()) - start;
    QVector<double> newKeys;
    QVector<double> newValues;
    if (n > 0) {
        newKeys = QVector<double>(_X.constBegin() + start, _X.constBegin() + start + n);
        newValues = QVector<double>(_Y.constBegin() + start, _Y.constBegin() + start + n);
        store.keyVec += newKeys;
        store.valVec += newValues;
    }

    QCPGraph* graph = curveIdx2graphPtr.value(_index);
    if (!graph)
        return;
    // Every curve's graph is a MinMaxGraph (showOneCurve), told of what it gets.
    if (n > 0)
        static_cast<MinMaxGraph*>(graph)->appendData(newKeys, newValues);

    const QSharedPointer<QCPGraphDataContainer> data = graph->data();
    const int c = data->size();
    double minValue = 0;
    double maxValue = 0;
    double newest = 0;
    if (c > 0) {
        QCPGraphDataContainer::const_iterator it = data->constEnd() - qMin(c, kRangeWindow);
        minValue = maxValue = it->value;
        for (++it; it != data->constEnd(); ++it) {
            if (it->value > maxValue)
                maxValue = it->value;
            if (it->value < minValue)
                minValue = it->value;
        }
        newest = (data->constEnd() - 1)->value;
    }

    if (!zoomEn)
        allAxisY[_index]->setRange(rangeLower(minValue), rangeUpper(maxValue));
    allTag[_index]->updatePosition(newest);
    allTag[_index]->setText(QString::number(newest, 'f', 3));
}

void LMMultiCurvesPlot::setCurvesColor(quint16 _index, QColor _color)
{
    if (_index >= curveCounter)
        return;
    allColor[_index] = _color;
    allTag[_index]->setPen(QPen(_color));
    if (QCPGraph* graph = curveIdx2graphPtr.value(_index))
        graph->setPen(QPen(_color, 1));
}

QColor LMMultiCurvesPlot::getCurvesColor(quint16 _index) const
{
    return allColor.value(_index);
}

bool LMMultiCurvesPlot::isHaveCurve(quint16 _index) const
{
    return curveIdx2graphPtr.contains(_index);
}

QList<quint16> LMMultiCurvesPlot::getIndexList() const
{
    return idxList;
}

void LMMultiCurvesPlot::setTracer(bool _tracer)
{
    tracerEnable = _tracer;
    m_tracer->setVisible(_tracer);
    tracerXText->setVisible(_tracer);
    if (!_tracer)
        setTracerGraph(nullptr);
}

void LMMultiCurvesPlot::setTracerGraph(QCPGraph* _graph)
{
    m_tracer->setGraph(_graph);
    traceGraph = _graph;
}

void LMMultiCurvesPlot::scaledAllCurves()
{
    for (int i = 0; i < curveCounter; ++i) {
        const curve_data_t& store = allCurvesData.at(i);
        if (!curveIdx2graphPtr.contains(i) || store.valVec.isEmpty() || store.keyVec.isEmpty())
            continue;
        double minValue = store.valVec.first();
        double maxValue = minValue;
        for (const double v : store.valVec) {
            if (v > maxValue)
                maxValue = v;
            if (v < minValue)
                minValue = v;
        }
        allAxisY[i]->setRange(rangeLower(minValue), rangeUpper(maxValue));
        xAxis->setRange(0, store.keyVec.last());
    }
}

void LMMultiCurvesPlot::setXAxisTickerFormat(const QString& format)
{
    QSharedPointer<QCPAxisTickerTime> ticker(new QCPAxisTickerTime);
    ticker->setTimeFormat(format);
    xAxis->setTicker(ticker);
}

bool LMMultiCurvesPlot::getZoom() const
{
    return zoomEn;
}

void LMMultiCurvesPlot::setZoom(int _state)
{
    zoomEn = _state != 0;
}

void LMMultiCurvesPlot::selectionChanged()
{
    if (lineOrLabelsSelected(xAxis) || lineOrLabelsSelected(xAxis2)) {
        selectLineAndLabels(xAxis2);
        selectLineAndLabels(xAxis);
    }

    // Selecting any value axis selects them all: they move together.
    const QList<QCPAxis*> rightAxes = axisRect()->axes(QCPAxis::atRight);
    if (lineOrLabelsSelected(yAxis)) {
        for (QCPAxis* axis : rightAxes)
            selectLineAndLabels(axis);
    } else {
        for (QCPAxis* axis : rightAxes) {
            if (lineOrLabelsSelected(axis)) {
                selectLineAndLabels(yAxis);
                for (QCPAxis* other : rightAxes)
                    selectLineAndLabels(other);
                break;
            }
        }
    }

    // A legend click chooses the curve the cursor follows.
    for (int i = 0; i < graphCount(); ++i) {
        QCPGraph* g = graph(i);
        const QCPPlottableLegendItem* item = legend->itemWithPlottable(g);
        if (item && item->selected() && g != traceGraph)
            setTracerGraph(g);
    }
}

void LMMultiCurvesPlot::timerEvent(QTimerEvent* event)
{
    Q_UNUSED(event)
    if (refresh)
        replot(rpRefreshHint);
}

void LMMultiCurvesPlot::mousePressEvent(QMouseEvent* event)
{
    if (mouseLocked()) {
        axisRect()->setRangeDrag(Qt::Orientations());
        return;
    }
    axisRect()->setRangeDrag(dragZoomOrientation());
    QCustomPlot::mousePressEvent(event);
}

void LMMultiCurvesPlot::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (mouseLocked())
        return;
    if (event->button() == Qt::RightButton)
        scaledAllCurves();
    else if (event->button() == Qt::LeftButton)
        setTracer(!tracerEnable);
    QCustomPlot::mouseDoubleClickEvent(event);
}

void LMMultiCurvesPlot::mouseMoveEvent(QMouseEvent* event)
{
    QCustomPlot::mouseMoveEvent(event);
    if (!tracerEnable)
        return;

    if (traceGraph && !graphPtr2curveIdx.contains(traceGraph))
        setTracerGraph(nullptr);
    if (!traceGraph) {
        for (int i = 0; i < curveCounter; ++i) {
            QCPGraph* graph = curveIdx2graphPtr.value(i);
            if (graph && !graph->data()->isEmpty()) {
                setTracerGraph(graph);
                break;
            }
        }
        if (!traceGraph)
            return;
    }
    if (traceGraph->data()->isEmpty())
        return;

    const double x = xAxis->pixelToCoord(event->pos().x());
    m_tracer->setGraphKey(x);
    // Place the crosshair now rather than at the next draw, so the time label
    // reads the sample the crosshair stands on after this move.
    m_tracer->updatePosition();
    // Shown on every move, not only when a curve is picked above: after the
    // followed curve was removed, a legend click may choose the next one while
    // the crosshair is still hidden.
    m_tracer->setVisible(true);

    tracerXText->position->setCoords(event->pos().x(), viewport().height() - 55);
    tracerXText->setVisible(true);
    tracerXText->setText(elapsedText(m_tracer->position->key()));

    for (int i = 0; i < graphCount(); ++i) {
        QCPGraph* g = graph(i);
        const auto curve = graphPtr2curveIdx.constFind(g);
        const QSharedPointer<QCPGraphDataContainer> data = g->data();
        if (curve == graphPtr2curveIdx.constEnd() || data->isEmpty())
            continue;
        QCPGraphDataContainer::const_iterator it = data->findBegin(x, false);
        if (it == data->constEnd())
            --it;
        AxisTag* tag = allTag[curve.value()];
        tag->updatePosition(it->value);
        tag->setText(QString::number(it->value, 'f', 4));
    }
    replot(rpRefreshHint);
}

void LMMultiCurvesPlot::wheelEvent(QWheelEvent* event)
{
    // The event still goes on; with no zoom orientation nothing zooms.
    axisRect()->setRangeZoom(mouseLocked() ? Qt::Orientations() : dragZoomOrientation());
    QCustomPlot::wheelEvent(event);
}

bool LMMultiCurvesPlot::mouseLocked() const
{
    return refresh && !zoomEn;
}

Qt::Orientations LMMultiCurvesPlot::dragZoomOrientation() const
{
    if (xAxis->selectedParts().testFlag(QCPAxis::spAxis))
        return Qt::Horizontal;
    if (yAxis->selectedParts().testFlag(QCPAxis::spAxis))
        return Qt::Vertical;
    return Qt::Horizontal | Qt::Vertical;
}

void LMMultiCurvesPlot::hideCurveAxis(int i)
{
    allAxisY[i]->setVisible(false);
    allAxisY[i]->setTickLabels(false);
    allTag[i]->setText(kEmptyTagText);
    allTag[i]->updatePosition(kParkedTagValue);
}

void LMMultiCurvesPlot::moveTagToNewest(int i)
{
    const QCPGraph* graph = curveIdx2graphPtr.value(i);
    const double newest = (graph->data()->constEnd() - 1)->value;
    allTag[i]->updatePosition(newest);
    allTag[i]->setText(QString::number(newest, 'f', 3));
}
