#pragma once

#include "componente_seriale.h"
#include "pannello_testi.h"
#include "registro_traffico.h"
#include "ripetizione_richieste.h"
#include "sequenziatore.h"

#include <QObject>
#include <QString>

#include <map>
#include <optional>

// The panel's request from the command line: the options stand for the panel's texts, the
// request is the window's own, and each result becomes one line on standard output.
namespace RigaDiComando {

enum class Formato { Testo, Csv, Json };

// Exit statuses, as --help documents them.
enum Uscita : int {
    TutteRisposte = 0,
    SenzaRisposta = 1,
    OpzioneNonValida = 2,
    PortaNonDisponibile = 3,
};

struct Opzioni
{
    std::map<Campo, QString> testi; // the panel's texts the request reads
    QString dispositivo; // a device named by path rather than by number
    int ripetizioni = 1; // 0: until stopped
    int intervalloMs = 0;
    bool fermatiAlPrimoErrore = false; // otherwise a lost port is tried again at each request
    Formato formato = Formato::Testo;
    bool traffico = false;
};

// Reads the options; on --help or --version prints and exits, on a bad option prints why to
// standard error and returns nothing.
std::optional<Opzioni> leggiOpzioni(const QStringList &argomenti);

QString intestazione(Formato formato);
QString riga(Formato formato, const RisultatoRichiesta &risultato);

// Sends the request as many times as asked, one line of output for each, until the count is
// reached, an option or the port fails, or fermati() is called (Ctrl+C): the request in flight
// ends first. The port is drained and closed at the end.
class Ripetizione : public QObject
{
    Q_OBJECT

public:
    explicit Ripetizione(const Opzioni &opzioni, QObject *parent = nullptr);

    // Runs the whole repetition; the exit status.
    int esegui();
    void fermati() { m_ripetizione.fermaDopoLaRichiesta(); }

private:
    void stampaRisultato(const RisultatoRichiesta &risultato);
    void stampaRiassunto();
    void segnalaErrore(int numero, const QString &descrizione);

    Opzioni m_opzioni;
    PannelloDiTesti m_pannello;
    RegistroTraffico m_registro;
    ComponenteSeriale m_comm;
    Sequenziatore m_sequenziatore;
    RipetizioneRichieste m_ripetizione;
    quint64 m_primoEvento = 0;
    QString m_ultimoErrore; // told once while it repeats, request after request
};

} // namespace RigaDiComando
