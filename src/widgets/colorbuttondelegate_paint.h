#pragma once

#include <QColor>
#include <QPushButton>
#include <QScopedPointer>
#include <QStyledItemDelegate>

// Draws the colour column (1) of a recording table as a raised button filled
// with the cell's colour and lets the user pick a new colour by clicking it.
class ColorButtonDelegate_Paint : public QStyledItemDelegate
{
    Q_OBJECT
public:
    explicit ColorButtonDelegate_Paint(QObject* parent);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
        const QModelIndex& index) override;

signals:
    // The user picked _color for row _index in the colour dialog that a click
    // opens (just after the click returns); it is already in the model.
    void clickAccpet(int _index, QColor _color);

private:
    // Never shown: restyled with each cell's colour and used to draw it.
    QScopedPointer<QPushButton> colorBlock;
    // Left presses counted inside the button since the last release.
    int btnState;
};
