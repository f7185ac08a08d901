#include "accessibilita.h"
#include "aiuto_italiano.h"
#include "filo_del_server.h"
#include "finestra_principale.h"
#include "lingua.h"
#include "testi_ammessi.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>
#include <cstdlib>
#include <optional>

namespace {

const char kDescrizione[]
    = R"(Banco Seriale apre una finestra da cui si invia una richiesta a uno strumento sulla linea
seriale: si scelgono porta, velocità (baud), indirizzo dello strumento, tipo di comando e
indirizzo di memoria e si preme «Invia comando». Ogni byte ricevuto compare in esadecimale e
la risposta viene decodificata in decimale; Visualizza → Traffico mostra ogni byte scambiato.

Porte: su Linux la porta N è il dispositivo indicato dalla variabile d'ambiente BANCO_PORTAN
(per esempio BANCO_PORTA1=/dev/ttyUSB0), altrimenti la N-esima porta seriale del sistema in
ordine di nome; su Windows è COMN. Se su Linux la porta non si apre per mancanza di
permessi, aggiungere l'utente al gruppo dialout: sudo usermod -aG dialout $USER, poi uscire e
rientrare nella sessione.

Senza hardware: strumento-virtuale --collegamento /tmp/porta1 in un terminale, poi
BANCO_PORTA1=/tmp/porta1 banco-seriale. Senza finestra: banco-richiesta.

Fine linea: banco-seriale --collaudo FILE.banco --operatore NOME apre la stazione di collaudo;
ogni prova resta nell'archivio della stazione (e va al server della linea, se indicato da
File → Archivio… o da BANCO_ARCHIVIO). Visualizza → Storico mostra le prove e le statistiche.)";

struct Avvio
{
    QString banco; // to open in the table
    QString collaudo; // to open in the station
    QString operatore;
    QString stazione;
};

// Read before the window system is reached, so that --help and --version work without a display.
// Returns the exit status when the program should end here.
std::optional<int> leggiOpzioni(int argc, char *argv[], Avvio &avvio)
{
    QCoreApplication applicazione(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("banco-seriale"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kDescrizione));
    const QCommandLineOption aiuto({"h", "help"}, QStringLiteral("Mostra questo aiuto."));
    const QCommandLineOption versione(
        QStringLiteral("version"), QStringLiteral("Mostra la versione."));
    const QCommandLineOption collaudo(QStringLiteral("collaudo"),
        QStringLiteral("Apre subito la finestra del collaudo per il banco FILE.banco: si legge il "
                       "numero di serie di ogni unità e si preme Invio."),
        QStringLiteral("FILE.banco"));
    const QCommandLineOption operatore(QStringLiteral("operatore"),
        QStringLiteral("Con --collaudo: chi collauda; dato, la finestra non lo chiede."),
        QStringLiteral("NOME"));
    const QCommandLineOption stazione(QStringLiteral("stazione"),
        QStringLiteral("Con --collaudo: il nome della stazione nell'archivio (altrimenti il nome "
                       "del computer)."),
        QStringLiteral("NOME"));
    parser.addOptions({aiuto, versione, collaudo, operatore, stazione});
    parser.addPositionalArgument(QStringLiteral("FILE.banco"),
        QStringLiteral("Un file di banco da aprire nella tabella."),
        QStringLiteral("[FILE.banco]"));
    if (!parser.parse(QCoreApplication::arguments()) || parser.positionalArguments().size() > 1) {
        const QStringList sconosciute = parser.unknownOptionNames() + parser.positionalArguments();
        std::fprintf(stderr,
            "banco-seriale: opzione non riconosciuta: %s\nVedere banco-seriale --help.\n",
            qPrintable(sconosciute.join(u' ')));
        return 2;
    }
    if (parser.isSet(versione)) {
        std::printf("banco-seriale %s\n", BANCO_VERSIONE);
        return 0;
    }
    if (parser.isSet(aiuto)) {
        std::fputs(qPrintable(aiutoInItaliano(parser)), stdout);
        return 0;
    }
    avvio.banco = parser.positionalArguments().value(0);
    avvio.collaudo = parser.value(collaudo);
    avvio.operatore = parser.value(operatore).trimmed();
    avvio.stazione = parser.value(stazione).trimmed();
    if (avvio.collaudo.isEmpty() && (parser.isSet(operatore) || parser.isSet(stazione))) {
        std::fputs("banco-seriale: --operatore e --stazione valgono solo con --collaudo.\n"
                   "Vedere banco-seriale --help.\n",
            stderr);
        return 2;
    }
    // Checked as the archive will take them, before any window opens.
    for (const auto &[testo, che] : {std::pair{avvio.operatore, QStringLiteral("--operatore")},
             std::pair{avvio.stazione, QStringLiteral("--stazione")}}) {
        if (const QString errore = TestiAmmessi::controlla(testo, che); !errore.isEmpty()) {
            std::fprintf(stderr, "banco-seriale: %s\n", qPrintable(errore));
            return 2;
        }
    }
    return {};
}

} // namespace

int main(int argc, char *argv[])
{
    Avvio avvio;
    if (const std::optional<int> esito = leggiOpzioni(argc, argv, avvio))
        return *esito;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("banco-seriale"));
    QApplication::setApplicationVersion(QStringLiteral(BANCO_VERSIONE));
    QGuiApplication::setDesktopFileName(QStringLiteral("it.bancoseriale.BancoSeriale"));
    installaAccessibilita();
    if (!installaLinguaItaliana())
        std::fputs("banco-seriale: le traduzioni italiane di Qt non ci sono (pacchetto "
                   "qt6-translations-l10n): le finestre dei file parleranno inglese.\n",
            stderr);
    int esito = 0;
    {
        FinestraPrincipale finestra;
        finestra.show();
        if (!avvio.banco.isEmpty())
            finestra.apriBanco(avvio.banco);
        // A line's launcher is told, by its status and its error stream, that no station opened.
        QString errore;
        if (!avvio.collaudo.isEmpty()
            && !finestra.apriCollaudo(avvio.collaudo, avvio.operatore, avvio.stazione, &errore)) {
            std::fprintf(stderr, "banco-seriale: %s\n", qPrintable(errore));
            return 1;
        }
        esito = app.exec();
    }
    // A thread still held by a server that went away: the program ends without it; the runs it
    // did not send wait in the station's file.
    if (FiloDelServer::qualcunoSospeso()) {
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(esito);
    }
    return esito;
}
