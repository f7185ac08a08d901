// The virtual instrument: a pseudo-terminal that answers the panel's requests as an instrument
// on a serial line would, with fault modes for trying the panel out.

#include "aiuto_italiano.h"
#include "linea_vista.h"
#include "strumento.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <functional>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace std::chrono;

namespace {

const char kDescrizione[]
    = R"(Apre un terminale virtuale, ne stampa il percorso e risponde alle richieste di Banco Seriale
come uno strumento sulla linea seriale. Ogni richiesta e ogni risposta vanno su una riga
dell'uscita standard. Si ferma con Ctrl+C.)";

int pipeSegnali[2] = {-1, -1};

void segnale(int)
{
    const char c = 1;
    [[maybe_unused]] auto n = ::write(pipeSegnali[1], &c, 1);
}

[[noreturn]] void opzioneNonValida(const QString &messaggio)
{
    std::fprintf(stderr, "strumento-virtuale: %s\nVedere strumento-virtuale --help.\n",
        qPrintable(messaggio));
    std::exit(2);
}

bool numeroIntero(const QString &testo, int base, uint massimo, uint &valore)
{
    bool ok = !testo.isEmpty() && !testo.startsWith(u'+') && !testo.startsWith(u'-');
    valore = ok ? testo.toUInt(&ok, base) : 0;
    return ok && valore <= massimo;
}

struct Opzioni
{
    Strumento::Configurazione configurazione;
    QString collegamento;
};

Strumento::Guasto guasto(const QString &valore, Strumento::Configurazione &c)
{
    const QStringList parti = valore.split(u'=');
    const QString modo = parti.at(0);
    uint numero = 0;
    const bool conNumero = parti.size() == 2 && numeroIntero(parti[1], 10, 600'000, numero);
    if (modo == u"nessuna-risposta" && parti.size() == 1)
        return Strumento::Guasto::NessunaRisposta;
    if (modo == u"ritardo" && conNumero) {
        c.ritardo = milliseconds(numero);
        return Strumento::Guasto::Ritardo;
    }
    if (modo == u"parziale" && parti.size() == 1)
        return Strumento::Guasto::Parziale;
    if (modo == u"rumore" && parti.size() == 1)
        return Strumento::Guasto::Rumore;
    if (modo == u"misto" && parti.size() == 1)
        return Strumento::Guasto::Misto;
    if (modo == u"riaggancio" && conNumero && numero >= 1) {
        c.richiestePrimaDelRiaggancio = int(numero);
        return Strumento::Guasto::Riaggancio;
    }
    opzioneNonValida(QStringLiteral("guasto non valido: %1").arg(valore));
}

Opzioni leggiOpzioni(const QStringList &argomenti)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kDescrizione));
    const QCommandLineOption aiuto({"h", "help"}, QStringLiteral("Mostra questo aiuto."));
    const QCommandLineOption collegamento(QStringLiteral("collegamento"),
        QStringLiteral("Crea anche un collegamento simbolico al terminale (tolto all'uscita), "
                       "per esempio per BANCO_PORTA1=PERCORSO."),
        QStringLiteral("PERCORSO"));
    const QCommandLineOption indirizzo(QStringLiteral("indirizzo"),
        QStringLiteral("Indirizzi degli strumenti sulla linea, da 0 a 65535, separati da "
                       "virgole (predefinito 0; per esempio 0,3,7)."),
        QStringLiteral("N[,N…]"), QStringLiteral("0"));
    const QCommandLineOption memoria(QStringLiteral("memoria"),
        QStringLiteral("Parola a 16 bit in memoria: IND esadecimale, VALORE decimale da 0 a "
                       "65535 (per esempio 0008=1000, per ogni strumento), oppure "
                       "STRUMENTO:IND=VALORE per uno solo (3:0034=9999); ripetibile. Le altre "
                       "parole restano quelle di partenza (0008=1000, 0034=9999, …); un "
                       "indirizzo che nessuno ha vale 0."),
        QStringLiteral("[S:]IND=VALORE"));
    const QCommandLineOption deriva(QStringLiteral("deriva"),
        QStringLiteral("Parola che deriva: dopo ogni lettura di IND (esadecimale) le si somma "
                       "PASSO (da -65535 a 65535, negativo per scendere), per ogni strumento "
                       "a parte, fra 0 e 65535 (per esempio 000C=2: la tensione sale di 2 a "
                       "ogni lettura); ripetibile."),
        QStringLiteral("IND=PASSO"));
    const QCommandLineOption modoGuasto(QStringLiteral("guasto"),
        QStringLiteral("nessuna-risposta | ritardo=MS | parziale | rumore | riaggancio=N | "
                       "misto (riaggancio: chiude la linea dopo N richieste, come un "
                       "adattatore scollegato; misto: ogni risposta a caso giusta, mancante, "
                       "parziale, rumore o seguita da una caduta della linea che torna con lo "
                       "stesso nome)."),
        QStringLiteral("MODO"));
    const QCommandLineOption baud(QStringLiteral("baud"),
        QStringLiteral("Velocità a cui lo strumento ascolta (predefinita 9600): una richiesta a "
                       "un'altra velocità, o con 0x55 in parità dispari o il resto non in "
                       "parità dispari, non ha risposta (pari e nessuna parità non si "
                       "distinguono su un terminale virtuale)."),
        QStringLiteral("BAUD"), QStringLiteral("9600"));
    parser.addOptions({aiuto, collegamento, indirizzo, memoria, deriva, modoGuasto, baud});
    if (!parser.parse(argomenti)) {
        opzioneNonValida(parser.unknownOptionNames().isEmpty()
                ? QStringLiteral("opzione senza valore (%1)").arg(parser.errorText())
                : QStringLiteral("opzione sconosciuta: %1")
                      .arg(parser.unknownOptionNames().join(u' ')));
    }
    if (parser.isSet(aiuto)) {
        std::fputs(qPrintable(aiutoInItaliano(parser)), stdout);
        std::exit(0);
    }
    if (!parser.positionalArguments().isEmpty())
        opzioneNonValida(
            QStringLiteral("argomento inatteso: %1").arg(parser.positionalArguments().join(u' ')));

    Opzioni opzioni;
    opzioni.collegamento = parser.value(collegamento);
    uint numero = 0;
    if (!numeroIntero(parser.value(baud), 10, 4'000'000, numero) || numero < 50)
        opzioneNonValida(QStringLiteral("velocità non valida: %1 (da 50 a 4000000 baud)")
                             .arg(parser.value(baud)));
    opzioni.configurazione.baud = qint32(numero);
    opzioni.configurazione.indirizzi.clear();
    for (const QString &testo : parser.value(indirizzo).split(u',')) {
        if (!numeroIntero(testo.trimmed(), 10, 0xFFFF, numero))
            opzioneNonValida(QStringLiteral("indirizzo non valido: %1 (da 0 a 65535, più "
                                            "indirizzi separati da virgole)")
                                 .arg(parser.value(indirizzo)));
        opzioni.configurazione.indirizzi.append(quint16(numero));
    }
    for (const QString &valore : parser.values(memoria)) {
        QStringList parti = valore.split(u'=');
        QStringList dove = parti.value(0).split(u':');
        uint indirizzoMemoria = 0, strumento = 0;
        if (parti.size() != 2 || dove.size() > 2
            || (dove.size() == 2 && !numeroIntero(dove[0], 10, 0xFFFF, strumento))
            || !numeroIntero(dove.back(), 16, 0xFFFF, indirizzoMemoria)
            || !numeroIntero(parti[1], 10, 0xFFFF, numero)) {
            opzioneNonValida(QStringLiteral("memoria non valida: %1 (per esempio 0008=1000, o "
                                            "3:0034=9999 per lo strumento 3)")
                                 .arg(valore));
        }
        if (dove.size() == 2) {
            opzioni.configurazione.memoriaDi[quint16(strumento)].insert(
                quint16(indirizzoMemoria), quint16(numero));
            continue;
        }
        // Over the words every instrument starts with: the others stay.
        opzioni.configurazione.memoria.insert(quint16(indirizzoMemoria), quint16(numero));
    }
    for (const QString &valore : parser.values(deriva)) {
        const QStringList parti = valore.split(u'=');
        uint indirizzoMemoria = 0;
        bool passoValido = false;
        const int passo = parti.value(1).trimmed().toInt(&passoValido);
        if (parti.size() != 2 || !numeroIntero(parti[0], 16, 0xFFFF, indirizzoMemoria)
            || !passoValido || passo < -0xFFFF || passo > 0xFFFF) {
            opzioneNonValida(QStringLiteral("deriva non valida: %1 (per esempio 000C=2, o "
                                            "0008=-5 per una parola che scende)")
                                 .arg(valore));
        }
        opzioni.configurazione.deriva.insert(quint16(indirizzoMemoria), passo);
    }
    if (parser.isSet(modoGuasto))
        opzioni.configurazione.guasto = guasto(parser.value(modoGuasto), opzioni.configurazione);
    return opzioni;
}

// The instrument's end of a pseudo-terminal, with the link that names it.
struct Linea : QObject
{
    int master = -1;
    int slave = -1;
    QString dispositivo;

    bool apri(const QString &collegamento)
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
            std::perror("strumento-virtuale: impossibile aprire un terminale virtuale");
            return false;
        }
        dispositivo = QString::fromLocal8Bit(::ptsname(master));
        // The instrument keeps its own end of the terminal open, so that the panel closing and
        // reopening the port between the phases of a request does not hang the line up.
        slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
        termios crudo{};
        ::tcgetattr(slave, &crudo);
        ::cfmakeraw(&crudo);
        ::tcsetattr(slave, TCSANOW, &crudo);
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        if (collegamento.isEmpty())
            return true;
        const QFileInfo esistente(collegamento);
        if (esistente.exists() && !esistente.isSymLink()) {
            std::fprintf(stderr, "strumento-virtuale: %s esiste già e non è un collegamento\n",
                qPrintable(collegamento));
            return false;
        }
        QFile::remove(collegamento);
        if (!QFile::link(dispositivo, collegamento)) {
            std::fprintf(
                stderr, "strumento-virtuale: impossibile creare %s\n", qPrintable(collegamento));
            return false;
        }
        return true;
    }

    void chiudi(const QString &collegamento)
    {
        if (master < 0)
            return;
        if (!collegamento.isEmpty())
            QFile::remove(collegamento);
        ::close(slave);
        ::close(master);
        master = slave = -1;
    }
};

// The line read by a thread of its own, which does nothing else: the log, the answers and a
// slow standard output never hold it back, and it knows how late it may be. It wakes at least
// every few milliseconds, so a byte it finds arrived at some moment since it last woke: that
// interval is the byte's uncertainty, a few milliseconds when the machine lets the thread run,
// the whole stall when a busy machine did not. Silence is told from the same clock, so that a
// stalled reader never takes a request it has not read yet for one that stopped.
class Lettore
{
public:
    using Blocco = std::function<void(QByteArray byte, milliseconds istante,
        std::optional<Strumento::Linea> linea, milliseconds incertezza)>;
    using Silenzio = std::function<void(milliseconds istante)>;

    static constexpr milliseconds kVeglia{5};

    Lettore(
        const Linea &linea, std::function<milliseconds()> adesso, Blocco blocco, Silenzio silenzio)
        : m_master(linea.master)
        , m_slave(linea.slave)
    {
        if (::pipe(m_sveglia) != 0)
            std::perror("strumento-virtuale: pipe");
        m_filo = std::thread([=] { leggi(adesso, blocco, silenzio); });
    }

    ~Lettore()
    {
        m_fine = true;
        const char c = 1;
        [[maybe_unused]] auto n = ::write(m_sveglia[1], &c, 1);
        m_filo.join();
        ::close(m_sveglia[0]);
        ::close(m_sveglia[1]);
    }

private:
    void leggi(
        const std::function<milliseconds()> &adesso, const Blocco &blocco, const Silenzio &silenzio)
    {
        milliseconds sveglio = adesso();
        milliseconds ultimoByte{0};
        bool conByte = false; // since the last silence
        while (!m_fine) {
            pollfd attese[2] = {{m_master, POLLIN, 0}, {m_sveglia[0], POLLIN, 0}};
            ::poll(attese, 2, int(kVeglia.count()));
            QByteArray letti;
            char buffer[4096];
            ssize_t n = 0;
            while ((n = ::read(m_master, buffer, sizeof buffer)) > 0)
                letti.append(buffer, n);
            // Taken once the bytes are read: a thread held up between its waking and its read
            // (a busy machine stalls a process for a few hundred milliseconds) reads bytes that
            // came in meanwhile, a later phase's too, and they arrived at some moment since the
            // read before. Taken at the waking, they looked read on time, and two phases' bytes
            // one group.
            const milliseconds ora = adesso();
            const milliseconds incertezza = ora - sveglio;
            sveglio = ora;
            if (!letti.isEmpty()) {
                // The settings now are those the bytes were written under, unless the thread
                // read them late: the program changes them only between phases, 100 ms apart.
                blocco(letti, ora, lineaVista(m_slave), incertezza);
                ultimoByte = ora;
                conByte = true;
            } else if (conByte && ora - ultimoByte > Strumento::kPausaMassima) {
                silenzio(ora);
                conByte = false;
            }
        }
    }

    int m_master;
    int m_slave;
    int m_sveglia[2] = {-1, -1};
    std::atomic<bool> m_fine{false};
    std::thread m_filo;
};

void registra(const QString &riga)
{
    std::printf("%s\n", qPrintable(riga));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("strumento-virtuale"));
    const Opzioni opzioni = leggiOpzioni(app.arguments());

    // Ready for Ctrl+C and SIGTERM before anything is announced, so that a stop that follows the
    // announcement at once still removes the link.
    if (::pipe(pipeSegnali) != 0)
        return 1;
    std::signal(SIGINT, segnale);
    std::signal(SIGTERM, segnale);
    QSocketNotifier segnali(pipeSegnali[0], QSocketNotifier::Read);
    QObject::connect(&segnali, &QSocketNotifier::activated, &app, [&] {
        registra(QStringLiteral("arresto"));
        QCoreApplication::quit();
    });

    Linea linea;
    if (!linea.apri(opzioni.collegamento))
        return 2;
    QStringList indirizzi;
    for (const quint16 numero : opzioni.configurazione.indirizzi)
        indirizzi << QString::number(numero);
    registra(
        QStringLiteral("strumento virtuale su %1%2, %3 %4, %5 baud")
            .arg(linea.dispositivo,
                opzioni.collegamento.isEmpty()
                    ? QString()
                    : QStringLiteral(" (collegamento %1)").arg(opzioni.collegamento))
            .arg(indirizzi.size() > 1 ? QStringLiteral("indirizzi") : QStringLiteral("indirizzo"),
                indirizzi.join(u','))
            .arg(opzioni.configurazione.baud));

    Strumento strumento(opzioni.configurazione);
    QElapsedTimer orologio;
    orologio.start();
    const auto adesso = [&orologio] { return milliseconds(orologio.elapsed()); };
    std::unique_ptr<Lettore> lettore;

    std::function<void(const Strumento::Esito &)> esegui;
    // What the thread read, handed to the instrument in the order it was read.
    const auto ascolta = [&] {
        lettore = std::make_unique<Lettore>(
            linea, adesso,
            [&app, &strumento, &esegui](QByteArray byte, milliseconds istante,
                std::optional<Strumento::Linea> vista, milliseconds incertezza) {
                QMetaObject::invokeMethod(&app, [&, byte, istante, vista, incertezza] {
                    for (const char b : byte) {
                        if (auto esito = strumento.ricevi(b, istante, vista, incertezza))
                            esegui(*esito);
                    }
                });
            },
            [&app, &strumento, &esegui](milliseconds istante) {
                QMetaObject::invokeMethod(&app, [&, istante] {
                    if (auto esito = strumento.silenzio(istante))
                        esegui(*esito);
                });
            });
    };
    esegui = [&](const Strumento::Esito &esito) {
        registra(esito.registro);
        if (esito.risposta) {
            QTimer::singleShot(esito.ritardo, &app, [&linea, risposta = *esito.risposta] {
                [[maybe_unused]] auto n
                    = ::write(linea.master, risposta.constData(), size_t(risposta.size()));
            });
        }
        if (!esito.riaggancia)
            return;
        // Long enough for the panel to read the answer, as a cable pulled just after it.
        QTimer::singleShot(esito.ritardo + milliseconds(200), &app, [&, ritorna = esito.ritorna] {
            lettore.reset();
            linea.chiudi(opzioni.collegamento);
            registra(QStringLiteral("linea chiusa: lo strumento si è scollegato"));
            if (!ritorna) {
                QCoreApplication::exit(0);
                return;
            }
            // Plugged back in a moment later, under the same name.
            QTimer::singleShot(milliseconds(300), &app, [&] {
                if (!linea.apri(opzioni.collegamento)) {
                    QCoreApplication::exit(1);
                    return;
                }
                registra(QStringLiteral("linea riaperta su %1").arg(linea.dispositivo));
                ascolta();
            });
        });
    };
    ascolta();

    const int esito = QCoreApplication::exec();
    lettore.reset();
    linea.chiudi(opzioni.collegamento);
    return esito;
}
