#include "peer_pty.h"

#include <QStringList>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

PeerPty::PeerPty()
{
    char nome[256] = {};
    termios crudo{};
    ::cfmakeraw(&crudo);
    // The peer keeps the terminal's side open too, so the line does not hang up whenever the
    // program closes and reopens the port.
    if (::openpty(&m_master, &m_slave, nome, &crudo, nullptr) != 0 || ::pipe(m_sveglia) != 0)
        throw std::runtime_error("openpty");
    m_percorso = QString::fromLocal8Bit(nome);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_lettore = std::thread([this] { leggi(); });
}

PeerPty::~PeerPty()
{
    riaggancia();
}

void PeerPty::riaggancia()
{
    if (m_lettore.joinable()) {
        const char fine = 0;
        [[maybe_unused]] auto scritti = ::write(m_sveglia[1], &fine, 1);
        m_lettore.join();
        if (m_scrittore.joinable())
            m_scrittore.join();
        ::close(m_sveglia[0]);
        ::close(m_sveglia[1]);
    }
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
    m_slave = m_master = -1;
}

void PeerPty::leggi()
{
    pollfd attese[2] = {{m_master, POLLIN, 0}, {m_sveglia[0], POLLIN, 0}};
    char blocco[4096];
    while (::poll(attese, 2, -1) >= 0) {
        if (attese[1].revents != 0)
            return;
        if (m_sospeso) {
            ::poll(&attese[1], 1, -1);
            return;
        }
        if (attese[0].revents & POLLIN) {
            const ssize_t letti = ::read(m_master, blocco, sizeof blocco);
            if (letti <= 0)
                continue;
            std::lock_guard blocca(m_mutex);
            m_ricevuti.append(blocco, letti);
        } else if (attese[0].revents != 0) {
            // No opener on the terminal's side for a moment: wait for the program to reopen it.
            ::poll(nullptr, 0, 1);
        }
    }
}

void PeerPty::scrivi(const QByteArray &dati)
{
    if (m_scrittore.joinable())
        m_scrittore.join();
    m_scrittore = std::thread([this, dati] {
        qsizetype inviati = 0;
        pollfd attese[2] = {{m_master, POLLOUT, 0}, {m_sveglia[0], POLLIN, 0}};
        while (inviati < dati.size() && ::poll(attese, 2, -1) >= 0 && attese[1].revents == 0) {
            const ssize_t n
                = ::write(m_master, dati.constData() + inviati, size_t(dati.size() - inviati));
            if (n > 0)
                inviati += n;
        }
    });
}

QByteArray PeerPty::ricevuti() const
{
    std::lock_guard blocca(m_mutex);
    return m_ricevuti;
}

QString comeTesto(const QList<QByteArray> &gruppi)
{
    QStringList parti;
    for (const QByteArray &gruppo : gruppi)
        parti.append(QString::fromLatin1(gruppo.toHex(' ')).toUpper());
    return parti.join(QStringLiteral(" | "));
}

void quandoRicevuti(
    QObject *contesto, const PeerPty &peer, qsizetype n, std::function<void()> azione)
{
    auto *sorveglianza = new QTimer(contesto);
    sorveglianza->setInterval(std::chrono::milliseconds(1));
    QObject::connect(sorveglianza, &QTimer::timeout, contesto, [=, &peer] {
        if (peer.ricevuti().size() < n)
            return;
        sorveglianza->stop();
        sorveglianza->deleteLater();
        azione();
    });
    sorveglianza->start();
}
