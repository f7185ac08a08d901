#include "sequenza_richieste.h"

#include "sequenziatore.h"
#include "testi_traffico.h"

#include <algorithm>

SequenzaRichieste::SequenzaRichieste(
    Sequenziatore &sequenziatore, RegistroTraffico &registro, const QString &nome, QObject *parent)
    : QObject(parent)
    , m_sequenziatore(sequenziatore)
    , m_registro(registro)
    , m_nome(nome)
{
    m_pausa.setSingleShot(true);
    m_pausa.setTimerType(Qt::PreciseTimer);
    connect(&m_pausa, &QTimer::timeout, this, &SequenzaRichieste::prossima);
    connect(&m_sequenziatore, &Sequenziatore::errore, this,
        [this](int numero, const QString &descrizione) {
            if (!m_inCorso)
                return;
            m_ultimoErrore = numero;
            m_descrizioneErrore = descrizione;
        });
}

SequenzaRichieste::~SequenzaRichieste()
{
    if (m_inCorso)
        m_sequenziatore.riserva(QString());
}

bool SequenzaRichieste::impostaFileRegistro(const QString &percorso, QString *errore)
{
    m_file.close();
    m_file.setFileName(percorso);
    if (percorso.isEmpty())
        return true;
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        if (errore)
            *errore = m_file.errorString();
        m_file.setFileName(QString());
        return false;
    }
    if (m_file.size() == 0) {
        m_file.write(TestiTraffico::lineaCsv(TestiTraffico::intestazioneCsvRisultati()));
        m_file.flush();
    }
    return true;
}

bool SequenzaRichieste::avvia(const Impostazioni &impostazioni)
{
    if (m_inCorso || m_sequenziatore.richiestaInCorso() || !m_sequenziatore.riserva(m_nome))
        return false;
    m_impostazioni = impostazioni;
    m_impostazioni.richiestePerGiro = std::max<qint64>(1, impostazioni.richiestePerGiro);
    m_inCorso = true;
    m_fermaDopo = false;
    m_fermata = false;
    m_sequenziatore.setScartaFuoriRichiesta(!impostazioni.fuoriRichiestaAlPannello);
    m_fatte = 0;
    m_statistiche.avviaOrologio();
    ++m_generazione;
    m_pausa.start(0);
    return true;
}

QString SequenzaRichieste::testoOccupata(const QString &chi)
{
    return QStringLiteral("La linea è occupata da %1: fermarla prima di inviare altre "
                          "richieste.")
        .arg(chi);
}

QString SequenzaRichieste::occupante() const
{
    if (m_sequenziatore.riservato())
        return m_sequenziatore.occupante();
    return m_sequenziatore.richiestaInCorso() ? QStringLiteral("una richiesta") : QString();
}

void SequenzaRichieste::ferma()
{
    if (!m_inCorso)
        return;
    m_fermata = true;
    if (m_sequenziatore.richiestaInCorso()) {
        m_fermaDopo = true;
        m_sequenziatore.annulla();
        return;
    }
    finisci(0, QString());
}

void SequenzaRichieste::fermaDopoLaRichiesta()
{
    if (!m_inCorso)
        return;
    m_fermata = true;
    if (m_sequenziatore.richiestaInCorso())
        m_fermaDopo = true;
    else
        finisci(0, QString());
}

// Runs from the event loop, never inside a request: each request's pauses are the only nested
// loops.
void SequenzaRichieste::prossima()
{
    if (!m_inCorso)
        return;
    m_ultimoErrore = 0;
    const qint64 n = m_fatte;
    Pannello *testi = m_impostazioni.testi ? m_impostazioni.testi(n) : nullptr;
    // Whoever made the texts may have stopped the sequence: no request then goes unowned.
    if (!m_inCorso)
        return;
    m_sequenziatore.richiesta(testi);
    const RisultatoRichiesta &ultimo = m_registro.ultimoRisultato();
    ++m_fatte;
    m_statistiche.aggiungi(ultimo);
    registraNelFile(ultimo);
    emit risultato(n, ultimo);

    // Whoever took the result may have stopped the sequence already.
    if (!m_inCorso)
        return;
    if (m_ultimoErrore != 0 && m_impostazioni.fermatiAlPrimoErrore)
        finisci(m_ultimoErrore, m_descrizioneErrore);
    else if (m_fermaDopo || (m_impostazioni.quante > 0 && m_fatte >= m_impostazioni.quante))
        finisci(0, QString());
    else {
        int pausa = m_fatte % m_impostazioni.richiestePerGiro == 0 ? m_impostazioni.pausaMs : 0;
        if (m_ultimoErrore)
            pausa = std::max<int>(pausa, kRiprovaMs);
        // Without a pause the next request is a call queued ahead of the repaints this result
        // asked for: they are done in its first pause, not in a gap between two requests.
        if (pausa == 0) {
            QMetaObject::invokeMethod(
                this,
                [this, generazione = m_generazione] {
                    if (generazione == m_generazione)
                        prossima();
                },
                Qt::QueuedConnection);
        } else {
            m_pausa.start(pausa);
        }
    }
}

void SequenzaRichieste::finisci(int errore, const QString &descrizione)
{
    m_pausa.stop();
    ++m_generazione; // a next request already queued does nothing
    m_inCorso = false;
    m_sequenziatore.riserva(QString());
    m_sequenziatore.setScartaFuoriRichiesta(false);
    emit terminata(errore, descrizione);
}

// Flushed row by row: a crash or a pulled plug loses at most the request in flight.
void SequenzaRichieste::registraNelFile(const RisultatoRichiesta &risultato)
{
    if (!m_file.isOpen())
        return;
    m_file.write(TestiTraffico::lineaCsv(TestiTraffico::rigaCsvRisultato(risultato)));
    m_file.flush();
}
