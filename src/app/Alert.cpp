#include "app/Alert.h"

namespace Alert {

void show(QMessageBox::Icon icon, const QString &title, const QString &text)
{
    QMessageBox alert;
    alert.setIcon(icon);
    alert.setWindowTitle(title);
    alert.setText(title);
    alert.setInformativeText(text);
    alert.setStandardButtons(QMessageBox::Ok);
    alert.exec();
}

} // namespace Alert
