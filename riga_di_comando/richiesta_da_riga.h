#pragma once

#include "componente_seriale.h"
#include "file_banco.h"
#include "lettura_tabella.h"
#include "modello_tabella.h"
#include "rapporto_junit.h"
#include "ricerca_strumento.h"
#include "pannello_testi.h"
#include "registro_traffico.h"
#include "ripetizione_richieste.h"
#include "sequenziatore.h"

#include <QObject>
#include <QString>

#include <map>
#include <memory>
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
    FuoriDaiLimiti = 4,
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
    // A bench read instead of one request: each round reads its rows once, in order.
    std::optional<DatiBanco> banco;
    QString rapporto; // a JUnit XML report of the bench's readings
    QString unita; // the unit under test, carried in every line and in the report
    // A search for the rate and address that answer instead of one request.
    std::optional<RicercaStrumento::Impostazioni> ricerca;
};

// Reads the options; on --help or --version prints and exits, on a bad option prints why to
// standard error and returns nothing.
std::optional<Opzioni> leggiOpzioni(const QStringList &argomenti);

QString intestazione(Formato formato);
QString riga(Formato formato, const RisultatoRichiesta &risultato);
// A reading of a bench's row, with the unit under test if any.
QString intestazioneBanco(Formato formato);
QString rigaBanco(Formato formato, const QString &unita, qint64 giro, const RigaBanco &riga,
    const QString &stato, const RisultatoRichiesta &risultato);
// A combination that answered a search.
QString intestazioneRicerca(Formato formato);
QString rigaRicerca(Formato formato, const RicercaStrumento::Trovato &trovato);

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
    void fermati();

private:
    RipetizioneRichieste &motore()
    {
        return m_ricerca ? m_ricerca->motore() : m_lettura ? m_lettura->motore() : m_ripetizione;
    }
    int uscitaDellaRicerca(int errore);
    void stampaLettura(qint64 giro, int riga, const RisultatoRichiesta &risultato);
    void stampaTraffico();
    int uscitaDelBanco(int errore);
    void stampaRisultato(const RisultatoRichiesta &risultato);
    void stampaRiassunto();
    void segnalaErrore(int numero, const QString &descrizione);
    // A request ended: the errors told once are told again if they come back, and a port that
    // was lost and answers again is said to be back, once.
    void dopoIlRisultato(const RisultatoRichiesta &risultato);

    Opzioni m_opzioni;
    PannelloDiTesti m_pannello;
    RegistroTraffico m_registro;
    ComponenteSeriale m_comm;
    Sequenziatore m_sequenziatore;
    RipetizioneRichieste m_ripetizione;
    ModelloTabella m_modello;
    std::unique_ptr<LetturaTabella> m_lettura;
    std::unique_ptr<RapportoJUnit> m_rapporto;
    std::unique_ptr<RicercaStrumento> m_ricerca;
    bool m_interrotta = false;
    QString m_descrizioneErrore; // of the last error, for the report
    quint64 m_primoEvento = 0;
    QString m_ultimoErrore; // told once while it repeats, request after request
    bool m_portaPersa = false; // the last error was the port's
};

} // namespace RigaDiComando
