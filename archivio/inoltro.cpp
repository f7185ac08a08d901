#include "inoltro.h"

#include "archivio.h"
#include "filo_del_server.h"

#include <QEventLoop>
#include <QSqlDatabase>
#include <QTimer>

#include <memory>

// Lives in the sending thread: both connections are opened there and used only there.
class Lavoro : public QObject
{
    Q_OBJECT

public:
    Lavoro(const QString &file, const Destinazione::Server &server,
        std::shared_ptr<std::atomic<int>> richieste)
        : m_file(file)
        , m_destinazione(server)
        , m_richieste(std::move(richieste))
    { }

    void invia()
    {
        qint64 inviate = 0;
        QString errore;
        try {
            inviate = inviaTutto(errore);
        } catch (const std::exception &e) {
            errore = QString::fromLocal8Bit(e.what());
        }
        const qint64 attesa = m_locale ? m_locale->inAttesa() : -1;
        --*m_richieste;
        emit finito(inviate, attesa, errore);
    }

signals:
    void finito(qint64 inviate, qint64 inAttesa, const QString &errore);

private:
    qint64 inviaTutto(QString &errore)
    {
        if (!m_locale)
            m_locale = Archivio::apriLocale(m_file, &errore);
        if (!m_locale)
            return 0;
        if (m_locale->inAttesa() <= 0)
            return 0;
        if (!m_remoto)
            m_remoto = Archivio::apriServer(m_destinazione, &errore);
        if (!m_remoto)
            return 0;
        qint64 inviate = 0;
        for (;;) {
            const QList<ProvaCompleta> prove = m_locale->daInviare(Inoltro::kPerVolta);
            if (prove.isEmpty()) {
                errore = m_locale->errore();
                return inviate;
            }
            if (!m_remoto->ricevi(prove)) {
                errore = m_remoto->errore();
                // The connection may be gone with the server: the next send opens another.
                m_remoto.reset();
                return inviate;
            }
            QStringList uuid;
            for (const ProvaCompleta &p : prove)
                uuid << p.prova.uuid;
            if (!m_locale->segnaInviate(uuid)) {
                errore = m_locale->errore();
                return inviate;
            }
            inviate += prove.size();
            if (prove.size() < Inoltro::kPerVolta)
                return inviate;
        }
    }

    QString m_file;
    Destinazione::Server m_destinazione;
    std::shared_ptr<std::atomic<int>> m_richieste;
    std::unique_ptr<Archivio> m_locale;
    std::unique_ptr<Archivio> m_remoto; // closed first: declared last
};

Inoltro::Inoltro(const QString &file, const Destinazione::Server &server, QObject *parent)
    : QObject(parent)
    , m_filo(new QThread)
    , m_lavoro(new Lavoro(file, server, m_richieste))
{
    Archivio::caricaDriverServer();
    m_lavoro->moveToThread(m_filo);
    connect(m_filo, &QThread::finished, m_lavoro, &QObject::deleteLater);
    connect(m_lavoro, &Lavoro::finito, this,
        [this](qint64 inviate, qint64 inAttesa, const QString &errore) {
            StatoInoltro stato;
            stato.inviate = inviate;
            stato.inAttesa = inAttesa;
            stato.errore = errore;
            emit this->inviate(inviate, inAttesa, errore);
            emit statoCambiato(stato);
        });
    m_filo->setObjectName(QStringLiteral("inoltro"));
    m_filo->start();
    connect(&m_orologio, &QTimer::timeout, this, &Inoltro::inviaOra);
}

// A send in progress is left to end by itself if the server holds it: the runs it did not send
// wait in the file.
Inoltro::~Inoltro()
{
    m_orologio.stop();
    FiloDelServer::congeda(m_filo, std::chrono::seconds(1));
}

void Inoltro::avvia()
{
    m_orologio.start(kOgni);
    inviaOra();
}

void Inoltro::inviaOra()
{
    ++*m_richieste;
    QMetaObject::invokeMethod(m_lavoro, &Lavoro::invia, Qt::QueuedConnection);
}

bool Inoltro::attendi(int ms)
{
    if (m_richieste->load() == 0)
        return true;
    QEventLoop ciclo;
    QTimer scadenza;
    scadenza.setSingleShot(true);
    connect(&scadenza, &QTimer::timeout, &ciclo, &QEventLoop::quit);
    connect(this, &Inoltro::inviate, &ciclo, [&] {
        if (m_richieste->load() == 0)
            ciclo.quit();
    });
    scadenza.start(ms);
    ciclo.exec();
    return m_richieste->load() == 0;
}

#include "inoltro.moc"
