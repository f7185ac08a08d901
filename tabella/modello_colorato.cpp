#include "modello_colorato.h"

#include <QBrush>
#include <QColor>

QVariant ModelloColorato::data(const QModelIndex &indice, int ruolo) const
{
    if ((ruolo != Qt::BackgroundRole && ruolo != Qt::ForegroundRole) || !indice.isValid()
        || indice.row() >= rowCount())
        return ModelloTabella::data(indice, ruolo);
    const QVariant dipinto = colore(stato(indice.row()), ruolo);
    return dipinto.isValid() ? dipinto : ModelloTabella::data(indice, ruolo);
}

QVariant ModelloColorato::colore(StatoRiga stato, int ruolo)
{
    if (ruolo != Qt::BackgroundRole && ruolo != Qt::ForegroundRole)
        return {};
    switch (stato) {
    case StatoRiga::FuoriDaiLimiti:
        return ruolo == Qt::BackgroundRole ? QBrush(QColor(0xF8, 0xD0, 0xD0))
                                           : QBrush(QColor(0x80, 0x00, 0x00));
    case StatoRiga::NessunaRisposta:
    case StatoRiga::Errore:
        return ruolo == Qt::ForegroundRole ? QVariant(QBrush(QColor(0x70, 0x70, 0x70)))
                                           : QVariant(QBrush(QColor(0xE8, 0xE8, 0xE8)));
    case StatoRiga::NonLetta:
    case StatoRiga::Letta:
    case StatoRiga::EntroILimiti:
        break;
    }
    return {};
}
