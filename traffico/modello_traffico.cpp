#include "modello_traffico.h"

#include "registro_traffico.h"
#include "testi_traffico.h"

#include <QBrush>
#include <QColor>
#include <QFont>

#include <algorithm>

ModelloTraffico::ModelloTraffico(const RegistroTraffico &registro, QObject *parent)
    : QAbstractTableModel(parent)
    , m_registro(&registro)
    , m_primo(registro.primoAssoluto())
    , m_fine(registro.primoAssoluto())
{
    sincronizza();
}

int ModelloTraffico::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_fine - m_primo);
}

int ModelloTraffico::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : kNumeroColonne;
}

void ModelloTraffico::setRegistro(const RegistroTraffico &registro)
{
    beginResetModel();
    m_registro = &registro;
    m_primo = registro.primoAssoluto();
    m_fine = registro.fineAssoluta();
    endResetModel();
}

bool ModelloTraffico::sincronizza()
{
    const quint64 primo = m_registro->primoAssoluto();
    const quint64 fine = m_registro->fineAssoluta();
    bool cambiato = false;
    if (primo > m_primo) {
        const quint64 via = std::min(primo, m_fine) - m_primo;
        if (via > 0) {
            beginRemoveRows({}, 0, int(via - 1));
            m_primo += via;
            endRemoveRows();
        }
        m_primo = primo;
        m_fine = std::max(m_fine, primo);
        cambiato = true;
    }
    if (fine > m_fine) {
        beginInsertRows({}, int(m_fine - m_primo), int(fine - m_primo - 1));
        m_fine = fine;
        endInsertRows();
        cambiato = true;
    }
    return cambiato;
}

QVariant ModelloTraffico::data(const QModelIndex &indice, int ruolo) const
{
    if (!indice.isValid() || indice.row() >= rowCount())
        return {};
    // The model may lag the record by the events dropped since the last synchronisation.
    const quint64 assoluto = m_primo + quint64(indice.row());
    if (assoluto < m_registro->primoAssoluto() || assoluto >= m_registro->fineAssoluta())
        return {};
    const RegistroTraffico::Evento &e
        = m_registro->evento(qsizetype(assoluto - m_registro->primoAssoluto()));
    const RisultatoRichiesta *risultato = m_registro->risultato(e);
    const bool errore = e.erroreLinea || e.tipo == TipoEvento::Errore
        || e.tipo == TipoEvento::PortaPersa
        || (risultato && risultato->esito == RisultatoRichiesta::Esito::Errore);

    switch (ruolo) {
    case Qt::DisplayRole:
        if (indice.column() == kColonnaDispositivo)
            return m_registro->dispositivo(e);
        return TestiTraffico::colonna(*m_registro, e,
            indice.column() < kColonnaDispositivo ? indice.column() : indice.column() - 1,
            TestiTraffico::Lettore::Finestra);
    case Qt::ToolTipRole:
        return risultato ? TestiTraffico::riassunto(*risultato, TestiTraffico::Lettore::Finestra)
                         : m_registro->dispositivo(e);
    case Qt::ForegroundRole:
        if (errore)
            return QBrush(QColor(0xB0, 0x00, 0x00));
        if (e.tipo == TipoEvento::Trasmesso)
            return QBrush(QColor(0x00, 0x30, 0xA0));
        if (e.tipo == TipoEvento::Ricevuto)
            return QBrush(QColor(0x00, 0x70, 0x20));
        if (!risultato)
            return QBrush(QColor(0x60, 0x60, 0x60));
        return {};
    case Qt::BackgroundRole:
        if (errore)
            return QBrush(QColor(0xFF, 0xE0, 0xE0));
        if (risultato)
            return QBrush(QColor(0xFF, 0xF4, 0xC0));
        if (e.tipo == TipoEvento::Trasmesso)
            return QBrush(QColor(0xE8, 0xF0, 0xFF));
        if (e.tipo == TipoEvento::Ricevuto)
            return QBrush(QColor(0xE8, 0xFF, 0xEC));
        return {};
    case Qt::FontRole:
        if (risultato || e.tipo == TipoEvento::Inizio) {
            QFont grassetto;
            grassetto.setBold(true);
            return grassetto;
        }
        return {};
    default:
        return {};
    }
}

QVariant ModelloTraffico::headerData(int sezione, Qt::Orientation orientamento, int ruolo) const
{
    if (orientamento != Qt::Horizontal || ruolo != Qt::DisplayRole)
        return {};
    if (sezione == kColonnaDispositivo)
        return QStringLiteral("Dispositivo");
    return TestiTraffico::titoloColonna(sezione < kColonnaDispositivo ? sezione : sezione - 1);
}
