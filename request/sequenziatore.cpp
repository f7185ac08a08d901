#include "sequenziatore.h"

#include "errore.h"
#include "componente_seriale.h"
#include "pannello.h"
#include "registro_traffico.h"
#include "ricezione.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

Sequenziatore::Sequenziatore(Pannello &pannello, ComponenteSeriale &comm1, QObject *parent)
    : QObject(parent)
    , m_pannello(pannello)
    , m_testi(&pannello)
    , Comm1(comm1)
    , m_modulo(pannello, comm1)
{
    // A coarse timer may fire up to 5 % early; a pause must never be shorter than its interval.
    TimerPausa.setTimerType(Qt::PreciseTimer);
    TimerPausa.setInterval(kPausa);
    connect(&TimerPausa, &QTimer::timeout, this, &Sequenziatore::TimerPausa_Timer);
    connect(&Comm1, &ComponenteSeriale::OnComm, this, &Sequenziatore::Comm1_OnComm);
}

void Sequenziatore::Command1_Click()
{
    if (riservato())
        emit occupata(m_occupante);
    else
        richiesta();
}

bool Sequenziatore::riserva(const QString &chi)
{
    if (!chi.isEmpty() && riservato() && chi != m_occupante)
        return false;
    m_occupante = chi;
    return true;
}

void Sequenziatore::richiesta(Pannello *testi)
{
    // A click during a pause would otherwise start a second request inside the first one and
    // interleave two frames on the line.
    if (m_inCorso)
        return;
    m_inCorso = true;
    m_annullata = false;
    m_testi = testi ? testi : &m_pannello;
    m_modulo.usa(*m_testi);
    if (m_registro)
        m_registro->iniziaRichiesta();
    const Esito esito = eseguiRichiesta();
    m_inCorso = false;
    m_testi = &m_pannello;
    m_modulo.usa(m_pannello);
    const std::optional<Errore> &fermata = esito.fermata;
    if (m_registro) {
        if (fermata)
            m_registro->errore(fermata->numero(), fermata->descrizione());
        m_registro->terminaRichiesta(
            m_modulo.testiUsati(), esito.valore, fermata ? fermata->numero() : 0, m_annullata);
    }
    if (fermata)
        emit errore(fermata->numero(), fermata->descrizione());
    emit richiestaFinita();
}

// Each way out builds the whole outcome where the request ends: no variable assigned from a
// call that may throw is read after the throw. GCC 12 at -O1 and above can drop the
// initialisation of such a variable (its dead-store elimination misses the path through the
// handler): an optional assigned from the phases then read as engaged with whatever the stack
// held, the garbage value once recorded for failed requests.
Sequenziatore::Esito Sequenziatore::eseguiRichiesta()
{
    try {
        return {eseguiFasi(), std::nullopt};
    } catch (const Errore &errore) {
        return {std::nullopt, errore};
    }
}

std::optional<quint16> Sequenziatore::eseguiFasi()
{
    m_testi->impostaTesto(Campo::Text1, QString());
    m_modulo.verificaPannello();

    fase(1);
    m_modulo.InviaByte55();
    if (!pausa(1))
        return std::nullopt;
    fase(2);
    m_modulo.InviaIndirizzoStrumento();
    if (!pausa(2))
        return std::nullopt;
    fase(3);
    m_modulo.InviaTipoComando();
    if (!pausa(3))
        return std::nullopt;
    fase(4);
    m_modulo.InviaByte0002();
    if (!pausa(4))
        return std::nullopt;
    fase(5);
    m_modulo.InviaIndirizzoMemoria();
    if (!pausa(5))
        return std::nullopt;

    const quint16 decodificato = decodificaRisposta(m_testi->testo(Campo::Text1));
    m_testi->impostaTesto(Campo::Text3, QString::number(decodificato));
    return decodificato;
}

void Sequenziatore::fase(int numero)
{
    if (m_registro)
        m_registro->fase(numero);
}

void Sequenziatore::TimerPausa_Timer()
{
    PausaFinita = true;
    TimerPausa.stop();
    svegliaPausa();
}

void Sequenziatore::Comm1_OnComm()
{
    if (Comm1.CommEvent() != ComponenteSeriale::kEventoRicezione)
        return;
    const QByteArray carattere = Comm1.Input();
    if (carattere.isEmpty() || (!m_inCorso && m_scartaFuoriRichiesta))
        return;
    // Received bytes belong to the request in flight; between requests, to the panel.
    m_testi->aggiungiRicevuto(voceRicevuta(quint8(carattere.front())));
}

void Sequenziatore::annulla()
{
    m_annullata = true;
    TimerPausa.stop();
    svegliaPausa();
}

// The loop in pausa() must look at its flags as soon as they change. On Windows the tick of a
// precise timer arrives as a posted event, and the event dispatcher, having delivered it, goes
// on waiting for a window message: without this wake-up the pause lasted until the next mouse
// move or repaint (hundreds of milliseconds), or for ever where no message comes.
void Sequenziatore::svegliaPausa()
{
    if (auto *dispatcher = QAbstractEventDispatcher::instance())
        dispatcher->wakeUp();
}

// Waits for events rather than polling for them: the processor stays idle until the tick, a
// received byte or the operator's input arrives.
bool Sequenziatore::pausa(int fase)
{
    if (m_registro)
        m_registro->pausa(fase);
    QElapsedTimer durata;
    durata.start();
    PausaFinita = false;
    TimerPausa.start();
    emit pausaIniziata();
    do {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    } while (!PausaFinita && !m_annullata);
    emit pausaTerminata(std::chrono::nanoseconds(durata.nsecsElapsed()));
    return !m_annullata;
}
