#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

#include <optional>

class QSqlDatabase;

// Where the archive goes: a SQLite file of the station's own, and optionally the line's
// PostgreSQL server, named by a URL in libpq's own form.
namespace Destinazione {

// A server as libpq's URL names it. The password never appears: libpq reads it from its own
// password or service file.
struct Server
{
    QString host; // a name, an address, or the folder of a Unix socket
    int porta = -1; // -1: libpq's default
    QString database;
    QString utente;
    QStringList opzioni; // "sslmode=require", in the form Qt's driver passes on to libpq
    QString url; // as given, to be named in messages
};

// postgresql://utente@host:5432/banco?sslmode=require, postgresql:///banco?host=/run/postgresql.
// The reason, with what to write instead, when the URL cannot be used: one with a password, more
// than one host, a parameter libpq would not take or Qt's driver could not pass on.
std::optional<Server> leggiUrl(const QString &url, QString *errore);
// A value of --archivio or BANCO_ARCHIVIO that names a server rather than a file.
bool eUnUrl(const QString &valore);

// Sets a connection of Qt's PostgreSQL driver up for the server; connect_timeout is 5 s when
// the URL does not bound it, so that a server that does not answer is given up in time.
void imposta(QSqlDatabase &database, const Server &server);

// The archive's file and server, from --archivio, then BANCO_ARCHIVIO, then the settings the
// windows keep: a URL names the server (the file stays the default one), a path another file.
struct Scelta
{
    QString file;
    std::optional<Server> server;
};
std::optional<Scelta> scegli(const QString &opzione, QString *errore);
// The station's own file, in the user's data folder.
QString filePredefinito();
// An archive's description as a window shows it: the user's folder as "~".
QString breve(const QString &descrizione);
// The key of the settings under which the windows keep the server's URL.
inline constexpr char kChiaveServer[] = "archivio/server";

} // namespace Destinazione

// How a run ended.
namespace Esiti {
inline const QString kConforme = QStringLiteral("conforme");
inline const QString kNonConforme = QStringLiteral("non conforme");
inline const QString kSenzaRisposta = QStringLiteral("senza risposta");
inline const QString kErrore = QStringLiteral("errore");
inline const QString kInterrotta = QStringLiteral("interrotta");
const QStringList &tutti();
// A round the station could not carry out, or that someone stopped: the unit is to be read
// again, and the run counts in no yield, rate or chart.
bool daRipetere(const QString &esito);
} // namespace Esiti

// Which runs a history or a statistic is about.
struct FiltroProve
{
    QString unita;
    bool prefisso = false; // unita is the start of the serial numbers
    QDate dal; // inclusive, local dates
    QDate al;
    QString esito;
    QString stazione;
    QString operatore;
    QString banco; // the bench file's name
    QString shaBanco;
    QString posto; // the fixture's socket
    // Reference units' runs prove the bench, not a product: they count in no figure.
    enum class Campioni { Esclusi, Soltanto, Inclusi } campioni = Campioni::Esclusi;

    // Reads a date as AAAA-MM-GG; the reason otherwise.
    static std::optional<QDate> leggiData(
        const QString &testo, const QString &opzione, QString *errore);
    // One of the outcomes a run can have; the reason, with the list, otherwise.
    static bool esitoValido(const QString &esito, QString *errore);
};
