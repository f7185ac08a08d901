#include "modello_storico.h"

#include "lettore_storico.h"
#include "testi_storico.h"

#include <algorithm>

namespace {

const char *const kTitoli[]
    = {"Inizio", "Unità", "Tentativo", "Esito", "Banco", "Stazione", "Posto", "Operatore", "Fine"};

QString ora(const QDateTime &istante)
{
    return istante.isValid() ? istante.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                             : QString();
}

} // namespace

ModelloStorico::ModelloStorico(LettoreStorico &lettore, QObject *parent)
    : QAbstractTableModel(parent)
    , m_lettore(lettore)
{ }

void ModelloStorico::imposta(const FiltroProve &filtro)
{
    beginResetModel();
    m_filtro = filtro;
    m_prove.clear();
    m_totale.reset();
    ++m_generazione;
    m_inAttesa = false;
    m_finite = false;
    endResetModel();
    chiediConteggio();
    chiediPagina(kPagina, false);
}

void ModelloStorico::rileggi()
{
    ++m_generazione;
    chiediConteggio();
    chiediPagina(std::max<qint64>(kPagina, m_prove.size()), true);
}

void ModelloStorico::svuota()
{
    beginResetModel();
    m_prove.clear();
    m_totale.reset();
    ++m_generazione;
    m_inAttesa = false;
    m_finite = true;
    endResetModel();
}

void ModelloStorico::chiediConteggio()
{
    const quint64 generazione = m_generazione;
    m_lettore.chiedi<qint64>([filtro = m_filtro](Archivio &a) { return a.conta(filtro); },
        [this, generazione](const std::optional<qint64> &n, const QString &) {
            if (generazione != m_generazione || !n)
                return;
            m_totale = n;
            emit contate(*n);
        });
}

void ModelloStorico::chiediPagina(qint64 quante, bool alPosto)
{
    m_inAttesa = true;
    const quint64 generazione = m_generazione;
    const qint64 salta = alPosto ? 0 : m_prove.size();
    m_lettore.chiedi<QList<ProvaArchiviata>>(
        [filtro = m_filtro, salta, quante](Archivio &a) -> std::optional<QList<ProvaArchiviata>> {
            QList<ProvaArchiviata> pagina;
            if (!a.perOgniProva(
                    filtro, quante, [&pagina](const ProvaArchiviata &p) { pagina.append(p); },
                    salta))
                return std::nullopt;
            return pagina;
        },
        [this, generazione, quante, alPosto](
            const std::optional<QList<ProvaArchiviata>> &pagina, const QString &motivo) {
            if (generazione != m_generazione)
                return;
            m_inAttesa = false;
            if (!pagina) {
                m_finite = true;
                emit errore(motivo);
                return;
            }
            m_finite = pagina->size() < quante;
            if (alPosto) {
                beginResetModel();
                m_prove = *pagina;
                endResetModel();
            } else if (!pagina->isEmpty()) {
                beginInsertRows({}, int(m_prove.size()), int(m_prove.size() + pagina->size() - 1));
                m_prove.append(*pagina);
                endInsertRows();
            }
            emit caricate();
        });
}

int ModelloStorico::rowCount(const QModelIndex &genitore) const
{
    return genitore.isValid() ? 0 : int(m_prove.size());
}

int ModelloStorico::columnCount(const QModelIndex &genitore) const
{
    return genitore.isValid() ? 0 : NumeroColonne;
}

QVariant ModelloStorico::data(const QModelIndex &indice, int ruolo) const
{
    if (!indice.isValid() || indice.row() >= m_prove.size()
        || (ruolo != Qt::DisplayRole && ruolo != Qt::ToolTipRole))
        return {};
    const ProvaArchiviata &p = m_prove.at(indice.row());
    switch (indice.column()) {
    case Inizio:
        return ora(p.inizio);
    case Unita:
        return p.unita;
    case Tentativo:
        return p.tentativo;
    case Esito:
        return TestiStorico::esitoMostrato(p);
    case Banco:
        return p.banco;
    case Stazione:
        return p.stazione;
    case Posto:
        return p.posto;
    case Operatore:
        return p.operatore;
    case Fine:
        return ora(p.fine);
    default:
        return {};
    }
}

QVariant ModelloStorico::headerData(int sezione, Qt::Orientation verso, int ruolo) const
{
    if (verso != Qt::Horizontal || ruolo != Qt::DisplayRole || sezione < 0
        || sezione >= NumeroColonne)
        return QAbstractTableModel::headerData(sezione, verso, ruolo);
    return QString::fromUtf8(kTitoli[sezione]);
}

bool ModelloStorico::canFetchMore(const QModelIndex &genitore) const
{
    return !genitore.isValid() && !m_finite && !m_inAttesa && !m_prove.isEmpty();
}

void ModelloStorico::fetchMore(const QModelIndex &genitore)
{
    if (canFetchMore(genitore))
        chiediPagina(kPagina, false);
}
