#pragma once

#include <QDialog>

class QEvent;
class QLabel;
class QTextBrowser;

// The About box: logo, program name and version, the vendor link and the change log.
// Built once by the main window and shown modeless again on each use.
class AboutDialog : public QDialog
{
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);

    // Appends the change log to the browser.
    void showUpdateInfo();

protected:
    void changeEvent(QEvent* event) override;

private:
    QLabel* pictureLabel = nullptr;
    QLabel* labelVer = nullptr;
    QLabel* urlLabel = nullptr;
    QLabel* labelLog = nullptr;
    QTextBrowser* browser = nullptr;
};
