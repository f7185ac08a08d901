#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <array>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// What happened on the line, in order: every byte written and received, the port's own events
// and one result per request. Kept below the window, so that any program that sends requests can
// keep and show it.
enum class TipoEvento : quint8 {
    Trasmesso,
    Ricevuto,
    Aperta,
    Impostazioni,
    Chiusa,
    Drenaggio,
    Errore,
    PortaPersa,
    Inizio,
    Risultato,
};

// The texts of the panel a request used, in the order the panel lists them.
enum class TestoUsato { Porta, Baud, IndirizzoStrumento, Comando, IndirizzoMemoria };
using TestiUsati = std::array<QString, 5>;

struct RisultatoRichiesta
{
    enum class Esito { Risposta, NessunaRisposta, Errore, Interrotta };

    quint32 numero = 0;
    QDateTime inizio; // the wall clock, for whoever reads the record later
    int porta = 0; // 0: the request never opened a port
    QString dispositivo;
    TestiUsati testi;
    QByteArray inviati;
    QByteArray ricevuti; // the newest kMassimoRicevuti
    qint64 numeroRicevuti = 0;
    std::optional<quint16> valore;
    Esito esito = Esito::NessunaRisposta;
    int errore = 0;
    // From the last byte written to the first byte received after it.
    std::optional<qint64> latenzaUs;
    qint64 durataUs = 0;

    static constexpr qsizetype kMassimoRicevuti = 4096;

    // "risposta", "nessuna risposta", "errore 17", "interrotta".
    QString testoEsito() const;
};

class RegistroTraffico
{
public:
    // One event takes 32 bytes: a full record stays near 32 MiB.
    static constexpr qsizetype kCapacitaPredefinita = 1 << 20;
    static constexpr quint8 kFuoriRichiesta = 0;

    struct Evento
    {
        qint64 tempoUs; // since the record started, monotonic
        qint32 tempoRichiestaUs; // since the request started; -1 outside a request
        quint32 richiesta; // 0 outside a request
        qint32 baud;
        // The port's number for Aperta, the microseconds waited for Drenaggio; otherwise the
        // index of the note or result, kSenzaDettaglio if none.
        quint32 dettaglio;
        quint16 dispositivo; // index in the record's device names
        TipoEvento tipo;
        quint8 fase; // 1 to 5, or kFuoriRichiesta
        bool inPausa; // after the phase's bytes, in its pause
        quint8 byte;
        char parita; // 'E', 'O', 'N'; 0 before any port was opened
        bool erroreLinea; // received with a parity or framing error
    };
    static constexpr quint32 kSenzaDettaglio = 0xFFFFFFFF;

    explicit RegistroTraffico(qsizetype capacita = kCapacitaPredefinita);

    // The serial port.
    void portaAperta(int porta, const QString &dispositivo, qint32 baud, char parita);
    void impostazioniCambiate(qint32 baud, char parita);
    void portaChiusa();
    void drenaggio(std::chrono::microseconds attesa);
    void portaPersa(const QString &descrizione);
    void trasmesso(quint8 byte);
    void ricevuto(quint8 byte, bool erroreLinea);

    // The request.
    void iniziaRichiesta();
    void fase(int numero);
    void pausa(int numero);
    void errore(int numero, const QString &descrizione);
    // Closes the running request with its result and appends it to the record.
    const RisultatoRichiesta &terminaRichiesta(const TestiUsati &testi,
        std::optional<quint16> valore, int errore, bool interrotta = false);
    bool richiestaInCorso() const { return m_inCorso; }
    // The result of the last request ended; kept whatever the record drops.
    const RisultatoRichiesta &ultimoRisultato() const { return m_corrente; }

    // Reading. Rows count from the oldest event kept; absolute numbers from the first event ever
    // appended, so that a reader can tell what was dropped in between.
    qsizetype size() const { return qsizetype(m_eventi.size()); }
    const Evento &evento(qsizetype riga) const { return m_eventi[size_t(riga)]; }
    quint64 primoAssoluto() const { return m_scartati + m_svuotati; }
    quint64 fineAssoluta() const { return primoAssoluto() + m_eventi.size(); }
    quint64 scartati() const { return m_scartati; }
    QString nota(const Evento &evento) const;
    const RisultatoRichiesta *risultato(const Evento &evento) const;
    QString dispositivo(const Evento &evento) const;
    // Every result the record still holds, oldest first.
    void perOgniRisultato(const std::function<void(const RisultatoRichiesta &)> &fai) const;
    // "9600 8E1"; empty before a port was opened.
    static QString linea(const Evento &evento);

    // Forgets every event; what comes next continues the absolute numbering.
    void svuota();

    // Records written in one thread and shown in another: the writer hands copies of its new
    // events (lottoDa) to the reader's thread, which appends them to a record of its own
    // (accogli). Neither record is ever touched outside its own thread.
    struct Lotto;
    // The events from absolute number `da` (or the oldest kept) to the end, with their notes,
    // results and device names.
    Lotto lottoDa(quint64 da) const;
    // Appends a batch of the writer's, in order; events the writer dropped before handing them
    // count as dropped here too, so that absolute numbers stay the writer's. Each event keeps
    // the writer's device name, or is given `linea` if that is not empty: a record of one line
    // names every event, those before its port opened or of a port that never did included,
    // as the line is known rather than by the name its port was opened under. The last
    // request's result and whether one runs follow the writer's.
    void accogli(const Lotto &lotto, const QString &linea = {});

private:
    // An error's text or a request's result: 40 bytes, the result apart and shared by copies of
    // the record. A request's port events keep their number in the event itself: with a note
    // each, and the result inline in every note, the four of them took more than the request's
    // twenty events together.
    struct Dettaglio
    {
        QString nota;
        std::shared_ptr<const RisultatoRichiesta> risultato;
    };

    // Room for one more event at the end, dropping the oldest when full.
    Evento &nuovo();
    Evento &aggiungi(TipoEvento tipo);
    void aggiungiDettaglio(TipoEvento tipo, Dettaglio dettaglio);
    const Dettaglio *dettaglio(const Evento &evento) const;
    qint64 adessoUs() const { return m_orologio.nsecsElapsed() / 1000; }

    qsizetype m_capacita;
    QElapsedTimer m_orologio;
    std::deque<Evento> m_eventi;
    std::deque<Dettaglio> m_dettagli;
    quint32 m_primoDettaglio = 0;
    quint64 m_scartati = 0;
    quint64 m_svuotati = 0;
    QStringList m_dispositivi;

    // The line as the program last set it.
    quint16 m_dispositivo = 0;
    qint32 m_baud = 0;
    char m_parita = 0;

    // The running request.
    bool m_inCorso = false;
    quint32 m_richiesta = 0;
    qint64 m_inizioUs = 0;
    quint8 m_fase = kFuoriRichiesta;
    bool m_inPausa = false;
    RisultatoRichiesta m_corrente;
    std::optional<qint64> m_ultimoTrasmessoUs;
    std::optional<qint64> m_primoRicevutoDopoUs;
};

struct RegistroTraffico::Lotto
{
    quint64 primo = 0; // the absolute number of the first event in the writer's record
    // Each event's dettaglio indexes dettagli if it has a note or result; its dispositivo
    // indexes dispositivi.
    std::vector<Evento> eventi;
    std::vector<Dettaglio> dettagli;
    QStringList dispositivi;
};
