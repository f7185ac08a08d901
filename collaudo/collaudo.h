#pragma once

#include "archivio.h"
#include "inoltro.h"
#include "lettura_tabella.h"
#include "modello_tabella.h"
#include "registrazione.h"
#include "sorveglianza.h"
#include "tracciabilita.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>

class RegistroTraffico;
class Sequenziatore;

// The end of a production line: one unit after another, each read through one round of a bench
// and judged as a whole. Every round is a run of the unit in the station's archive, sent on to
// the line's server when one is named; a unit seen before on this bench is a retest.
//
// A bench may name a row in "verifica_unita": the serial number the instrument holds, which must
// be the one on the unit's label, or the unit is non conforme. A bench may give the form of its
// serials in "modello_unita": a scan of another form is refused before anything is sent, as is a
// serial, an operator or a station the archive would not take.
//
// Each row's values are watched on its control chart, one per socket, as the archive keeps them
// for this version of the bench: read from the archive when the bench is opened (with the limits
// an engineer fixed by then), then fed each round's values. A rule that fires anew is told as
// DERIVA; the unit is judged by the row's limits only. "regole_5_8": true in the bench adds rules
// 5 to 8 to 1 to 4.
class Collaudo : public QObject
{
    Q_OBJECT

public:
    // A row that failed, as the operator is told of it.
    struct Scarto
    {
        QString nome;
        QString valore; // "31.2 °C", empty without a value
        QString limiti; // "20 … 30"
        QString perQuanto; // "1.2 °C sopra il massimo", "nessuna risposta"
    };

    struct Esito
    {
        QString unita;
        QString esito; // one of Esiti
        // For senza risposta: which row, and what to do. For errore: the line's message, once,
        // with what to do; the rows it left unread are in scarti with that same text.
        QString motivo;
        QList<Scarto> scarti;
        int tentativo = 0;
        QString erroreArchivio; // the run could not be recorded: why
        QString prova; // the run's uuid; empty where it was not recorded
        QString campione; // a reference unit: the outcome it must give
    };

    // The station's figures for today.
    struct Giornata
    {
        qint64 unita = 0;
        qint64 conformi = 0;
        qint64 nonConformi = 0;
        qint64 daRipetere = 0; // runs ended errore or interrotta: in no figure above
        std::optional<double> resaAlPrimo; // 0 … 1
        // With a server only: where the forwarding stands, its inAttesa as the file has it now.
        std::optional<StatoInoltro> inoltro;
        QString server; // its URL
        QString errore;
        qint64 derive = 0; // DERIVA warnings given today since the station was opened
    };

    // A row's control chart broke rules at a round's value that it did not break at the one
    // before.
    struct Deriva
    {
        QString posto; // empty without sockets
        int n = 0; // the row
        QString riga; // its name
        QList<int> regole;
        QStringList testiRegole; // each rule in words
        QStringList ultimi; // the chart's last values, oldest first, as the row shows them
        QString unitaMisura; // the row's unit, "°C"; empty where it has none
        QString unita; // the unit whose value it was
    };
    // How many of a chart's last values a warning shows.
    static constexpr int kValoriMostrati = 5;

    static constexpr char kChiaveVerifica[] = "verifica_unita";

    Collaudo(Sequenziatore &sequenziatore, RegistroTraffico &registro, QObject *parent = nullptr);
    ~Collaudo() override;

    // The bench and the archive; false with the reason if either cannot be used, or the station's
    // or the operator's name could not be recorded. The archive is the one the programs share:
    // the server named by BANCO_ARCHIVIO or the settings.
    bool apri(const QString &percorsoBanco, const QString &stazione, const QString &operatore,
        QString *errore);
    // The same for a bench already read: percorso is its file, which its reports' folder and its
    // label's template are relative to; dati its file's bytes, which the archive keeps the
    // digest of.
    bool apriBanco(DatiBanco banco, const QString &percorso, const QByteArray &dati,
        const QString &stazione, const QString &operatore, QString *errore);
    // False, with the reason, for a name the archive would not take.
    bool impostaOperatore(const QString &operatore, QString *errore);
    // The archive chosen now (File → Archivio… changed it): the forwarding goes to the new server,
    // or stops without one. False, with the reason, if the choice cannot be used; the station
    // keeps the archive it had.
    bool cambiaArchivio(QString *errore);
    const QString &operatore() const { return m_chi.operatore; }
    const QString &stazione() const { return m_chi.stazione; }
    const QString &nomeBanco() const { return m_chi.banco; }
    QString descrizioneArchivio() const;
    // The server's URL, empty without one.
    QString server() const { return m_server ? m_server->url : QString(); }
    // The station's archive, null before a bench is opened; another after cambiaArchivio.
    Archivio *archivio() const { return m_archivio.get(); }

    const ModelloTabella &modello() const { return m_modello; }
    LetturaTabella &lettura() { return *m_lettura; }

    // A round for the unit: false, with nothing sent and the reason, for a blank serial, one the
    // archive would not take or not of the bench's form, a round already running or a line held
    // by another sequence.
    bool avvia(const QString &unita, QString *motivo);
    // Stops the round at once; it is recorded as interrotta.
    void ferma();
    // The station's own round, or a socket's where the bench has sockets.
    bool inCorso() const { return m_lettura->inCorso() || (m_altreProve && m_altreProve()); }
    // Who else runs rounds for this station (its sockets), so that no archive is changed and no
    // bench is opened under them.
    void impostaAltreProve(std::function<bool()> inCorso) { m_altreProve = std::move(inCorso); }

    // Why a scanned serial cannot be tested on this bench; empty when it can. The serial is
    // taken trimmed.
    QString controllaSeriale(const QString &unita) const;
    // "seconda prova di questa unità; l'ultima: non conforme"; empty for a unit never tested.
    QString avvisoPrecedenti(const QString &unita) const;
    // The row the instrument's serial is read by, -1 without one.
    int rigaVerifica() const { return m_rigaVerifica; }
    // A model's rows ready for the unit: the serial row expects its serial, no reading kept.
    void preparaModello(ModelloTabella &modello, const QString &unita) const;
    // A run of the unit in the archive, for the rows of that model, at that socket's line (the
    // bench's without one); null without an archive.
    std::unique_ptr<RegistrazioneProve> registrazione(
        const ModelloTabella &modello, const QString &unita, const PostoBanco *posto) const;
    // A run just ended: the server gets it now rather than at the next round of the forwarding;
    // its report and label follow, told by rapporto and etichetta.
    void provaFinita(const QString &uuid);
    // The last label of the run sent again to its printer; false, with the reason, when there
    // is none.
    bool ristampa(const QString &uuid, QString *motivo);

    // The bench's reference units: due at a socket (empty without sockets) and how they stand.
    const RegolaCampioni &campioni() const { return m_configurazione.campioni; }
    std::optional<Campioni::Stato> statoCampioni(const QString &posto) const;
    // Why a unit may not be read at that socket yet: a production unit before the references
    // proved the bench there. Empty when it may, and always for a reference unit.
    QString controllaCampioni(const QString &unita, const QString &posto) const;

    // A round of the rows of modello ended with esito, lette rows read: the unit's outcome, with
    // the rows that failed and why. descrizione: the line's last error, for a round cut short.
    static Esito giudica(const ModelloTabella &modello, int rigaVerifica, const QString &unita,
        const QString &esito, int lette, const QString &descrizione);

    // posto: the figures of one socket's units (those first judged there), without the
    // forwarding; empty: the whole station's.
    Giornata giornata(const QString &posto = {});

    // "terza prova di questa unità; l'ultima: non conforme"; empty for a unit never tested.
    static QString testoPrecedenti(int prove, const QString &ultimo);

    // A round of the unit at posto (empty without sockets) ended with esito, the values in
    // modello: each row's value goes on its chart, and the charts that broke a rule anew are
    // returned, in the rows' order, and counted in the day's figures. A round to repeat (errore,
    // interrotta) counts in no chart and feeds nothing. Called once the outcome is shown.
    QList<Deriva> sorveglia(const ModelloTabella &modello, const QString &posto,
        const QString &unita, const QString &esito);
    // Why the charts' past could not be read when the bench or the archive was opened: they start
    // from the rounds read since. Empty when it was read.
    const QString &erroreSorveglianza() const { return m_erroreSorveglianza; }
    const Sorveglianza &sorveglianza() const { return m_sorveglianza; }
    // The charts read again from the archive, as the opening of the bench reads them: the latest
    // limits fixed for them, and their values so far. Done by the opening and by a change of
    // archive.
    void seminaSorveglianza();

signals:
    // avviso: the unit was tested before, and how it went.
    void avviata(const QString &unita, const QString &avviso);
    void rigaLetta(int n);
    void finita(const Collaudo::Esito &esito);
    // The server took what waited, or could not be reached.
    void inviate();
    // A run's report written (errore empty) or not; its label printed or not.
    void rapporto(const QString &uuid, const QString &percorso, const QString &errore);
    void etichetta(const QString &uuid, bool riuscita, const QString &motivo, bool inRitardo);
    // The archive or its server changed.
    void archivioCambiato();

private:
    void letta(int n, const RisultatoRichiesta &risultato);
    void terminata(int errore, const QString &descrizione);
    void collegaServer(const std::optional<Destinazione::Server> &server);
    void inoltraOra();

    ModelloTabella m_modello;
    std::unique_ptr<LetturaTabella> m_lettura;
    std::unique_ptr<Archivio> m_archivio;
    std::unique_ptr<RegistrazioneProve> m_registrazione;
    std::unique_ptr<Inoltro> m_inoltro;
    std::optional<Destinazione::Server> m_server;
    std::optional<StatoInoltro> m_statoInoltro; // the last the forwarding told
    QString m_fileArchivio;
    RegistrazioneProve::Chi m_chi;
    QString m_erroreArchivio;
    int m_rigaVerifica = -1;
    QString m_unita;
    int m_lette = 0;
    int m_tentativo = 0;
    bool m_fermata = false;
    std::function<bool()> m_altreProve;
    Sorveglianza m_sorveglianza;
    QString m_erroreSorveglianza;
    QDate m_giornoDerive; // the day the counts below are of
    QHash<QString, qint64> m_derive; // DERIVA warnings by socket
    ConfigurazioneTracciabilita m_configurazione;
    std::unique_ptr<Tracciabilita> m_tracciabilita;
    QDateTime m_avvio = QDateTime::currentDateTime(); // references due "at the start"
};
Q_DECLARE_METATYPE(Collaudo::Esito)
