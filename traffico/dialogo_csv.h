#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class QWidget;

// A CSV file chosen in a save dialog over genitore and written whole or not at all: fatto is
// told the path and, if it could not be written, why.
namespace DialogoCsv {

void esporta(QWidget *genitore, const QString &titolo, const QString &nomeProposto,
    const QString &nomeOggetto, std::function<QByteArray()> contenuto,
    std::function<void(const QString &percorso, const QString &errore)> fatto);

} // namespace DialogoCsv
