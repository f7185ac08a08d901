#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>

class Sequenziatore;

// A window's redraw of what the line brought, a few times a second at most. While a request is
// on the line it waits for the next pause to start, or for the request to end: a redraw there
// has the pause before it to finish in, where one that fell at the end of a pause (a chart
// taking tens of milliseconds on a busy machine) would hold back the next phase's bytes. With
// no request on the line it runs on its timer alone.
class Ridisegno : public QObject
{
    Q_OBJECT

public:
    Ridisegno(std::chrono::milliseconds intervallo, std::function<void()> lavoro,
        QObject *parent = nullptr);

    // The line whose pauses the redraw keeps clear of.
    void segui(Sequenziatore &sequenziatore);
    // Something changed: redrawn within the interval.
    void richiedi();
    // Redrawn every interval, for a window that is not told when something changes.
    void avviaContinuo();
    void fermaContinuo();
    // Redrawn now, whatever is pending: the sequence of requests is over.
    void subito();

private:
    void scaduto();
    void momentoLibero();
    void esegui();

    QTimer m_timer;
    std::function<void()> m_lavoro;
    QPointer<Sequenziatore> m_sequenziatore;
    bool m_daFare = false;
    bool m_inAttesa = false;
    bool m_continuo = false;
};
