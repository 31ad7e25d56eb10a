#pragma once

#include <QDockWidget>

class QEvent;

// The dock window of one meter. Once floated it becomes an ordinary resizable
// window with minimise, maximise and close buttons; a double click on its frame
// or title bar does not dock it back.
class LMDockWidget : public QDockWidget
{
    Q_OBJECT
public:
    explicit LMDockWidget(QWidget* parent = nullptr);
    explicit LMDockWidget(const QString& title, QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());

protected:
    bool event(QEvent* event) override;
};
