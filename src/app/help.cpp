#include "app/help.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace app {

const QString kUserGuideName = QStringLiteral("tobrel.html");

QString findUserGuide(const QString &programDir)
{
    const QDir dir(programDir);
    for (const QString &place : { QStringLiteral("help"), QStringLiteral("../share/tobrel/help") }) {
        const QFileInfo guide(dir.filePath(place + QLatin1Char('/') + kUserGuideName));
        if (guide.isFile())
            return guide.absoluteFilePath();
    }
    return {};
}

QString findUserGuide()
{
    return findUserGuide(QCoreApplication::applicationDirPath());
}

} // namespace app
