#include "checkboxdelegate_paint.h"

#include "delegateclick.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>

namespace {

// The style's check-box indicator grown by 4 pixels each way, centred in the
// cell; it keeps its size however wide the column is.
QRect CheckBoxRect(const QStyleOptionViewItem& option)
{
    const QStyleOptionButton buttonOption;
    const QRect indicator = QApplication::style()->subElementRect(QStyle::SE_CheckBoxIndicator, &buttonOption);
    const int width = indicator.width() + 4;
    const int height = indicator.height() + 4;
    const QRect& cell = option.rect;
    return QRect(cell.x() + cell.width() / 2 - width / 2, cell.y() + cell.height() / 2 - height / 2, width, height);
}

QPushButton* templateButton(const char* image)
{
    auto* button = new QPushButton;
    button->setStyleSheet(QStringLiteral("QPushButton {border: none; background-color: transparent; image:url(%1);}")
                              .arg(QLatin1String(image)));
    return button;
}

} // namespace

CheckBoxDelegate_Paint::CheckBoxDelegate_Paint(int _size, QObject* parent)
    : QStyledItemDelegate(parent)
    , btnState(0)
    , m_pEditCheck(templateButton(":/res/checkBox2-144.png"))
    , m_pEditNoCheck(templateButton(":/res/checkBox2-no-40.png"))
    , m_pNoEditCheck(templateButton(":/res/checkBox3-144.png"))
    , m_pNoEditNoCheck(templateButton(":/res/checkBox3-no-40.png"))
    , allEditable(qMax(0, _size), true)
{
}

CheckBoxDelegate_Paint::CheckBoxDelegate_Paint(QObject* parent)
    : CheckBoxDelegate_Paint(0, parent)
{
}

void CheckBoxDelegate_Paint::resize(int _size)
{
    allEditable.fill(true, qMax(0, _size));
    repaintView();
}

void CheckBoxDelegate_Paint::setEditable(int _index, bool _bool)
{
    if (_index < 0 || _index >= allEditable.size())
        return;
    allEditable[_index] = _bool;
    repaintView();
}

bool CheckBoxDelegate_Paint::rowEditable(int row) const
{
    // A row the delegate was not sized for behaves like a fresh one.
    return row < 0 || row >= allEditable.size() || allEditable[row];
}

void CheckBoxDelegate_Paint::repaintView() const
{
    // The view does not know the flags changed; redraw so the images follow.
    if (auto* view = qobject_cast<QAbstractItemView*>(parent()))
        view->viewport()->update();
}

void CheckBoxDelegate_Paint::paint(
    QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const bool checked = index.data(Qt::DisplayRole).toBool();
    if (index.column() != 2 && index.column() != 3) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }

    QStyleOptionButton buttonOption;
    buttonOption.rect = CheckBoxRect(option);
    buttonOption.state = QStyle::State_Enabled;
    if (checked)
        buttonOption.state |= QStyle::State_On;

    QPushButton* button;
    if (rowEditable(index.row()))
        button = checked ? m_pEditCheck.data() : m_pEditNoCheck.data();
    else
        button = checked ? m_pNoEditCheck.data() : m_pNoEditNoCheck.data();
    // The button's own style is the style-sheet style that paints its image.
    button->style()->drawControl(QStyle::CE_PushButton, &buttonOption, painter, button);
}

bool CheckBoxDelegate_Paint::editorEvent(
    QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option, const QModelIndex& index)
{
    // Always handled, so the view never opens an editor for these cells; key
    // presses and other events change nothing.
    if (completesDelegateClick(event, CheckBoxRect(option), btnState) && rowEditable(index.row()) && model) {
        const bool checked = index.data(Qt::DisplayRole).toBool();
        model->setData(index, !checked, Qt::EditRole);
        emit stateChanged(index);
    }
    return true;
}
