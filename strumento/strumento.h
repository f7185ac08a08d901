#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

#include <chrono>
#include <optional>
#include <random>

// The instrument at the other end of the line, without the line: it is handed the bytes the panel
// writes, with the moment each arrived, recognises the request in them and says what to answer.
//
// A request is five groups of bytes, each written about 100 ms after the one before:
//   55 | address high, low | command | 00 02 | memory address high, low
// Commands: 00 read (answer 06 00 and the word, high byte first), 01 repeat the last read's
// answer, 02 write (answer 06).
//
// As a real instrument, it hears a request only at its own rate, with the 55 under even parity
// and the rest under odd: a request that came otherwise is logged with what was wrong and gets
// no answer.
class Strumento
{
public:
    // The line as the instrument's end saw it when a byte arrived: its rate, and whether the
    // sender asked for odd parity (even and none cannot be told apart at this end).
    struct Linea
    {
        qint32 baud = 0;
        bool dispari = false;
    };

    enum class Guasto {
        Nessuno,
        NessunaRisposta, // never answers
        Ritardo, // answers late
        Parziale, // answers only the first two bytes
        Rumore, // answers random bytes instead
        Riaggancio, // hangs up the line after a number of requests
        Misto, // each answer at random: right, none, partial, noise, or a hang-up that comes back
    };

    struct Configurazione
    {
        // The instruments answering on this line, as several on one RS-485 pair.
        QList<quint16> indirizzi{0};
        QMap<quint16, quint16> memoria = memoriaIniziale(); // every instrument's
        QMap<quint16, QMap<quint16, quint16>> memoriaDi; // one instrument's, over the shared one
        // A word that drifts: each read of it adds its step, for that instrument, kept within
        // 0 … 65535, as a parameter creeping towards a limit.
        QMap<quint16, int> deriva;
        Guasto guasto = Guasto::Nessuno;
        std::chrono::milliseconds ritardo{0};
        int richiestePrimaDelRiaggancio = 0;
        qint32 baud = 9600;

        static QMap<quint16, quint16> memoriaIniziale();
    };

    // What the instrument does about one request, and the line its log gives it.
    struct Esito
    {
        QString registro;
        std::optional<QByteArray> risposta;
        std::chrono::milliseconds ritardo{0};
        bool riaggancia = false;
        bool ritorna = false; // after hanging up, the line comes back under the same name
    };

    // Bytes within a group come closer together than this; groups are further apart.
    static constexpr std::chrono::milliseconds kSilenzioTraGruppi{40};
    // A request's groups are about 100 ms apart: outside these limits the timing is wrong.
    static constexpr std::chrono::milliseconds kPausaMinima{60};
    static constexpr std::chrono::milliseconds kPausaMassima{600};

    explicit Strumento(Configurazione configurazione);

    // One byte arrived at istante, under linea if its line could be seen. Returns what to do
    // when it completes or breaks a request.
    //
    // incertezza says how late the instrument read it: the byte arrived at some moment in the
    // incertezza before istante. A reader scheduled late on a busy machine finds the bytes of
    // two phases at once; then the groups are told apart by the request's shape rather than by
    // the silence between them, the line seen now is no longer the line they were written
    // under, and a pause is too short only if it was so at its longest.
    std::optional<Esito> ricevi(char byte, std::chrono::milliseconds istante,
        std::optional<Linea> linea = std::nullopt,
        std::chrono::milliseconds incertezza = std::chrono::milliseconds(0));

    // The line has been silent until istante: a request left unfinished is given up and logged.
    std::optional<Esito> silenzio(std::chrono::milliseconds istante);

private:
    struct Gruppo
    {
        QByteArray byte;
        std::chrono::milliseconds inizio;
        std::chrono::milliseconds fine;
        QString lineaSbagliata; // the first thing wrong with the line of one of its bytes
        std::optional<Linea> linea; // as seen with its first byte, if it was seen in time
        std::chrono::milliseconds incertezzaInizio{0}; // of its first byte's moment
        std::chrono::milliseconds incertezzaFine{0}; // of its last byte's moment
    };

    QString lineaSbagliata(char byte, const Linea &linea) const;
    std::optional<Esito> valuta();
    Esito nonValida(const QString &motivo);
    Esito rispondi();
    Esito esitoRegistrato(const QString &cosa, std::optional<QByteArray> risposta) const;
    QString gruppiComeTesto() const;
    QString pauseComeTesto() const;

    Configurazione m_configurazione;
    QList<Gruppo> m_gruppi;
    bool m_scarta = false;
    std::optional<QByteArray> m_ultimaLettura;
    int m_richiesteRisposte = 0;
    std::mt19937 m_caso{20261206};
};

// "00 2C" for the bytes 0x00 0x2C.
QString comeEsadecimale(const QByteArray &byte);
