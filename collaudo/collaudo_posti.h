#pragma once

#include "collaudo.h"

#include <QObject>

#include <memory>
#include <vector>

class GiroPosti;

// The station of a fixture with several sockets: each socket holds a unit, read through its own
// round of the bench at the socket's port and addresses, judged as the one-unit station judges
// and recorded as a run of its own that names its socket. The bench, the archive, the operator
// and the day's figures are the station's (Collaudo, opened on a bench with "posti").
//
// A socket is filled by a scan; with "avvio": "singolo" the scan starts it, with "insieme" the
// filled sockets start together. A unit is in one socket at a time.
class CollaudoPosti : public QObject
{
    Q_OBJECT

public:
    // collaudo: opened on a bench with sockets, and kept for as long as this.
    explicit CollaudoPosti(Collaudo &collaudo, QObject *parent = nullptr);
    // Stops every round; a run stopped so is recorded as interrotta.
    ~CollaudoPosti() override;

    Collaudo &collaudo() { return m_collaudo; }
    // The lines the sockets are read on, for the traffic window.
    GiroPosti &giro() { return *m_giro; }
    int numeroPosti() const { return int(m_posti.size()); }
    QString nome(int posto) const;
    AvvioPosti avvio() const;
    const ModelloTabella &modello(int posto) const { return *m_posti.at(posto).modello; }

    // The unit scanned into the socket: started at once (singolo) or kept for avviaRiempiti
    // (insieme). False, with nothing sent and the reason, for a serial the station refuses, one
    // held by another socket, a socket whose round runs or whose line another user holds.
    bool leggi(int posto, const QString &unita, QString *motivo);
    // Starts every filled socket not running; the sockets started, in order. A socket refused
    // keeps its unit, with the reason in motivi (its index, why).
    QList<int> avviaRiempiti(QList<std::pair<int, QString>> *motivi = nullptr);
    void ferma(int posto);
    void fermaTutti();

    bool inCorso(int posto) const;
    bool qualcunoInCorso() const;
    // The unit scanned and not started yet (insieme), or under test; empty otherwise.
    QString unita(int posto) const { return m_posti.at(posto).unita; }
    bool riempito(int posto) const { return m_posti.at(posto).riempito; }

signals:
    // A unit scanned into the socket waits for the batch start.
    void pronto(int posto, const QString &unita);
    // avviso: the unit was tested before, and how it went.
    void avviato(int posto, const QString &unita, const QString &avviso);
    void rigaLetta(int posto, int riga);
    void finito(int posto, const Collaudo::Esito &esito);

private:
    struct Posto
    {
        std::unique_ptr<ModelloTabella> modello;
        std::unique_ptr<RegistrazioneProve> registrazione;
        QString unita;
        QString avviso;
        bool riempito = false; // scanned, waiting for the batch start
        int lette = 0;
        int tentativo = 0;
    };

    bool avvia(int posto, QString *motivo);
    void letta(int posto, int riga, const RisultatoRichiesta &risultato,
        const QString &descrizioneErrore);
    void terminato(int posto, bool fermato);

    Collaudo &m_collaudo;
    std::unique_ptr<GiroPosti> m_giro;
    std::vector<Posto> m_posti;
};
