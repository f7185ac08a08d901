#pragma once

#include "pannello_testi.h"
#include "sequenza_richieste.h"
#include "testi_traffico.h"

#include <QList>
#include <QObject>
#include <QStringList>

#include <optional>

class RegistroTraffico;
class Sequenziatore;

// Which baud rate and which instrument address answer: the panel's reading request, its texts
// those of each probe, sent at each rate of a list to each address of a range through the one
// sequencer. A probe has answered when any byte came after its last byte was written.
//
// Each probe closes and reopens the port at its rate, and the port drains before it closes: no
// byte of one probe leaves under the settings of the next.
class RicercaStrumento : public QObject
{
    Q_OBJECT

public:
    // About what one probe takes: five phases, each followed by its pause.
    static constexpr int kMsPerProva = 500;

    struct Impostazioni
    {
        QString porta; // the panel's port
        QStringList baud; // in the order they are tried
        quint16 primo = 0; // instrument addresses, primo to ultimo
        quint16 ultimo = 15;
        QString memoria = QStringLiteral("0008"); // the memory address each probe reads
        bool fermatiAllaPrima = false;
    };

    struct Trovato
    {
        QString baud;
        quint16 indirizzo = 0;
        QByteArray ricevuti;
        std::optional<quint16> valore;
        std::optional<qint64> latenzaUs;
    };

    // "9600, 19200;38400": each a rate the line can take, in order, each once; nothing, with
    // the reason, otherwise. An empty text is an empty list.
    static std::optional<QStringList> leggiBaud(const QString &testo, QString *errore);
    // "0-31", or "7" alone; nothing, with the reason, otherwise.
    static std::optional<std::pair<quint16, quint16>> leggiIndirizzi(
        const QString &testo, QString *errore);
    // Why no probe of these settings could be sent (a port or a memory address that a request
    // cannot use), as "errore N: …"; empty if they can.
    static QString verifica(const Impostazioni &impostazioni);
    // The panel's rate first, then the others of the list in its order, each once.
    static QStringList ordineDeiBaud(const QStringList &elenco, const QString &delPannello);
    // The rates a search offers: the panel's list, then 57600 and 115200, which most adapters
    // and many instruments use above 38400 and the panel's list does not hold.
    static QStringList velocitaProposte(const QStringList &elencoDelPannello);
    static qint64 numeroProve(const Impostazioni &impostazioni);
    // "192 prove, circa 1:36": what a search will take before it starts.
    static QString testoStima(qint64 prove);

    static QStringList intestazioneCsv();
    static QStringList colonneCsv(const Trovato &trovato);

    RicercaStrumento(
        Sequenziatore &sequenziatore, RegistroTraffico &registro, QObject *parent = nullptr);

    // False, with nothing started, if there is nothing to try or the line is held
    // (motore().occupante() says by whom).
    bool avvia(const Impostazioni &impostazioni);
    // Stops once the probe in flight has ended, so that no half request is left on the line.
    void ferma() { m_motore.fermaDopoLaRichiesta(); }
    bool inCorso() const { return m_motore.inCorso(); }
    SequenzaRichieste &motore() { return m_motore; }

    qint64 fatte() const { return m_fatte; }
    qint64 totale() const { return m_totale; }
    qint64 senzaRisposta() const { return m_senzaRisposta; }
    qint64 conErrore() const { return m_conErrore; }
    const QList<Trovato> &trovati() const { return m_trovati; }
    // The rate and address of probe n.
    std::pair<QString, quint16> prova(qint64 n) const;
    // From the probes so far, or half a second each before the first has ended.
    double secondiRimasti() const;
    // The results as CSV, with a header.
    QByteArray comeCsv(TestiTraffico::FormaCsv forma) const;

signals:
    // Probe n is about to be sent.
    void provaIniziata(qint64 n);
    void provata(qint64 n, const RisultatoRichiesta &risultato);
    void trovato(const RicercaStrumento::Trovato &trovato);
    void terminata(int errore, const QString &descrizione);

private:
    static std::map<Campo, QString> testiDellaProva(
        const Impostazioni &impostazioni, const QString &baud, quint16 indirizzo);
    Pannello *testi(qint64 n);

    SequenzaRichieste m_motore;
    Impostazioni m_impostazioni;
    PannelloDiTesti m_testi;
    QList<Trovato> m_trovati;
    qint64 m_totale = 0;
    qint64 m_fatte = 0;
    qint64 m_senzaRisposta = 0;
    qint64 m_conErrore = 0;
    double m_secondiFatti = 0;
};
