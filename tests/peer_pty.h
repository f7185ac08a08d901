#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

// The far end of a pseudo-terminal, standing in for an instrument: the program opens the
// terminal's device, the peer sees every byte the program writes, in order, and writes bytes
// back. Closing the peer hangs the line up, as unplugging an adapter does.
class QObject;

class PeerPty
{
public:
    PeerPty();
    ~PeerPty();
    PeerPty(const PeerPty &) = delete;
    PeerPty &operator=(const PeerPty &) = delete;

    QString percorso() const { return m_percorso; }

    // Writes in the background, as fast as the line takes the bytes: the program reads them only
    // when its event loop runs.
    void scrivi(const QByteArray &dati);
    QByteArray ricevuti() const;

    // A peer that stops reading: what the program writes piles up in the line.
    void sospendiLettura() { m_sospeso = true; }

    // Hangs the line up; the device disappears.
    void riaggancia();

private:
    void leggi();

    int m_master = -1;
    int m_slave = -1;
    int m_sveglia[2] = {-1, -1};
    std::atomic<bool> m_sospeso{false};
    QString m_percorso;
    std::thread m_lettore;
    std::thread m_scrittore;
    mutable std::mutex m_mutex;
    QByteArray m_ricevuti;
};

// "55 | 00 00 | 00" for a list of groups: easy to compare and to read in a failure.
QString comeTesto(const QList<QByteArray> &gruppi);

// Runs azione from inside the event loop (a request's pauses included) as soon as the peer has
// received n bytes.
void quandoRicevuti(
    QObject *contesto, const PeerPty &peer, qsizetype n, std::function<void()> azione);
