// The virtual instrument: a pseudo-terminal that answers the panel's requests as an instrument
// on a serial line would, with fault modes for trying the panel out.

#include "strumento.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace std::chrono;

namespace {

const char kAiuto[] = R"(Uso: strumento-virtuale [opzioni]

Apre un terminale virtuale, ne stampa il percorso e risponde alle richieste di Banco Seriale
come uno strumento sulla linea seriale. Ogni richiesta e ogni risposta vanno su una riga
dell'uscita standard. Si ferma con Ctrl+C.

Opzioni:
  --collegamento PERCORSO   crea anche un collegamento simbolico al terminale (tolto all'uscita),
                            per esempio per BANCO_PORTA1=PERCORSO
  --indirizzo N             indirizzo dello strumento, da 0 a 65535 (predefinito 0)
  --memoria IND=VALORE      parola a 16 bit in memoria: IND esadecimale, VALORE decimale da 0 a
                            65535 (per esempio 0008=1000); ripetibile
  --guasto MODO             nessuna-risposta | ritardo=MS | parziale | rumore | riaggancio=N
                            (riaggancio: chiude la linea dopo N richieste, come un adattatore
                            scollegato)
  --help                    mostra questo aiuto
)";

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

Opzioni leggiOpzioni(const QStringList &argomenti)
{
    Opzioni opzioni;
    bool memoriaPropria = false;
    for (qsizetype i = 1; i < argomenti.size(); ++i) {
        const QString &nome = argomenti.at(i);
        if (nome == u"--help" || nome == u"-h") {
            std::fputs(kAiuto, stdout);
            std::exit(0);
        }
        if (i + 1 >= argomenti.size())
            opzioneNonValida(QStringLiteral("opzione sconosciuta o senza valore: %1").arg(nome));
        const QString valore = argomenti.at(++i);
        uint numero = 0;
        if (nome == u"--collegamento") {
            opzioni.collegamento = valore;
        } else if (nome == u"--indirizzo") {
            if (!numeroIntero(valore, 10, 0xFFFF, numero))
                opzioneNonValida(
                    QStringLiteral("indirizzo non valido: %1 (da 0 a 65535)").arg(valore));
            opzioni.configurazione.indirizzo = quint16(numero);
        } else if (nome == u"--memoria") {
            const QStringList parti = valore.split(u'=');
            uint indirizzo = 0;
            if (parti.size() != 2 || !numeroIntero(parti[0], 16, 0xFFFF, indirizzo)
                || !numeroIntero(parti[1], 10, 0xFFFF, numero)) {
                opzioneNonValida(
                    QStringLiteral("memoria non valida: %1 (per esempio 0008=1000)").arg(valore));
            }
            if (!memoriaPropria)
                opzioni.configurazione.memoria.clear();
            memoriaPropria = true;
            opzioni.configurazione.memoria.insert(quint16(indirizzo), quint16(numero));
        } else if (nome == u"--guasto") {
            const QStringList parti = valore.split(u'=');
            const QString modo = parti.at(0);
            auto &c = opzioni.configurazione;
            const bool conNumero = parti.size() == 2 && numeroIntero(parti[1], 10, 600'000, numero);
            if (modo == u"nessuna-risposta" && parti.size() == 1) {
                c.guasto = Strumento::Guasto::NessunaRisposta;
            } else if (modo == u"ritardo" && conNumero) {
                c.guasto = Strumento::Guasto::Ritardo;
                c.ritardo = milliseconds(numero);
            } else if (modo == u"parziale" && parti.size() == 1) {
                c.guasto = Strumento::Guasto::Parziale;
            } else if (modo == u"rumore" && parti.size() == 1) {
                c.guasto = Strumento::Guasto::Rumore;
            } else if (modo == u"riaggancio" && conNumero && numero >= 1) {
                c.guasto = Strumento::Guasto::Riaggancio;
                c.richiestePrimaDelRiaggancio = int(numero);
            } else {
                opzioneNonValida(QStringLiteral("guasto non valido: %1").arg(valore));
            }
        } else {
            opzioneNonValida(QStringLiteral("opzione sconosciuta: %1").arg(nome));
        }
    }
    return opzioni;
}

void registra(const QString &riga)
{
    std::printf("%s\n", qPrintable(riga));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
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

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        std::perror("strumento-virtuale: impossibile aprire un terminale virtuale");
        return 1;
    }
    const QString dispositivo = QString::fromLocal8Bit(::ptsname(master));
    // The instrument keeps its own end of the terminal open, so that the panel closing and
    // reopening the port between the phases of a request does not hang the line up.
    const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    termios crudo{};
    ::tcgetattr(slave, &crudo);
    ::cfmakeraw(&crudo);
    ::tcsetattr(slave, TCSANOW, &crudo);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

    if (!opzioni.collegamento.isEmpty()) {
        const QFileInfo esistente(opzioni.collegamento);
        if (esistente.exists() && !esistente.isSymLink()) {
            std::fprintf(stderr, "strumento-virtuale: %s esiste già e non è un collegamento\n",
                qPrintable(opzioni.collegamento));
            return 2;
        }
        QFile::remove(opzioni.collegamento);
        if (!QFile::link(dispositivo, opzioni.collegamento)) {
            std::fprintf(stderr, "strumento-virtuale: impossibile creare %s\n",
                qPrintable(opzioni.collegamento));
            return 2;
        }
    }
    const auto finisci = [&] {
        if (!opzioni.collegamento.isEmpty())
            QFile::remove(opzioni.collegamento);
        ::close(slave);
        ::close(master);
    };

    registra(QStringLiteral("strumento virtuale su %1%2, indirizzo %3")
                 .arg(dispositivo,
                     opzioni.collegamento.isEmpty()
                         ? QString()
                         : QStringLiteral(" (collegamento %1)").arg(opzioni.collegamento))
                 .arg(opzioni.configurazione.indirizzo));

    Strumento strumento(opzioni.configurazione);
    QElapsedTimer orologio;
    orologio.start();
    const auto adesso = [&] { return milliseconds(orologio.elapsed()); };
    QSocketNotifier lettura(master, QSocketNotifier::Read);

    const auto esegui = [&](const Strumento::Esito &esito) {
        registra(esito.registro);
        if (esito.risposta) {
            QTimer::singleShot(esito.ritardo, &app, [master, risposta = *esito.risposta] {
                [[maybe_unused]] auto n
                    = ::write(master, risposta.constData(), size_t(risposta.size()));
            });
        }
        if (esito.riaggancia) {
            // Long enough for the panel to read the answer, as a cable pulled just after it.
            QTimer::singleShot(esito.ritardo + milliseconds(200), &app, [&] {
                lettura.setEnabled(false);
                finisci();
                registra(QStringLiteral("linea chiusa: lo strumento si è scollegato"));
                QCoreApplication::exit(0);
            });
        }
    };

    QTimer silenzio;
    silenzio.setSingleShot(true);
    silenzio.setInterval(Strumento::kPausaMassima + milliseconds(50));
    QObject::connect(&silenzio, &QTimer::timeout, &app, [&] {
        if (auto esito = strumento.silenzio(adesso()))
            esegui(*esito);
    });

    QObject::connect(&lettura, &QSocketNotifier::activated, &app, [&] {
        char blocco[4096];
        ssize_t letti = 0;
        while ((letti = ::read(master, blocco, sizeof blocco)) > 0) {
            const milliseconds istante = adesso();
            for (ssize_t i = 0; i < letti; ++i) {
                if (auto esito = strumento.ricevi(blocco[i], istante))
                    esegui(*esito);
            }
        }
        silenzio.start();
    });

    const int esito = QCoreApplication::exec();
    if (::fcntl(master, F_GETFD) != -1)
        finisci();
    return esito;
}
