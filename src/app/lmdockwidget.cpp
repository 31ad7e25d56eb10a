#include "lmdockwidget.h"

#include <QEvent>

LMDockWidget::LMDockWidget(QWidget* parent)
    : QDockWidget(parent)
{
}

LMDockWidget::LMDockWidget(const QString& title, QWidget* parent, Qt::WindowFlags flags)
    : QDockWidget(title, parent, flags)
{
}

bool LMDockWidget::event(QEvent* event)
{
    if (event->type() == QEvent::ZOrderChange && isFloating()) {
        const Qt::WindowFlags floatingFlags
            = Qt::Dialog | Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint;
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        setWindowFlags(floatingFlags);
        show(); // new window flags hide the window
        return QDockWidget::event(event);
    }
    if (event->type() == QEvent::NonClientAreaMouseButtonDblClick && isFloating())
        return true; // neither dock back nor maximise
    return QDockWidget::event(event);
}
