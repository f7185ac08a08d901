#include "server_postgres.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSysInfo>

#include <unistd.h>

namespace {

// Debian's server programs, of the one version installed.
QString cartellaProgrammi()
{
    const QStringList versioni
        = QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &v : versioni) {
        const QString bin = QStringLiteral("/usr/lib/postgresql/%1/bin").arg(v);
        if (QFile::exists(bin + QStringLiteral("/pg_ctl")))
            return bin;
    }
    return {};
}

} // namespace

ServerPostgres::~ServerPostgres()
{
    ferma();
}

bool ServerPostgres::esegui(const QStringList &comando, QString *errore, int limiteMs) const
{
    QStringList argomenti = comando;
    QString programma = argomenti.takeFirst();
    // initdb and the server refuse to run as root.
    if (::geteuid() == 0) {
        argomenti = QStringList{QStringLiteral("-u"), QStringLiteral("postgres"),
                        QStringLiteral("--"), programma}
            + argomenti;
        programma = QStringLiteral("runuser");
    }
    QProcess p;
    p.setWorkingDirectory(m_cartella.path());
    p.start(programma, argomenti);
    if (!p.waitForFinished(limiteMs) || p.exitStatus() != QProcess::NormalExit
        || p.exitCode() != 0) {
        if (errore) {
            *errore = QStringLiteral("%1 %2: %3 %4")
                          .arg(programma, argomenti.join(u' '),
                              QString::fromLocal8Bit(p.readAllStandardError()), p.errorString());
        }
        return false;
    }
    return true;
}

bool ServerPostgres::avvia(QString *errore)
{
    m_bin = cartellaProgrammi();
    if (m_bin.isEmpty()) {
        *errore = QStringLiteral("PostgreSQL non è installato (pacchetto postgresql)");
        return false;
    }
    if (!m_cartella.isValid())
        return false;
    QFile::setPermissions(m_cartella.path(),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
            | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther
            | QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup);
    const QString dati = m_cartella.filePath(QStringLiteral("dati"));
    if (!esegui({m_bin + QStringLiteral("/initdb"), QStringLiteral("-D"), dati,
                    QStringLiteral("-A"), QStringLiteral("trust"), QStringLiteral("-U"),
                    QStringLiteral("postgres"), QStringLiteral("--no-sync")},
            errore))
        return false;
    if (!riavvia(errore))
        return false;
    const QString socket = m_cartella.path();
    if (!esegui({m_bin + QStringLiteral("/createdb"), QStringLiteral("-h"), socket,
                    QStringLiteral("-U"), QStringLiteral("postgres"), QStringLiteral("banco")},
            errore))
        return false;
    if (!esegui(
            {m_bin + QStringLiteral("/psql"), QStringLiteral("-q"), QStringLiteral("-h"), socket,
                QStringLiteral("-U"), QStringLiteral("postgres"), QStringLiteral("-d"),
                QStringLiteral("banco"), QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"),
                QStringLiteral("-f"), QStringLiteral(BANCO_SCHEMA_POSTGRESQL)},
            errore))
        return false;
    // The stations of the tests and benchmarks: S0 to S3, stazione-0, stazione-1 and the
    // machine's name, the one a station has without --stazione.
    QString macchina = QSysInfo::machineHostName();
    macchina.replace(u'\'', QStringLiteral("''"));
    return esegui({m_bin + QStringLiteral("/psql"), QStringLiteral("-q"), QStringLiteral("-h"),
                      socket, QStringLiteral("-U"), QStringLiteral("postgres"),
                      QStringLiteral("-d"), QStringLiteral("banco"), QStringLiteral("-v"),
                      QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-c"),
                      QStringLiteral("CREATE ROLE stazione LOGIN IN ROLE banco_stazione"),
                      QStringLiteral("-c"),
                      QStringLiteral("INSERT INTO stazioni_consentite VALUES ('stazione', 'S0'), "
                                     "('stazione', 'S1'), ('stazione', 'S2'), ('stazione', 'S3'), "
                                     "('stazione', 'stazione-0'), ('stazione', 'stazione-1'), "
                                     "('stazione', '%1')")
                          .arg(macchina)},
        errore);
}

bool ServerPostgres::riavvia(QString *errore)
{
    // No TCP: the socket in the test's folder only.
    m_avviato = esegui(
        {m_bin + QStringLiteral("/pg_ctl"), QStringLiteral("-D"),
            m_cartella.filePath(QStringLiteral("dati")), QStringLiteral("-l"),
            m_cartella.filePath(QStringLiteral("server.log")), QStringLiteral("-w"),
            QStringLiteral("-o"),
            QStringLiteral("-k %1 -c listen_addresses='' -c fsync=off").arg(m_cartella.path()),
            QStringLiteral("start")},
        errore);
    return m_avviato;
}

bool ServerPostgres::ferma()
{
    if (!m_avviato)
        return true;
    m_avviato = !esegui({m_bin + QStringLiteral("/pg_ctl"), QStringLiteral("-D"),
                            m_cartella.filePath(QStringLiteral("dati")), QStringLiteral("-m"),
                            QStringLiteral("fast"), QStringLiteral("-w"), QStringLiteral("stop")},
        nullptr);
    return !m_avviato;
}

QString ServerPostgres::url() const
{
    return QStringLiteral("postgresql://stazione@/banco?host=%1").arg(m_cartella.path());
}

QString ServerPostgres::interroga(const QString &sql) const
{
    QProcess p;
    p.start(m_bin + QStringLiteral("/psql"),
        {QStringLiteral("-At"), QStringLiteral("-h"), m_cartella.path(), QStringLiteral("-U"),
            QStringLiteral("postgres"), QStringLiteral("-d"), QStringLiteral("banco"),
            QStringLiteral("-c"), sql});
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}
