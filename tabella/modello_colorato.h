#pragma once

#include "modello_tabella.h"

// The table's model with the colours of its states: a row out of limits in red, one without a
// good answer in grey. The colours follow from the rows' data, whatever view shows them.
class ModelloColorato : public ModelloTabella
{
    Q_OBJECT

public:
    using ModelloTabella::ModelloTabella;

    QVariant data(const QModelIndex &indice, int ruolo) const override;
    // The colour a row in that state is painted with, for the role; nothing for the others.
    static QVariant colore(StatoRiga stato, int ruolo);
};
