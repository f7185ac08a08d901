#include "modello_tabella.h"

#include "errore.h"
#include "numeri_italiani.h"
#include "registro_traffico.h"
#include "testi_traffico.h"

#include <QDateTime>

#include <algorithm>

namespace {

struct DatiColonna
{
    const char *titolo;
    const char *chiave;
};

constexpr DatiColonna kColonne[] = {{"Nome", "nome"}, {"Strumento", "strumento"},
    {"Memoria", "memoria"}, {"Valore", nullptr}, {"Parola (hex)", nullptr}, {"Minimo", "minimo"},
    {"Massimo", "massimo"}, {"Atteso", "atteso"}, {"Stato", nullptr}, {"Ultima lettura", nullptr},
    {"Risposte", nullptr}, {"Senza risposta", nullptr}, {"Fallite", nullptr}, {"Tipo", "tipo"},
    {"Decimali", "decimali"}, {"Unità", "unita"}};
static_assert(std::size(kColonne) == ModelloTabella::NumeroColonne);

bool modificabile(int colonna)
{
    return ModelloTabella::chiave(colonna) != nullptr;
}

QString limite(const RigaBanco &riga, const std::optional<double> &valore)
{
    return valore ? NumeriItaliani::daMacchina(riga.testoLimite(*valore)) : QString();
}

// A value as the row writes it, machine form, as an Italian reader writes it.
QString comeSiLegge(const RigaBanco &riga, const QString &valore)
{
    return riga.numerica() ? NumeriItaliani::daMacchina(valore) : valore;
}

} // namespace

const char *ModelloTabella::chiave(int colonna)
{
    return colonna >= 0 && colonna < NumeroColonne ? kColonne[colonna].chiave : nullptr;
}

ModelloTabella::ModelloTabella(QObject *parent)
    : QAbstractTableModel(parent)
{ }

void ModelloTabella::imposta(DatiBanco banco)
{
    beginResetModel();
    m_banco = std::move(banco);
    m_letture = QList<Lettura>(m_banco.righe.size());
    m_modificato = false;
    endResetModel();
    emit lineaCambiata();
}

void ModelloTabella::impostaLinea(const QString &porta, qint32 baud)
{
    if (porta == m_banco.porta && baud == m_banco.baud)
        return;
    m_banco.porta = porta;
    m_banco.baud = baud;
    m_modificato = true;
    emit lineaCambiata();
}

void ModelloTabella::cambiato()
{
    m_modificato = true;
}

void ModelloTabella::inserisci(int prima, const QList<RigaBanco> &righe)
{
    if (righe.isEmpty())
        return;
    if (prima < 0 || prima > rowCount())
        prima = rowCount();
    beginInsertRows({}, prima, prima + int(righe.size()) - 1);
    m_banco.righe.insert(prima, righe.size(), RigaBanco());
    std::copy(righe.begin(), righe.end(), m_banco.righe.begin() + prima);
    m_letture.insert(prima, righe.size(), Lettura());
    endInsertRows();
    cambiato();
}

void ModelloTabella::sostituisci(int n, const RigaBanco &riga)
{
    if (n < 0 || n >= rowCount())
        return;
    RigaBanco &attuale = m_banco.righe[n];
    if (riga.strumento != attuale.strumento || riga.memoria != attuale.memoria)
        m_letture[n] = Lettura();
    attuale = riga;
    emit dataChanged(index(n, 0), index(n, NumeroColonne - 1));
    cambiato();
}

void ModelloTabella::rimuovi(QList<int> righe)
{
    std::sort(righe.begin(), righe.end(), std::greater<>());
    righe.erase(std::unique(righe.begin(), righe.end()), righe.end());
    // Each run of consecutive rows goes at once, from the last.
    for (qsizetype i = 0; i < righe.size();) {
        qsizetype j = i;
        while (j + 1 < righe.size() && righe[j + 1] == righe[j] - 1)
            ++j;
        const int prima = righe[j], ultima = righe[i];
        if (prima >= 0 && ultima < rowCount()) {
            beginRemoveRows({}, prima, ultima);
            m_banco.righe.remove(prima, ultima - prima + 1);
            m_letture.remove(prima, ultima - prima + 1);
            endRemoveRows();
            cambiato();
        }
        i = j + 1;
    }
}

bool ModelloTabella::sposta(int riga, int verso)
{
    const int altra = riga + verso;
    if (riga < 0 || riga >= rowCount() || altra < 0 || altra >= rowCount() || verso == 0)
        return false;
    // Qt wants the place before which the row goes, counted before the move.
    beginMoveRows({}, riga, riga, {}, verso > 0 ? altra + 1 : altra);
    m_banco.righe.move(riga, altra);
    m_letture.move(riga, altra);
    endMoveRows();
    cambiato();
    return true;
}

bool ModelloTabella::aggiungiIntervallo(quint16 strumento, quint16 da, quint16 a)
{
    if (da > a || rowCount() + (a - da + 1) > FileBanco::kMassimoRighe)
        return false;
    QList<RigaBanco> righe(a - da + 1);
    for (int i = 0; i < righe.size(); ++i) {
        righe[i].strumento = strumento;
        righe[i].memoria = quint16(da + i);
    }
    inserisci(rowCount(), righe);
    return true;
}

void ModelloTabella::registra(
    int n, const RisultatoRichiesta &risultato, const QString &descrizioneErrore)
{
    if (n < 0 || n >= rowCount())
        return;
    Lettura &l = m_letture[n];
    switch (risultato.esito) {
    case RisultatoRichiesta::Esito::Interrotta:
        return;
    case RisultatoRichiesta::Esito::Risposta:
        l.esito = Lettura::Esito::Letta;
        l.parola = risultato.valore.value_or(0);
        ++l.risposte;
        break;
    case RisultatoRichiesta::Esito::NessunaRisposta:
        l.esito = Lettura::Esito::NessunaRisposta;
        ++l.senzaRisposta;
        break;
    case RisultatoRichiesta::Esito::Errore:
        l.esito = Lettura::Esito::Errore;
        l.errore = quint16(risultato.errore);
        l.descrizione = descrizioneErrore;
        ++l.fallite;
        break;
    }
    l.oraMs = risultato.inizio.toMSecsSinceEpoch();
    // The whole row: its colour follows the state.
    emit dataChanged(index(n, 0), index(n, NumeroColonne - 1));
}

void ModelloTabella::azzeraLetture()
{
    std::fill(m_letture.begin(), m_letture.end(), Lettura());
    if (rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, NumeroColonne - 1));
}

ModelloTabella::StatoRiga ModelloTabella::stato(int n) const
{
    const Lettura &l = m_letture.at(n);
    switch (l.esito) {
    case Lettura::Esito::NonLetta:
        break;
    case Lettura::Esito::Letta: {
        const RigaBanco &riga = m_banco.righe.at(n);
        if (!riga.conLimiti())
            return StatoRiga::Letta;
        return riga.giudica(l.parola) == RigaBanco::Giudizio::EntroILimiti
            ? StatoRiga::EntroILimiti
            : StatoRiga::FuoriDaiLimiti;
    }
    case Lettura::Esito::NessunaRisposta:
        return StatoRiga::NessunaRisposta;
    case Lettura::Esito::Errore:
        return StatoRiga::Errore;
    }
    return StatoRiga::NonLetta;
}

QString ModelloTabella::testoStato(int n) const
{
    switch (stato(n)) {
    case StatoRiga::NonLetta:
        break;
    case StatoRiga::Letta:
        return QStringLiteral("letta, senza limiti");
    case StatoRiga::EntroILimiti:
        return QStringLiteral("entro i limiti");
    case StatoRiga::FuoriDaiLimiti:
        return QStringLiteral("fuori dai limiti");
    case StatoRiga::NessunaRisposta:
        return QStringLiteral("nessuna risposta");
    case StatoRiga::Errore:
        return QStringLiteral("errore %1: %2")
            .arg(m_letture.at(n).errore)
            .arg(testoErrore(m_letture.at(n).errore));
    }
    return QStringLiteral("non letta");
}

QString ModelloTabella::testo(int n, int colonna) const
{
    const RigaBanco &r = m_banco.righe.at(n);
    const Lettura &l = m_letture.at(n);
    const bool letta = l.esito == Lettura::Esito::Letta;
    switch (Colonna(colonna)) {
    case Nome:
        return r.nomeMostrato();
    case Strumento:
        return QString::number(r.strumento);
    case Memoria:
        return r.testoMemoria();
    case Tipo:
        return CampiRiga::nomiTipi().at(int(r.tipo));
    case Decimali:
        return QString::number(r.decimali);
    case Unita:
        return r.unita;
    case Minimo:
        return limite(r, r.minimo);
    case Massimo:
        return limite(r, r.massimo);
    case Atteso:
        return comeSiLegge(r, r.atteso);
    case Valore: {
        if (!letta)
            return {};
        const QString valore = comeSiLegge(r, r.valore(l.parola));
        return r.unita.isEmpty() ? valore : valore + u' ' + r.unita;
    }
    case Parola:
        return letta ? parolaEsadecimale(l.parola) : QString();
    case Stato:
        return testoStato(n);
    case Ora:
        return l.oraMs
            ? QDateTime::fromMSecsSinceEpoch(l.oraMs).toString(QStringLiteral("HH:mm:ss"))
            : QString();
    case Risposte:
        return NumeriItaliani::intero(l.risposte);
    case SenzaRisposta:
        return NumeriItaliani::intero(l.senzaRisposta);
    case Fallite:
        return NumeriItaliani::intero(l.fallite);
    case NumeroColonne:
        break;
    }
    return {};
}

int ModelloTabella::rowCount(const QModelIndex &genitore) const
{
    return genitore.isValid() ? 0 : int(m_banco.righe.size());
}

int ModelloTabella::columnCount(const QModelIndex &genitore) const
{
    return genitore.isValid() ? 0 : NumeroColonne;
}

QVariant ModelloTabella::data(const QModelIndex &indice, int ruolo) const
{
    if (!indice.isValid() || indice.row() >= rowCount())
        return {};
    switch (ruolo) {
    case Qt::DisplayRole:
        return testo(indice.row(), indice.column());
    case Qt::EditRole: {
        // As typed: a decimal comma, no point between the thousands.
        const RigaBanco &r = m_banco.righe.at(indice.row());
        const auto decimaleConVirgola = [](QString testo) { return testo.replace(u'.', u','); };
        switch (indice.column()) {
        case Nome:
            return r.nome;
        case Minimo:
        case Massimo: {
            const std::optional<double> &l = indice.column() == Minimo ? r.minimo : r.massimo;
            return l ? decimaleConVirgola(r.testoLimite(*l)) : QString();
        }
        case Atteso:
            return r.numerica() ? decimaleConVirgola(r.atteso) : r.atteso;
        default:
            return testo(indice.row(), indice.column());
        }
    }
    case Qt::TextAlignmentRole:
        return indice.column() == Nome || indice.column() == Tipo || indice.column() == Unita
                || indice.column() == Stato
            ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
            : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    case Qt::ToolTipRole: {
        // What went wrong, in full: which port, which device, what to do.
        const Lettura &l = m_letture.at(indice.row());
        if (stato(indice.row()) == StatoRiga::Errore && !l.descrizione.isEmpty())
            return QStringLiteral("%1\n%2").arg(testoStato(indice.row()), l.descrizione);
        return {};
    }
    case kRuoloStato:
        return int(stato(indice.row()));
    default:
        return {};
    }
}

QVariant ModelloTabella::headerData(int sezione, Qt::Orientation verso, int ruolo) const
{
    if (ruolo != Qt::DisplayRole)
        return {};
    if (verso == Qt::Vertical)
        return sezione + 1;
    return sezione >= 0 && sezione < NumeroColonne ? QString::fromUtf8(kColonne[sezione].titolo)
                                                   : QVariant();
}

Qt::ItemFlags ModelloTabella::flags(const QModelIndex &indice) const
{
    const Qt::ItemFlags base = QAbstractTableModel::flags(indice);
    return modificabile(indice.column()) ? base | Qt::ItemIsEditable : base;
}

// The text typed is taken as the file would take it: numbers for the numeric fields (a decimal
// comma or point), an empty text for a field's default.
bool ModelloTabella::setData(const QModelIndex &indice, const QVariant &valore, int ruolo)
{
    if (ruolo != Qt::EditRole || !indice.isValid() || !modificabile(indice.column()))
        return false;
    const QString chiave = QString::fromLatin1(this->chiave(indice.column()));
    const QJsonValue comeNelFile = CampiRiga::daTesto(chiave, valore.toString());
    RigaBanco nuova = m_banco.righe.at(indice.row());
    std::optional<std::pair<QString, QString>> rifiutato;
    if (auto motivo = CampiRiga::imposta(nuova, chiave, comeNelFile, CampiRiga::Dove::Cella))
        rifiutato = std::pair{chiave, *motivo};
    else
        rifiutato = CampiRiga::verifica(nuova, CampiRiga::Dove::Cella);
    if (rifiutato) {
        const int colonna
            = int(std::find_if(std::begin(kColonne), std::end(kColonne), [&](const DatiColonna &c) {
                  return c.chiave && rifiutato->first == QLatin1String(c.chiave);
              }) - std::begin(kColonne));
        emit this->rifiutato(
            QStringLiteral("Riga %1, colonna «%2»: %3")
                .arg(indice.row() + 1)
                .arg(headerData(colonna, Qt::Horizontal, Qt::DisplayRole).toString(),
                    rifiutato->second));
        return false;
    }
    sostituisci(indice.row(), nuova);
    return true;
}

QByteArray ModelloTabella::comeCsv(TestiTraffico::FormaCsv forma) const
{
    using TestiTraffico::numeroCsv;
    QStringList intestazione = CampiRiga::chiavi();
    intestazione << QStringLiteral("valore") << QStringLiteral("parola") << QStringLiteral("stato")
                 << QStringLiteral("ultima_lettura") << QStringLiteral("risposte")
                 << QStringLiteral("senza_risposta") << QStringLiteral("fallite");
    QByteArray csv = TestiTraffico::inizioCsv(forma) + TestiTraffico::lineaCsv(intestazione, forma);
    csv.reserve(rowCount() * 96);
    const auto numero = [forma](const std::optional<double> &limite) {
        return limite ? numeroCsv(QString::number(*limite, 'g', 15), forma) : QString();
    };
    for (int n = 0; n < rowCount(); ++n) {
        const RigaBanco &r = m_banco.righe.at(n);
        const Lettura &l = m_letture.at(n);
        const QString valore = l.esito == Lettura::Esito::Letta ? r.valore(l.parola) : QString();
        QStringList campi{r.nomeMostrato(), QString::number(r.strumento), r.testoMemoria(),
            CampiRiga::nomiTipi().at(int(r.tipo)), QString::number(r.decimali), r.unita,
            numero(r.minimo), numero(r.massimo),
            r.numerica() ? numeroCsv(r.atteso, forma) : r.atteso,
            r.numerica() ? numeroCsv(valore, forma) : valore, testo(n, Parola), testoStato(n),
            l.oraMs ? QDateTime::fromMSecsSinceEpoch(l.oraMs).toString(Qt::ISODateWithMs)
                    : QString(),
            QString::number(l.risposte), QString::number(l.senzaRisposta),
            QString::number(l.fallite)};
        csv += TestiTraffico::lineaCsv(campi, forma);
    }
    return csv;
}
