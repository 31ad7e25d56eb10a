#include "axistag.h"

#include <qcustomplot.h>

AxisTag::AxisTag(QCPAxis* parentAxis)
    : QObject(parentAxis)
    , mAxis(parentAxis)
{
    QCustomPlot* plot = mAxis->parentPlot();

    // Invisible anchor on the right edge of the axis rect, at the tag's value.
    mDummyTracer = new QCPItemTracer(plot);
    mDummyTracer->setVisible(false);
    mDummyTracer->position->setTypeX(QCPItemPosition::ptAxisRectRatio);
    mDummyTracer->position->setTypeY(QCPItemPosition::ptPlotCoords);
    mDummyTracer->position->setAxisRect(mAxis->axisRect());
    mDummyTracer->position->setAxes(nullptr, mAxis);
    mDummyTracer->position->setCoords(1, 0);

    // The head sits on the axis line (offset set by updatePosition), the tail
    // 14 pixels further out.
    mArrow = new QCPItemLine(plot);
    mArrow->setLayer(QStringLiteral("overlay"));
    mArrow->setClipToAxisRect(false);
    mArrow->setHead(QCPLineEnding(QCPLineEnding::esSpikeArrow, 8, 10, false));
    mArrow->end->setParentAnchor(mDummyTracer->position);
    mArrow->end->setType(QCPItemPosition::ptAbsolute);
    mArrow->end->setCoords(0, 0);
    mArrow->start->setParentAnchor(mArrow->end);
    mArrow->start->setType(QCPItemPosition::ptAbsolute);
    mArrow->start->setCoords(14, 0);

    mLabel = new QCPItemText(plot);
    mLabel->setLayer(QStringLiteral("overlay"));
    mLabel->setClipToAxisRect(false);
    mLabel->setPadding(QMargins(3, 0, 3, 0));
    mLabel->setBrush(QBrush(Qt::white));
    mLabel->setPen(QPen(Qt::blue));
    mLabel->setPositionAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    mLabel->position->setParentAnchor(mArrow->start);
    mLabel->position->setType(QCPItemPosition::ptAbsolute);
    mLabel->position->setCoords(0, 0);
    mLabel->setText(QString());

    // Axes beside this one change width with their tick labels and come and
    // go with their curves; keep the head on our own axis line after every
    // layout, not only at the next updatePosition.
    connect(plot, &QCustomPlot::afterLayout, this, [this]() {
        if (mArrow)
            mArrow->end->setCoords(mAxis->offset(), 0);
    });
}

AxisTag::~AxisTag()
{
    if (mDummyTracer)
        mDummyTracer->parentPlot()->removeItem(mDummyTracer);
    if (mArrow)
        mArrow->parentPlot()->removeItem(mArrow);
    if (mLabel)
        mLabel->parentPlot()->removeItem(mLabel);
}

void AxisTag::setPen(const QPen& pen)
{
    if (mArrow)
        mArrow->setPen(pen);
    if (mLabel)
        mLabel->setPen(pen);
}

void AxisTag::setBrush(const QBrush& brush)
{
    if (mLabel)
        mLabel->setBrush(brush);
}

void AxisTag::setText(const QString& text)
{
    if (mLabel)
        mLabel->setText(text);
}

QPen AxisTag::pen() const
{
    return mLabel ? mLabel->pen() : QPen();
}

QBrush AxisTag::brush() const
{
    return mLabel ? mLabel->brush() : QBrush();
}

QString AxisTag::text() const
{
    return mLabel ? mLabel->text() : QString();
}

void AxisTag::updatePosition(double value)
{
    if (mDummyTracer)
        mDummyTracer->position->setCoords(1, value);
    // Read the offset each time: it changes when axes nearer the axis rect
    // are shown or hidden.
    if (mArrow)
        mArrow->end->setCoords(mAxis->offset(), 0);
}
