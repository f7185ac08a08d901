#pragma once

#include "destinazione.h"

#include <QDateTime>
#include <QObject>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <memory>
#include <chrono>

// Where the forwarding stands after a send, as a station shows it.
struct StatoInoltro
{
    qint64 inviate = 0; // by this send
    qint64 inAttesa = 0; // completed runs waiting to be sent; -1 if the file cannot be read
    qint64 messeDaParte = 0; // refused by the server: they wait for --invia --riprova
    QString errore; // why runs wait: the server's last message, empty when it took them all
    QString motivoScarto; // the server's reason for the last run it refused
    QDateTime ultimoInvio; // the last send that reached the server; invalid before one
};
Q_DECLARE_METATYPE(StatoInoltro)

// Sends the station's completed runs to the line's server, from a thread of its own, so that a
// server that is away or slow never holds a reading up. Runs go in batches, each batch in one
// transaction; one cut off in the middle is sent again whole, and the server keeps each run once.
class Inoltro : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::seconds kOgni{30};
    static constexpr int kPerVolta = 50;

    Inoltro(const QString &file, const Destinazione::Server &server, QObject *parent = nullptr);
    ~Inoltro() override;

    // Sends what waits now, and then every kOgni while the program runs.
    void avvia();
    // Sends what waits now; what is being sent already goes on.
    void inviaOra();
    // The runs the server refused and that were set aside are sent again, now.
    void riprova();
    // Waits for the sends asked so far to end, at most ms; false if one is still going.
    bool attendi(int ms);
    bool occupato() const { return m_richieste->load() > 0; }

signals:
    // After each send: how many runs went, how many still wait, and why they wait if the
    // server could not be reached.
    void inviate(qint64 inviate, qint64 inAttesa, const QString &errore);
    // The same, whole, after each send.
    void statoCambiato(const StatoInoltro &stato);

private:
    // The sending thread may outlive this object, held by a server that went away: what it
    // shares with it is its own.
    std::shared_ptr<std::atomic<int>> m_richieste = std::make_shared<std::atomic<int>>(0);
    QThread *m_filo;
    class Lavoro *m_lavoro;
    QTimer m_orologio; // in the owner's thread: the sending thread only sends
};
