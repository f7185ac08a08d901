#include "ridisegno.h"

#include "sequenziatore.h"

Ridisegno::Ridisegno(
    std::chrono::milliseconds intervallo, std::function<void()> lavoro, QObject *parent)
    : QObject(parent)
    , m_lavoro(std::move(lavoro))
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(intervallo);
    connect(&m_timer, &QTimer::timeout, this, &Ridisegno::scaduto);
}

void Ridisegno::segui(Sequenziatore &sequenziatore)
{
    m_sequenziatore = &sequenziatore;
    connect(&sequenziatore, &Sequenziatore::pausaIniziata, this, &Ridisegno::momentoLibero);
    connect(&sequenziatore, &Sequenziatore::richiestaFinita, this, &Ridisegno::momentoLibero);
}

void Ridisegno::richiedi()
{
    m_daFare = true;
    if (!m_timer.isActive() && !m_inAttesa)
        m_timer.start();
}

void Ridisegno::avviaContinuo()
{
    m_continuo = true;
    richiedi();
}

void Ridisegno::fermaContinuo()
{
    m_continuo = false;
    m_timer.stop();
    m_inAttesa = false;
    m_daFare = false;
}

void Ridisegno::subito()
{
    m_timer.stop();
    m_inAttesa = false;
    m_daFare = true;
    esegui();
}

void Ridisegno::scaduto()
{
    if (m_sequenziatore && m_sequenziatore->richiestaInCorso())
        m_inAttesa = true;
    else
        esegui();
}

void Ridisegno::momentoLibero()
{
    if (!m_inAttesa)
        return;
    m_inAttesa = false;
    esegui();
}

void Ridisegno::esegui()
{
    if (!m_daFare)
        return;
    m_daFare = false;
    m_lavoro();
    if (m_continuo)
        richiedi();
}
