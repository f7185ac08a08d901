#pragma once

#include <QString>
#include <QTemporaryDir>

// A PostgreSQL server of the test's own: a cluster in a temporary folder, on a Unix socket in that
// folder and no TCP at all, run by the unprivileged postgres user when the test runs as root. It
// has the archive's tables and a login role "stazione" that may only add and read runs.
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

private:
    bool esegui(const QStringList &comando, QString *errore, int limiteMs = 60000) const;

    QTemporaryDir m_cartella;
    QString m_bin;
    bool m_avviato = false;
};
