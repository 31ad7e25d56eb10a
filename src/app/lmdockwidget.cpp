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
    // A double click on the floating window's title bar neither docks it back
    // nor maximises it. Under a native frame it is a non-client event; where the
    // dock draws its title bar itself (X11), it reaches the dock as a plain
    // double click, which QDockWidget takes for docking. The dock has no other
    // use for a double click: its content handles its own.
    const bool doubleClick
        = event->type() == QEvent::NonClientAreaMouseButtonDblClick || event->type() == QEvent::MouseButtonDblClick;
    if (doubleClick && isFloating()) {
        event->accept();
        return true;
    }
    return QDockWidget::event(event);
}
