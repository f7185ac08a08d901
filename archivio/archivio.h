#pragma once

#include "carta_controllo.h"
#include "destinazione.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// A socket of a station's fixture taken out of service (a worn contact, a broken cable) or put
// back: who did it, when and why.
struct ServizioPosto
{
    QString uuid; // made when recorded, if empty
    QString stazione;
    QString banco; // the bench file's name
    QString posto;
    bool inServizio = false;
    QString operatore;
    QDateTime quando;
    QString motivo;
};

// One reading of a bench for one unit under test: who, where, which bench (and which bytes of it
// judged the unit), when, and how it ended.
struct ProvaArchiviata
{
    QString uuid;
    QString stazione;
    QString operatore;
    QString unita;
    int tentativo = 0; // 1, 2, … for this unit on this bench
    QString banco; // the bench file's name
    QString shaBanco; // SHA-256 of the file's bytes, in hexadecimal
    QString shaRighe; // SHA-256 of the rows and limits in canonical form: the bench's version
    QString linea; // "/dev/ttyUSB0, 9600"
    QDateTime inizio;
    QDateTime fine; // not valid while the run goes on
    QString esito; // one of Esiti, empty while the run goes on
    QString posto; // the fixture's socket; empty for a bench without sockets
    // SHA-256 of the run as archived, in its canonical form: stored with its end, empty before
    // (and for runs archived before it was kept).
    QString impronta;
    // A reference unit's run: the outcome the unit must give; empty for a production unit.
    QString campione;
    // A production run read before the bench's reference units had proved it, by the
    // operator's choice.
    bool senzaCampioni = false;
};

// One row's reading within a run, with what it was judged against.
struct LetturaArchiviata
{
    int n = 0; // the row of the bench, from 0
    QString nome;
    int strumento = 0;
    QString memoria; // "0008"
    QString unitaMisura; // the row's unit, "°C"; empty where it has none
    std::optional<int> parola;
    std::optional<double> valore; // as a number, in the row's unit
    QString valoreMostrato; // "25.3 °C"
    std::optional<double> minimo;
    std::optional<double> massimo;
    QString atteso;
    QString stato; // "entro i limiti", "fuori dai limiti", "nessuna risposta", "errore 11: …"
    // The state as the statistics count it.
    enum class Giudizio : int { Buona, FuoriDaiLimiti, SenzaRisposta, Errore } giudizio{};
    std::optional<double> latenzaMs;
    QDateTime istante;
};

struct ProvaCompleta
{
    ProvaArchiviata prova;
    QList<LetturaArchiviata> letture;
};

// A label sent to a printer for a run, or tried: kept as sent, so that a reprint sends the same.
struct StampaEtichetta
{
    QString uuid; // made when recorded, if empty
    QString prova; // the run's uuid
    QString stazione;
    QDateTime quando;
    QString stampante; // "host:port", or a file or device
    bool riuscita = false;
    QString motivo; // why it failed; empty when printed
    QByteArray zpl;
    bool ristampa = false;
};

// The figures of one row of a bench over a set of runs.
struct StatisticaRiga
{
    QString banco;
    QString shaBanco; // the version of the bench the row belongs to
    int n = 0; // its row in that version
    QString nome;
    int strumento = 0;
    QString memoria;
    QString unitaMisura; // the row's unit, "°C"; empty where it has none
    std::optional<double> minimo; // the limits the readings were judged against
    std::optional<double> massimo;
    qint64 letture = 0;
    qint64 conValore = 0;
    qint64 fuoriDaiLimiti = 0;
    qint64 fallite = 0; // out of limits, different from atteso, no answer or error
    std::optional<double> media;
    std::optional<double> deviazione; // sample standard deviation
    std::optional<double> valoreMinimo;
    std::optional<double> valoreMassimo;
    // Capability against the row's limits: Cp and Cpk from σ̂ within (the mean moving range
    // over 1.128, within each socket's series), Pp and Ppk from the sample deviation.
    std::optional<double> cp, cpk, pp, ppk;
    // The control chart, where the row has one series (one socket): its centre and limits.
    std::optional<double> centro, lcs, lci;
    bool limitiFissati = false;
    // The points that complete a rule, in every series of the row, and the rules they complete.
    qint64 fuoriControllo = 0;
    QList<int> regole;
};

// Control limits an engineer fixed for one row's chart at one socket of one bench version: the
// chart uses the latest set from then on, and earlier sets stay for the record.
struct LimitiCarta
{
    QString uuid; // made when recorded, if empty
    QString stazione;
    QString operatore;
    QDateTime quando;
    QString banco; // the bench file's name
    QString versione; // the rows' digest: the bench version the runs are grouped by
    QString posto; // empty for a bench without sockets
    int n = 0; // the row, from 0
    QString nome;
    double centro = 0; // x̄
    double mrMedio = 0; // MR̄: the limits are x̄ ± 2.66 MR̄
    qint64 valori = 0; // how many values they were computed from
};

// One row's values at one socket of one bench version, oldest first: a control chart's points,
// from the runs that judged their unit.
struct SerieCarta
{
    QString banco;
    QString versione;
    QString posto;
    int n = 0;
    QString nome;
    QString unitaMisura;
    std::optional<double> minimo; // the row's limits in its latest run
    std::optional<double> massimo;
    QList<double> valori;
    // With conPunti only: each value's run, unit and start.
    QStringList prove;
    QStringList unita;
    QList<QDateTime> inizi;
    std::optional<LimitiCarta> fissati; // the latest set fixed for this chart
};

// One row's part in a bench version's yields.
struct ResaRiga
{
    int n = 0;
    QString nome;
    qint64 unita = 0; // units whose first judged run read this row
    qint64 conformiAlPrimo = 0; // … and passed it there
    qint64 fallite = 0; // judged runs that failed this row
};

// Units of one bench version: how many, how many passed at their first attempt and at their last.
struct ResaBanco
{
    QString banco;
    QString versione;
    qint64 unita = 0;
    qint64 prove = 0;
    qint64 conformiAlPrimo = 0;
    qint64 conformiAllUltimo = 0;
    qint64 daRipetere = 0; // runs ended errore or interrotta: in no figure above
    QList<ResaRiga> righe; // in the bench's order
};

// The archive on one database: the station's SQLite file, which records, or the line's
// PostgreSQL server, which receives whole runs. Both answer the same questions with the same SQL.
// One object per thread: Qt's connections belong to the thread that opened them.
class Archivio
{
public:
    enum class Tipo { Locale, Server };
    // The station file's schema, and the server's that this program needs to send to it.
    static constexpr int kVersioneSchema = 5;
    static constexpr int kVersioneServer = 5;

    ~Archivio();
    Archivio(const Archivio &) = delete;
    Archivio &operator=(const Archivio &) = delete;

    // The file, made with its folder on first use; runs left without an end by a program that
    // is no longer running are closed as interrotta. Nothing, with the reason, if the file
    // cannot be opened or written, or its schema is newer than this program's.
    static std::unique_ptr<Archivio> apriLocale(const QString &percorso, QString *errore);
    // The server, given up after its connect_timeout. Nothing, with the reason, if it does not
    // answer, its tables are not there, or Qt's PostgreSQL driver is missing.
    static std::unique_ptr<Archivio> apriServer(
        const Destinazione::Server &server, QString *errore);

    // The server's driver, with the client library it brings, loaded in the calling thread: a
    // thread that talks to the server is started only after this, from the program's own thread.
    // On Windows, libpq loaded first by another thread while the program went on left it hanging.
    static void caricaDriverServer();

    Tipo tipo() const { return m_tipo; }
    QString descrizione() const { return m_descrizione; }
    // The reason of the last failure.
    QString errore() const { return m_errore; }

    // Recording, on the station's file: each call is committed when it returns, so that a
    // program that dies keeps what it read. False, with errore(), when the file refuses.
    // The run's uuid, tentativo and inizio are filled in here when empty.
    bool iniziaProva(ProvaArchiviata &prova);
    bool registraLettura(const QString &uuid, const LetturaArchiviata &lettura);
    // The end, with the run's digest over what it holds now, in one transaction.
    bool finisciProva(const QString &uuid, const QString &esito);
    // A run with its readings in order; one with an empty uuid where there is no such run.
    std::optional<ProvaCompleta> provaCompleta(const QString &uuid);
    // Reference units' runs at a station's socket on one bench version (the rows' digest),
    // begun at dal or later and ended, oldest first.
    std::optional<QList<ProvaArchiviata>> proveDeiCampioni(const QString &stazione,
        const QString &versione, const QString &posto, const QDateTime &dal);

    // The station's file: a label printed or tried, added, never changed. False, with errore().
    bool registraStampa(StampaEtichetta &stampa);
    // The labels of a run, oldest first.
    std::optional<QList<StampaEtichetta>> stampe(const QString &prova);
    // Store and forward, as for the runs: labels of runs already sent, not yet sent themselves.
    std::optional<QList<StampaEtichetta>> stampeDaInviare(int quante);
    bool riceviStampe(const QList<StampaEtichetta> &stampe);
    bool segnaStampeInviate(const QStringList &uuid);

    // Store and forward: completed runs not yet on the server, oldest first.
    qint64 inAttesa();

    // The station's file: a socket taken out of service or put back. False, with errore(), if
    // the file does not take it.
    bool registraServizio(const ServizioPosto &servizio);
    // The changes recorded, oldest first; of one station and bench where they are named; only
    // those not sent yet with soloDaInviare; at most quanti, where positive.
    std::optional<QList<ServizioPosto>> servizi(const QString &stazione = {},
        const QString &banco = {}, bool soloDaInviare = false, int quanti = 0);
    // The sockets of the station's bench out of service now, as the last change of each left them.
    QSet<QString> postiFuoriServizio(const QString &stazione, const QString &banco);
    // The server: changes sent by a station. Forwarded again, one already there is kept.
    bool riceviServizi(const QList<ServizioPosto> &servizi);
    bool segnaServiziInviati(const QStringList &uuid);
    QList<ProvaCompleta> daInviare(int quante);
    bool segnaInviate(const QStringList &uuid);
    // A run the server refused, set aside with its reason: it no longer holds the others up.
    bool mettiDaParte(const QString &uuid, const QString &motivo);
    struct Scartata
    {
        QString uuid;
        QString unita;
        QString motivo;
    };
    std::optional<QList<Scartata>> scartate();
    // The set-aside runs wait to be sent again; how many.
    std::optional<qint64> riprendiScartate();
    // The connection still answers.
    bool raggiungibile();
    // The last failure was the server refusing what a statement carried (a value, a right, a
    // limit), not a server away or a connection lost.
    bool rifiutata() const;
    // SQLite's own check of the file, and of the links between runs and readings: what is
    // wrong, empty if nothing.
    std::optional<QStringList> controllaIntegrita();
    // On the server: the runs in one transaction, each added once (one already there is left
    // as it is). False, with nothing added, if the transaction fails.
    bool ricevi(const QList<ProvaCompleta> &prove);

    // Questions, on either database. The newest runs first, past the first salta; limite 0: all.
    bool perOgniProva(const FiltroProve &filtro, qint64 limite,
        const std::function<void(const ProvaArchiviata &)> &fai, qint64 salta = 0);
    std::optional<qint64> conta(const FiltroProve &filtro);
    // The sockets of the runs chosen, in order; runs without one are in none.
    std::optional<QStringList> posti(const FiltroProve &filtro);
    std::optional<QList<LetturaArchiviata>> letture(const QString &uuid);
    // With ancheDa5A8, the charts' rules 5 to 8 as well as 1 to 4.
    std::optional<QList<StatisticaRiga>> statistiche(
        const FiltroProve &filtro, bool ancheDa5A8 = false);
    // With conRighe, each row's part too: a pass over the readings.
    std::optional<QList<ResaBanco>> rese(const FiltroProve &filtro, bool conRighe = false);
    // Both, from one pass over the readings.
    struct StatisticheERese
    {
        QList<StatisticaRiga> statistiche;
        QList<ResaBanco> rese;
    };
    std::optional<StatisticheERese> statisticheERese(
        const FiltroProve &filtro, bool ancheDa5A8 = false);
    // The control charts of the runs chosen: one per bench version, socket and row, of the row
    // named riga only where it is given; with conPunti, each value's run, unit and start too.
    std::optional<QList<SerieCarta>> serieCarta(
        const FiltroProve &filtro, const QString &riga = {}, bool conPunti = false);
    // The station's file: limits fixed for a chart. False, with errore(), if the file does not
    // take them. Fixed limits are never changed or removed, only followed by newer ones.
    bool fissaLimiti(LimitiCarta &limiti);
    // Every set fixed, oldest first; of one bench version where it is given.
    std::optional<QList<LimitiCarta>> limitiFissati(const QString &versione = {});
    // Store and forward, as for the runs: sets not yet on the server, and the server's side.
    std::optional<QList<LimitiCarta>> limitiDaInviare(int quanti);
    bool riceviLimiti(const QList<LimitiCarta> &limiti);
    bool segnaLimitiInviati(const QStringList &uuid);
    // The attempts this unit has had on this bench so far, at any of its sockets, and the last
    // one's outcome.
    std::optional<std::pair<int, QString>> precedenti(const QString &unita, const QString &banco);

    QSqlDatabase database() const;

private:
    Archivio(Tipo tipo, const QString &connessione);
    bool esegui(const QString &sql);
    // A SELECT with its values, each row handed to leggi; false, with errore(), if it fails.
    bool interroga(const QString &sql, const QVariantList &valori,
        const std::function<void(const QSqlQuery &)> &leggi);
    // On the server: quante rows added by one statement in one transaction, the i-th bound by
    // lega; false, with nothing added and errore() saying che, if any is refused.
    bool riceviInUnaTransazione(const QString &sql, const QString &che, qsizetype quante,
        const std::function<void(QSqlQuery &, qsizetype)> &lega);
    // The transaction this call began rolled back, the failure's reason kept; always false.
    bool annulla(bool propria);
    bool segnaInviati(const char *sql, const QStringList &uuid);
    // BEGIN IMMEDIATE: true if this call began it; false with errore() empty inside a
    // transaction already open, or with errore() set when the file refuses.
    bool iniziaTransazione();
    bool fallita(const class QSqlQuery &query, const QString &che);
    bool preparaSchemaLocale();
    // The run's digest over what it holds now, stored with it.
    bool scriviImpronta(const QString &uuid);
    bool chiudiAbbandonate();
    // The filter as conditions on the runs, named p, with their values in order.
    QString condizioni(const FiltroProve &filtro, QVariantList &valori) const;
    // One pass over the readings of the runs chosen: each chart's series (of the row named riga
    // only, where given) and, where asked for, each row's sums for its statistics and each
    // run's judgements by row (kSenzaGiudizio where a run has no reading of a row).
    bool raccogli(const FiltroProve &filtro, const QString &riga, bool conPunti,
        QList<SerieCarta> &serie, QList<StatisticaRiga> *statistiche,
        QHash<qint64, QByteArray> *giudizi);
    std::optional<QList<StatisticaRiga>> statisticheDa(
        const FiltroProve &filtro, bool ancheDa5A8, QHash<qint64, QByteArray> *giudizi);
    // Each row's part from the judgements given, or read here; none with senzaRighe.
    // The fixed sets chosen by the end of a SELECT on limiti_carta, with its values.
    std::optional<QList<LimitiCarta>> elencoLimiti(const QString &scelta, const QVariantList &valori);
    std::optional<QList<ResaBanco>> reseDa(const FiltroProve &filtro,
        const QHash<qint64, QByteArray> *giudizi, bool senzaRighe = false);

    Tipo m_tipo;
    QString m_connessione;
    QString m_descrizione;
    QString m_errore;
    QString m_sqlstate; // of the last failure: SQLite's code, or PostgreSQL's SQLSTATE
};

// The limits of a series, computed now from all its values, as an engineer fixes them: none with
// fewer than two values.
std::optional<LimitiCarta> limitiDellaSerie(
    const SerieCarta &serie, const QString &stazione, const QString &operatore);
// A series' latest fixed limits, as the chart uses them.
std::optional<CartaControllo::Limiti> limitiFissati(const SerieCarta &serie);
// A series' chart: its latest fixed limits, or its reference phase.
CartaControllo::Analisi analizza(const SerieCarta &serie, bool ancheDa5A8);

// The run in the canonical form its digest is computed over, and the digest: SHA-256 in
// lower-case hexadecimal.
QByteArray formaCanonica(const ProvaCompleta &prova);
QString improntaDellaProva(const ProvaCompleta &prova);

// A fresh UUID, as the archive keys runs.
QString nuovoUuid();
// This station's name: the host's, unless given.
QString nomeStazione(const QString &dato);
