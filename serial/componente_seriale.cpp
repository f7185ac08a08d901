#include "componente_seriale.h"

#include "linee.h"

#include "porte.h"
#include "registro_traffico.h"

#include <QFileInfo>
#include <QMetaObject>

#include <algorithm>
#include <thread>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif

using namespace std::chrono;

namespace {

// Receive events handed to the window in one pass of the event loop; the rest follow in the next
// pass, so a flood of bytes never keeps the window from answering the operator.
constexpr qsizetype kEventiPerPassata = 4096;

// What a drain may take beyond twice the time the queued bytes need on the line.
constexpr milliseconds kMargineDrenaggio{200};

constexpr int kBitPerByte = 11; // start, 8 data, parity, stop

int millisecondiRestanti(steady_clock::time_point limite)
{
    const auto restanti = duration_cast<milliseconds>(limite - steady_clock::now()).count();
    return int(std::clamp<long long>(restanti, 0, 60'000));
}

} // namespace

ComponenteSeriale::ComponenteSeriale(QObject *parent)
    : QObject(parent)
{
    connect(&m_porta, &QSerialPort::readyRead, this, &ComponenteSeriale::raccogliRicevuti);
    connect(&m_porta, &QSerialPort::errorOccurred, this, &ComponenteSeriale::segnalaErrorePorta);
    connect(&Linee::istanza(), &Linee::prestata, this, &ComponenteSeriale::lineaPrestata);
}

// Bytes of another user's exchange must not land in this port's received text: the port lets
// the line go, once what it wrote has left.
void ComponenteSeriale::lineaPrestata(const QString &dispositivo, const QString &chi)
{
    if (chi == m_utente || !m_porta.isOpen() || Linee::risolvi(m_dispositivo) != dispositivo)
        return;
    try {
        chiudi();
    } catch (const Errore &) {
        // Closed all the same; the next request reports the line.
    }
}

ComponenteSeriale::~ComponenteSeriale()
{
    if (m_porta.isOpen() && !m_guasto) {
        try {
            drena();
        } catch (const Errore &) {
            // The window is going away: there is nobody left to tell.
        }
    }
    m_porta.close();
}

bool ComponenteSeriale::PortOpen() const
{
    return m_porta.isOpen() && !m_guasto;
}

std::optional<QSerialPort::PinoutSignals> ComponenteSeriale::segnaliModem()
{
    if (!PortOpen())
        return std::nullopt;
    const QSerialPort::PinoutSignals segnali = m_porta.pinoutSignals();
    if (m_porta.error() != QSerialPort::NoError) {
        m_porta.clearError();
        return std::nullopt;
    }
    return segnali;
}

void ComponenteSeriale::setPortOpen(bool aperta)
{
    if (aperta) {
        if (!PortOpen())
            apri();
    } else {
        chiudi();
    }
}

void ComponenteSeriale::setSettings(const QString &testo)
{
    const ImpostazioniLinea nuove = ImpostazioniLinea::daTesto(testo);
    if (PortOpen()) {
        drena();
        m_impostazioni = nuove;
        configura();
        if (m_registro)
            m_registro->impostazioniCambiate(m_impostazioni.baud, m_impostazioni.letteraParita());
    } else {
        m_impostazioni = nuove;
    }
}

void ComponenteSeriale::setOutput(const QByteArray &dati)
{
    if (m_guasto)
        throw *m_guasto;
    if (!m_porta.isOpen()) {
        throw Errore(CodiceErrore::PortaChiusa,
            suQuestaPorta(QStringLiteral("la porta non è aperta: impossibile inviare dati.")));
    }
    if (m_porta.write(dati) != dati.size()) {
        throw Errore(CodiceErrore::ScritturaNonRiuscita,
            QStringLiteral("Scrittura su %1 non riuscita: %2.")
                .arg(m_dispositivo, m_porta.errorString()));
    }
    // Hand the bytes to the system now, so that they leave when the request writes them and not
    // whenever the event loop next runs.
    m_porta.flush();
#ifdef Q_OS_WIN
    // Windows takes one write at a time: bytes written while the write before them is still
    // under way stay in Qt's buffer until the event loop sees that write end, and would leave
    // late, into the pause. So each write is seen to its end here.
    consegnaAlSistema(limiteDiUscita(m_porta.bytesToWrite()));
#endif
    if (m_guasto)
        throw *m_guasto;
    if (m_registro) {
        for (const char byte : dati)
            m_registro->trasmesso(quint8(byte));
    }
}

QByteArray ComponenteSeriale::Input()
{
    if (m_inizioRicevuti >= m_ricevuti.size())
        return {};
    QByteArray carattere(1, m_ricevuti.at(m_inizioRicevuti++));
    if (m_inizioRicevuti == m_ricevuti.size()) {
        m_ricevuti.clear();
        m_inizioRicevuti = 0;
    } else if (m_inizioRicevuti > 4096 && m_inizioRicevuti * 2 > m_ricevuti.size()) {
        m_ricevuti.remove(0, m_inizioRicevuti);
        m_inizioRicevuti = 0;
    }
    return carattere;
}

QString ComponenteSeriale::suQuestaPorta(const QString &frase, bool conElenco) const
{
    switch (Porte::origine(m_commPort)) {
    case Porte::Origine::Percorso:
        return frase.left(1).toUpper() + frase.mid(1);
    case Porte::Origine::Variabile:
        return QStringLiteral("Porta %1 (BANCO_PORTA%1): %2").arg(m_commPort).arg(frase);
    case Porte::Origine::Sistema:
        break;
    }
    const QString testo = QStringLiteral("Porta %1: %2").arg(m_commPort).arg(frase);
    return conElenco ? testo + u' ' + Porte::elenco() : testo;
}

void ComponenteSeriale::apri()
{
    if (m_porta.isOpen())
        chiudiERegistra(); // a port that failed and is waiting for its close
    m_guasto.reset();
    m_marcatori.azzera();

    m_dispositivo = Porte::dispositivo(m_commPort);
    const QString occupante = Linee::istanza().occupante(Linee::risolvi(m_dispositivo));
    if (!occupante.isEmpty() && occupante != m_utente) {
        throw Errore(CodiceErrore::PortaOccupata,
            suQuestaPorta(QStringLiteral("la linea di %1 è in uso da %2: attenderne la fine, o "
                                         "fermarla, e riprovare.")
                              .arg(m_dispositivo, occupante)));
    }
    m_porta.setPortName(m_dispositivo);
    if (!m_porta.open(QIODevice::ReadWrite))
        erroreApertura();
    configura();
    if (m_registro) {
        m_registro->portaAperta(
            m_commPort, m_dispositivo, m_impostazioni.baud, m_impostazioni.letteraParita());
    }
}

void ComponenteSeriale::erroreApertura()
{
    const QSerialPort::SerialPortError errore = m_porta.error();
    const QString motivo = m_porta.errorString();
    m_porta.clearError();

#ifdef Q_OS_WIN
    // A COM port is a name in the system's namespace, not a file.
    const bool inesistente = errore == QSerialPort::DeviceNotFoundError;
#else
    const bool inesistente
        = errore == QSerialPort::DeviceNotFoundError || !QFileInfo::exists(m_dispositivo);
#endif
    if (inesistente) {
        throw Errore(CodiceErrore::DispositivoInesistente,
            suQuestaPorta(QStringLiteral("il dispositivo %1 non esiste. Controllare che "
                                         "l'adattatore sia collegato.")
                              .arg(m_dispositivo),
                true));
    }
    if (errore == QSerialPort::PermissionError) {
#ifndef Q_OS_WIN
        if (::access(QFile::encodeName(m_dispositivo).constData(), R_OK | W_OK) != 0
            && errno == EACCES) {
            throw Errore(CodiceErrore::PermessoNegato,
                suQuestaPorta(QStringLiteral("permesso negato sul dispositivo %1. Aggiungere "
                                             "l'utente al gruppo dialout (sudo usermod -aG "
                                             "dialout $USER), poi uscire e rientrare nella "
                                             "sessione.")
                                  .arg(m_dispositivo)));
        }
#endif
        throw Errore(CodiceErrore::PortaOccupata,
            suQuestaPorta(QStringLiteral("il dispositivo %1 è occupato da un altro programma. "
                                         "Chiudere l'altro programma e riprovare.")
                              .arg(m_dispositivo)));
    }
    // The system's own text usually ends with a full stop already.
    QString perche = motivo.trimmed();
    while (perche.endsWith(QLatin1Char('.')))
        perche.chop(1);
    throw Errore(CodiceErrore::AperturaNonRiuscita,
        suQuestaPorta(QStringLiteral("impossibile aprire %1 (%2). Controllare che l'adattatore "
                                     "sia collegato e che la porta scelta sia la sua.")
                          .arg(m_dispositivo, perche)));
}

void ComponenteSeriale::configura()
{
    bool accettate = m_porta.setBaudRate(m_impostazioni.baud)
        && m_porta.setDataBits(QSerialPort::Data8) && m_porta.setStopBits(QSerialPort::OneStop)
        && m_porta.setFlowControl(QSerialPort::NoFlowControl);
#ifdef Q_OS_WIN
    accettate = accettate && m_porta.setParity(m_impostazioni.parita);
#endif
    QString motivo = m_porta.errorString();

#ifndef Q_OS_WIN
    // Parity goes to the system in one call of our own, together with the input flags: Qt checks
    // the parity it reads back, and a pseudo-terminal, for one, forgets the parity bit. Parity and
    // framing errors are marked in the input so that the byte can be replaced (MarcatoriParita).
    if (accettate) {
        const int fd = int(m_porta.handle());
        termios tio{};
        accettate = ::tcgetattr(fd, &tio) == 0;
        if (accettate) {
            tio.c_cflag &= ~tcflag_t(PARENB | PARODD | CSIZE | CSTOPB);
            tio.c_cflag |= CS8 | CREAD | CLOCAL;
            if (m_impostazioni.parita != QSerialPort::NoParity)
                tio.c_cflag |= PARENB;
            if (m_impostazioni.parita == QSerialPort::OddParity)
                tio.c_cflag |= PARODD;
            tio.c_iflag
                &= ~tcflag_t(IGNPAR | ISTRIP | IGNBRK | BRKINT | INPCK | IXON | IXOFF | IXANY);
            tio.c_iflag |= PARMRK;
            if (m_impostazioni.parita != QSerialPort::NoParity)
                tio.c_iflag |= INPCK;
            accettate = ::tcsetattr(fd, TCSANOW, &tio) == 0;
        }
        if (!accettate)
            motivo = QString::fromLocal8Bit(strerror(errno));
    }
#endif

    if (!accettate) {
        m_porta.close();
        m_porta.clearError();
        throw Errore(CodiceErrore::ImpostazioniRifiutate,
            suQuestaPorta(QStringLiteral("il dispositivo %1 non accetta le impostazioni %2: %3. "
                                         "Scegliere un'altra velocità.")
                              .arg(m_dispositivo, m_impostazioni.testo(), motivo)));
    }
}

void ComponenteSeriale::chiudi()
{
    if (!m_porta.isOpen())
        return;
    if (m_guasto) {
        chiudiERegistra();
        return;
    }
    try {
        drena();
    } catch (const Errore &) {
        chiudiERegistra();
        throw;
    }
    raccogliPrimaDellaChiusura();
    chiudiERegistra();
}

void ComponenteSeriale::chiudiERegistra()
{
    m_porta.close();
    if (m_registro)
        m_registro->portaChiusa();
}

milliseconds ComponenteSeriale::tempoDiTrasmissione(qint64 byte) const
{
    const qint64 bit = byte * kBitPerByte * 1000;
    return milliseconds((bit + m_impostazioni.baud - 1) / m_impostazioni.baud);
}

// Waits until every byte handed to Output has left the port: first out of Qt's buffer into the
// system, then out of the system's queue onto the line. Closing or reconfiguring the port before
// that would throw bytes away or send them with the new settings.
void ComponenteSeriale::drena()
{
    const auto inizio = steady_clock::now();
    attendiUscita();
    if (m_registro)
        m_registro->drenaggio(duration_cast<microseconds>(steady_clock::now() - inizio));
}

void ComponenteSeriale::attendiUscita()
{
    qint64 inCoda = m_porta.bytesToWrite();
#ifndef Q_OS_WIN
    const int fd = int(m_porta.handle());
    int nelSistema = 0;
    if (::ioctl(fd, TIOCOUTQ, &nelSistema) == 0)
        inCoda += nelSistema;
#endif
    const auto limite = limiteDiUscita(inCoda);
    if (!consegnaAlSistema(limite)) {
        chiudiERegistra();
        throw *m_guasto;
    }
    attendiCodaDelSistema(limite);
}

// The latest time by which that many bytes should have left: twice their time on the wire, and
// a margin for the system.
steady_clock::time_point ComponenteSeriale::limiteDiUscita(qint64 byte) const
{
    return steady_clock::now() + 2 * tempoDiTrasmissione(byte) + kMargineDrenaggio;
}

// Hands what Qt still holds to the system, waiting for room until the limit. False when the
// port fails meanwhile: the caller reports it.
bool ComponenteSeriale::consegnaAlSistema(steady_clock::time_point limite)
{
    while (m_porta.bytesToWrite() > 0) {
        m_porta.flush();
        if (m_guasto)
            return false;
        if (m_porta.bytesToWrite() == 0 || steady_clock::now() >= limite)
            break;
#ifdef Q_OS_WIN
        m_porta.waitForBytesWritten(millisecondiRestanti(limite));
#else
        pollfd attesa{int(m_porta.handle()), POLLOUT, 0};
        ::poll(&attesa, 1, millisecondiRestanti(limite));
#endif
    }
    return true;
}

void ComponenteSeriale::attendiCodaDelSistema([[maybe_unused]] steady_clock::time_point limite)
{
    qint64 rimasti = m_porta.bytesToWrite();
#ifdef Q_OS_WIN
    if (rimasti == 0)
        ::FlushFileBuffers(reinterpret_cast<HANDLE>(m_porta.handle()));
#else
    const int fd = int(m_porta.handle());
    int nelSistema = 0;
    while (rimasti == 0 && ::ioctl(fd, TIOCOUTQ, &nelSistema) == 0 && nelSistema > 0) {
        if (steady_clock::now() >= limite) {
            rimasti = nelSistema;
            break;
        }
        const auto sonno
            = std::min(tempoDiTrasmissione(nelSistema), milliseconds(millisecondiRestanti(limite)));
        std::this_thread::sleep_for(std::max(sonno, milliseconds(1)));
    }
    // Only the last bytes in the UART's own shift register can remain here.
    if (rimasti == 0)
        ::tcdrain(fd);
#endif
    if (rimasti > 0) {
        throw Errore(CodiceErrore::TrasmissioneBloccata,
            suQuestaPorta(
                QStringLiteral("il dispositivo %1 non ha trasmesso %2 byte nel tempo previsto: la "
                               "linea è bloccata. Controllare il cavo e il controllo "
                               "di flusso dello strumento.")
                    .arg(m_dispositivo)
                    .arg(rimasti)));
    }
}

void ComponenteSeriale::raccogliRicevuti()
{
    accogli(m_porta.readAll());
}

// Before a close: what the system holds and Qt has not read yet would be thrown away with it.
void ComponenteSeriale::raccogliPrimaDellaChiusura()
{
    QByteArray grezzi = m_porta.readAll();
#ifndef Q_OS_WIN
    char blocco[4096];
    ssize_t letti = 0;
    while ((letti = ::read(int(m_porta.handle()), blocco, sizeof blocco)) > 0)
        grezzi.append(blocco, letti);
#endif
    accogli(grezzi);
}

void ComponenteSeriale::accogli(const QByteArray &grezzi)
{
    if (grezzi.isEmpty())
        return;
    if (!m_registro) {
        m_daConsegnare += m_marcatori.decodifica(grezzi, m_ricevuti);
    } else {
        m_dallaLinea.clear();
        m_daConsegnare += m_marcatori.decodifica(grezzi, m_ricevuti, &m_dallaLinea);
        for (const MarcatoriParita::ByteDellaLinea &byte : m_dallaLinea)
            m_registro->ricevuto(byte.valore, byte.errore);
    }
    pianificaConsegna();
}

void ComponenteSeriale::pianificaConsegna()
{
    if (m_consegnaPianificata || m_daConsegnare == 0)
        return;
    m_consegnaPianificata = true;
    QMetaObject::invokeMethod(this, &ComponenteSeriale::consegna, Qt::QueuedConnection);
}

void ComponenteSeriale::consegna()
{
    m_consegnaPianificata = false;
    const qsizetype eventi = std::min(m_daConsegnare, kEventiPerPassata);
    m_daConsegnare -= eventi;
    for (qsizetype i = 0; i < eventi; ++i) {
        m_evento = kEventoRicezione;
        emit OnComm();
    }
    pianificaConsegna();
}

bool ComponenteSeriale::lineaCaduta() const
{
#ifdef Q_OS_WIN
    return true;
#else
    pollfd stato{int(m_porta.handle()), POLLIN, 0};
    return ::poll(&stato, 1, 0) > 0 && (stato.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#endif
}

Errore ComponenteSeriale::errorePortaPersa() const
{
    return Errore(CodiceErrore::PortaPersa,
        suQuestaPorta(
            QStringLiteral("il dispositivo %1 ha smesso di rispondere: l'adattatore è stato "
                           "scollegato o il dispositivo è stato chiuso. Ricollegarlo e "
                           "inviare di nuovo il comando.")
                .arg(m_dispositivo)));
}

// A hung-up tty stays readable for ever: left open, Qt would poll it in a busy loop. The port is
// closed from the event loop, since Qt is still inside its own read or write when it reports.
void ComponenteSeriale::segnalaErrorePorta(QSerialPort::SerialPortError errore)
{
    if (!m_porta.isOpen() || m_guasto)
        return;
    // Qt also reports a full output queue (EAGAIN) as a resource error: only a line that hung up
    // is a lost port.
    const bool erroreDiLinea = errore == QSerialPort::ReadError || errore == QSerialPort::WriteError
        || errore == QSerialPort::ResourceError;
    if (!erroreDiLinea || !lineaCaduta())
        return;
    m_guasto = errorePortaPersa();
    if (m_registro)
        m_registro->portaPersa(m_guasto->descrizione());
    if (m_chiusuraPianificata)
        return;
    m_chiusuraPianificata = true;
    QMetaObject::invokeMethod(this, &ComponenteSeriale::chiudiPerGuasto, Qt::QueuedConnection);
}

void ComponenteSeriale::chiudiPerGuasto()
{
    m_chiusuraPianificata = false;
    if (m_guasto && m_porta.isOpen())
        chiudiERegistra();
}
