#include "lingua.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

bool installaLinguaItaliana()
{
    const QLocale italiano(QLocale::Italian, QLocale::Italy);
    QLocale::setDefault(italiano);
    auto *traduzione = new QTranslator(QCoreApplication::instance());
    for (const QString &cartella : {QLibraryInfo::path(QLibraryInfo::TranslationsPath),
             QDir(QCoreApplication::applicationDirPath())
                 .filePath(QStringLiteral("translations"))}) {
        if (traduzione->load(italiano, QStringLiteral("qtbase"), QStringLiteral("_"), cartella))
            return QCoreApplication::installTranslator(traduzione);
    }
    delete traduzione;
    return false;
}
