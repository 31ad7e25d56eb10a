#include "colorbuttondelegate_paint.h"

#include "delegateclick.h"

#include <QApplication>
#include <QColorDialog>
#include <QMouseEvent>
#include <QPainter>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QStyle>
#include <QStyleOptionButton>

namespace {

// The style's check-box indicator grown by 2 pixels each way, centred in the cell.
QRect ColorButtonRect(const QStyleOptionViewItem& option)
{
    const QStyleOptionButton buttonOption;
    const QRect indicator = QApplication::style()->subElementRect(QStyle::SE_CheckBoxIndicator, &buttonOption);
    const int width = indicator.width() + 2;
    const int height = indicator.height() + 2;
    const QRect& cell = option.rect;
    return QRect(cell.x() + cell.width() / 2 - width / 2, cell.y() + cell.height() / 2 - height / 2, width, height);
}

// A cell without a colour reads as an invalid colour, drawn black.
QColor cellColor(const QModelIndex& index)
{
    const QVariant value = index.data(Qt::DisplayRole);
    return value.canConvert<QColor>() ? value.value<QColor>() : QColor();
}

} // namespace

ColorButtonDelegate_Paint::ColorButtonDelegate_Paint(QObject* parent)
    : QStyledItemDelegate(parent)
    , colorBlock(new QPushButton)
    , btnState(0)
{
}

void ColorButtonDelegate_Paint::paint(
    QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const QColor color = cellColor(index);
    if (index.column() != 1) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }

    QStyleOptionButton buttonOption;
    buttonOption.rect = ColorButtonRect(option);
    buttonOption.state = QStyle::State_Enabled | QStyle::State_Raised;
    colorBlock->setStyleSheet(QStringLiteral("QPushButton{background-color:rgb(%1,%2,%3);}")
                                  .arg(color.red())
                                  .arg(color.green())
                                  .arg(color.blue()));
    colorBlock->style()->drawControl(QStyle::CE_PushButton, &buttonOption, painter, colorBlock.data());
}

bool ColorButtonDelegate_Paint::editorEvent(
    QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option, const QModelIndex& index)
{
    if (!completesDelegateClick(event, ColorButtonRect(option), btnState))
        return true;

    // The colour dialog is opened from the event loop, once the view is out
    // of its mouse handling: its nested event loop may see the meter unplugged
    // and the table (with this delegate) deleted, and a view returning into
    // its own deleted mouse handler crashes. Only touch what survived.
    const QPersistentModelIndex cell(index);
    const QPointer<QAbstractItemModel> guardedModel(model);
    QMetaObject::invokeMethod(
        this,
        [this, cell, guardedModel]() {
            if (!guardedModel || !cell.isValid())
                return;
            const QPointer<ColorButtonDelegate_Paint> self(this);
            const QColor picked
                = QColorDialog::getColor(cellColor(cell), nullptr, QString(), QColorDialog::ColorDialogOptions());
            if (!self || !guardedModel || !cell.isValid() || !picked.isValid())
                return;
            guardedModel->setData(cell, picked, Qt::EditRole);
            emit clickAccpet(cell.row(), picked);
        },
        Qt::QueuedConnection);
    return true;
}
