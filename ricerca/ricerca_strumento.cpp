#include "ricerca_strumento.h"

#include "errore.h"
#include "impostazioni_linea.h"
#include "module2.h"
#include "numeri_italiani.h"
#include "registro_traffico.h"
#include "testi_traffico.h"

#include <QRegularExpression>

RicercaStrumento::RicercaStrumento(
    Sequenziatore &sequenziatore, RegistroTraffico &registro, QObject *parent)
    : QObject(parent)
    , m_motore(sequenziatore, registro, QStringLiteral("la ricerca"))
{
    connect(&m_motore, &SequenzaRichieste::risultato, this,
        [this](qint64 n, const RisultatoRichiesta &r) {
            ++m_fatte;
            m_secondiFatti += r.durataUs / 1e6;
            m_senzaRisposta += r.esito == RisultatoRichiesta::Esito::NessunaRisposta;
            m_conErrore += r.esito == RisultatoRichiesta::Esito::Errore;
            if (r.esito != RisultatoRichiesta::Esito::Risposta || !r.latenzaUs) {
                emit provata(n, r);
                return;
            }
            const auto [baud, indirizzo] = prova(n);
            m_trovati.append({baud, indirizzo, r.ricevuti, r.valore, r.latenzaUs});
            emit trovato(m_trovati.last());
            emit provata(n, r);
            if (m_impostazioni.fermatiAllaPrima)
                m_motore.fermaDopoLaRichiesta();
        });
    connect(&m_motore, &SequenzaRichieste::terminata, this, &RicercaStrumento::terminata);
}

std::optional<QStringList> RicercaStrumento::leggiBaud(const QString &testo, QString *errore)
{
    QStringList elenco;
    for (const QString &parte :
        testo.split(QRegularExpression(QStringLiteral("[,;\\s]+")), Qt::SkipEmptyParts)) {
        try {
            const QString baud = QString::number(ImpostazioniLinea::baudDaTesto(parte));
            if (!elenco.contains(baud))
                elenco.append(baud);
        } catch (const Errore &) {
            *errore = QStringLiteral("%1 non è una velocità: scrivere numeri interi da %2 a %3, "
                                     "separati da virgole (per esempio 9600,19200).")
                          .arg(citaTesto(parte))
                          .arg(ImpostazioniLinea::kBaudMinimo)
                          .arg(ImpostazioniLinea::kBaudMassimo);
            return std::nullopt;
        }
    }
    return elenco;
}

std::optional<std::pair<quint16, quint16>> RicercaStrumento::leggiIndirizzi(
    const QString &testo, QString *errore)
{
    static const QRegularExpression kIntervallo(
        QStringLiteral("^\\s*(\\d{1,5})\\s*(?:-\\s*(\\d{1,5})\\s*)?$"));
    const QRegularExpressionMatch trovato = kIntervallo.match(testo);
    const uint primo = trovato.hasMatch() ? trovato.captured(1).toUInt() : 0;
    const uint ultimo = trovato.hasCaptured(2) ? trovato.captured(2).toUInt() : primo;
    if (!trovato.hasMatch() || ultimo > 0xFFFF || primo > ultimo) {
        *errore = QStringLiteral("%1 non è un intervallo di indirizzi: scrivere da quale a quale, "
                                 "da 0 a 65535, per esempio 0-31, o un indirizzo solo.")
                      .arg(citaTesto(testo));
        return std::nullopt;
    }
    return std::pair{quint16(primo), quint16(ultimo)};
}

QString RicercaStrumento::verifica(const Impostazioni &impostazioni)
{
    try {
        for (const QString &baud : impostazioni.baud)
            Module2::verifica(PannelloDiTesti(testiDellaProva(impostazioni, baud, impostazioni.primo)));
    } catch (const Errore &rifiutato) {
        return QStringLiteral("errore %1: %2").arg(rifiutato.numero()).arg(rifiutato.descrizione());
    }
    return {};
}

QStringList RicercaStrumento::ordineDeiBaud(const QStringList &elenco, const QString &delPannello)
{
    QStringList ordine;
    for (const QString &baud : QStringList{delPannello.trimmed()} + elenco) {
        if (!baud.trimmed().isEmpty() && !ordine.contains(baud.trimmed()))
            ordine.append(baud.trimmed());
    }
    return ordine;
}

QStringList RicercaStrumento::velocitaProposte(const QStringList &elencoDelPannello)
{
    return ordineDeiBaud(elencoDelPannello + QStringList{"57600", "115200"}, QString());
}

qint64 RicercaStrumento::numeroProve(const Impostazioni &impostazioni)
{
    if (impostazioni.ultimo < impostazioni.primo)
        return 0;
    return qint64(impostazioni.baud.size()) * (impostazioni.ultimo - impostazioni.primo + 1);
}

QString RicercaStrumento::testoStima(qint64 prove)
{
    return QStringLiteral("%1 %2, circa %3")
        .arg(NumeriItaliani::intero(prove))
        .arg(prove == 1 ? QStringLiteral("prova") : QStringLiteral("prove"))
        .arg(NumeriItaliani::durata(prove * kMsPerProva / 1000.0));
}

QStringList RicercaStrumento::intestazioneCsv()
{
    return {QStringLiteral("baud"), QStringLiteral("indirizzo"), QStringLiteral("ricevuti"),
        QStringLiteral("valore"), QStringLiteral("latenza_ms")};
}

QStringList RicercaStrumento::colonneCsv(const Trovato &t)
{
    return {t.baud, QString::number(t.indirizzo), TestiTraffico::esadecimale(t.ricevuti),
        t.valore ? QString::number(*t.valore) : QString(),
        t.latenzaUs ? QString::number(*t.latenzaUs / 1000.0, 'f', 3) : QString()};
}

QByteArray RicercaStrumento::comeCsv(TestiTraffico::FormaCsv forma) const
{
    QByteArray csv
        = TestiTraffico::inizioCsv(forma) + TestiTraffico::lineaCsv(intestazioneCsv(), forma);
    for (const Trovato &trovato : m_trovati) {
        QStringList colonne = colonneCsv(trovato);
        colonne.last() = TestiTraffico::numeroCsv(colonne.last(), forma);
        csv += TestiTraffico::lineaCsv(colonne, forma);
    }
    return csv;
}

bool RicercaStrumento::avvia(const Impostazioni &impostazioni)
{
    const qint64 prove = numeroProve(impostazioni);
    if (prove == 0 || m_motore.inCorso())
        return false;
    SequenzaRichieste::Impostazioni motore;
    motore.quante = prove;
    // A port that cannot be opened, or a rate it cannot take, fails every probe alike.
    motore.fermatiAlPrimoErrore = true;
    motore.testi = [this](qint64 n) { return testi(n); };
    // A byte between probes answers none of them: the panel is not the place for it either.
    motore.fuoriRichiestaAlPannello = false;
    const Impostazioni prima = m_impostazioni;
    m_impostazioni = impostazioni;
    if (!m_motore.avvia(motore)) {
        m_impostazioni = prima;
        return false;
    }
    m_totale = prove;
    m_fatte = 0;
    m_senzaRisposta = 0;
    m_conErrore = 0;
    m_secondiFatti = 0;
    m_trovati.clear();
    m_motore.azzeraStatistiche();
    return true;
}

std::pair<QString, quint16> RicercaStrumento::prova(qint64 n) const
{
    const qint64 indirizzi = m_impostazioni.ultimo - m_impostazioni.primo + 1;
    return {m_impostazioni.baud.value(qsizetype(n / indirizzi)),
        quint16(m_impostazioni.primo + n % indirizzi)};
}

double RicercaStrumento::secondiRimasti() const
{
    const double perProva = m_fatte > 0 ? m_secondiFatti / double(m_fatte) : kMsPerProva / 1000.0;
    return perProva * double(m_totale - m_fatte);
}

// The probe's request: the panel's port, the probe's rate and address, a reading.
std::map<Campo, QString> RicercaStrumento::testiDellaProva(
    const Impostazioni &impostazioni, const QString &baud, quint16 indirizzo)
{
    return {{Campo::Combo1, impostazioni.porta}, {Campo::Combo2, baud},
        {Campo::Combo5, QString::number(indirizzo)},
        {Campo::ComboComando, QStringLiteral("Lettura")},
        {Campo::ComboIndirizzo, impostazioni.memoria}};
}

Pannello *RicercaStrumento::testi(qint64 n)
{
    const auto [baud, indirizzo] = prova(n);
    m_testi = PannelloDiTesti(testiDellaProva(m_impostazioni, baud, indirizzo));
    emit provaIniziata(n);
    return &m_testi;
}
