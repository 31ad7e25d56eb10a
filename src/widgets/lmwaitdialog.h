#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;

// A small frameless, half-transparent "Loading..." dialog with a progress bar.
// The owner sets progressBar's value (0 to 100), runs exec() and ends it with
// hide(); one instance is reused for every run.
class LMWaitDialog : public QDialog
{
    Q_OBJECT
public:
    explicit LMWaitDialog(QWidget* parent);

    QLabel* title; // child of the dialog; its text never changes
    QProgressBar* progressBar; // child of the dialog; range 0 to 100
};
