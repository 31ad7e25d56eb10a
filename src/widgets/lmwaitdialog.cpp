#include "lmwaitdialog.h"

#include <QFont>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

LMWaitDialog::LMWaitDialog(QWidget* parent)
    : QDialog(parent)
    , title(new QLabel(this))
    , progressBar(new QProgressBar(this))
{
    setFixedSize(200, 68);
    setWindowOpacity(0.8);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);

    // A fixed text, the same in every language.
    title->setText(QStringLiteral("Loading..."));
    QFont font;
    font.setPointSize(10);
    title->setFont(font);
    title->setGeometry(15, 15, title->width(), title->height());

    progressBar->setGeometry(15, 40, 180, 20);
    progressBar->setTextVisible(true);
    progressBar->setValue(0);

    auto* layout = new QVBoxLayout;
    layout->addWidget(title);
    layout->addWidget(progressBar);
    setLayout(layout);
}
