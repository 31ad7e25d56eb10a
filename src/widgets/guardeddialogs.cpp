#include "guardeddialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>

namespace guarded {

namespace {

QString fileName(QWidget* parent, const QString& caption, const QString& start, const QString& filter, bool save)
{
    QPointer<QFileDialog> dialog = new QFileDialog(parent, caption, start, filter);
    dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog->setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    const int result = dialog->exec();
    QString name;
    if (dialog && result == QDialog::Accepted)
        name = dialog->selectedFiles().value(0);
    delete dialog.data();
    return name;
}

} // namespace

void warning(QWidget* parent, const QString& title, const QString& text)
{
    QPointer<QMessageBox> box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
    box->exec();
    delete box.data();
}

bool question(QWidget* parent, const QString& title, const QString& text)
{
    QPointer<QMessageBox> box
        = new QMessageBox(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, parent);
    box->setDefaultButton(QMessageBox::No);
    const int answer = box->exec();
    delete box.data();
    return answer == QMessageBox::Yes;
}

QString openFileName(QWidget* parent, const QString& caption, const QString& start, const QString& filter)
{
    return fileName(parent, caption, start, filter, false);
}

QString saveFileName(QWidget* parent, const QString& caption, const QString& start, const QString& filter)
{
    return fileName(parent, caption, start, filter, true);
}

} // namespace guarded
