#include "modello_tabella.h"

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

QString limite(const std::optional<double> &valore)
{
    return valore ? QString::number(*valore, 'g', 15) : QString();
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

void ModelloTabella::registra(int n, const RisultatoRichiesta &risultato)
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
    case Lettura::Esito::Letta:
        return m_banco.righe.at(n).giudica(l.parola) == RigaBanco::Giudizio::EntroILimiti
            ? StatoRiga::EntroILimiti
            : StatoRiga::FuoriDaiLimiti;
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
    case StatoRiga::EntroILimiti:
        return QStringLiteral("entro i limiti");
    case StatoRiga::FuoriDaiLimiti:
        return QStringLiteral("fuori dai limiti");
    case StatoRiga::NessunaRisposta:
        return QStringLiteral("nessuna risposta");
    case StatoRiga::Errore:
        return QStringLiteral("errore %1").arg(m_letture.at(n).errore);
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
        return limite(r.minimo);
    case Massimo:
        return limite(r.massimo);
    case Atteso:
        return r.atteso;
    case Valore:
        return letta ? r.valoreConUnita(l.parola) : QString();
    case Parola:
        return letta ? parolaEsadecimale(l.parola) : QString();
    case Stato:
        return testoStato(n);
    case Ora:
        return l.oraMs
            ? QDateTime::fromMSecsSinceEpoch(l.oraMs).toString(QStringLiteral("HH:mm:ss"))
            : QString();
    case Risposte:
        return QString::number(l.risposte);
    case SenzaRisposta:
        return QString::number(l.senzaRisposta);
    case Fallite:
        return QString::number(l.fallite);
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
    case Qt::EditRole:
        if (indice.column() == Nome)
            return m_banco.righe.at(indice.row()).nome;
        return testo(indice.row(), indice.column());
    case Qt::TextAlignmentRole:
        return indice.column() == Nome || indice.column() == Tipo || indice.column() == Unita
                || indice.column() == Stato
            ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
            : QVariant(Qt::AlignRight | Qt::AlignVCenter);
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
// comma allowed), an empty text for a field's default.
bool ModelloTabella::setData(const QModelIndex &indice, const QVariant &valore, int ruolo)
{
    if (ruolo != Qt::EditRole || !indice.isValid() || !modificabile(indice.column()))
        return false;
    const QString chiave = QString::fromLatin1(this->chiave(indice.column()));
    const QString testo = valore.toString().trimmed();
    QJsonValue comeNelFile = testo;
    if (testo.isEmpty()) {
        comeNelFile = QJsonValue(QJsonValue::Null);
    } else if (chiave == u"strumento" || chiave == u"decimali" || chiave == u"minimo"
        || chiave == u"massimo") {
        bool ok = false;
        const double numero = QString(testo).replace(u',', u'.').toDouble(&ok);
        if (ok)
            comeNelFile = numero;
    }
    RigaBanco nuova = m_banco.righe.at(indice.row());
    std::optional<std::pair<QString, QString>> rifiutato;
    if (auto motivo = CampiRiga::imposta(nuova, chiave, comeNelFile))
        rifiutato = std::pair{chiave, *motivo};
    else
        rifiutato = CampiRiga::verifica(nuova);
    if (rifiutato) {
        emit this->rifiutato(QStringLiteral("Riga %1, campo «%2»: %3")
                                 .arg(indice.row() + 1)
                                 .arg(rifiutato->first, rifiutato->second));
        return false;
    }
    RigaBanco &riga = m_banco.righe[indice.row()];
    const bool altroIndirizzo = nuova.strumento != riga.strumento || nuova.memoria != riga.memoria;
    riga = std::move(nuova);
    if (altroIndirizzo)
        m_letture[indice.row()] = Lettura();
    emit dataChanged(index(indice.row(), 0), index(indice.row(), NumeroColonne - 1));
    cambiato();
    return true;
}

QByteArray ModelloTabella::comeCsv() const
{
    QStringList intestazione = CampiRiga::chiavi();
    intestazione << QStringLiteral("valore") << QStringLiteral("parola") << QStringLiteral("stato")
                 << QStringLiteral("ultima_lettura") << QStringLiteral("risposte")
                 << QStringLiteral("senza_risposta") << QStringLiteral("fallite");
    QByteArray csv = TestiTraffico::lineaCsv(intestazione);
    csv.reserve(rowCount() * 96);
    for (int n = 0; n < rowCount(); ++n) {
        const RigaBanco &r = m_banco.righe.at(n);
        const Lettura &l = m_letture.at(n);
        QStringList campi{r.nome, testo(n, Strumento), testo(n, Memoria), testo(n, Tipo),
            testo(n, Decimali), r.unita, testo(n, Minimo), testo(n, Massimo), r.atteso,
            l.esito == Lettura::Esito::Letta ? r.valore(l.parola) : QString(), testo(n, Parola),
            testoStato(n),
            l.oraMs ? QDateTime::fromMSecsSinceEpoch(l.oraMs).toString(Qt::ISODateWithMs)
                    : QString(),
            testo(n, Risposte), testo(n, SenzaRisposta), testo(n, Fallite)};
        csv += TestiTraffico::lineaCsv(campi);
    }
    return csv;
}
