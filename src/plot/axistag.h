#pragma once

#include <QBrush>
#include <QObject>
#include <QPen>
#include <QPointer>
#include <QString>

class QCPAxis;
class QCPItemLine;
class QCPItemText;
class QCPItemTracer;

// A value tag on one value axis: an arrow pointing at the axis line with a
// label at its tail. The tag lives as long as its axis; its three items
// belong to the plot.
class AxisTag : public QObject
{
    Q_OBJECT
public:
    explicit AxisTag(QCPAxis* parentAxis);
    ~AxisTag() override;

    void setPen(const QPen& pen);
    void setBrush(const QBrush& brush);
    void setText(const QString& text);

    QPen pen() const;
    QBrush brush() const;
    QString text() const;

    void updatePosition(double value);

protected:
    QCPAxis* mAxis;
    // The plot deletes its items when it is destroyed, possibly before the
    // tag (a child of the axis) goes: guarded pointers keep us from removing
    // or touching an item twice.
    QPointer<QCPItemTracer> mDummyTracer;
    QPointer<QCPItemLine> mArrow;
    QPointer<QCPItemText> mLabel;
};
