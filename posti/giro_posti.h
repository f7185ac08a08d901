#pragma once

#include "file_banco.h"
#include "registro_traffico.h"

#include <QList>
#include <QObject>
#include <QString>

#include <chrono>
#include <memory>

class LavoroLinea;
class QThread;

// A bench's rows read at each of its sockets. Each line (a device, after resolving it) has its
// own thread with its own port and sequencer, so that one line's pauses never wait on another
// line or on a window; the sockets that share a line take turns on it with whole requests. Each
// socket's round is its own: started, stopped and ended on its own, with its own result per row.
//
// A socket's line is taken (Linee) when its round starts and given back when the last round on
// that line ends, so that free lines stay free for the panel and the other windows.
class GiroPosti : public QObject
{
    Q_OBJECT

public:
    // chi: who holds the lines, as the panel is told ("la stazione di collaudo").
    GiroPosti(const DatiBanco &banco, const QString &chi, QObject *parent = nullptr);
    // Stops every round and waits for the lines' threads to end.
    ~GiroPosti() override;

    const QList<PostoBanco> &posti() const { return m_posti; }
    int numeroPosti() const { return int(m_posti.size()); }
    // The socket of that name, -1 if none.
    int indice(const QString &nome) const;

    // Reads the bench's rows once at socket n, in order. False, with nothing sent and the
    // reason, when that socket's round already runs or its line is held by another user; a port
    // that cannot be opened is not a refusal but each row's error, as for any request.
    bool avvia(int posto, QString *motivo);
    // Stops socket n's round: a request of its in flight ends at once, as interrotta, and the
    // round ends with fermato. Queued into the line's thread; returns at once.
    void ferma(int posto);
    void fermaTutti();
    bool inCorso(int posto) const;
    bool qualcunoInCorso() const;

    // The device socket n's line resolved to when its round last started; empty before.
    QString dispositivo(int posto) const;

    // Watches the bench's lid switch (its "interruttore") every Interruttore::kIntervalloMs from
    // its socket's line's thread: that port stays open, and the line taken, from now on. False,
    // with the reason, for a bench without a switch or a line held by another user.
    bool sorvegliaInterruttore(QString *motivo);

    // The lines' traffic, for a window in this object's thread. A line's record is written in
    // the line's thread; the line hands copies of its new events to this thread at the end of
    // each request and every tenth of a second while a round runs, appended to a record of
    // this thread's (RegistroTraffico::accogli) that nothing else touches: it is read, emptied
    // and saved as the panel's record is, with no lock. Lines count from 0 in the order they
    // first ran, and stay until this object ends.
    int numeroLinee() const { return int(m_linee.size()); }
    // The line's device, as the sockets resolved it ("porta 3" for a port no device answers);
    // every event of the line's record names it.
    QString dispositivoLinea(int linea) const;
    RegistroTraffico &trafficoLinea(int linea);

signals:
    // A row's request at socket n ended, in the window's thread, in order; descrizioneErrore is
    // the error's message as the sequencer gave it, empty without one.
    void letta(int posto, int riga, const RisultatoRichiesta &risultato,
        const QString &descrizioneErrore);
    // Socket n's round ended: after its last row, or stopped (fermato).
    void terminato(int posto, bool fermato);
    // The fixture's lid was closed.
    void coperchioChiuso();
    // The lid switch cannot be read (the port does not open, or the device does not tell its
    // modem lines): said once, with why, until it can be read again.
    void interruttoreIlleggibile(const QString &motivo);

    // A line was started, its record empty; numeroLinee() counts it already.
    void lineaAggiunta(int linea);
    // Line n's record gained the events of a batch.
    void trafficoAggiunto(int linea);
    // A pause of a request on the line of that device ended after durata. Emitted in the line's
    // own thread, as the line's sequencer measured it: a receiver connected directly runs there.
    void pausaTerminata(const QString &dispositivo, std::chrono::nanoseconds durata);

private:
    friend class LavoroLinea;
    struct Linea;
    struct StatoPosto
    {
        bool inCorso = false;
        QString dispositivo;
    };

    Linea *lineaPer(const QString &dispositivo);
    void accogliTraffico(int linea, const RegistroTraffico::Lotto &lotto);
    void fineRichiesta(int posto, int riga, const RisultatoRichiesta *risultato,
        const QString &descrizione, bool ultima, bool fermato);

    DatiBanco m_banco;
    QString m_chi;
    QString m_lineaInterruttore; // taken while the switch is watched
    QList<PostoBanco> m_posti;
    QList<StatoPosto> m_stati;
    std::vector<std::unique_ptr<Linea>> m_linee;
};
