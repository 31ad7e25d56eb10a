#pragma once

#include <QPushButton>
#include <QScopedPointer>
#include <QStyledItemDelegate>
#include <QVector>

// Draws the bool cells of a recording table's Record and Display columns (2
// and 3) as image check boxes and toggles a cell when its box is clicked.
// Rows can be locked (drawn grey, clicks ignored) with setEditable.
class CheckBoxDelegate_Paint : public QStyledItemDelegate
{
    Q_OBJECT
public:
    CheckBoxDelegate_Paint(int _size, QObject* parent);
    explicit CheckBoxDelegate_Paint(QObject* parent);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
        const QModelIndex& index) override;

    // Gives the delegate _size rows, every one editable again.
    void resize(int _size);

public slots:
    void setEditable(int _index, bool _bool);

signals:
    // A click toggled the cell; the new value is already in the model.
    void stateChanged(const QModelIndex& index);

private:
    bool rowEditable(int row) const;
    void repaintView() const;

    // Left presses counted inside the box since the last release; shared by
    // every cell of the column, so a press whose release went elsewhere makes
    // the next click count 2 and not toggle.
    int btnState;
    // Never shown: they only carry the style sheet a cell is drawn with.
    QScopedPointer<QPushButton> m_pEditCheck;
    QScopedPointer<QPushButton> m_pEditNoCheck;
    QScopedPointer<QPushButton> m_pNoEditCheck;
    QScopedPointer<QPushButton> m_pNoEditNoCheck;
    QVector<bool> allEditable; // one flag per table row
};
