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
        StatoInoltro stato;
        try {
            stato.inviate = inviaTutto(stato.errore);
        } catch (const std::exception &e) {
            stato.errore = QString::fromLocal8Bit(e.what());
        }
        if (m_locale) {
            stato.inAttesa = m_locale->inAttesa();
            if (const auto scartate = m_locale->scartate()) {
                stato.messeDaParte = scartate->size();
                if (!scartate->isEmpty())
                    stato.motivoScarto = scartate->last().motivo;
            }
        } else {
            stato.inAttesa = -1;
        }
        stato.ultimoInvio = m_ultimoInvio;
        --*m_richieste;
        emit finito(stato);
    }

    // The set-aside runs are sent again with the next send.
    void riprova()
    {
        try {
            QString errore;
            if (!m_locale)
                m_locale = Archivio::apriLocale(m_file, &errore);
            if (m_locale)
                m_locale->riprendiScartate();
        } catch (const std::exception &) {
            // The next send says what is wrong with the file.
        }
    }

signals:
    void finito(const StatoInoltro &stato);

private:
    qint64 inviaTutto(QString &errore)
    {
        if (!m_locale)
            m_locale = Archivio::apriLocale(m_file, &errore);
        if (!m_locale)
            return 0;
        const auto servizi = m_locale->servizi({}, {}, true, 1);
        const auto limiti = m_locale->limitiDaInviare(1);
        const auto stampe = m_locale->stampeDaInviare(1);
        if (m_locale->inAttesa() <= 0 && (!servizi || servizi->isEmpty())
            && (!limiti || limiti->isEmpty()) && (!stampe || stampe->isEmpty()))
            return 0;
        if (!m_remoto)
            m_remoto = Archivio::apriServer(m_destinazione, &errore);
        if (!m_remoto)
            return 0;
        const qint64 inviate = inviaProve(errore);
        if (errore.isEmpty())
            inviaServizi(errore);
        return inviate;
    }

    // The sockets' service changes, the charts' fixed limits and the labels, after the runs: a
    // server that refuses them (one not yet brought up to date) keeps none of them from waiting
    // in the file.
    void inviaServizi(QString &errore)
    {
        inviaVoci<ServizioPosto>(errore,
            [this] { return m_locale->servizi({}, {}, true, Inoltro::kPerVolta); },
            [this](const QList<ServizioPosto> &s) { return m_remoto->riceviServizi(s); },
            [this](const QStringList &u) { return m_locale->segnaServiziInviati(u); });
        if (!errore.isEmpty())
            return;
        inviaVoci<LimitiCarta>(errore,
            [this] { return m_locale->limitiDaInviare(Inoltro::kPerVolta); },
            [this](const QList<LimitiCarta> &l) { return m_remoto->riceviLimiti(l); },
            [this](const QStringList &u) { return m_locale->segnaLimitiInviati(u); });
        if (!errore.isEmpty())
            return;
        inviaVoci<StampaEtichetta>(errore,
            [this] { return m_locale->stampeDaInviare(Inoltro::kPerVolta); },
            [this](const QList<StampaEtichetta> &s) { return m_remoto->riceviStampe(s); },
            [this](const QStringList &u) { return m_locale->segnaStampeInviate(u); });
    }

    template <typename Voce, typename Leggi, typename Ricevi, typename Segna>
    void inviaVoci(QString &errore, Leggi leggi, Ricevi ricevi, Segna segna)
    {
        for (;;) {
            const std::optional<QList<Voce>> voci = leggi();
            if (!voci) {
                errore = m_locale->errore();
                return;
            }
            if (voci->isEmpty())
                return;
            if (!ricevi(*voci)) {
                if (!sempreRaggiungibile(errore))
                    return;
                errore = m_remoto->errore();
                return;
            }
            QStringList uuid;
            for (const Voce &v : *voci)
                uuid << v.uuid;
            if (!segna(uuid)) {
                errore = m_locale->errore();
                return;
            }
            if (voci->size() < Inoltro::kPerVolta)
                return;
        }
    }

    qint64 inviaProve(QString &errore)
    {
        if (m_locale->inAttesa() <= 0)
            return 0;
        qint64 inviate = 0;
        for (;;) {
            const QList<ProvaCompleta> prove = m_locale->daInviare(Inoltro::kPerVolta);
            if (prove.isEmpty()) {
                errore = m_locale->errore();
                return inviate;
            }
            QStringList uuid;
            if (m_remoto->ricevi(prove)) {
                for (const ProvaCompleta &p : prove)
                    uuid << p.prova.uuid;
            } else if (!sempreRaggiungibile(errore)) {
                return inviate;
            } else {
                // The server refused the batch for something one of its runs carries: each run
                // goes alone, and one it still refuses is set aside with the server's reason.
                for (const ProvaCompleta &p : prove) {
                    if (m_remoto->ricevi({p})) {
                        uuid << p.prova.uuid;
                        continue;
                    }
                    if (!sempreRaggiungibile(errore))
                        break;
                    if (!m_locale->mettiDaParte(p.prova.uuid, m_remoto->errore())) {
                        errore = m_locale->errore();
                        return inviate;
                    }
                }
            }
            if (!uuid.isEmpty() && !m_locale->segnaInviate(uuid)) {
                errore = m_locale->errore();
                return inviate;
            }
            inviate += uuid.size();
            if (!uuid.isEmpty())
                m_ultimoInvio = QDateTime::currentDateTime();
            if (!errore.isEmpty() || prove.size() < Inoltro::kPerVolta)
                return inviate;
        }
    }

    // After a statement failed: whether the server refused it, the connection still standing.
    // Otherwise the reason runs wait is set, and the next send opens another connection.
    bool sempreRaggiungibile(QString &errore)
    {
        if (m_remoto->rifiutata() && m_remoto->raggiungibile())
            return true;
        errore = m_remoto->errore();
        m_remoto.reset();
        return false;
    }

    QDateTime m_ultimoInvio;
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
    qRegisterMetaType<StatoInoltro>();
    m_lavoro->moveToThread(m_filo);
    connect(m_filo, &QThread::finished, m_lavoro, &QObject::deleteLater);
    connect(m_lavoro, &Lavoro::finito, this, [this](const StatoInoltro &stato) {
        emit inviate(stato.inviate, stato.inAttesa, stato.errore);
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

void Inoltro::riprova()
{
    QMetaObject::invokeMethod(m_lavoro, &Lavoro::riprova, Qt::QueuedConnection);
    inviaOra();
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
