#pragma once

#include "errore.h"
#include "module2.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <optional>

class ComponenteSeriale;
class Pannello;
class RegistroTraffico;

// One press of "Invia comando": the five phases of Module2, each followed by a pause of one tick
// of TimerPausa during which the window's events keep flowing, so that the instrument's bytes are
// taken in while the request runs; then the reply's value is decoded from the received text.
// Every byte received, during a request or not, is appended to the received text.
class Sequenziatore : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kPausa{100};

    Sequenziatore(Pannello &pannello, ComponenteSeriale &comm1, QObject *parent = nullptr);

    // The operator's click, or the menu: ignored while a request runs; refused, with the signal
    // occupata, while a sequence of requests owns the sequencer.
    void Command1_Click();
    // One request, for the sequence that owns the sequencer; ignored while one runs. Its five
    // texts are read from testi, and its received bytes and value written there; without testi,
    // from and to the panel.
    void richiesta(Pannello *testi = nullptr);
    // A sequence of requests owns the sequencer (chi names it, as the operator is told: "la
    // ripetizione"), or no longer does with an empty name. The operator's clicks are refused
    // and its errors are its own to report. False if another owns it already.
    bool riserva(const QString &chi);
    bool riservato() const { return !m_occupante.isEmpty(); }
    const QString &occupante() const { return m_occupante; }
    void TimerPausa_Timer();
    void Comm1_OnComm();

    // The window is closing: a running request stops at once, writing nothing more.
    void annulla();

    bool richiestaInCorso() const { return m_inCorso; }

    // Bytes that arrive while no request runs go to the panel's received text, or, while a
    // sequence that wants them nowhere runs, only to the record.
    void setScartaFuoriRichiesta(bool scarta) { m_scartaFuoriRichiesta = scarta; }

    // Each request's phases, pauses, error and result go to the record from now on.
    void setRegistro(RegistroTraffico *registro) { m_registro = registro; }

signals:
    // A request stopped on an error; the window shows it and stays ready for the next one.
    void errore(int numero, const QString &descrizione);
    // Each pause as it starts, the phase's bytes written; and as it ends, with how long it
    // lasted.
    void pausaIniziata();
    void pausaTerminata(std::chrono::nanoseconds durata);
    // A request ended, however it ended.
    void richiestaFinita();
    // The operator asked for a request while chi owns the line.
    void occupata(const QString &chi);

private:
    // How a request ended: with the value decoded, with the error that stopped it, or with
    // neither when the window closed during it.
    struct Esito
    {
        std::optional<quint16> valore;
        std::optional<Errore> fermata;
    };
    Esito eseguiRichiesta();
    // The five phases and the decoding. Throws Errore.
    std::optional<quint16> eseguiFasi();
    void fase(int numero);
    [[nodiscard]] bool pausa(int fase);
    static void svegliaPausa();

    Pannello &m_pannello;
    Pannello *m_testi; // the texts of the request in flight, or the panel
    ComponenteSeriale &Comm1;
    Module2 m_modulo;
    RegistroTraffico *m_registro = nullptr;
    QTimer TimerPausa;
    bool PausaFinita = false;
    bool m_inCorso = false;
    bool m_annullata = false;
    bool m_scartaFuoriRichiesta = false;
    QString m_occupante;
};
