#pragma once

#include <QCommandLineParser>
#include <QString>

// The help QCommandLineParser writes, with its few English words in Italian: the options are
// declared once, with Italian descriptions, and their lines come from Qt.
inline QString aiutoInItaliano(const QCommandLineParser &parser)
{
    return parser.helpText()
        .replace(QStringLiteral("Usage:"), QStringLiteral("Uso:"))
        .replace(QStringLiteral("[options]"), QStringLiteral("[opzioni]"))
        .replace(QStringLiteral("Options:"), QStringLiteral("Opzioni:"));
}
