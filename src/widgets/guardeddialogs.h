#pragma once

#include <QString>

class QWidget;

// Modal dialogs for pages that may be deleted while the dialog is open (the
// meter was unplugged). Qt's static helpers keep their dialog on the stack
// with the page as its parent, so the page's deletion would delete a stack
// object; these keep it on the heap and let it go with the page. The caller
// must still check, with a QPointer, that it exists before touching itself.
namespace guarded {

// A warning box with the single button Ok.
void warning(QWidget* parent, const QString& title, const QString& text);

// A question with the buttons Yes and No, No the default. True only when Yes
// was pressed (false too when the parent went away).
bool question(QWidget* parent, const QString& title, const QString& text);

// The chosen file's full path, or an empty string when cancelled or when the
// parent went away. `start` may name a directory or a file to preselect.
QString openFileName(QWidget* parent, const QString& caption, const QString& start, const QString& filter);
QString saveFileName(QWidget* parent, const QString& caption, const QString& start, const QString& filter);

} // namespace guarded
