#include "finestra_principale.h"
#include "form3.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace {

const char kAiuto[] = R"(Uso: banco-seriale [--help | --version]

Banco Seriale apre una finestra da cui si invia una richiesta a uno strumento sulla linea
seriale: si scelgono porta, velocità (baud), indirizzo dello strumento, tipo di comando e
indirizzo di memoria e si preme «Invia comando». Ogni byte ricevuto compare in esadecimale e
la risposta viene decodificata in decimale.

Porte: su Linux la porta N è il dispositivo indicato dalla variabile d'ambiente BANCO_PORTAN
(per esempio BANCO_PORTA1=/dev/ttyUSB0), altrimenti la N-esima porta seriale del sistema in
ordine di nome. Se la porta non si apre per mancanza di permessi, aggiungere l'utente al
gruppo dialout: sudo usermod -aG dialout $USER, poi uscire e rientrare nella sessione.

Senza hardware: strumento-virtuale --collegamento /tmp/porta1 in un terminale, poi
BANCO_PORTA1=/tmp/porta1 banco-seriale.

Opzioni:
  --help      mostra questo aiuto
  --version   mostra la versione
)";

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1) {
        if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
            std::printf("banco-seriale %s\n", BANCO_VERSIONE);
            return 0;
        }
        if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
            std::fputs(kAiuto, stdout);
            return 0;
        }
        std::fprintf(stderr, "banco-seriale: opzione non riconosciuta: %s\nVedere banco-seriale --help.\n",
                     argv[1]);
        return 2;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("banco-seriale"));
    QApplication::setApplicationVersion(QStringLiteral(BANCO_VERSIONE));
    QGuiApplication::setDesktopFileName(QStringLiteral("it.bancoseriale.BancoSeriale"));
    FinestraPrincipale finestra;
    finestra.show();
    return app.exec();
}
