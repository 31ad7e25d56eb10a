#pragma once

#include <QEvent>
#include <QMouseEvent>
#include <QRect>

// The click rule both table delegates share. Presses of the left button on the
// cell's button are counted; a release completes a click only when exactly one
// press was counted, so a double click (two presses) acts once, and any mouse
// event off the button starts the count again. Returns true when a release
// completes such a click. Events other than mouse presses, releases, double
// clicks and moves leave the count alone.
inline bool completesDelegateClick(const QEvent* event, const QRect& button, int& btnState)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
        break;
    default:
        return false;
    }

    const auto* mouse = static_cast<const QMouseEvent*>(event);
    if (!button.contains(mouse->pos())) {
        btnState = 0;
        return false;
    }
    if (mouse->button() != Qt::LeftButton)
        return false;

    if (event->type() == QEvent::MouseButtonPress) {
        ++btnState;
        return false;
    }
    if (event->type() != QEvent::MouseButtonRelease)
        return false; // a double click is the second press of a click already counted
    const bool click = btnState == 1;
    btnState = 0;
    return click;
}
