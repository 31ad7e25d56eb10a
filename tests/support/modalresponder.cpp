#include "modalresponder.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>

std::shared_ptr<ModalSeen> answerNextModal(ModalAction act, int timeoutMs)
{
    return answerNextModalOf(nullptr, std::move(act), timeoutMs);
}

std::shared_ptr<ModalSeen> answerNextModalOf(const char* className, ModalAction act, int timeoutMs)
{
    auto seen = std::make_shared<ModalSeen>();
    auto* timer = new QTimer(qApp);
    timer->setInterval(20);
    auto remaining = std::make_shared<int>(timeoutMs / 20 + 1);
    const QByteArray kind(className); // the caller's string may be a temporary
    QObject::connect(timer, &QTimer::timeout, timer, [timer, seen, act, remaining, kind]() {
        QWidget* dialog = QApplication::activeModalWidget();
        if (dialog && !kind.isEmpty() && !dialog->inherits(kind.constData()))
            dialog = nullptr;
        if (seen->cancelled || (!dialog && --*remaining <= 0)) {
            timer->stop();
            timer->deleteLater();
            return;
        }
        if (!dialog)
            return;
        timer->stop();
        timer->deleteLater();
        seen->seen = true;
        seen->className = QString::fromLatin1(dialog->metaObject()->className());
        seen->title = dialog->windowTitle();
        if (auto* box = qobject_cast<QMessageBox*>(dialog))
            seen->text = box->text();
        act(dialog);
    });
    timer->start();
    return seen;
}

std::shared_ptr<ModalSeen> answerMessageBox(QMessageBox::StandardButton button)
{
    return answerNextModal([button](QWidget* dialog) {
        auto* box = qobject_cast<QMessageBox*>(dialog);
        QAbstractButton* b = box ? box->button(button) : nullptr;
        if (b)
            b->click();
        else if (auto* d = qobject_cast<QDialog*>(dialog))
            d->reject();
    });
}

std::shared_ptr<ModalSeen> answerFileDialog(const QString& fileName)
{
    return answerNextModal([fileName](QWidget* dialog) {
        auto* fd = qobject_cast<QFileDialog*>(dialog);
        if (!fd) {
            if (auto* d = qobject_cast<QDialog*>(dialog))
                d->reject();
            return;
        }
        if (auto* edit = fd->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            edit->setText(fileName);
        fd->selectFile(fileName);
        static_cast<QDialog*>(fd)->accept(); // virtual: runs QFileDialog's accept
    });
}

std::shared_ptr<ModalSeen> rejectNextModal()
{
    return answerNextModal([](QWidget* dialog) {
        if (auto* d = qobject_cast<QDialog*>(dialog))
            d->reject();
        else
            dialog->close();
    });
}
