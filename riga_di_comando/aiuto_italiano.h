#pragma once

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QString>

// The help QCommandLineParser writes, with its few English words in Italian and the program
// named by its name rather than by the path it was started from: the options are declared once,
// with Italian descriptions, and their lines come from Qt.
inline QString aiutoInItaliano(const QCommandLineParser &parser)
{
    QString aiuto = parser.helpText();
    const QString uso = QStringLiteral("Usage: ") + QCoreApplication::arguments().constFirst();
    if (aiuto.startsWith(uso))
        aiuto.replace(0, uso.size(), QStringLiteral("Uso: ") + QCoreApplication::applicationName());
    return aiuto.replace(QStringLiteral("[options]"), QStringLiteral("[opzioni]"))
        .replace(QStringLiteral("Options:"), QStringLiteral("Opzioni:"));
}
