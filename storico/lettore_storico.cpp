#include "lettore_storico.h"

#include "testi_storico.h"

#include <atomic>
#include <exception>

// Lives in the reader's thread with the archive it opened there.
class Esecutore : public QObject
{
    Q_OBJECT

public:
    explicit Esecutore(const Destinazione::Scelta &dove)
        : m_dove(dove)
    { }

    void esegui(const std::function<void(Archivio *, const QString &)> &lavoro)
    {
        if (fine)
            return;
        try {
            if (!m_aperto)
                apri();
            lavoro(m_archivio.get(), m_errore);
        } catch (const std::exception &eccezione) {
            // A question that failed leaves the others answered.
            qWarning("storico: %s", eccezione.what());
        }
    }

    std::function<void(const QString &, const QString &, const QString &)> annuncia;
    std::atomic<bool> fine{false};

private:
    void apri()
    {
        m_aperto = true;
        QString avviso;
        if (m_dove.server) {
            QString motivo;
            m_archivio = Archivio::apriServer(*m_dove.server, &motivo);
            if (!m_archivio) {
                avviso = TestiStorico::avvisoServer(motivo);
            }
        }
        if (!m_archivio)
            m_archivio = Archivio::apriLocale(m_dove.file, &m_errore);
        annuncia(m_archivio ? m_archivio->descrizione() : QString(), avviso, m_errore);
    }

    Destinazione::Scelta m_dove;
    std::unique_ptr<Archivio> m_archivio;
    QString m_errore;
    bool m_aperto = false;
};

namespace {

Destinazione::Scelta sceltaCondivisa()
{
    QString errore;
    std::optional<Destinazione::Scelta> scelta = Destinazione::scegli(QString(), &errore);
    if (scelta)
        return *scelta;
    // A server named wrongly in the settings: the station's file still answers.
    return Destinazione::Scelta{Destinazione::filePredefinito(), std::nullopt};
}

} // namespace

LettoreStorico::LettoreStorico(QObject *parent)
    : LettoreStorico(sceltaCondivisa(), parent)
{ }

LettoreStorico::LettoreStorico(const Destinazione::Scelta &dove, QObject *parent)
    : QObject(parent)
    , m_dove(dove)
    , m_casella(std::make_shared<FiloDelServer::Casella>(this))
    , m_filo(new QThread)
    , m_esecutore(new Esecutore(dove))
{
    if (dove.server)
        Archivio::caricaDriverServer();
    m_esecutore->annuncia
        = [this, casella = m_casella](const QString &d, const QString &a, const QString &e) {
              casella->consegna([this, d, a, e] { emit aperto(d, a, e); });
          };
    m_esecutore->moveToThread(m_filo);
    connect(m_filo, &QThread::finished, m_esecutore, &QObject::deleteLater);
    m_filo->setObjectName(QStringLiteral("storico"));
    m_filo->start();
    esegui([](Archivio *, const QString &) {});
}

// Questions not yet asked are dropped; one the server holds is left to end by itself.
LettoreStorico::~LettoreStorico()
{
    m_casella->chiudi();
    m_esecutore->fine = true;
    FiloDelServer::congeda(m_filo);
}

void LettoreStorico::esegui(std::function<void(Archivio *, const QString &)> lavoro)
{
    QMetaObject::invokeMethod(
        m_esecutore, [e = m_esecutore, lavoro = std::move(lavoro)] { e->esegui(lavoro); },
        Qt::QueuedConnection);
}

#include "lettore_storico.moc"
