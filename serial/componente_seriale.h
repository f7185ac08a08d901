#pragma once

#include "errore.h"
#include "impostazioni_linea.h"
#include "marcatori_parita.h"

#include <QByteArray>
#include <QObject>
#include <QSerialPort>

#include <chrono>
#include <optional>
#include <vector>

class RegistroTraffico;

// The serial communications component of the window: one port, opened by number with a settings
// text, written one text at a time, read one character per receive event.
//
// Guarantees the request logic builds on:
// - nothing handed to Output is lost or sent with other line settings: closing the port or
//   changing its settings first waits until every queued byte has left it, for no longer than
//   the bytes need at the line's rate;
// - OnComm is emitted only from the event loop, never inside a call to this class, once per
//   received byte and in order of arrival, however the bytes were grouped on arrival, and Input
//   reads one character; received bytes wait, however many, until they are read;
// - a port that fails while open is closed at once, and the next operation names the device.
class ComponenteSeriale : public QObject
{
    Q_OBJECT

public:
    static constexpr qint16 kEventoRicezione = 2;

    // A byte received with a parity or framing error reads as this character.
    static constexpr char ParityReplace = '?';

    explicit ComponenteSeriale(QObject *parent = nullptr);
    ~ComponenteSeriale() override;

    bool PortOpen() const;
    // true opens port CommPort with Settings; false closes it. Throws Errore.
    void setPortOpen(bool aperta);

    qint16 CommPort() const { return m_commPort; }
    void setCommPort(qint16 numero) { m_commPort = numero; }

    QString Settings() const { return m_impostazioni.testo(); }
    // Throws Errore for a text the line cannot take. Applied at once if the port is open.
    void setSettings(const QString &testo);

    // Queues each byte of the text for the line. Throws Errore if the port is not open.
    void setOutput(const QByteArray &dati);

    // One received character, taken out of the receive buffer; empty if none waits.
    QByteArray Input();

    qint16 CommEvent() const { return m_evento; }

    // The modem-status lines (CTS, DSR, DCD, RI) as the port reads them now; none while the port
    // is closed or where the device cannot tell them (a pseudo-terminal cannot).
    std::optional<QSerialPort::PinoutSignals> segnaliModem();

    // The device of the port last opened.
    const QString &dispositivo() const { return m_dispositivo; }

    // Every byte written and received, and the port's events, go to the record from now on.
    void setRegistro(RegistroTraffico *registro) { m_registro = registro; }

    // Who this port works for, as Linee lends lines: it opens a device lent to that user, and
    // refuses one lent to another. Empty (the panel and its windows): only devices lent to
    // nobody; an open port whose device is lent to someone else is closed.
    void setUtente(const QString &chi) { m_utente = chi; }

signals:
    void OnComm();

private:
    // A message about this port, opening with what the person gave: "Porta 1: …" for a number
    // the system's ports count, "Porta 1 (BANCO_PORTA1): …" for one the environment maps, and
    // the sentence alone for a device named by its path. The system's ports are listed only
    // where a number counts them.
    QString suQuestaPorta(const QString &frase, bool conElenco = false) const;
    void apri();
    void chiudi();
    void configura();
    void drena();
    void attendiUscita();
    void chiudiERegistra();
    void attendiCodaDelSistema(std::chrono::steady_clock::time_point limite);
    std::chrono::steady_clock::time_point limiteDiUscita(qint64 byte) const;
    bool consegnaAlSistema(std::chrono::steady_clock::time_point limite);
    void raccogliRicevuti();
    void raccogliPrimaDellaChiusura();
    void accogli(const QByteArray &grezzi);
    void consegna();
    void pianificaConsegna();
    void segnalaErrorePorta(QSerialPort::SerialPortError errore);
    bool lineaCaduta() const;
    void chiudiPerGuasto();
    void lineaPrestata(const QString &dispositivo, const QString &chi);
    [[noreturn]] void erroreApertura();
    std::chrono::milliseconds tempoDiTrasmissione(qint64 byte) const;
    Errore errorePortaPersa() const;

    QSerialPort m_porta;
    qint16 m_commPort = 1;
    ImpostazioniLinea m_impostazioni;
    QString m_dispositivo;
    QString m_utente;
    std::optional<Errore> m_guasto;

    MarcatoriParita m_marcatori{ParityReplace};
    RegistroTraffico *m_registro = nullptr;
    std::vector<MarcatoriParita::ByteDellaLinea> m_dallaLinea;
    QByteArray m_ricevuti;
    qsizetype m_inizioRicevuti = 0;
    qsizetype m_daConsegnare = 0;
    bool m_consegnaPianificata = false;
    bool m_chiusuraPianificata = false;
    qint16 m_evento = 0;
};
