#include "richiesta_da_riga.h"

#include "aiuto_italiano.h"
#include "componente_seriale.h"
#include "errore.h"
#include "module2.h"
#include "porte.h"
#include "testi_traffico.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <tuple>

namespace RigaDiComando {
namespace {

const char kDescrizione[]
    = R"(Invia a uno strumento sulla linea seriale la richiesta del pannello di Banco Seriale,
con le stesse cinque fasi, le stesse pause e la stessa parità (pari per 0x55, dispari
per il resto), e stampa una riga per richiesta sull'uscita standard. Messaggi e
riassunto vanno sull'errore standard.

Porte: su Linux la porta N è il dispositivo della variabile BANCO_PORTAN (per esempio
BANCO_PORTA1=/dev/ttyUSB0), altrimenti la N-esima porta seriale del sistema; su Windows
è COMN. --porta accetta anche il percorso del dispositivo.)";

const char kStatiDiUscita[] = R"(
Stato di uscita:
  0  ogni richiesta ha avuto risposta
  1  almeno una richiesta è rimasta senza risposta
  2  opzione o valore non valido: nulla è stato inviato né stampato
  3  la porta non si apre o si è persa, anche per una sola delle richieste
     (senza --fermati-al-primo-errore la ripetizione la riprova a ogni richiesta)
  4  con --banco: ogni riga ha avuto risposta, ma almeno un valore è fuori dai
     limiti o diverso da quello atteso (1 e 3 prevalgono su 4)
Con --cerca: 0 se almeno una combinazione ha risposto, 1 se nessuna; 2 e 3 come sopra.
)";

void errore(const QString &messaggio)
{
    std::fprintf(stderr, "banco-richiesta: %s\n", qUtf8Printable(messaggio));
}

void stampa(const QString &riga)
{
    std::fputs(qUtf8Printable(riga + u'\n'), stdout);
    std::fflush(stdout);
}

bool numeroIntero(const QString &testo, int massimo, int &valore)
{
    bool ok = !testo.isEmpty() && testo.front().isDigit();
    valore = ok ? testo.toInt(&ok) : 0;
    return ok && valore <= massimo;
}

bool erroreDiPorta(int numero)
{
    return numero >= int(CodiceErrore::NessunDispositivo);
}

} // namespace

std::optional<Opzioni> leggiOpzioni(const QStringList &argomenti)
{
    const std::map<Campo, QString> iniziali = PannelloDiTesti::valoriIniziali();
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kDescrizione));
    const QCommandLineOption aiuto({"h", "help"}, QStringLiteral("Mostra questo aiuto."));
    const QCommandLineOption versione(
        QStringLiteral("version"), QStringLiteral("Mostra la versione."));
    const QCommandLineOption porta(QStringLiteral("porta"),
        QStringLiteral("Porta seriale: un numero o il percorso del dispositivo."),
        QStringLiteral("N"), iniziali.at(Campo::Combo1));
    const QCommandLineOption baud(QStringLiteral("baud"),
        QStringLiteral("Velocità, da 50 a 4000000."), QStringLiteral("BAUD"),
        iniziali.at(Campo::Combo2));
    const QCommandLineOption indirizzo(QStringLiteral("indirizzo"),
        QStringLiteral("Indirizzo dello strumento, da 0 a 65535."), QStringLiteral("N"),
        iniziali.at(Campo::Combo5));
    const QCommandLineOption comando(QStringLiteral("comando"),
        QStringLiteral("Lettura, \"Ripetizione ult. lettura\" o Scrittura, maiuscole e "
                       "minuscole indifferenti."),
        QStringLiteral("NOME"), iniziali.at(Campo::ComboComando));
    const QCommandLineOption memoria(QStringLiteral("memoria"),
        QStringLiteral("Indirizzo di memoria, da 1 a 4 cifre esadecimali."), QStringLiteral("HEX"),
        iniziali.at(Campo::ComboIndirizzo));
    const QCommandLineOption ripeti(QStringLiteral("ripeti"),
        QStringLiteral("Quante richieste; 0 finché non si preme Ctrl+C."), QStringLiteral("N"),
        QStringLiteral("1"));
    const QCommandLineOption intervallo(QStringLiteral("intervallo"),
        QStringLiteral("Millisecondi fra la fine di una richiesta e l'inizio della "
                       "successiva."),
        QStringLiteral("MS"), QStringLiteral("0"));
    const QCommandLineOption formato(QStringLiteral("formato"),
        QStringLiteral("testo, csv (con intestazione) o json (un oggetto per riga)."),
        QStringLiteral("FORMATO"), QStringLiteral("testo"));
    const QCommandLineOption traffico(QStringLiteral("traffico"),
        QStringLiteral("Stampa sull'errore standard il traffico di ogni richiesta: ogni byte "
                       "con istante, fase e impostazioni di linea."));
    const QCommandLineOption fermatiAlPrimoErrore(QStringLiteral("fermati-al-primo-errore"),
        QStringLiteral("Si ferma al primo errore. Senza, un errore viene contato e la "
                       "richiesta successiva riprova la porta, non prima di 100 ms."));
    const QCommandLineOption banco(QStringLiteral("banco"),
        QStringLiteral("Legge le righe del file di banco, una volta per giro, invece di una sola "
                       "richiesta; --porta e --baud prevalgono sulla linea del file, --ripeti "
                       "conta i giri e --intervallo è la pausa fra un giro e l'altro."),
        QStringLiteral("FILE.banco"));
    const QCommandLineOption rapporto(QStringLiteral("rapporto"),
        QStringLiteral("Con --banco, scrive un rapporto JUnit XML: un testsuite per giro, un "
                       "testcase per riga."),
        QStringLiteral("FILE.xml"));
    const QCommandLineOption unita(QStringLiteral("unita"),
        QStringLiteral("L'unità in prova (per esempio il numero di serie), riportata in ogni "
                       "riga e nel rapporto."),
        QStringLiteral("TESTO"));
    const QCommandLineOption cerca(QStringLiteral("cerca"),
        QStringLiteral("Cerca lo strumento: prova una lettura a ogni velocità di --baud (un "
                       "elenco, per esempio 9600,19200; senza, tutte quelle del pannello e poi "
                       "57600 e 115200, 9600 per prima) con ogni indirizzo di --indirizzo (un "
                       "intervallo, per esempio "
                       "0-31; senza, 0-15) e stampa una riga per combinazione che risponde."));
    const QCommandLineOption prima(QStringLiteral("prima"),
        QStringLiteral("Con --cerca, si ferma alla prima combinazione che risponde."));
    parser.addOptions({aiuto, versione, porta, baud, indirizzo, comando, memoria, ripeti,
        intervallo, formato, traffico, fermatiAlPrimoErrore, banco, rapporto, unita, cerca, prima});

    if (!parser.parse(argomenti)) {
        const QStringList sconosciute = parser.unknownOptionNames();
        errore(sconosciute.isEmpty()
                ? QStringLiteral("opzione senza valore o non valida (%1)").arg(parser.errorText())
                : QStringLiteral("opzione sconosciuta: %1").arg(sconosciute.join(u' ')));
        errore(QStringLiteral("vedere banco-richiesta --help."));
        return {};
    }
    if (parser.isSet(aiuto)) {
        std::fputs(qUtf8Printable(aiutoInItaliano(parser) + QString::fromUtf8(kStatiDiUscita)), stdout);
        std::exit(0);
    }
    if (parser.isSet(versione)) {
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
    QString testoPorta = parser.value(porta);
    if (testoPorta.contains(u'/') || testoPorta.contains(u'\\')) {
        opzioni.dispositivo = testoPorta;
        testoPorta = QStringLiteral("1");
    }
#ifdef Q_OS_WIN
    if (testoPorta.startsWith(QStringLiteral("COM"), Qt::CaseInsensitive))
        testoPorta = testoPorta.mid(3);
#endif
    opzioni.testi = iniziali;
    opzioni.testi[Campo::Combo1] = testoPorta;
    opzioni.testi[Campo::Combo2] = parser.value(baud);
    opzioni.testi[Campo::Combo5] = parser.value(indirizzo);
    opzioni.testi[Campo::ComboComando] = parser.value(comando);
    opzioni.testi[Campo::ComboIndirizzo] = parser.value(memoria);
    if (!numeroIntero(parser.value(ripeti), 1'000'000'000, opzioni.ripetizioni)) {
        errore(QStringLiteral("--ripeti: %1 non è un numero di richieste (0 per continuare "
                              "fino a Ctrl+C).")
                   .arg(citaTesto(parser.value(ripeti))));
        return {};
    }
    if (!numeroIntero(parser.value(intervallo), 86'400'000, opzioni.intervalloMs)) {
        errore(QStringLiteral("--intervallo: %1 non è un numero di millisecondi da 0 a "
                              "86400000.")
                   .arg(citaTesto(parser.value(intervallo))));
        return {};
    }
    const QString nomeFormato = parser.value(formato).toLower();
    if (nomeFormato == u"testo") {
        opzioni.formato = Formato::Testo;
    } else if (nomeFormato == u"csv") {
        opzioni.formato = Formato::Csv;
    } else if (nomeFormato == u"json") {
        opzioni.formato = Formato::Json;
    } else {
        errore(QStringLiteral("--formato: %1 non è un formato; scegliere testo, csv o json.")
                   .arg(citaTesto(parser.value(formato))));
        return {};
    }
    opzioni.traffico = parser.isSet(traffico);
    opzioni.fermatiAlPrimoErrore = parser.isSet(fermatiAlPrimoErrore);
    opzioni.unita = parser.value(unita);

    // The first of opzioni that is set, refused with perche (its name in place of %1).
    const auto impostata = [&](std::initializer_list<const QCommandLineOption *> opzioni,
                               const char *perche) {
        for (const QCommandLineOption *opzione : opzioni) {
            if (parser.isSet(*opzione)) {
                errore(QString::fromUtf8(perche).arg(opzione->names().front()));
                return true;
            }
        }
        return false;
    };
    if (parser.isSet(prima) && !parser.isSet(cerca)) {
        errore(QStringLiteral("--prima vale solo con --cerca."));
        return {};
    }
    if (parser.isSet(cerca)) {
        if (impostata({&comando, &ripeti, &intervallo, &banco, &rapporto},
                "--%1 non vale con --cerca: ogni prova è una lettura sola; togliere l'opzione."))
            return {};
        QString motivo;
        RicercaStrumento::Impostazioni ricerca;
        const std::optional<QStringList> elenco = parser.isSet(baud)
            ? RicercaStrumento::leggiBaud(parser.value(baud), &motivo)
            : RicercaStrumento::ordineDeiBaud(
                RicercaStrumento::velocitaProposte(PannelloDiTesti::elencoBaud()),
                iniziali.at(Campo::Combo2));
        const auto intervallo = RicercaStrumento::leggiIndirizzi(
            parser.isSet(indirizzo) ? parser.value(indirizzo) : QStringLiteral("0-15"), &motivo);
        if (elenco && elenco->isEmpty())
            motivo = QStringLiteral("--baud: nessuna velocità da provare.");
        if (!elenco || elenco->isEmpty() || !intervallo) {
            errore(motivo);
            return {};
        }
        ricerca.baud = *elenco;
        std::tie(ricerca.primo, ricerca.ultimo) = *intervallo;
        ricerca.porta = testoPorta;
        ricerca.memoria = parser.value(memoria);
        ricerca.fermatiAllaPrima = parser.isSet(prima);
        motivo = RicercaStrumento::verifica(ricerca);
        if (!motivo.isEmpty()) {
            errore(motivo);
            return {};
        }
        opzioni.ricerca = ricerca;
        return opzioni;
    }

    if (parser.isSet(banco)) {
        if (impostata({&indirizzo, &comando, &memoria},
                "--%1: con --banco strumento e memoria vengono dalle righe del file; togliere "
                "l'opzione."))
            return {};
        QString motivo;
        opzioni.banco = FileBanco::carica(parser.value(banco), &motivo);
        if (!opzioni.banco) {
            errore(motivo);
            return {};
        }
        if (opzioni.banco->righe.isEmpty()) {
            errore(
                QStringLiteral("%1: il banco non ha righe da leggere.").arg(parser.value(banco)));
            return {};
        }
        // The file's line, unless the options name another.
        if (!parser.isSet(porta)) {
            testoPorta = opzioni.banco->porta;
            opzioni.testi[Campo::Combo1] = FileBanco::testoPorta(testoPorta);
        }
        if (!parser.isSet(baud))
            opzioni.testi[Campo::Combo2] = QString::number(opzioni.banco->baud);
        opzioni.banco->porta = parser.isSet(porta)
            ? (opzioni.dispositivo.isEmpty() ? opzioni.testi[Campo::Combo1] : opzioni.dispositivo)
            : testoPorta;
        opzioni.banco->baud = opzioni.testi[Campo::Combo2].toInt();
        opzioni.rapporto = parser.value(rapporto);
    } else if (parser.isSet(rapporto)) {
        errore(QStringLiteral("--rapporto vale solo con --banco FILE."));
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

QString intestazione(Formato formato)
{
    if (formato != Formato::Csv)
        return {};
    return QString::fromUtf8(
        TestiTraffico::lineaCsv(TestiTraffico::intestazioneCsvRisultati()).chopped(2));
}

QString intestazioneBanco(Formato formato)
{
    if (formato != Formato::Csv)
        return {};
    return QString::fromUtf8(
        TestiTraffico::lineaCsv({"unita_in_prova", "giro", "nome", "strumento", "memoria", "parola",
                                    "valore", "unita", "stato", "inizio", "latenza_ms"})
            .chopped(2));
}

QString rigaBanco(Formato formato, const QString &unita, qint64 giro, const RigaBanco &riga,
    const QString &stato, const RisultatoRichiesta &r)
{
    const bool letta = r.esito == RisultatoRichiesta::Esito::Risposta && r.valore;
    const QString parola
        = letta ? parolaEsadecimale(*r.valore) : QString();
    const QString valore = letta ? riga.valore(*r.valore) : QString();
    const QString latenza
        = r.latenzaUs ? QString::number(*r.latenzaUs / 1000.0, 'f', 3) : QString();
    switch (formato) {
    case Formato::Testo: {
        QString testo = unita.isEmpty() ? QString() : QStringLiteral("unità %1; ").arg(unita);
        return testo
            + QStringLiteral("giro %1; %2; strumento %3; memoria %4; parola %5; valore %6; %7")
                  .arg(giro + 1)
                  .arg(riga.nomeMostrato())
                  .arg(riga.strumento)
                  .arg(riga.testoMemoria(), letta ? parola : QStringLiteral("-"),
                      letta ? riga.valoreConUnita(*r.valore) : QStringLiteral("-"), stato);
    }
    case Formato::Csv:
        return QString::fromUtf8(TestiTraffico::lineaCsv(
            {unita, QString::number(giro + 1), riga.nomeMostrato(), QString::number(riga.strumento),
                riga.testoMemoria(), parola, valore, riga.unita, stato,
                r.inizio.toString(Qt::ISODateWithMs), latenza})
                                     .chopped(2));
    case Formato::Json:
        break;
    }
    const QJsonObject oggetto{
        {"unita_in_prova", unita.isEmpty() ? QJsonValue() : QJsonValue(unita)},
        {"giro", double(giro + 1)},
        {"nome", riga.nomeMostrato()},
        {"strumento", double(riga.strumento)},
        {"memoria", riga.testoMemoria()},
        {"parola", letta ? QJsonValue(parola) : QJsonValue()},
        {"valore", letta ? QJsonValue(riga.comeNumero(*r.valore)) : QJsonValue()},
        {"valore_mostrato", letta ? QJsonValue(riga.valoreConUnita(*r.valore)) : QJsonValue()},
        {"unita", riga.unita},
        {"stato", stato},
        {"inizio", r.inizio.toString(Qt::ISODateWithMs)},
        {"latenza_ms", r.latenzaUs ? QJsonValue(*r.latenzaUs / 1000.0) : QJsonValue()},
    };
    return QString::fromUtf8(QJsonDocument(oggetto).toJson(QJsonDocument::Compact));
}

QString intestazioneRicerca(Formato formato)
{
    if (formato != Formato::Csv)
        return {};
    return QString::fromUtf8(
        TestiTraffico::lineaCsv(RicercaStrumento::intestazioneCsv()).chopped(2));
}

QString rigaRicerca(Formato formato, const RicercaStrumento::Trovato &t)
{
    const QStringList colonne = RicercaStrumento::colonneCsv(t);
    switch (formato) {
    case Formato::Testo:
        return QStringLiteral("baud %1; indirizzo %2; ricevuti: %3; valore: %4; latenza: %5 ms")
            .arg(colonne[0], colonne[1], colonne[2],
                colonne[3].isEmpty() ? QStringLiteral("-") : colonne[3], colonne[4]);
    case Formato::Csv:
        return QString::fromUtf8(TestiTraffico::lineaCsv(colonne).chopped(2));
    case Formato::Json:
        break;
    }
    const QJsonObject oggetto{
        {"baud", t.baud.toInt()},
        {"indirizzo", t.indirizzo},
        {"ricevuti", colonne[2]},
        {"valore", t.valore ? QJsonValue(*t.valore) : QJsonValue()},
        {"latenza_ms", t.latenzaUs ? QJsonValue(*t.latenzaUs / 1000.0) : QJsonValue()},
    };
    return QString::fromUtf8(QJsonDocument(oggetto).toJson(QJsonDocument::Compact));
}

QString riga(Formato formato, const RisultatoRichiesta &r)
{
    switch (formato) {
    case Formato::Testo:
        return QStringLiteral("ricevuti: %1; valore: %2; esito: %3; latenza: %4")
            .arg(r.numeroRicevuti ? TestiTraffico::esadecimale(r.ricevuti) : QStringLiteral("-"),
                r.valore ? QString::number(*r.valore) : QStringLiteral("-"), r.testoEsito(),
                r.latenzaUs ? QStringLiteral("%1 ms").arg(*r.latenzaUs / 1000.0, 0, 'f', 3)
                            : QStringLiteral("-"));
    case Formato::Csv:
        return QString::fromUtf8(
            TestiTraffico::lineaCsv(TestiTraffico::rigaCsvRisultato(r)).chopped(2));
    case Formato::Json:
        break;
    }
    QJsonObject testi;
    const char *nomi[] = {"porta", "baud", "indirizzo", "comando", "memoria"};
    for (size_t i = 0; i < r.testi.size(); ++i)
        testi.insert(QLatin1String(nomi[i]), r.testi[i]);
    const auto oNulla
        = [](const auto &valore) { return valore ? QJsonValue(double(*valore)) : QJsonValue(); };
    const QJsonObject oggetto{
        {"richiesta", double(r.numero)},
        {"inizio", r.inizio.toString(Qt::ISODateWithMs)},
        {"porta", r.porta ? QJsonValue(r.porta) : QJsonValue()},
        {"dispositivo", r.dispositivo},
        {"testi", testi},
        {"inviati", TestiTraffico::esadecimale(r.inviati)},
        {"ricevuti", TestiTraffico::esadecimale(r.ricevuti)},
        {"numero_ricevuti", double(r.numeroRicevuti)},
        {"valore", oNulla(r.valore)},
        {"esito", r.testoEsito()},
        {"errore", r.errore ? QJsonValue(r.errore) : QJsonValue()},
        {"latenza_us", oNulla(r.latenzaUs)},
        {"durata_us", double(r.durataUs)},
    };
    return QString::fromUtf8(QJsonDocument(oggetto).toJson(QJsonDocument::Compact));
}

Ripetizione::Ripetizione(const Opzioni &opzioni, QObject *parent)
    : QObject(parent)
    , m_opzioni(opzioni)
    , m_pannello(opzioni.testi)
    , m_sequenziatore(m_pannello, m_comm)
    , m_ripetizione(m_sequenziatore, m_registro, QStringLiteral("banco-richiesta"))
{
    m_comm.setRegistro(&m_registro);
    m_sequenziatore.setRegistro(&m_registro);
    connect(&m_ripetizione, &RipetizioneRichieste::risultato, this,
        [this](qint64, const RisultatoRichiesta &risultato) { stampaRisultato(risultato); });
    connect(&m_sequenziatore, &Sequenziatore::errore, this, &Ripetizione::segnalaErrore);
    if (!opzioni.dispositivo.isEmpty())
        Porte::assegna(1, opzioni.dispositivo);
    if (opzioni.ricerca) {
        m_ricerca = std::make_unique<RicercaStrumento>(m_sequenziatore, m_registro);
        connect(m_ricerca.get(), &RicercaStrumento::trovato, this,
            [this](const RicercaStrumento::Trovato &trovato) {
                stampa(rigaRicerca(m_opzioni.formato, trovato));
            });
        connect(m_ricerca.get(), &RicercaStrumento::provata, this, [this] { stampaTraffico(); });
    }
    if (!opzioni.banco)
        return;
    m_modello.imposta(*opzioni.banco);
    m_lettura = std::make_unique<LetturaTabella>(m_modello, m_sequenziatore, m_registro);
    connect(m_lettura.get(), &LetturaTabella::letta, this, &Ripetizione::stampaLettura);
    QList<std::pair<QString, QString>> proprieta{{QStringLiteral("porta"), opzioni.banco->porta},
        {QStringLiteral("baud"), QString::number(opzioni.banco->baud)},
        {QStringLiteral("impostazioni"),
            QStringLiteral("%1 8E1 per 0x55, %1 8O1 per il resto").arg(opzioni.banco->baud)}};
    if (!opzioni.unita.isEmpty())
        proprieta.append({QStringLiteral("unita"), opzioni.unita});
    m_rapporto = std::make_unique<RapportoJUnit>(m_modello, proprieta);
}

void Ripetizione::fermati()
{
    m_interrotta = true;
    motore().fermaDopoLaRichiesta();
}

int Ripetizione::esegui()
{
    if (m_opzioni.formato == Formato::Csv)
        stampa(m_ricerca    ? intestazioneRicerca(Formato::Csv)
                : m_lettura ? intestazioneBanco(Formato::Csv)
                            : intestazione(Formato::Csv));
    int errore = 0;
    QEventLoop ciclo;
    connect(&motore(), &RipetizioneRichieste::terminata, &ciclo, [&](int numero) {
        errore = numero;
        ciclo.quit();
    });
    m_primoEvento = m_registro.fineAssoluta();
    if (m_ricerca)
        m_ricerca->avvia(*m_opzioni.ricerca);
    else if (m_lettura)
        m_lettura->avvia(
            m_opzioni.ripetizioni, m_opzioni.intervalloMs, m_opzioni.fermatiAlPrimoErrore);
    else
        m_ripetizione.avvia(
            {m_opzioni.intervalloMs, m_opzioni.ripetizioni, m_opzioni.fermatiAlPrimoErrore, 1, {}});
    ciclo.exec();

    try {
        m_comm.setPortOpen(false);
    } catch (const Errore &chiusura) {
        RigaDiComando::errore(
            QStringLiteral("errore %1: %2").arg(chiusura.numero()).arg(chiusura.descrizione()));
        errore = chiusura.numero();
    }
    if (m_ricerca)
        return uscitaDellaRicerca(errore);
    const StatisticheRipetizione &s = motore().statistiche();
    if (m_opzioni.ripetizioni != 1 || s.inviate() != 1)
        stampaRiassunto();
    if (m_lettura)
        return uscitaDelBanco(errore);
    const auto &errori = s.erroriPerNumero();
    if (erroreDiPorta(errore)
        || std::any_of(errori.begin(), errori.end(),
            [](const auto &numeroEQuante) { return erroreDiPorta(numeroEQuante.first); }))
        return PortaNonDisponibile;
    if (errore)
        return OpzioneNonValida;
    return s.senzaRisposta() > 0 ? SenzaRisposta : TutteRisposte;
}

// Each error on standard error as it happens; the same one again only once another result came
// between, so that an unplugged adapter tried again and again does not flood the terminal.
// Port errors first, then a row without a good answer, then a value out of its limits.
int Ripetizione::uscitaDelBanco(int errore)
{
    if (!m_opzioni.rapporto.isEmpty()) {
        QString motivo;
        if (!m_rapporto->scrivi(m_opzioni.rapporto, m_interrotta, &motivo)) {
            RigaDiComando::errore(motivo);
            errore = errore ? errore : int(CodiceErrore::ScritturaNonRiuscita);
        }
    }
    const StatisticheRipetizione &s = motore().statistiche();
    const auto &errori = s.erroriPerNumero();
    if (erroreDiPorta(errore)
        || std::any_of(errori.begin(), errori.end(),
            [](const auto &numeroEQuante) { return erroreDiPorta(numeroEQuante.first); }))
        return PortaNonDisponibile;
    if (errore || s.senzaRisposta() > 0 || s.errori() > 0)
        return SenzaRisposta;
    if (m_rapporto->fuoriDaiLimiti() > 0) {
        RigaDiComando::errore(QStringLiteral("%1 letture fuori dai limiti o diverse dal valore "
                                             "atteso.")
                                  .arg(m_rapporto->fuoriDaiLimiti()));
        return FuoriDaiLimiti;
    }
    return TutteRisposte;
}

int Ripetizione::uscitaDellaRicerca(int errore)
{
    const StatisticheRipetizione &s = motore().statistiche();
    QString riassunto = QStringLiteral("%1 prove di %2 in %3 s: %4 con risposta, %5 senza risposta")
                            .arg(m_ricerca->fatte())
                            .arg(m_ricerca->totale())
                            .arg(s.trascorsoMs() / 1000.0, 0, 'f', 1)
                            .arg(m_ricerca->trovati().size())
                            .arg(m_ricerca->senzaRisposta());
    if (m_ricerca->conErrore() > 0)
        riassunto += QStringLiteral(", %1 con errore").arg(m_ricerca->conErrore());
    RigaDiComando::errore(
        riassunto + (m_interrotta ? QStringLiteral("; interrotta.") : QStringLiteral(".")));
    if (erroreDiPorta(errore))
        return PortaNonDisponibile;
    if (!m_ricerca->trovati().isEmpty())
        return TutteRisposte;
    return errore ? OpzioneNonValida : SenzaRisposta;
}

void Ripetizione::segnalaErrore(int numero, const QString &descrizione)
{
    m_descrizioneErrore = descrizione;
    m_portaPersa = erroreDiPorta(numero);
    const QString messaggio = QStringLiteral("errore %1: %2").arg(numero).arg(descrizione);
    if (messaggio != m_ultimoErrore)
        RigaDiComando::errore(messaggio);
    m_ultimoErrore = messaggio;
}

void Ripetizione::dopoIlRisultato(const RisultatoRichiesta &risultato)
{
    if (risultato.errore != 0 || risultato.esito == RisultatoRichiesta::Esito::Interrotta)
        return;
    m_ultimoErrore.clear();
    if (!m_portaPersa)
        return;
    m_portaPersa = false;
    RigaDiComando::errore(QStringLiteral("il dispositivo %1 risponde di nuovo: si riprende.")
                              .arg(risultato.dispositivo));
}

void Ripetizione::stampaRisultato(const RisultatoRichiesta &risultato)
{
    dopoIlRisultato(risultato);
    stampa(riga(m_opzioni.formato, risultato));
    stampaTraffico();
}

void Ripetizione::stampaLettura(qint64 giro, int n, const RisultatoRichiesta &risultato)
{
    if (risultato.esito == RisultatoRichiesta::Esito::Interrotta)
        return;
    dopoIlRisultato(risultato);
    m_rapporto->aggiungi(giro, n, risultato, risultato.errore ? m_descrizioneErrore : QString());
    stampa(rigaBanco(m_opzioni.formato, m_opzioni.unita, giro, m_modello.riga(n),
        m_modello.testoStato(n), risultato));
    stampaTraffico();
}

void Ripetizione::stampaTraffico()
{
    if (!m_opzioni.traffico)
        return;
    const quint64 primo = std::max(m_primoEvento, m_registro.primoAssoluto());
    for (quint64 assoluto = primo; assoluto < m_registro.fineAssoluta(); ++assoluto) {
        const RegistroTraffico::Evento &e
            = m_registro.evento(qsizetype(assoluto - m_registro.primoAssoluto()));
        QStringList colonne;
        for (int c = 0; c < TestiTraffico::NumeroColonne; ++c)
            colonne << TestiTraffico::colonna(m_registro, e, c);
        std::fprintf(stderr, "%s\n", qUtf8Printable(colonne.join(u'\t')));
    }
    m_primoEvento = m_registro.fineAssoluta();
}

void Ripetizione::stampaRiassunto()
{
    const StatisticheRipetizione &s = motore().statistiche();
    QString riassunto = QStringLiteral("%1 richieste: %2 con risposta, %3 senza risposta, %4 "
                                       "con errore")
                            .arg(s.inviate())
                            .arg(s.risposte())
                            .arg(s.senzaRisposta())
                            .arg(s.errori());
    if (s.risposte() > 0) {
        riassunto += QStringLiteral("; latenza minima %1, media %2, massima %3 ms")
                         .arg(*s.latenzaMinimaUs() / 1000.0, 0, 'f', 3)
                         .arg(*s.latenzaMediaUs() / 1000.0, 0, 'f', 3)
                         .arg(*s.latenzaMassimaUs() / 1000.0, 0, 'f', 3);
    }
    errore(riassunto + u'.');
}

} // namespace RigaDiComando
