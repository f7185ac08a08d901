#pragma once

#include <QString>
#include <QTemporaryDir>

// A PostgreSQL server of the test's own: a cluster in a temporary folder, on a Unix socket in that
// folder and no TCP at all, run by the unprivileged postgres user when the test runs as root. It
// has the archive's tables and a login role "stazione" that may only add and read runs, under its
// own name and the names the tests give their stations.
class ServerPostgres
{
public:
    ~ServerPostgres();
    // False, with the reason, if the server cannot be made or started.
    bool avvia(QString *errore);
    bool ferma();
    bool riavvia(QString *errore);
    // The URL a station is given.
    QString url() const;
    // One value a query as the administrator gives, or an empty text.
    QString interroga(const QString &sql) const;
    // The folder of the server's socket, the host of a connection.
    QString cartella() const { return m_cartella.path(); }
    // A program of the server's, such as psql or pg_dump.
    QString programma(const QString &nome) const { return m_bin + u'/' + nome; }

private:
    bool esegui(const QStringList &comando, QString *errore, int limiteMs = 60000) const;

    QTemporaryDir m_cartella;
    QString m_bin;
    bool m_avviato = false;
};
