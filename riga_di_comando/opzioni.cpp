#include "opzioni.h"

#include "aiuto_italiano.h"
#include "errore.h"
#include "module2.h"
#include "testi_traffico.h"

#include <QCoreApplication>

#include <cstdio>

namespace RigaDiComando {
namespace {

const char kDescrizione[]
    = R"(Invia a uno strumento sulla linea seriale la richiesta del pannello di Banco Seriale,
con le stesse cinque fasi, le stesse pause e la stessa parità (pari per 0x55, dispari
per il resto), e stampa una riga per richiesta sull'uscita standard. Messaggi e
riassunto vanno sull'errore standard.

Porte: su Linux la porta N è il dispositivo della variabile BANCO_PORTAN (per esempio
BANCO_PORTA1=/dev/ttyUSB0), altrimenti la N-esima porta seriale del sistema; su Windows
è COMN. --porta accetta anche il percorso del dispositivo.

Archivio: con --banco e --unita ogni giro è una prova dell'unità, registrata nel file
SQLite della stazione e poi inviata al server PostgreSQL della linea, se ce n'è uno
(--archivio, BANCO_ARCHIVIO o l'impostazione della finestra). --storico, --statistiche,
--carta e --invia interrogano l'archivio invece di leggere.)";

const char kStatiDiUscita[] = R"(
Stato di uscita:
  0  ogni richiesta ha avuto risposta
  1  almeno una richiesta è rimasta senza risposta
  2  opzione o valore non valido: nulla è stato inviato né stampato
  3  la porta non si apre o si è persa, anche per una sola delle richieste
     (senza --fermati-al-primo-errore la ripetizione la riprova a ogni richiesta)
  4  con --banco: ogni riga ha avuto risposta, ma almeno un valore è fuori dai
     limiti o diverso da quello atteso (1 e 3 prevalgono su 4)
  5  con --banco: la lettura è stata fatta e stampata, ma l'archivio locale non si
     è potuto scrivere (disco pieno, cartella senza permessi); il motivo è
     sull'errore standard. Un server che non risponde non è un errore: le prove
     aspettano nel file locale.
  6  con --banco e --unita: il giro dell'unità è stato fermato (Ctrl+C) prima
     dell'ultima riga; la prova è registrata come interrotta
  7  con --invia: restano prove in attesa (il server non risponde) o messe da
     parte (il server le ha rifiutate: il motivo è sull'errore standard)
  8  con --controlla-archivio: il file della stazione è danneggiato; con --verifica:
     una copia della prova non ha più l'impronta registrata alla sua fine, le due
     copie sono diverse, o la prova non ha impronta; con --pdf: la prova è stata
     cambiata dopo la sua fine (nessun rapporto è scritto)
  9  con --banco e --unita: l'unità è stata rifiutata prima di inviare nulla
     (il numero di serie non ha la forma che il banco dichiara, o i campioni del
     banco non sono stati provati nel periodo: vedere --senza-campioni)
Quando più stati valgono insieme prevale il primo di 3, 1, 6, 5, 4; con un banco a più
posti lo stato è il più grave fra quelli dei posti.
Con --cerca: 0 se almeno una combinazione ha risposto, 1 se nessuna; 2 e 3 come sopra.
Con --storico, --statistiche e --carta: 0, o 5 se l'archivio non si legge; con --carta 2
anche per una riga sconosciuta o presente in più banchi senza --nome-banco, e per --fissa
su una carta con meno di 2 valori (nulla è fissato).
Con --ristampa: 0 se la stampante ha preso l'etichetta, 1 se no, 8 per una prova cambiata
dopo la sua fine; con --pdf 5 se il rapporto non si scrive; con --verifica, --pdf e
--ristampa 2 anche per una prova che non è nell'archivio.
)";

} // namespace

int uscitaPiuGrave(int a, int b)
{
    static constexpr int kOrdine[] = {PortaNonDisponibile, SenzaRisposta, ProvaInterrotta,
        ArchivioNonScritto, FuoriDaiLimiti};
    for (const int grave : kOrdine) {
        if (a == grave || b == grave)
            return grave;
    }
    return a ? a : b;
}

int uscitaDelCampione(int uscita, const QString &atteso, const QString &esito)
{
    if (esito.isEmpty() || Esiti::daRipetere(esito))
        return uscita;
    if (uscita != TutteRisposte && uscita != SenzaRisposta && uscita != FuoriDaiLimiti)
        return uscita;
    return esito == atteso ? int(TutteRisposte) : int(FuoriDaiLimiti);
}

namespace {

bool numeroIntero(const QString &testo, int massimo, int &valore)
{
    bool ok = !testo.isEmpty() && testo.front().isDigit();
    valore = ok ? testo.toInt(&ok) : 0;
    return ok && valore <= massimo;
}

QCommandLineOption conValore(
    const char *nome, const char *descrizione, const char *valore, const QString &predefinito = {})
{
    return QCommandLineOption(QString::fromUtf8(nome), QString::fromUtf8(descrizione),
        QString::fromUtf8(valore), predefinito);
}

QCommandLineOption senzaValore(const char *nome, const char *descrizione)
{
    return QCommandLineOption(QString::fromUtf8(nome), QString::fromUtf8(descrizione));
}

} // namespace

// Windows' C library buffers the error stream when it goes to a file or a pipe: each message is
// pushed out as it is written, as on Linux, so that a log shows it when it happens.
void errore(const QString &messaggio)
{
    std::fprintf(stderr, "banco-richiesta: %s\n", qUtf8Printable(messaggio));
    std::fflush(stderr);
}

void stampa(const QString &riga)
{
    std::fputs(qUtf8Printable(riga + u'\n'), stdout);
    std::fflush(stdout);
}

bool erroreDiPorta(int numero)
{
    return numero >= int(CodiceErrore::NessunDispositivo);
}

bool rifiutaSeImpostata(const QCommandLineParser &parser,
    std::initializer_list<const QCommandLineOption *> opzioni, const char *perche)
{
    for (const QCommandLineOption *opzione : opzioni) {
        if (parser.isSet(*opzione)) {
            errore(QString::fromUtf8(perche).arg(opzione->names().front()));
            return true;
        }
    }
    return false;
}

bool leggiArchivio(
    const TabellaOpzioni &t, const QCommandLineParser &parser, Destinazione::Scelta &dove)
{
    QString motivo;
    const std::optional<Destinazione::Scelta> scelta
        = Destinazione::scegli(parser.value(t.archivio), &motivo);
    if (!scelta) {
        errore(QStringLiteral("--archivio: ") + motivo);
        return false;
    }
    dove = *scelta;
    return true;
}

TabellaOpzioni::TabellaOpzioni()
    : iniziali(PannelloDiTesti::valoriIniziali())
    , aiuto({"h", "help"}, QStringLiteral("Mostra questo aiuto."))
    , versione(senzaValore("version", "Mostra la versione."))
    , porta(conValore("porta", "Porta seriale: un numero o il percorso del dispositivo.", "N",
          iniziali.at(Campo::Combo1)))
    , baud(conValore("baud", "Velocità, da 50 a 4000000.", "BAUD", iniziali.at(Campo::Combo2)))
    , indirizzo(conValore(
          "indirizzo", "Indirizzo dello strumento, da 0 a 65535.", "N", iniziali.at(Campo::Combo5)))
    , comando(conValore("comando",
          "Lettura, \"Ripetizione ult. lettura\" o Scrittura, maiuscole e minuscole "
          "indifferenti.",
          "NOME", iniziali.at(Campo::ComboComando)))
    , memoria(conValore("memoria", "Indirizzo di memoria, da 1 a 4 cifre esadecimali.", "HEX",
          iniziali.at(Campo::ComboIndirizzo)))
    , ripeti(conValore(
          "ripeti", "Quante richieste; 0 finché non si preme Ctrl+C.", "N", QStringLiteral("1")))
    , intervallo(conValore("intervallo",
          "Millisecondi fra la fine di una richiesta e l'inizio della successiva.", "MS",
          QStringLiteral("0")))
    , formato(conValore("formato", "testo, csv (con intestazione) o json (un oggetto per riga).",
          "FORMATO", QStringLiteral("testo")))
    , traffico(senzaValore("traffico",
          "Stampa sull'errore standard il traffico di ogni richiesta: ogni byte con istante, "
          "fase e impostazioni di linea."))
    , fermatiAlPrimoErrore(senzaValore("fermati-al-primo-errore",
          "Si ferma al primo errore. Senza, un errore viene contato e la richiesta successiva "
          "riprova la porta, non prima di 100 ms."))
    , banco(conValore("banco",
          "Legge le righe del file di banco, una volta per giro, invece di una sola richiesta; "
          "--porta e --baud prevalgono sulla linea del file, --ripeti conta i giri e "
          "--intervallo è la pausa fra un giro e l'altro.",
          "FILE.banco"))
    , rapporto(conValore("rapporto",
          "Con --banco, scrive un rapporto JUnit XML: un testsuite per giro, un testcase per "
          "riga.",
          "FILE.xml"))
    , unita(conValore("unita",
          "L'unità in prova (il numero di serie), riportata in ogni riga e nel rapporto; con "
          "--banco ogni giro è una sua prova nell'archivio. Con un banco a più posti si "
          "ripete, un'unità per posto: riempiono i posti in ordine, o POSTO=TESTO nomina il "
          "posto. Con --storico, --statistiche e --carta, le prove di quell'unità.",
          "TESTO"))
    , operatore(conValore("operatore",
          "Con --banco e --unita, chi fa la prova; con --carta --fissa, chi fissa i limiti.",
          "NOME"))
    , stazione(conValore("stazione",
          "Con --banco e --unita, la stazione della prova (senza, il nome della macchina). "
          "Con --storico, --statistiche e --carta, le prove di quella stazione (e con --fissa la "
          "stazione che registra i limiti).",
          "NOME"))
    , senzaArchivio(senzaValore("senza-archivio",
          "Con --banco e --unita, non registra le prove (né rapporti PDF né etichette)."))
    , senzaCampioni(senzaValore("senza-campioni",
          "Con --banco e --unita, prova un'unità di produzione anche se i campioni del banco non "
          "sono ancora stati provati nel periodo; la prova registra che è stata fatta così."))
    , archivio(conValore("archivio",
          "L'archivio: un file SQLite, o il server PostgreSQL della linea come URL di libpq "
          "(postgresql://utente@server/banco?sslmode=require; la password sta in ~/.pgpass), "
          "a cui vanno le prove dopo il file della stazione. Senza, BANCO_ARCHIVIO o "
          "l'impostazione della finestra.",
          "URL|FILE"))
    , cerca(senzaValore("cerca",
          "Cerca lo strumento: prova una lettura a ogni velocità di --baud (un elenco, per "
          "esempio 9600,19200; senza, tutte quelle del pannello e poi 57600 e 115200, 9600 per "
          "prima) con ogni indirizzo di --indirizzo (un intervallo, per esempio 0-31; senza, "
          "0-15) e stampa una riga per combinazione che risponde."))
    , prima(senzaValore("prima", "Con --cerca, si ferma alla prima combinazione che risponde."))
    , storico(senzaValore("storico", "Elenca le prove dell'archivio, dalla più recente."))
    , letture(senzaValore("letture", "Con --storico, anche le letture di ogni prova."))
    , campioni(conValore("campioni",
          "Con --storico, le prove dei campioni del banco: esclusi (il predefinito), soltanto o "
          "inclusi. Statistiche e carte non le contano mai.",
          "esclusi|soltanto|inclusi"))
    , statistiche(senzaValore("statistiche",
          "Per ogni riga dei banchi: letture, media, deviazione standard, minimo, massimo, Cp e "
          "Cpk (dalla sigma entro, dalle escursioni mobili), Pp e Ppk (dalla deviazione "
          "complessiva) con il giudizio, la carta di controllo e le sue regole violate, fuori "
          "dai limiti, le righe che falliscono di più per prime; poi per ogni versione di banco "
          "la resa al primo passaggio e finale, contata sulle unità, il tasso di ripetizione, la "
          "resa al primo passaggio di ogni riga, il Pareto delle righe che falliscono e le prove "
          "da ripetere."))
    , carta(conValore("carta",
          "La carta di controllo dei valori singoli della riga RIGA: un punto per prova con "
          "centro, limiti di controllo e le regole che completa, poi un riassunto con Cpk e Ppk; "
          "una carta per versione del banco e posto. Per esempio --carta Temperatura "
          "--nome-banco linea3.banco.",
          "RIGA"))
    , fissa(senzaValore("fissa",
          "Con --carta e --operatore: fissa i limiti di controllo di ogni carta della riga, "
          "calcolati ora da tutti i suoi valori, nel file della stazione; le carte li usano da "
          "allora in poi. Per esempio --carta Temperatura --fissa --operatore \"Anna Rossi\"."))
    , invia(senzaValore(
          "invia", "Invia al server le prove che aspettano nel file della stazione e dice quante."))
    , riprova(senzaValore("riprova",
          "Con --invia, invia di nuovo anche le prove che il server aveva rifiutato e che "
          "erano state messe da parte."))
    , controllaArchivio(senzaValore("controlla-archivio",
          "Controlla l'integrità del file della stazione (quello di --archivio o il "
          "predefinito) e dice che cosa ha trovato."))
    , dal(conValore("dal", "Con --storico, --statistiche e --carta, le prove da questo giorno.",
          "AAAA-MM-GG"))
    , al(conValore("al",
          "Con --storico, --statistiche e --carta, le prove fino a questo giorno "
          "compreso.",
          "AAAA-MM-GG"))
    , esito(conValore("esito",
          "Con --storico, --statistiche e --carta, le prove con questo esito: conforme, \"non "
          "conforme\", "
          "\"senza risposta\", errore, interrotta.",
          "ESITO"))
    , posto(conValore("posto",
          "Con --storico, --statistiche e --carta, le prove lette a quel posto "
          "dell'attrezzatura.",
          "NOME"))
    , nomeBanco(conValore("nome-banco",
          "Con --storico, --statistiche e --carta, le prove del file di banco con quel nome "
          "(per esempio linea3.banco).",
          "NOME"))
    , per(conValore("per",
          "Con --statistiche: le statistiche e le rese di ogni stazione, operatore, giorno o "
          "posto, un blocco ciascuno, poi il totale di tutte le prove scelte. Per esempio "
          "--statistiche --per giorno.",
          "stazione|operatore|giorno|posto"))
    , regole58(senzaValore("regole-5-8",
          "Con --carta e --statistiche, anche le regole da 5 a 8 delle carte di controllo, "
          "oltre a quelle da 1 a 4. Per esempio --carta Temperatura --regole-5-8."))
    , verifica(conValore("verifica",
          "Ricalcola l'impronta della prova dal file della stazione e, se c'è, dal server, la "
          "stampa e dice se ogni copia è uguale a quella registrata alla fine della prova.",
          "UUID"))
    , pdf(conValore("pdf",
          "Scrive il rapporto PDF della prova nella cartella corrente, o in --uscita.", "UUID"))
    , uscita(conValore("uscita", "Con --pdf, il file del rapporto.", "FILE"))
    , ristampa(conValore("ristampa",
          "Manda di nuovo alla sua stampante l'ultima etichetta stampata per la prova, "
          "identica, e registra la ristampa.",
          "UUID"))
{ }

QList<QCommandLineOption> TabellaOpzioni::tutte() const
{
    return {aiuto, versione, porta, baud, indirizzo, comando, memoria, ripeti, intervallo, formato,
        traffico, fermatiAlPrimoErrore, banco, rapporto, unita, operatore, stazione, senzaArchivio,
        senzaCampioni, archivio, cerca, prima, storico, letture, campioni, statistiche, carta,
        fissa, invia, riprova, controllaArchivio, verifica, pdf, uscita, ristampa, dal, al, esito,
        posto, nomeBanco, per, regole58};
}

std::optional<Opzioni> leggiOpzioni(const QStringList &argomenti)
{
    const TabellaOpzioni t;
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kDescrizione));
    parser.addOptions(t.tutte());

    if (!parser.parse(argomenti)) {
        const QStringList sconosciute = parser.unknownOptionNames();
        errore(sconosciute.isEmpty()
                ? QStringLiteral("opzione senza valore o non valida (%1)").arg(parser.errorText())
                : QStringLiteral("opzione sconosciuta: %1").arg(sconosciute.join(u' ')));
        errore(QStringLiteral("vedere banco-richiesta --help."));
        return {};
    }
    if (parser.isSet(t.aiuto)) {
        std::fputs(
            qUtf8Printable(aiutoInItaliano(parser) + QString::fromUtf8(kStatiDiUscita)), stdout);
        std::exit(0);
    }
    if (parser.isSet(t.versione)) {
        std::printf("banco-richiesta %s\n", qUtf8Printable(QCoreApplication::applicationVersion()));
        std::exit(0);
    }
    if (!parser.positionalArguments().isEmpty()) {
        errore(QStringLiteral("argomento inatteso: %1; i valori vanno dopo le opzioni, per "
                              "esempio --porta 2.")
                   .arg(citaTesto(parser.positionalArguments().join(u' '))));
        return {};
    }

    Opzioni opzioni;
    const QString nomeFormato = parser.value(t.formato).toLower();
    if (nomeFormato == u"testo") {
        opzioni.formato = Formato::Testo;
    } else if (nomeFormato == u"csv") {
        opzioni.formato = Formato::Csv;
    } else if (nomeFormato == u"json") {
        opzioni.formato = Formato::Json;
    } else {
        errore(QStringLiteral("--formato: %1 non è un formato; scegliere testo, csv o json.")
                   .arg(citaTesto(parser.value(t.formato))));
        return {};
    }
    if (parser.isSet(t.storico) || parser.isSet(t.statistiche) || parser.isSet(t.carta)
        || parser.isSet(t.invia) || parser.isSet(t.controllaArchivio) || parser.isSet(t.verifica)
        || parser.isSet(t.pdf) || parser.isSet(t.ristampa))
        return leggiInterrogazione(t, parser, opzioni) ? std::optional(opzioni) : std::nullopt;
    if (rifiutaSeImpostata(parser, {&t.letture, &t.dal, &t.al, &t.esito, &t.posto, &t.nomeBanco},
            "--%1 vale solo con --storico, --statistiche o --carta."))
        return {};
    if (rifiutaSeImpostata(parser, {&t.campioni}, "--%1 vale solo con --storico."))
        return {};
    if (rifiutaSeImpostata(parser, {&t.per}, "--%1 vale solo con --statistiche."))
        return {};
    if (rifiutaSeImpostata(parser, {&t.regole58}, "--%1 vale solo con --carta o --statistiche."))
        return {};
    if (rifiutaSeImpostata(parser, {&t.fissa}, "--%1 vale solo con --carta RIGA."))
        return {};
    if (rifiutaSeImpostata(parser, {&t.riprova}, "--%1 vale solo con --invia."))
        return {};
    if (rifiutaSeImpostata(parser, {&t.uscita}, "--%1 vale solo con --pdf UUID."))
        return {};

    QString testoPorta = parser.value(t.porta);
    if (testoPorta.contains(u'/') || testoPorta.contains(u'\\')) {
        opzioni.dispositivo = testoPorta;
        testoPorta = QStringLiteral("1");
    }
#ifdef Q_OS_WIN
    if (testoPorta.startsWith(QStringLiteral("COM"), Qt::CaseInsensitive))
        testoPorta = testoPorta.mid(3);
#endif
    opzioni.testi = t.iniziali;
    opzioni.testi[Campo::Combo1] = testoPorta;
    opzioni.testi[Campo::Combo2] = parser.value(t.baud);
    opzioni.testi[Campo::Combo5] = parser.value(t.indirizzo);
    opzioni.testi[Campo::ComboComando] = parser.value(t.comando);
    opzioni.testi[Campo::ComboIndirizzo] = parser.value(t.memoria);
    if (!numeroIntero(parser.value(t.ripeti), 1'000'000'000, opzioni.ripetizioni)) {
        errore(QStringLiteral("--ripeti: %1 non è un numero di richieste (0 per continuare "
                              "fino a Ctrl+C).")
                   .arg(citaTesto(parser.value(t.ripeti))));
        return {};
    }
    if (!numeroIntero(parser.value(t.intervallo), 86'400'000, opzioni.intervalloMs)) {
        errore(QStringLiteral("--intervallo: %1 non è un numero di millisecondi da 0 a "
                              "86400000.")
                   .arg(citaTesto(parser.value(t.intervallo))));
        return {};
    }
    opzioni.traffico = parser.isSet(t.traffico);
    opzioni.fermatiAlPrimoErrore = parser.isSet(t.fermatiAlPrimoErrore);
    opzioni.unita = parser.value(t.unita);

    if (parser.isSet(t.prima) && !parser.isSet(t.cerca)) {
        errore(QStringLiteral("--prima vale solo con --cerca."));
        return {};
    }
    if (parser.isSet(t.cerca))
        return leggiRicerca(t, parser, opzioni) ? std::optional(opzioni) : std::nullopt;
    if (parser.isSet(t.banco)) {
        if (!leggiBanco(t, parser, opzioni))
            return {};
    } else if (rifiutaSeImpostata(parser,
                   {&t.rapporto, &t.operatore, &t.stazione, &t.senzaArchivio, &t.senzaCampioni,
                       &t.archivio},
                   "--%1 vale solo con --banco FILE.")) {
        return {};
    }

    // A text the request could not use is an option like any other: refused before anything
    // is sent or printed, so that standard output holds readings only.
    try {
        Module2::verifica(PannelloDiTesti(opzioni.testi));
    } catch (const Errore &rifiutato) {
        errore(
            QStringLiteral("errore %1: %2").arg(rifiutato.numero()).arg(rifiutato.descrizione()));
        return {};
    }
    return opzioni;
}

} // namespace RigaDiComando
