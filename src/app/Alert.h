#pragma once

#include <QMessageBox>
#include <QString>

namespace Alert {

// A modal message with one OK button; `title` is both the window title and
// the bold first line, `text` the explanation under it. GUI thread.
void show(QMessageBox::Icon icon, const QString &title, const QString &text);

} // namespace Alert
