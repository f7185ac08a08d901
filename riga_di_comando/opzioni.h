#pragma once

#include "destinazione.h"
#include "file_banco.h"
#include "pannello_testi.h"
#include "ricerca_strumento.h"
#include "tracciabilita.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>

#include <map>
#include <optional>

// banco-richiesta's options: one table of them, and what each way of running reads from it.
namespace RigaDiComando {

enum class Formato { Testo, Csv, Json };

// Exit statuses, as --help documents them.
enum Uscita : int {
    TutteRisposte = 0,
    SenzaRisposta = 1,
    OpzioneNonValida = 2,
    PortaNonDisponibile = 3,
    FuoriDaiLimiti = 4,
    ArchivioNonScritto = 5,
    ProvaInterrotta = 6, // a unit's round stopped before its last row
    InvioIncompleto = 7, // after --invia, runs still wait or were set aside
    ArchivioDanneggiato = 8, // --controlla-archivio found damage
    UnitaRifiutata = 9, // a unit refused by the bench before anything was sent
};

// Where several statuses apply, the one that says most: 3 > 1 > 6 > 5 > 4 > 0.
int uscitaPiuGrave(int a, int b);
// A reference unit's status: it passes (0) when it gives the outcome it must, whatever that
// outcome is, and fails (4) when the bench judged it otherwise; a line lost, a run stopped or
// an archive not written keep theirs.
int uscitaDelCampione(int uscita, const QString &atteso, const QString &esito);

// What the archive keeps of a bench run, and where.
struct OpzioniArchivio
{
    bool registra = false; // a unit was named and --senza-archivio not given
    bool senzaCampioni = false; // production before the reference units, by the operator's choice
    // The bench's reports, label and reference units.
    ConfigurazioneTracciabilita tracciabilita;
    QString operatore;
    QString stazione;
    Destinazione::Scelta dove;
};

// The questions asked of the archive instead of a reading.
struct OpzioniInterrogazione
{
    enum class Cosa {
        Storico,
        Statistiche,
        Carta,
        Invia,
        Controlla,
        Verifica,
        Pdf,
        Ristampa
    } cosa = Cosa::Storico;
    QString prova; // --verifica, --pdf, --ristampa: the run's uuid
    QString uscita; // --pdf --uscita: the report's file
    bool letture = false; // --storico with each run's readings
    bool riprova = false; // --invia: the runs set aside are sent again
    // --statistiche --per: a block per group of runs, then the total.
    enum class Per { Nessuno, Posto, Stazione, Operatore, Giorno } per = Per::Nessuno;
    QString riga; // --carta: the row whose charts are printed
    bool fissa = false; // --carta --fissa: their limits fixed now, on the station's file
    QString operatore; // who fixes them
    QString stazione; // the station that records them
    bool ancheDa5A8 = false; // the charts' rules 5 to 8 as well
    FiltroProve filtro;
    Destinazione::Scelta dove;
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
    QString fileBanco;
    QString shaBanco; // of the file's bytes, as the archive keeps it
    QString rapporto; // a JUnit XML report of the bench's readings
    QString unita; // the unit under test, carried in every line and in the report
    // With a bench of sockets: each socket's unit, empty where none was named.
    QStringList unitaDeiPosti;
    OpzioniArchivio archivio;
    // A search for the rate and address that answer instead of one request.
    std::optional<RicercaStrumento::Impostazioni> ricerca;
    std::optional<OpzioniInterrogazione> interrogazione;
};

// Every option, declared once with its help.
struct TabellaOpzioni
{
    TabellaOpzioni();
    QList<QCommandLineOption> tutte() const;

    const std::map<Campo, QString> iniziali;
    QCommandLineOption aiuto, versione;
    // The request and its line.
    QCommandLineOption porta, baud, indirizzo, comando, memoria, ripeti, intervallo, formato,
        traffico, fermatiAlPrimoErrore;
    // A bench.
    QCommandLineOption banco, rapporto, unita, operatore, stazione, senzaArchivio, senzaCampioni,
        archivio;
    // A search.
    QCommandLineOption cerca, prima;
    // The archive's questions.
    QCommandLineOption storico, letture, campioni, statistiche, carta, fissa, invia, riprova,
        controllaArchivio, dal, al, esito, posto, nomeBanco, per, regole58;
    // A run's traceability.
    QCommandLineOption verifica, pdf, uscita, ristampa;
};

// Reads the options; on --help or --version prints and exits, on a bad option prints why to
// standard error and returns nothing.
std::optional<Opzioni> leggiOpzioni(const QStringList &argomenti);

// What each way of running reads of the options, after the line's; false, with the reason
// printed, when they cannot be used together.
bool leggiRicerca(const TabellaOpzioni &t, const QCommandLineParser &parser, Opzioni &opzioni);
bool leggiBanco(const TabellaOpzioni &t, const QCommandLineParser &parser, Opzioni &opzioni);
bool leggiInterrogazione(
    const TabellaOpzioni &t, const QCommandLineParser &parser, Opzioni &opzioni);

// The archive --archivio, BANCO_ARCHIVIO or the windows' setting name; false, with the reason
// printed, when the value cannot be used.
bool leggiArchivio(
    const TabellaOpzioni &t, const QCommandLineParser &parser, Destinazione::Scelta &dove);

// The first of these options that is set, refused with perche (its name in place of %1).
bool rifiutaSeImpostata(const QCommandLineParser &parser,
    std::initializer_list<const QCommandLineOption *> opzioni, const char *perche);

// Messages to standard error, readings to standard output.
void errore(const QString &messaggio);
void stampa(const QString &riga);
bool erroreDiPorta(int numero);

} // namespace RigaDiComando
