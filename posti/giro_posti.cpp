#include "giro_posti.h"

#include "interruttore.h"
#include "componente_seriale.h"
#include "conversioni.h"
#include "errore.h"
#include "linee.h"
#include "pannello_testi.h"
#include "sequenziatore.h"

#include <QThread>
#include <QTimer>

#include <map>

namespace {

// A line's record keeps its last requests for whoever shows them: 2 MiB of events a line, so
// that a fixture of 32 lines stays small however long the day.
constexpr qsizetype kCapacitaRegistro = 1 << 16;
// While a round runs, the bytes of a request reach the window at least this often: a batch a
// request and a few a second cost a round's thread little, and a slow request still shows as
// it goes.
constexpr int kConsegnaMs = 100;

// One socket's round on a line: the texts of each of its requests, and how far it has gone.
struct Turno
{
    QList<PannelloDiTesti> richieste;
    int prossima = 0;
    bool fermato = false;
};

} // namespace

// Lives in its line's thread: the port, the sequencer and the record are made there, and every
// call reaches it queued. Sockets that share the line take turns with whole requests, in the
// order of their numbers.
class LavoroLinea : public QObject
{
public:
    LavoroLinea(GiroPosti *giro, int linea, const QString &chi, const QString &dispositivo)
        : m_giro(giro)
        , m_linea(linea)
        , m_chi(chi)
        , m_dispositivo(dispositivo)
    { }

    // The port writes to the record as it closes: the port and its sequencer go first.
    ~LavoroLinea() override
    {
        delete m_sequenziatore;
        delete m_comm;
    }

    void inizia()
    {
        m_comm = new ComponenteSeriale(this);
        m_comm->setUtente(m_chi);
        m_registro = std::make_unique<RegistroTraffico>(kCapacitaRegistro);
        m_comm->setRegistro(m_registro.get());
        m_sequenziatore = new Sequenziatore(m_pannello, *m_comm, this);
        m_sequenziatore->setRegistro(m_registro.get());
        // Between requests nobody reads the line: its bytes go to the record only.
        m_sequenziatore->setScartaFuoriRichiesta(true);
        connect(m_sequenziatore, &Sequenziatore::errore, this,
            [this](int, const QString &descrizione) { m_descrizione = descrizione; });
        // Fires in the pauses of a request too: they wait in the thread's event loop.
        m_consegna = new QTimer(this);
        m_consegna->setInterval(kConsegnaMs);
        connect(m_consegna, &QTimer::timeout, this, &LavoroLinea::consegna);
        connect(m_sequenziatore, &Sequenziatore::pausaTerminata, this,
            [this](std::chrono::nanoseconds durata) {
                emit m_giro->pausaTerminata(m_dispositivo, durata);
            });
    }

    void avvia(int posto, const QList<PannelloDiTesti> &richieste)
    {
        Turno &turno = m_turni[posto];
        turno = Turno();
        turno.richieste = richieste;
        m_consegna->start();
        pianifica();
    }

    void ferma(int posto)
    {
        const auto turno = m_turni.find(posto);
        if (turno == m_turni.end())
            return;
        if (m_inCorso && m_corrente == posto) {
            turno->second.fermato = true;
            m_sequenziatore->annulla();
            return;
        }
        m_turni.erase(turno);
        chiudiSeLibera();
        avvisa(posto, -1, nullptr, QString(), true, true);
    }

    void fermaTutti()
    {
        for (auto &[posto, turno] : m_turni)
            turno.fermato = true;
        if (m_inCorso)
            m_sequenziatore->annulla();
    }

    // The lid switch on this line's port, read from now on; the port stays open for it.
    void sorveglia(int porta, const QString &baud, QSerialPort::PinoutSignal segnale)
    {
        m_portaInterruttore = porta;
        m_baudInterruttore = baud;
        m_segnale = segnale;
        auto *timer = new QTimer(this);
        timer->setInterval(Interruttore::kIntervalloMs);
        connect(timer, &QTimer::timeout, this, [this] { leggiInterruttore(); });
        timer->start();
        leggiInterruttore();
    }

private:
    void leggiInterruttore()
    {
        QString perche;
        // A request in flight opens the port as it needs; between requests the switch keeps it
        // open, at the line's rate.
        if (!m_comm->PortOpen() && !m_inCorso) {
            try {
                m_comm->setCommPort(qint16(m_portaInterruttore));
                m_comm->setSettings(QStringLiteral("%1,O,8,1").arg(m_baudInterruttore));
                m_comm->setPortOpen(true);
            } catch (const Errore &errore) {
                perche = errore.descrizione();
            }
        }
        std::optional<bool> attivo;
        if (const auto segnali = m_comm->segnaliModem())
            attivo = segnali->testFlag(m_segnale);
        else if (perche.isEmpty() && !m_inCorso)
            perche = QStringLiteral("il dispositivo %1 non dice lo stato dei suoi segnali")
                         .arg(m_comm->dispositivo());
        if (!perche.isEmpty() && perche != m_illeggibile) {
            QMetaObject::invokeMethod(
                m_giro, [giro = m_giro, perche] { emit giro->interruttoreIlleggibile(perche); },
                Qt::QueuedConnection);
        }
        if (attivo || !perche.isEmpty())
            m_illeggibile = perche;
        if (m_interruttore.aggiorna(attivo)) {
            QMetaObject::invokeMethod(
                m_giro, [giro = m_giro] { emit giro->coperchioChiuso(); }, Qt::QueuedConnection);
        }
    }

    void pianifica()
    {
        if (m_pianificata)
            return;
        m_pianificata = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_pianificata = false;
                prossima();
            },
            Qt::QueuedConnection);
    }

    // Runs from the thread's event loop, never inside a request: the request's pauses are the
    // only nested loops, and a socket started or stopped during one is seen after it.
    void prossima()
    {
        if (m_inCorso || m_turni.empty())
            return;
        auto turno = m_turni.upper_bound(m_corrente);
        if (turno == m_turni.end())
            turno = m_turni.begin();
        const int posto = turno->first;
        if (turno->second.fermato) {
            m_turni.erase(turno);
            chiudiSeLibera();
            avvisa(posto, -1, nullptr, QString(), true, true);
            pianifica();
            return;
        }
        const int riga = turno->second.prossima;
        m_corrente = posto;
        m_inCorso = true;
        m_descrizione.clear();
        m_sequenziatore->richiesta(&turno->second.richieste[riga]);
        m_inCorso = false;
        // Before the result is told: whoever hears of it finds its bytes in the line's record.
        consegna();
        const RisultatoRichiesta risultato = m_registro->ultimoRisultato();
        // The map may have changed during the request: only this socket's turn stays put.
        Turno &questo = m_turni.at(posto);
        const bool fermato = questo.fermato;
        const bool ultima = fermato || ++questo.prossima >= questo.richieste.size();
        if (ultima) {
            m_turni.erase(posto);
            chiudiSeLibera();
        }
        avvisa(posto, riga, &risultato, m_descrizione, ultima, fermato);
        pianifica();
    }

    // A line nobody reads is let go, so that the panel may open it.
    void chiudiSeLibera()
    {
        if (!m_turni.empty() || m_portaInterruttore > 0)
            return;
        try {
            if (m_comm->PortOpen())
                m_comm->setPortOpen(false);
        } catch (const Errore &) {
            // Closed all the same; the next round opens it again or reports why not.
        }
        // The closing is the line's last event until a round starts it again.
        consegna();
        m_consegna->stop();
    }

    // Hands the events added since the last batch to the window's thread.
    void consegna()
    {
        if (m_registro->fineAssoluta() == m_consegnati)
            return;
        auto lotto
            = std::make_shared<const RegistroTraffico::Lotto>(m_registro->lottoDa(m_consegnati));
        m_consegnati = m_registro->fineAssoluta();
        QMetaObject::invokeMethod(
            m_giro,
            [giro = m_giro, linea = m_linea, lotto] { giro->accogliTraffico(linea, *lotto); },
            Qt::QueuedConnection);
    }

    void avvisa(int posto, int riga, const RisultatoRichiesta *risultato,
        const QString &descrizione, bool ultima, bool fermato)
    {
        std::optional<RisultatoRichiesta> copia;
        if (risultato)
            copia = *risultato;
        QMetaObject::invokeMethod(
            m_giro,
            [giro = m_giro, posto, riga, copia, descrizione, ultima, fermato] {
                giro->fineRichiesta(
                    posto, riga, copia ? &*copia : nullptr, descrizione, ultima, fermato);
            },
            Qt::QueuedConnection);
    }

    GiroPosti *m_giro;
    int m_linea;
    QString m_chi;
    QString m_dispositivo;
    PannelloDiTesti m_pannello;
    ComponenteSeriale *m_comm = nullptr;
    Sequenziatore *m_sequenziatore = nullptr;
    std::unique_ptr<RegistroTraffico> m_registro;
    QTimer *m_consegna = nullptr;
    quint64 m_consegnati = 0; // absolute number of the first event not handed yet
    std::map<int, Turno> m_turni;
    int m_corrente = -1;
    bool m_inCorso = false;
    bool m_pianificata = false;
    QString m_descrizione;
    Interruttore m_interruttore;
    int m_portaInterruttore = 0; // 0: no switch on this line
    QString m_baudInterruttore;
    QSerialPort::PinoutSignal m_segnale = QSerialPort::NoSignal;
    QString m_illeggibile; // the reason last told
};

struct GiroPosti::Linea
{
    QString dispositivo;
    QThread thread;
    LavoroLinea *lavoro = nullptr;
    // The copies of the line's events, in the window's thread.
    RegistroTraffico traffico{kCapacitaRegistro};
};

GiroPosti::GiroPosti(const DatiBanco &banco, const QString &chi, QObject *parent)
    : QObject(parent)
    , m_banco(banco)
    , m_chi(chi)
    , m_posti(FileBanco::postiEffettivi(banco))
    , m_stati(m_posti.size())
{ }

GiroPosti::~GiroPosti()
{
    for (const auto &linea : m_linee) {
        LavoroLinea *lavoro = linea->lavoro;
        QMetaObject::invokeMethod(lavoro, [lavoro] { lavoro->fermaTutti(); }, Qt::QueuedConnection);
        linea->thread.quit();
    }
    for (const auto &linea : m_linee)
        linea->thread.wait();
    for (const StatoPosto &stato : std::as_const(m_stati)) {
        if (stato.inCorso)
            Linee::istanza().lascia(stato.dispositivo, m_chi);
    }
    if (!m_lineaInterruttore.isEmpty())
        Linee::istanza().lascia(m_lineaInterruttore, m_chi);
}

bool GiroPosti::sorvegliaInterruttore(QString *motivo)
{
    if (!m_banco.interruttore) {
        *motivo = QStringLiteral("Il banco non ha un interruttore del coperchio.");
        return false;
    }
    if (!m_lineaInterruttore.isEmpty())
        return true;
    const int posto = indice(m_banco.interruttore->posto);
    if (posto < 0) {
        *motivo = QStringLiteral("L'interruttore del coperchio è sul posto %1, che il banco non ha.")
                      .arg(m_banco.interruttore->posto);
        return false;
    }
    static const std::map<QString, QSerialPort::PinoutSignal> kSegnali{
        {QStringLiteral("CTS"), QSerialPort::ClearToSendSignal},
        {QStringLiteral("DSR"), QSerialPort::DataSetReadySignal},
        {QStringLiteral("DCD"), QSerialPort::DataCarrierDetectSignal},
        {QStringLiteral("RI"), QSerialPort::RingIndicatorSignal}};
    const auto segnale = kSegnali.find(m_banco.interruttore->segnale);
    if (segnale == kSegnali.end()) {
        *motivo = QStringLiteral("Il segnale %1 dell'interruttore non è CTS, DSR, DCD o RI.")
                      .arg(m_banco.interruttore->segnale);
        return false;
    }
    const PostoBanco &questo = m_posti.at(posto);
    const QString porta = FileBanco::testoPorta(questo.porta);
    QString dispositivo;
    try {
        dispositivo = Linee::risolvi(Conversioni::numeroPorta(porta));
    } catch (const Errore &errore) {
        *motivo = QStringLiteral("L'interruttore del coperchio non si legge: %1").arg(errore.descrizione());
        return false;
    }
    QString occupante;
    if (!Linee::istanza().prendi(dispositivo, m_chi, &occupante)) {
        *motivo = QStringLiteral("La linea di %1 è in uso da %2: attenderne la fine, o "
                                 "fermarla, e riprovare.")
                      .arg(dispositivo, occupante);
        return false;
    }
    m_lineaInterruttore = dispositivo;
    LavoroLinea *lavoro = lineaPer(dispositivo)->lavoro;
    const int numero = Conversioni::numeroPorta(porta);
    const QString baud = QString::number(questo.baud.value_or(m_banco.baud));
    QMetaObject::invokeMethod(
        lavoro, [lavoro, numero, baud, s = segnale->second] { lavoro->sorveglia(numero, baud, s); },
        Qt::QueuedConnection);
    return true;
}

int GiroPosti::indice(const QString &nome) const
{
    for (qsizetype i = 0; i < m_posti.size(); ++i) {
        if (m_posti.at(i).nome == nome)
            return int(i);
    }
    return -1;
}

GiroPosti::Linea *GiroPosti::lineaPer(const QString &dispositivo)
{
    for (const auto &linea : m_linee) {
        if (linea->dispositivo == dispositivo)
            return linea.get();
    }
    auto linea = std::make_unique<Linea>();
    linea->dispositivo = dispositivo;
    linea->lavoro = new LavoroLinea(this, int(m_linee.size()), m_chi, dispositivo);
    linea->lavoro->moveToThread(&linea->thread);
    QObject::connect(&linea->thread, &QThread::finished, linea->lavoro, &QObject::deleteLater);
    linea->thread.setObjectName(QStringLiteral("linea %1").arg(dispositivo));
    linea->thread.start();
    LavoroLinea *lavoro = linea->lavoro;
    QMetaObject::invokeMethod(lavoro, [lavoro] { lavoro->inizia(); }, Qt::QueuedConnection);
    m_linee.push_back(std::move(linea));
    emit lineaAggiunta(int(m_linee.size() - 1));
    return m_linee.back().get();
}

bool GiroPosti::avvia(int posto, QString *motivo)
{
    if (posto < 0 || posto >= m_posti.size())
        return false;
    StatoPosto &stato = m_stati[posto];
    const PostoBanco &questo = m_posti.at(posto);
    if (stato.inCorso) {
        *motivo = QStringLiteral("La prova del posto %1 è già in corso.").arg(questo.nome);
        return false;
    }
    if (m_banco.righe.isEmpty()) {
        *motivo = QStringLiteral("Il banco non ha righe da leggere.");
        return false;
    }
    const QString porta = FileBanco::testoPorta(questo.porta);
    // A port no device answers to is no line to lend: each of its rows reports why.
    QString dispositivo = QStringLiteral("porta %1").arg(porta);
    bool daPrestare = false;
    try {
        dispositivo = Linee::risolvi(Conversioni::numeroPorta(porta));
        daPrestare = true;
    } catch (const Errore &) {
    }
    QString occupante;
    if (daPrestare && !Linee::istanza().prendi(dispositivo, m_chi, &occupante)) {
        *motivo = QStringLiteral("La linea di %1 è in uso da %2: attenderne la fine, o "
                                 "fermarla, e riprovare.")
                      .arg(dispositivo, occupante);
        return false;
    }
    const QString baud = QString::number(questo.baud.value_or(m_banco.baud));
    QList<PannelloDiTesti> richieste;
    richieste.reserve(m_banco.righe.size());
    for (const RigaBanco &riga : std::as_const(m_banco.righe)) {
        richieste.append(PannelloDiTesti({{Campo::Combo1, porta}, {Campo::Combo2, baud},
            {Campo::Combo5, QString::number(questo.indirizzo(riga.strumento))},
            {Campo::ComboComando, QStringLiteral("Lettura")},
            {Campo::ComboIndirizzo, riga.testoMemoria()}, {Campo::Text1, QString()},
            {Campo::Text3, QString()}}));
    }
    Linea *linea = lineaPer(dispositivo);
    stato.inCorso = true;
    stato.dispositivo = daPrestare ? dispositivo : QString();
    LavoroLinea *lavoro = linea->lavoro;
    QMetaObject::invokeMethod(
        lavoro, [lavoro, posto, richieste] { lavoro->avvia(posto, richieste); },
        Qt::QueuedConnection);
    return true;
}

void GiroPosti::ferma(int posto)
{
    if (posto < 0 || posto >= m_stati.size() || !m_stati.at(posto).inCorso)
        return;
    for (const auto &linea : m_linee) {
        LavoroLinea *lavoro = linea->lavoro;
        QMetaObject::invokeMethod(
            lavoro, [lavoro, posto] { lavoro->ferma(posto); }, Qt::QueuedConnection);
    }
}

void GiroPosti::fermaTutti()
{
    for (int posto = 0; posto < m_stati.size(); ++posto)
        ferma(posto);
}

bool GiroPosti::inCorso(int posto) const
{
    return posto >= 0 && posto < m_stati.size() && m_stati.at(posto).inCorso;
}

bool GiroPosti::qualcunoInCorso() const
{
    return std::any_of(
        m_stati.cbegin(), m_stati.cend(), [](const StatoPosto &stato) { return stato.inCorso; });
}

QString GiroPosti::dispositivo(int posto) const
{
    return posto >= 0 && posto < m_stati.size() ? m_stati.at(posto).dispositivo : QString();
}

QString GiroPosti::dispositivoLinea(int linea) const
{
    return linea >= 0 && linea < numeroLinee() ? m_linee.at(size_t(linea))->dispositivo : QString();
}

RegistroTraffico &GiroPosti::trafficoLinea(int linea)
{
    return m_linee.at(size_t(linea))->traffico;
}

void GiroPosti::accogliTraffico(int linea, const RegistroTraffico::Lotto &lotto)
{
    Linea &questa = *m_linee.at(size_t(linea));
    questa.traffico.accogli(lotto, questa.dispositivo);
    emit trafficoAggiunto(linea);
}

void GiroPosti::fineRichiesta(int posto, int riga, const RisultatoRichiesta *risultato,
    const QString &descrizione, bool ultima, bool fermato)
{
    if (risultato)
        emit letta(posto, riga, *risultato, descrizione);
    if (!ultima)
        return;
    StatoPosto &stato = m_stati[posto];
    stato.inCorso = false;
    if (!stato.dispositivo.isEmpty())
        Linee::istanza().lascia(stato.dispositivo, m_chi);
    emit terminato(posto, fermato);
}
