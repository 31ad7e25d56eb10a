#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>
#include <memory>

class QWidget;

// Answers the next modal dialog from a timer, so a test can call code that
// runs a nested event loop (message boxes, file dialogs, input dialogs).
// Nothing is asserted inside the timer: what was seen is recorded and the
// test checks it after the call returns.
struct ModalSeen
{
    bool seen = false;
    QString className; // metaObject()->className() of the dialog
    QString title; // window title
    QString text; // QMessageBox::text(), empty for other dialogs
    bool cancelled = false; // set by the test: a responder not yet answered stops
};

using ModalAction = std::function<void(QWidget* dialog)>;

// Arms a one-shot responder: the first modal widget that appears within
// timeoutMs is recorded and handed to act (which must close it).
std::shared_ptr<ModalSeen> answerNextModal(ModalAction act, int timeoutMs = 5000);

// The same for the first modal widget that inherits className, letting
// others (a wait dialog) be.
std::shared_ptr<ModalSeen> answerNextModalOf(const char* className, ModalAction act, int timeoutMs = 5000);

// Presses the given button of the next QMessageBox.
std::shared_ptr<ModalSeen> answerMessageBox(QMessageBox::StandardButton button);

// Fills the file name into the next (non-native) QFileDialog and accepts it.
std::shared_ptr<ModalSeen> answerFileDialog(const QString& fileName);

// Rejects (cancels) the next modal dialog of any kind.
std::shared_ptr<ModalSeen> rejectNextModal();
