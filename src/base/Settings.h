#pragma once

#include <QString>
#include <QVariant>

// The user's persisted preferences, in QSettings("Quillo", "Quillo")
// (~/.config/Quillo/Quillo.conf). GUI thread only.
namespace Settings {

QVariant value(const QString &key, const QVariant &fallback = {});
QString string(const QString &key, const QString &fallback = {});
void setValue(const QString &key, const QVariant &value);

} // namespace Settings
