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
//
// A socket may be out of service (a worn contact, a broken cable): it takes no scan and no start
// until put back. Each change is recorded in the archive with the station's operator; a station
// opened again on the same bench has the same sockets out.
//
// A bench with a lid switch ("interruttore") is watched from the opening: closing the lid starts
// the filled sockets, as the batch start does.
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

    // The socket's last change of service, as recorded; a socket never changed is in service
    // with no operator and no time.
    const ServizioPosto &servizio(int posto) const { return m_posti.at(posto).servizio; }
    bool fuoriServizio(int posto) const { return !m_posti.at(posto).servizio.inServizio; }
    // Takes the socket out of service (motivo: optional) or puts it back, recorded with the
    // operator and now. False, with the reason and nothing changed, for a socket whose round
    // runs (it is stopped first, by the operator), without an operator or an archive, or when the
    // archive does not take it. A unit waiting in the socket is taken out of it.
    bool impostaServizio(int posto, bool inServizio, const QString &motivo, QString *errore);
    // Why the lid switch cannot be read, as the engine last told; empty while it can, or without
    // a switch.
    const QString &interruttoreIlleggibile() const { return m_interruttoreIlleggibile; }

    // A first-pass yield counted in units: those judged, those conforming at their first run.
    struct Resa
    {
        qint64 unita = 0;
        qint64 alPrimo = 0;
    };
    // Below this many units today, in the socket or in the others together, no warning.
    static constexpr qint64 kUnitaPerConfrontare = 5;
    // What a socket's panel says when its first-pass yield today is more than 10 points below
    // the other sockets' units together: worn contacts look so. Empty otherwise.
    static QString avvisoContatti(const Resa &posto, const Resa &altri);

signals:
    // A unit scanned into the socket waits for the batch start.
    void pronto(int posto, const QString &unita);
    // avviso: the unit was tested before, and how it went.
    void avviato(int posto, const QString &unita, const QString &avviso);
    void rigaLetta(int posto, int riga);
    void finito(int posto, const Collaudo::Esito &esito);
    // The socket was taken out of service or put back, or read so from the archive.
    void servizioCambiato(int posto);
    // The lid was closed: the filled sockets are to start.
    void coperchioChiuso();
    // The lid switch cannot be read: why. Said once until it can be read again.
    void interruttoreNonLeggibile(const QString &motivo);

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
        ServizioPosto servizio;
    };

    // Which sockets the archive has out of service for this station and bench.
    void leggiServizi();

    bool avvia(int posto, QString *motivo);
    void letta(int posto, int riga, const RisultatoRichiesta &risultato,
        const QString &descrizioneErrore);
    void terminato(int posto, bool fermato);

    Collaudo &m_collaudo;
    std::unique_ptr<GiroPosti> m_giro;
    std::vector<Posto> m_posti;
    QString m_interruttoreIlleggibile;
};
