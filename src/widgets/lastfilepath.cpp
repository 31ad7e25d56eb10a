#include "lastfilepath.h"

#include <QSettings>

QString lastFilePath(const char* key)
{
    return QSettings(QStringLiteral("./Setting.ini"), QSettings::IniFormat).value(QLatin1String(key)).toString();
}

void setLastFilePath(const char* key, const QString& path)
{
    QSettings(QStringLiteral("./Setting.ini"), QSettings::IniFormat).setValue(QLatin1String(key), path);
}
