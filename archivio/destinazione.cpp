#include "destinazione.h"

#include <QDir>
#include <QRegularExpression>
#include <QSettings>
#include <QSqlDatabase>
#include <QStandardPaths>
#include <QUrl>

namespace Destinazione {
namespace {

// What libpq takes in a URL's query, but for the password, which is refused.
const QStringList &parametriNoti()
{
    static const QStringList nomi{QStringLiteral("host"), QStringLiteral("hostaddr"),
        QStringLiteral("port"), QStringLiteral("dbname"), QStringLiteral("user"),
        QStringLiteral("sslmode"), QStringLiteral("sslrootcert"), QStringLiteral("sslcert"),
        QStringLiteral("sslkey"), QStringLiteral("sslcrl"), QStringLiteral("connect_timeout"),
        QStringLiteral("application_name"), QStringLiteral("service"), QStringLiteral("passfile"),
        QStringLiteral("target_session_attrs"), QStringLiteral("keepalives"),
        QStringLiteral("keepalives_idle"), QStringLiteral("gssencmode"),
        QStringLiteral("channel_binding"), QStringLiteral("requirepeer")};
    return nomi;
}

const QStringList &modiSsl()
{
    static const QStringList modi{QStringLiteral("disable"), QStringLiteral("allow"),
        QStringLiteral("prefer"), QStringLiteral("require"), QStringLiteral("verify-ca"),
        QStringLiteral("verify-full")};
    return modi;
}

QString decodifica(const QString &testo)
{
    return QUrl::fromPercentEncoding(testo.toUtf8());
}

bool rifiuta(QString *errore, const QString &motivo)
{
    if (errore)
        *errore = motivo;
    return false;
}

// Qt's driver joins the options with spaces, unquoted: a value with a space, a quote, a
// backslash or a semicolon would reach libpq as something else.
bool valorePassabile(const QString &valore)
{
    for (const QChar c : valore) {
        if (c.isSpace() || c == u';' || c == u'\'' || c == u'\\' || c == u'=')
            return false;
    }
    return !valore.isEmpty();
}

// The URL as a message may show it: a password in the user part or in the query hidden.
QString senzaPassword(const QString &url)
{
    QString mostrato = url;
    const qsizetype inizio = mostrato.indexOf(QStringLiteral("://"));
    if (inizio >= 0) {
        const qsizetype fineAutorita = [&] {
            qsizetype fine = mostrato.size();
            for (const QChar c : {u'/', u'?', u'#'}) {
                const qsizetype dove = mostrato.indexOf(c, inizio + 3);
                if (dove >= 0)
                    fine = std::min(fine, dove);
            }
            return fine;
        }();
        const qsizetype chiocciola = mostrato.lastIndexOf(u'@', fineAutorita - 1);
        if (chiocciola > inizio) {
            const qsizetype duePunti = mostrato.indexOf(u':', inizio + 3);
            if (duePunti >= 0 && duePunti < chiocciola)
                mostrato.replace(duePunti + 1, chiocciola - duePunti - 1, QStringLiteral("***"));
        }
    }
    static const QRegularExpression parola(
        QStringLiteral("([?&]password=)[^&#]*"), QRegularExpression::CaseInsensitiveOption);
    mostrato.replace(parola, QStringLiteral("\\1***"));
    return mostrato;
}

bool leggiPorta(const QString &testo, int &porta)
{
    bool ok = !testo.isEmpty() && testo.size() <= 5;
    for (const QChar c : testo)
        ok = ok && c.isDigit() && c.unicode() < 128;
    porta = ok ? testo.toInt() : -1;
    return ok && porta >= 1 && porta <= 65535;
}

} // namespace

bool eUnUrl(const QString &valore)
{
    return valore.startsWith(QStringLiteral("postgresql://"), Qt::CaseInsensitive)
        || valore.startsWith(QStringLiteral("postgres://"), Qt::CaseInsensitive);
}

std::optional<Server> leggiUrl(const QString &url, QString *errore)
{
    // Every message names the URL without its password, whatever fault it reports first.
    const QString mostrato = senzaPassword(url);
    const QString esempio = QStringLiteral(
        " Per esempio: postgresql://utente@server:5432/banco?sslmode=require, oppure "
        "postgresql:///banco?host=/run/postgresql per un socket locale.");
    if (!eUnUrl(url)) {
        rifiuta(errore,
            QStringLiteral("«%1» non è l'indirizzo di un server PostgreSQL: deve "
                           "cominciare con postgresql://.%2")
                .arg(mostrato, esempio));
        return {};
    }
    Server server;
    server.url = url;
    QString resto = url.mid(url.indexOf(QStringLiteral("://")) + 3);
    QString query;
    if (const qsizetype domanda = resto.indexOf(u'?'); domanda >= 0) {
        query = resto.mid(domanda + 1);
        resto.truncate(domanda);
    }
    QString autorita = resto;
    if (const qsizetype barra = resto.indexOf(u'/'); barra >= 0) {
        autorita = resto.left(barra);
        server.database = decodifica(resto.mid(barra + 1));
    }
    QString hostPorta = autorita;
    if (const qsizetype chiocciola = autorita.lastIndexOf(u'@'); chiocciola >= 0) {
        const QString utente = autorita.left(chiocciola);
        if (utente.contains(u':')) {
            rifiuta(errore,
                QStringLiteral("l'indirizzo del server contiene una password: il "
                               "programma non la accetta, perché resterebbe nella "
                               "riga di comando e nelle impostazioni. Toglierla "
                               "dall'indirizzo e scriverla nel file delle password "
                               "di PostgreSQL (~/.pgpass, o PGPASSFILE) o nel file "
                               "dei servizi (~/.pg_service.conf)."));
            return {};
        }
        server.utente = decodifica(utente);
        hostPorta = autorita.mid(chiocciola + 1);
    }
    QString testoPorta;
    if (hostPorta.startsWith(u'[')) {
        const qsizetype chiusa = hostPorta.indexOf(u']');
        if (chiusa < 0) {
            rifiuta(errore,
                QStringLiteral("«%1»: manca la ] dopo l'indirizzo IPv6.%2").arg(mostrato, esempio));
            return {};
        }
        server.host = hostPorta.mid(1, chiusa - 1);
        const QString dopo = hostPorta.mid(chiusa + 1);
        if (!dopo.isEmpty() && !dopo.startsWith(u':')) {
            rifiuta(errore,
                QStringLiteral("«%1»: dopo l'indirizzo IPv6 può venire solo :porta.").arg(mostrato));
            return {};
        }
        testoPorta = dopo.mid(1);
        if (dopo == u":")
            testoPorta = QStringLiteral("?");
    } else if (const qsizetype duePunti = hostPorta.lastIndexOf(u':'); duePunti >= 0) {
        server.host = decodifica(hostPorta.left(duePunti));
        testoPorta = hostPorta.mid(duePunti + 1);
        if (testoPorta.isEmpty())
            testoPorta = QStringLiteral("?");
    } else {
        server.host = decodifica(hostPorta);
    }
    if (!testoPorta.isEmpty() && !leggiPorta(testoPorta, server.porta)) {
        rifiuta(errore,
            QStringLiteral("«%1»: la porta del server deve essere un numero da 1 a "
                           "65535.")
                .arg(mostrato));
        return {};
    }

    for (const QString &coppia : query.split(u'&', Qt::SkipEmptyParts)) {
        const qsizetype uguale = coppia.indexOf(u'=');
        const QString nome = decodifica(uguale < 0 ? coppia : coppia.left(uguale));
        const QString valore = uguale < 0 ? QString() : decodifica(coppia.mid(uguale + 1));
        if (nome == u"password") {
            rifiuta(errore,
                QStringLiteral("l'indirizzo del server contiene una password "
                               "(password=): il programma non la accetta. "
                               "Scriverla nel file delle password di PostgreSQL "
                               "(~/.pgpass, o PGPASSFILE) o nel file dei servizi "
                               "(~/.pg_service.conf)."));
            return {};
        }
        if (!parametriNoti().contains(nome)) {
            rifiuta(errore,
                QStringLiteral("«%1»: il parametro «%2» non è fra quelli che il "
                               "programma passa a PostgreSQL (%3).")
                    .arg(mostrato, nome, parametriNoti().join(QStringLiteral(", "))));
            return {};
        }
        if (valore.isEmpty()) {
            rifiuta(
                errore, QStringLiteral("«%1»: il parametro «%2» non ha un valore.").arg(mostrato, nome));
            return {};
        }
        if (nome == u"host") {
            server.host = valore;
        } else if (nome == u"port") {
            if (!leggiPorta(valore, server.porta)) {
                rifiuta(errore,
                    QStringLiteral("«%1»: port=%2 non è una porta da 1 a 65535.").arg(mostrato, valore));
                return {};
            }
        } else if (nome == u"dbname") {
            server.database = valore;
        } else if (nome == u"user") {
            server.utente = valore;
        } else {
            if (nome == u"sslmode" && !modiSsl().contains(valore)) {
                rifiuta(errore,
                    QStringLiteral("«%1»: sslmode=%2 non è un modo di PostgreSQL; "
                                   "scegliere fra %3.")
                        .arg(mostrato, valore, modiSsl().join(QStringLiteral(", "))));
                return {};
            }
            if (!valorePassabile(valore)) {
                rifiuta(errore,
                    QStringLiteral("«%1»: il valore di «%2» contiene spazi, "
                                   "virgolette, barre inverse, = o punti e virgola, "
                                   "che il driver di Qt non sa passare a PostgreSQL.")
                        .arg(mostrato, nome));
                return {};
            }
            server.opzioni.append(nome + u'=' + valore);
        }
    }
    if (server.host.contains(u',')) {
        rifiuta(errore,
            QStringLiteral("«%1»: il programma si collega a un server solo; "
                           "indicarne uno.")
                .arg(mostrato));
        return {};
    }
    if (server.database.contains(u'/')) {
        rifiuta(errore, QStringLiteral("«%1»: il nome del database non può contenere /.").arg(mostrato));
        return {};
    }
    return server;
}

void imposta(QSqlDatabase &database, const Server &server)
{
    database.setHostName(server.host);
    database.setPort(server.porta);
    database.setDatabaseName(server.database);
    database.setUserName(server.utente);
    // A server that does not answer is given up: connect_timeout bounds the opening (libpq
    // waits for ever with 0, and takes less than 2 s as 2), keepalives a connection whose
    // other end went away without a word.
    QStringList opzioni;
    bool conAttesa = false;
    bool conKeepalive = false;
    for (const QString &o : server.opzioni) {
        if (o.startsWith(QStringLiteral("connect_timeout="))) {
            conAttesa = true;
            opzioni.append(QStringLiteral("connect_timeout=%1")
                               .arg(std::max(2, o.mid(o.indexOf(u'=') + 1).toInt())));
            continue;
        }
        conKeepalive = conKeepalive || o.startsWith(QStringLiteral("keepalives"));
        opzioni.append(o);
    }
    if (!conAttesa)
        opzioni.append(QStringLiteral("connect_timeout=5"));
    if (!conKeepalive) {
        opzioni << QStringLiteral("keepalives=1") << QStringLiteral("keepalives_idle=10")
                << QStringLiteral("keepalives_interval=5") << QStringLiteral("keepalives_count=3");
    }
    database.setConnectOptions(opzioni.join(u';'));
}

QString filePredefinito()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/banco-seriale/archivio.sqlite");
}

QString breve(const QString &descrizione)
{
    const QString casa = QDir::toNativeSeparators(QDir::homePath());
    if (casa.size() > 1 && descrizione.startsWith(casa + QDir::separator()))
        return u'~' + descrizione.mid(casa.size());
    return descrizione;
}

std::optional<Scelta> scegli(const QString &opzione, QString *errore)
{
    QString valore = opzione;
    if (valore.isEmpty())
        valore = qEnvironmentVariable("BANCO_ARCHIVIO");
    if (valore.isEmpty()) {
        const QSettings impostazioni(
            QStringLiteral("banco-seriale"), QStringLiteral("banco-seriale"));
        valore = impostazioni.value(QLatin1String(kChiaveServer)).toString();
    }
    Scelta scelta;
    scelta.file = filePredefinito();
    if (valore.isEmpty())
        return scelta;
    if (eUnUrl(valore)) {
        scelta.server = leggiUrl(valore, errore);
        if (!scelta.server)
            return {};
        return scelta;
    }
    if (valore.contains(QStringLiteral("://"))) {
        rifiuta(errore,
            QStringLiteral("«%1»: l'archivio è un file SQLite (un percorso) o un "
                           "server PostgreSQL (postgresql://…).")
                .arg(senzaPassword(valore)));
        return {};
    }
    scelta.file = QDir::fromNativeSeparators(valore);
    return scelta;
}

} // namespace Destinazione

std::optional<QDate> FiltroProve::leggiData(
    const QString &testo, const QString &opzione, QString *errore)
{
    const QDate data = QDate::fromString(testo, QStringLiteral("yyyy-MM-dd"));
    if (!data.isValid() || testo.size() != 10) {
        if (errore) {
            *errore = QStringLiteral("%1: «%2» non è una data; scriverla come AAAA-MM-GG, per "
                                     "esempio 2026-12-08.")
                          .arg(opzione, testo);
        }
        return {};
    }
    return data;
}

const QStringList &Esiti::tutti()
{
    static const QStringList esiti{kConforme, kNonConforme, kSenzaRisposta, kErrore, kInterrotta};
    return esiti;
}

bool Esiti::daRipetere(const QString &esito)
{
    return esito == kErrore || esito == kInterrotta;
}

bool FiltroProve::esitoValido(const QString &esito, QString *errore)
{
    if (Esiti::tutti().contains(esito))
        return true;
    if (errore) {
        *errore = QStringLiteral("--esito: «%1» non è un esito; scegliere fra %2.")
                      .arg(esito, Esiti::tutti().join(QStringLiteral(", ")));
    }
    return false;
}
