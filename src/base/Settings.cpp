#include "base/Settings.h"

#include <QSettings>

namespace Settings {

QVariant value(const QString &key, const QVariant &fallback)
{
    const QSettings store(QStringLiteral("Quillo"), QStringLiteral("Quillo"));
    return store.value(key, fallback);
}

QString string(const QString &key, const QString &fallback)
{
    return value(key, fallback).toString();
}

void setValue(const QString &key, const QVariant &value)
{
    QSettings store(QStringLiteral("Quillo"), QStringLiteral("Quillo"));
    store.setValue(key, value);
    store.sync();
}

} // namespace Settings
