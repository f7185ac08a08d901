#include "stampante.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#ifndef Q_OS_WIN
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

const QString kComeScriverla = QStringLiteral(
    "per una stampante di rete scrivere host:porta (per esempio 192.168.1.50:9100), per un file "
    "o un dispositivo il percorso assoluto, con la sua cartella (per esempio "
    "/home/operatore/etichette.txt o /dev/usb/lp0)");

QString secondi()
{
    return QString::number(Stampante::kAttesaMs / 1000);
}

#ifndef Q_OS_WIN
QString motivoApertura(const QString &percorso, int codice)
{
    const QString nome = QDir::toNativeSeparators(percorso);
    const bool dispositivo = percorso.startsWith(QLatin1String("/dev/"));
    switch (codice) {
    case ENOENT:
        if (dispositivo) {
            return QStringLiteral("la stampante %1 non c'è: controllare che sia collegata e "
                                  "accesa, poi ristampare l'etichetta")
                .arg(nome);
        }
        return QStringLiteral("l'etichetta non si scrive in %1: la cartella non esiste. "
                              "Controllare il percorso della stampante nel banco")
            .arg(nome);
    case EACCES:
    case EPERM:
    case EROFS:
        return QStringLiteral("l'etichetta non si scrive in %1: permesso negato. Dare all'utente "
                              "il permesso di scriverci (per una stampante USB, il gruppo lp)")
            .arg(nome);
    case ENXIO:
    case ENODEV:
        return QStringLiteral("la stampante %1 non risponde (%2): controllare che sia collegata "
                              "e accesa, poi ristampare l'etichetta")
            .arg(nome, qt_error_string(codice));
    default:
        return QStringLiteral("l'etichetta non si scrive in %1: %2")
            .arg(nome, qt_error_string(codice));
    }
}

// A device or a FIFO may keep open() or write() waiting for as long as nobody reads it: this
// runs on a thread of its own, never on the one of the windows.
bool scrivi(const QString &percorso, const QByteArray &zpl, QString *motivo)
{
    // A plain file is made on the first label; a device that is not there is a printer
    // unplugged, and a file made in its place would swallow the labels.
    int modi = O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY;
    if (!percorso.startsWith(QLatin1String("/dev/")))
        modi |= O_CREAT;
    const QByteArray nome = QFile::encodeName(percorso);
    int fd = -1;
    do
        fd = ::open(nome.constData(), modi, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        *motivo = motivoApertura(percorso, errno);
        return false;
    }
    qsizetype scritti = 0;
    while (scritti < zpl.size()) {
        const ssize_t n = ::write(fd, zpl.constData() + scritti, size_t(zpl.size() - scritti));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int codice = n < 0 ? errno : EIO;
            ::close(fd);
            *motivo = QStringLiteral("la scrittura dell'etichetta su %1 si è interrotta (%2): "
                                     "controllare la stampante prima di ristamparla")
                          .arg(QDir::toNativeSeparators(percorso), qt_error_string(codice));
            // A reader gone from a FIFO raised SIGPIPE, blocked on this thread: taken off here.
            if (codice == EPIPE) {
                sigset_t tubo;
                sigemptyset(&tubo);
                sigaddset(&tubo, SIGPIPE);
                const timespec subito{0, 0};
                sigtimedwait(&tubo, nullptr, &subito);
            }
            return false;
        }
        scritti += n;
    }
    ::close(fd);
    return true;
}
#else
bool scrivi(const QString &percorso, const QByteArray &zpl, QString *motivo)
{
    QFile file(percorso);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append) || file.write(zpl) != zpl.size()
        || !file.flush()) {
        *motivo = QStringLiteral("l'etichetta non si scrive in %1: %2")
                      .arg(QDir::toNativeSeparators(percorso), file.errorString());
        return false;
    }
    return true;
}
#endif

} // namespace

std::optional<IndirizzoStampante> IndirizzoStampante::leggi(const QString &testo, QString *errore)
{
    const auto no = [errore](const QString &motivo) {
        if (errore)
            *errore = motivo;
        return std::nullopt;
    };
    const QString t = testo.trimmed();
    IndirizzoStampante indirizzo;
    indirizzo.testo = t;
    if (t.isEmpty())
        return no(QStringLiteral("manca la stampante delle etichette: %1").arg(kComeScriverla));
    // Qt takes a leading colon for its resources, which a printer cannot be.
    if (!t.startsWith(u':') && QDir::isAbsolutePath(t)) {
        indirizzo.tipo = Tipo::File;
        indirizzo.percorso = QDir::cleanPath(t);
        return indirizzo;
    }

    QString host;
    QString porta;
    if (t.startsWith(u'[')) {
        const qsizetype chiusa = t.indexOf(QLatin1String("]:"));
        if (chiusa < 0)
            return no(
                QStringLiteral("la stampante «%1» non si capisce: %2").arg(t, kComeScriverla));
        host = t.mid(1, chiusa - 1);
        porta = t.mid(chiusa + 2);
    } else {
        const qsizetype due = t.lastIndexOf(u':');
        if (due < 0 || t.contains(u'/') || t.contains(u'\\')) {
            return no(QStringLiteral("la stampante «%1» non è né host:porta né un percorso "
                                     "assoluto: %2")
                          .arg(t, kComeScriverla));
        }
        host = t.left(due);
        porta = t.mid(due + 1);
        if (host.contains(u':')) {
            return no(QStringLiteral("la stampante «%1» sembra un indirizzo IPv6: scriverlo tra "
                                     "parentesi quadre, seguito dalla porta, per esempio "
                                     "[fe80::1]:9100")
                          .arg(t));
        }
    }
    if (host.isEmpty()
        || std::any_of(host.cbegin(), host.cend(), [](QChar c) { return c.isSpace(); })) {
        return no(QStringLiteral("la stampante «%1» non ha un host valido prima della porta: %2")
                      .arg(t, kComeScriverla));
    }
    bool numero = !porta.isEmpty()
        && std::all_of(porta.cbegin(), porta.cend(), [](QChar c) { return c.isDigit(); });
    const uint valore = numero ? porta.toUInt(&numero) : 0;
    if (!numero || valore < 1 || valore > 65535) {
        return no(QStringLiteral("la porta della stampante «%1» non va: dev'essere un numero da 1 "
                                 "a 65535 (per le stampanti di etichette di solito è 9100)")
                      .arg(t));
    }
    indirizzo.host = host;
    indirizzo.porta = quint16(valore);
    return indirizzo;
}

// A label handed to the thread that writes. Whichever of the two takes it first decides: the
// thread to write it, or the printer to give it up because it waited too long.
struct Stampante::Lavoro
{
    enum : int { InAttesa, InCorso, Annullato };
    quint64 numero = 0;
    QByteArray zpl;
    std::atomic<int> stato{InAttesa};
};

// The thread that writes to a file or a device. It outlives its printer when a device keeps it
// waiting: it then ends as soon as the device lets it go, and tells nobody.
struct Stampante::Filo
{
    std::mutex mutex;
    std::condition_variable sveglia;
    std::deque<std::shared_ptr<Lavoro>> coda;
    Stampante *destinatario = nullptr; // null once the printer is gone
    QString percorso;

    void lavora()
    {
#ifndef Q_OS_WIN
        // A FIFO whose reader has gone would end the whole program with SIGPIPE.
        sigset_t tubo;
        sigemptyset(&tubo);
        sigaddset(&tubo, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &tubo, nullptr);
#endif
        for (;;) {
            std::shared_ptr<Lavoro> lavoro;
            {
                std::unique_lock<std::mutex> chiave(mutex);
                sveglia.wait(chiave, [this] { return !coda.empty() || !destinatario; });
                if (!destinatario)
                    return;
                lavoro = coda.front();
                coda.pop_front();
            }
            int atteso = Lavoro::InAttesa;
            if (!lavoro->stato.compare_exchange_strong(atteso, Lavoro::InCorso))
                continue;
            QString motivo;
            const bool riuscita = scrivi(percorso, lavoro->zpl, &motivo);
            const std::lock_guard<std::mutex> chiave(mutex);
            if (destinatario) {
                Stampante *stampante = destinatario;
                const quint64 numero = lavoro->numero;
                QMetaObject::invokeMethod(
                    stampante,
                    [stampante, numero, riuscita, motivo] {
                        stampante->finitaDalFilo(numero, riuscita, motivo);
                    },
                    Qt::QueuedConnection);
            }
        }
    }
};

Stampante::Stampante(const IndirizzoStampante &indirizzo, QObject *parent)
    : QObject(parent)
    , m_indirizzo(indirizzo)
    , m_scadenza(new QTimer(this))
{
    m_scadenza->setSingleShot(true);
    m_scadenza->setInterval(kAttesaMs);
    connect(m_scadenza, &QTimer::timeout, this, &Stampante::scaduta);
}

Stampante::~Stampante()
{
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
    if (m_filo) {
        const std::lock_guard<std::mutex> chiave(m_filo->mutex);
        m_filo->destinatario = nullptr;
        m_filo->coda.clear();
        m_filo->sveglia.notify_all();
    }
}

quint64 Stampante::stampa(const QByteArray &zpl)
{
    m_coda.enqueue({++m_ultimo, zpl});
    // Never from within the call: the caller has its number before any signal about it.
    QMetaObject::invokeMethod(this, &Stampante::prossima, Qt::QueuedConnection);
    return m_ultimo;
}

int Stampante::inAttesa() const
{
    return int(m_coda.size()) + (m_inCorso ? 1 : 0);
}

void Stampante::prossima()
{
    if (m_inCorso || m_coda.isEmpty())
        return;
    m_inCorso = m_coda.dequeue();
    m_scadenza->start();
    if (m_indirizzo.tipo == IndirizzoStampante::Tipo::Rete)
        inviaInRete();
    else
        inviaAlFile();
}

void Stampante::inviaInRete()
{
    m_connessa = false;
    m_consegnata = false;
    if (m_indirizzo.host.isEmpty()) {
        concludi(false, QStringLiteral("la stampante delle etichette non è indicata nel banco"));
        return;
    }
    m_socket = new QTcpSocket(this);
    const auto consegna = [this] {
        m_consegnata = true;
        m_socket->disconnectFromHost();
    };
    connect(m_socket, &QTcpSocket::connected, this, [this, consegna] {
        m_connessa = true;
        if (m_inCorso->zpl.isEmpty())
            consegna();
        else
            m_socket->write(m_inCorso->zpl);
    });
    connect(m_socket, &QTcpSocket::bytesWritten, this, [this, consegna] {
        if (!m_consegnata && m_socket->bytesToWrite() == 0)
            consegna();
    });
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        if (m_consegnata)
            concludi(true, QString());
        else
            erroreRete();
    });
    connect(m_socket, &QTcpSocket::errorOccurred, this, &Stampante::erroreRete);
    m_socket->connectToHost(m_indirizzo.host, m_indirizzo.porta);
}

void Stampante::erroreRete()
{
    if (!m_socket)
        return;
    const QString &nome = m_indirizzo.testo;
    const QString errore = m_socket->errorString();
    switch (m_socket->error()) {
    case QAbstractSocket::RemoteHostClosedError:
    case QAbstractSocket::UnknownSocketError:
        // Closed by the printer after taking every byte: what some printers do.
        if (m_consegnata) {
            concludi(true, QString());
            return;
        }
        concludi(false,
            QStringLiteral("la stampante %1 ha chiuso la connessione prima di ricevere tutta "
                           "l'etichetta: controllarla prima di ristampare l'etichetta")
                .arg(nome));
        return;
    case QAbstractSocket::ConnectionRefusedError:
        concludi(false,
            QStringLiteral("la stampante %1 rifiuta la connessione: %2. Controllare che sia "
                           "accesa e che la porta sia quella giusta (di solito 9100), poi "
                           "ristampare l'etichetta")
                .arg(nome, errore));
        return;
    case QAbstractSocket::HostNotFoundError:
        concludi(false,
            QStringLiteral("la stampante %1 non si trova: il nome %2 non corrisponde a nessun "
                           "indirizzo (%3). Controllare l'indirizzo nel banco o scrivere quello "
                           "IP")
                .arg(nome, m_indirizzo.host, errore));
        return;
    default:
        concludi(false,
            QStringLiteral("la stampante %1 non si raggiunge: %2. Controllare che sia accesa e in "
                           "rete, poi ristampare l'etichetta")
                .arg(nome, errore));
        return;
    }
}

void Stampante::inviaAlFile()
{
    m_lavoro = std::make_shared<Lavoro>();
    m_lavoro->numero = m_inCorso->numero;
    m_lavoro->zpl = m_inCorso->zpl;
    if (!m_filo) {
        auto filo = std::make_shared<Filo>();
        filo->destinatario = this;
        filo->percorso = m_indirizzo.percorso;
        try {
            std::thread([filo] { filo->lavora(); }).detach();
        } catch (const std::system_error &e) {
            concludi(false,
                QStringLiteral("la scrittura dell'etichetta su %1 non è partita (%2): chiudere "
                               "qualche programma e ristamparla")
                    .arg(m_indirizzo.testo, QString::fromLocal8Bit(e.what())));
            return;
        }
        m_filo = filo;
    }
    const std::lock_guard<std::mutex> chiave(m_filo->mutex);
    m_filo->coda.push_back(m_lavoro);
    m_filo->sveglia.notify_all();
}

void Stampante::scaduta()
{
    if (!m_inCorso)
        return;
    const QString &nome = m_indirizzo.testo;
    const QString forseUscita = QStringLiteral(
        "la stampante %1 non ha risposto entro %2 secondi: l'etichetta potrebbe uscire lo "
        "stesso, controllare prima di ristamparla")
                                    .arg(nome, secondi());
    if (m_indirizzo.tipo == IndirizzoStampante::Tipo::Rete) {
        // Never connected, nothing reached it: the label will not come out.
        if (!m_connessa) {
            concludi(false,
                QStringLiteral("la stampante %1 non ha risposto entro %2 secondi: controllare "
                               "che sia accesa e in rete, poi ristampare l'etichetta")
                    .arg(nome, secondi()));
        } else {
            concludi(false, forseUscita);
        }
        return;
    }
    int atteso = Lavoro::InAttesa;
    if (m_lavoro && m_lavoro->stato.compare_exchange_strong(atteso, Lavoro::Annullato)) {
        concludi(false,
            QStringLiteral("la stampante %1 è ancora ferma su un'etichetta precedente: questa "
                           "non le è stata inviata, ristamparla quando la stampante riprende")
                .arg(nome));
        return;
    }
    m_abbandonate.insert(m_inCorso->numero, true);
    concludi(false, forseUscita);
}

void Stampante::concludi(bool riuscita, const QString &motivo)
{
    if (!m_inCorso)
        return;
    m_scadenza->stop();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket->deleteLater();
        m_socket = nullptr;
    }
    m_lavoro.reset();
    const quint64 numero = m_inCorso->numero;
    m_inCorso.reset();
    QMetaObject::invokeMethod(this, &Stampante::prossima, Qt::QueuedConnection);
    emit stampata(numero, riuscita, motivo);
}

void Stampante::finitaDalFilo(quint64 numero, bool riuscita, const QString &motivo)
{
    if (m_inCorso && m_inCorso->numero == numero) {
        concludi(riuscita, motivo);
        return;
    }
    if (m_abbandonate.remove(numero) && riuscita)
        emit stampataInRitardo(numero);
}

bool Stampante::stampaSubito(const QString &stampante, const QByteArray &zpl, QString *motivo)
{
    QString errore;
    const auto indirizzo = IndirizzoStampante::leggi(stampante, &errore);
    if (!indirizzo) {
        if (motivo)
            *motivo = errore;
        return false;
    }
    Stampante invio(*indirizzo);
    QEventLoop ciclo;
    bool riuscita = false;
    connect(&invio, &Stampante::stampata, &ciclo, [&](quint64, bool fatta, const QString &perche) {
        riuscita = fatta;
        errore = perche;
        ciclo.quit();
    });
    invio.stampa(zpl);
    ciclo.exec();
    if (motivo)
        *motivo = errore;
    return riuscita;
}
