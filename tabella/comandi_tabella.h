#pragma once

#include "riga_banco.h"

#include <QUndoCommand>

class ModelloTabella;

// The edits of the table, each undone and done again through the window's undo stack. Every
// one keeps what it needs to put the bench back exactly as it was, rows and line alike.
namespace ComandiTabella {

// Rows inserted before prima: Aggiungi, Duplica, Aggiungi intervallo, Importa CSV.
QUndoCommand *inserisci(
    ModelloTabella &modello, int prima, QList<RigaBanco> righe, const QString &testo);
// The rows at these places taken away: Elimina.
QUndoCommand *rimuovi(ModelloTabella &modello, QList<int> righe);
// One row a place up (verso -1) or down (+1).
QUndoCommand *sposta(ModelloTabella &modello, int riga, int verso);
// A cell already changed by the model, from prima to the row as it is now.
QUndoCommand *cellaCambiata(
    ModelloTabella &modello, int riga, const RigaBanco &prima, const QString &colonna);
// The port and baud already changed, from what they were.
QUndoCommand *lineaCambiata(ModelloTabella &modello, const QString &portaPrima, qint32 baudPrima);

} // namespace ComandiTabella
