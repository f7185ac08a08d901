#include "bench_tracciabilita.h"

#include "archivio.h"
#include "bench_archivio.h"
#include "collaudo.h"
#include "destinazione.h"
#include "finestra_collaudo.h"
#include "finestra_principale.h"
#include "processo.h"
#include "rapporto.h"
#include "scrittore_rapporti.h"
#include "tracciabilita.h"

#include <QCryptographicHash>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QJsonObject>
#include <QJsonValue>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSet>
#include <QSqlDatabase>
#include <QStorageInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>

#include <random>

using namespace Misure;

namespace {

constexpr int kRapportiSoli = 10;
constexpr int kLettureSolo = 100;
constexpr int kRapportiInFila = 1000;
constexpr int kLettureInFila = 20;
constexpr int kProveEtichette = 1000;
constexpr int kUnitaPerFinestra = 7;

// A label much as a line prints one: the unit written and as a barcode, the outcome, when, and
// the run, which the printer stand-in reads back to tell the labels apart.
const char kModello[] = R"(^XA
^PW812
^LL406
^FO30,25^A0N,34,34^FDMatricola {unita}^FS
^FO30,70^BY2^BCN,90,Y,N,N^FD{unita}^FS
^FO560,25^A0N,40,40^FD{esito}^FS
^FO30,210^A0N,26,26^FDProvata il {data} alle {ora}, tentativo {tentativo}^FS
^FO30,245^A0N,26,26^FDBanco {banco}, posto {posto}^FS
^FO30,280^A0N,26,26^FDStazione {stazione}, operatore {operatore}^FS
^FO30,330^A0N,20,20^FDProva {prova}^FS
^XZ
)";


bool scriviFile(const QString &percorso, const QByteArray &dati)
{
    QFile file(percorso);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(dati) == dati.size();
}

// Processor time of the children reaped so far, ms.
double processoreFigliMs()
{
    rusage uso{};
    getrusage(RUSAGE_CHILDREN, &uso);
    return (uso.ru_utime.tv_sec + uso.ru_stime.tv_sec) * 1e3
        + (uso.ru_utime.tv_usec + uso.ru_stime.tv_usec) / 1e3;
}

QString caricoMedio()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("—");
    const QList<QByteArray> campi = file.readAll().split(' ');
    return campi.size() >= 3
        ? QString::fromLatin1(campi[0] + ' ' + campi[1] + ' ' + campi[2]).replace(u'.', u',')
        : QStringLiteral("—");
}

QString cifre(double valore, int decimali = 1)
{
    return QString::number(valore, 'f', decimali);
}

// An environment variable changed for a while, then put back as it was.
class VariabileProvvisoria
{
public:
    VariabileProvvisoria(const char *nome, const std::optional<QByteArray> &valore)
        : m_nome(nome)
        , m_prima(qEnvironmentVariableIsSet(nome) ? std::optional(qgetenv(nome)) : std::nullopt)
    {
        if (valore)
            qputenv(nome, *valore);
        else
            qunsetenv(nome);
    }
    ~VariabileProvvisoria()
    {
        if (m_prima)
            qputenv(m_nome, *m_prima);
        else
            qunsetenv(m_nome);
    }
    VariabileProvvisoria(const VariabileProvvisoria &) = delete;
    VariabileProvvisoria &operator=(const VariabileProvvisoria &) = delete;

private:
    const char *m_nome;
    std::optional<QByteArray> m_prima;
};

// A network label printer as the bench sees one: it takes each connection's bytes and answers
// nothing. Every connection's bytes are kept, to be counted at the end.
class StampanteFinta
{
public:
    StampanteFinta()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket *s = m_server.nextPendingConnection()) {
                const size_t i = m_ricevuti.size();
                m_ricevuti.emplace_back();
                QObject::connect(
                    s, &QTcpSocket::readyRead, s, [this, s, i] { m_ricevuti[i] += s->readAll(); });
                QObject::connect(s, &QTcpSocket::disconnected, s, [this, s, i] {
                    m_ricevuti[i] += s->readAll();
                    ++m_chiuse;
                    s->deleteLater();
                });
            }
        });
    }
    bool inAscolto() const { return m_server.isListening(); }
    QString indirizzo() const { return QStringLiteral("127.0.0.1:%1").arg(m_server.serverPort()); }
    int chiuse() const { return m_chiuse; }
    // Labels received, split at ^XZ, in all and by the run each names.
    int etichette(QHash<QString, int> *perProva = nullptr) const
    {
        static const QRegularExpression prova(
            QStringLiteral("Prova ([0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-"
                           "[0-9A-Fa-f]{12})"));
        int n = 0;
        for (const QByteArray &dati : m_ricevuti) {
            qsizetype da = 0;
            for (;;) {
                const qsizetype fine = dati.indexOf("^XZ", da);
                if (fine < 0)
                    break;
                ++n;
                if (perProva) {
                    const QRegularExpressionMatch m
                        = prova.match(QString::fromUtf8(dati.mid(da, fine - da)));
                    ++(*perProva)[m.hasMatch() ? m.captured(1).toLower() : QString()];
                }
                da = fine + 3;
            }
        }
        return n;
    }

private:
    std::vector<QByteArray> m_ricevuti; // by connection, in the order accepted
    int m_chiuse = 0;
    QTcpServer m_server; // last: its sockets go before what they write into
};

// A run as the station archives it, with n readings of a voltage within its limits.
ProvaCompleta provaPerRapporto(int numero, int letture)
{
    ProvaCompleta c;
    ProvaArchiviata &p = c.prova;
    p.uuid = nuovoUuid();
    p.stazione = QStringLiteral("linea3");
    p.operatore = QStringLiteral("Maria Rossi");
    p.unita = QStringLiteral("SN-%1").arg(numero, 6, 10, QLatin1Char('0'));
    p.tentativo = 1;
    p.banco = QStringLiteral("collaudo.banco");
    p.shaBanco = QString::fromLatin1(
        QCryptographicHash::hash(p.banco.toUtf8(), QCryptographicHash::Sha256).toHex());
    p.shaRighe = p.shaBanco;
    p.linea = QStringLiteral("/dev/ttyUSB0, 9600");
    p.inizio = QDateTime::currentDateTimeUtc();
    p.fine = p.inizio.addMSecs(letture * 500);
    p.esito = Esiti::kConforme;
    p.impronta = QString::fromLatin1(
        QCryptographicHash::hash(p.uuid.toUtf8(), QCryptographicHash::Sha256).toHex());
    for (int n = 0; n < letture; ++n) {
        LetturaArchiviata l;
        l.n = n;
        l.nome = QStringLiteral("Tensione %1").arg(n + 1);
        l.memoria = QStringLiteral("%1").arg(n + 8, 4, 16, QLatin1Char('0')).toUpper();
        l.unitaMisura = QStringLiteral("V");
        const double v = 230 + (n % 7) * 0.3;
        l.parola = int(v * 10);
        l.valore = v;
        l.valoreMostrato = QString::number(v, 'f', 1) + QStringLiteral(" V");
        l.minimo = 220;
        l.massimo = 240;
        l.stato = QStringLiteral("entro i limiti");
        l.latenzaMs = 12.5;
        l.istante = p.inizio.addMSecs(n * 500);
        c.letture.append(l);
    }
    return c;
}

bool unPdf(const QString &percorso, qint64 *dimensione = nullptr)
{
    QFile file(percorso);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    if (dimensione)
        *dimensione += file.size();
    return file.read(5) == "%PDF-";
}

// 1. Reports through banco-rapporto, as banco-richiesta writes them.
void misuraRapporti(Tabella &tabella)
{
    QTemporaryDir cartella;
    // Started by the station or the command line, banco-rapporto draws on Qt's offscreen
    // platform: the X server the benchmarks' windows need is not its own.
    const VariabileProvvisoria piattaforma("QT_QPA_PLATFORM", std::nullopt);
    QString errore;
    const QString programma = ScrittoreRapporti::programma(&errore);
    tabella.titolo(QStringLiteral("Rapporti PDF"));
    if (programma.isEmpty()) {
        tabella.nota(QStringLiteral("Non misurati: ") + errore);
        return;
    }

    std::vector<double> soli, processoreSoli;
    double primo = 0;
    bool scrittiSoli = true;
    for (int i = 0; i <= kRapportiSoli; ++i) {
        const QString pdf = cartella.filePath(QStringLiteral("solo-%1.pdf").arg(i));
        const QList<std::pair<QJsonObject, QString>> lavoro{
            {contenutoRapporto(provaPerRapporto(i, kLettureSolo)), pdf}};
        QStringList errori;
        const double processorePrima = processoreFigliMs();
        const qint64 inizio = monotonoNs();
        const bool scritto = ScrittoreRapporti::scriviSubito(lavoro, &errori);
        const double ms = (monotonoNs() - inizio) / 1e6;
        scrittiSoli = scrittiSoli && scritto && unPdf(pdf);
        // The first may find banco-rapporto, Qt and the font still on the disk.
        if (i == 0) {
            primo = ms;
            continue;
        }
        soli.push_back(ms);
        processoreSoli.push_back(processoreFigliMs() - processorePrima);
    }

    QList<std::pair<QJsonObject, QString>> lavori;
    const qint64 inizioContenuti = monotonoNs();
    for (int i = 0; i < kRapportiInFila; ++i)
        lavori.append({contenutoRapporto(provaPerRapporto(i, kLettureInFila)),
            cartella.filePath(QStringLiteral("fila-%1.pdf").arg(i, 4, 10, QLatin1Char('0')))});
    const double contenuti = (monotonoNs() - inizioContenuti) / 1e6;
    QStringList errori;
    const double processorePrima = processoreFigliMs();
    const qint64 inizio = monotonoNs();
    ScrittoreRapporti::scriviSubito(lavori, &errori, 600'000);
    const double totale = (monotonoNs() - inizio) / 1e9;
    const double processoreFila = (processoreFigliMs() - processorePrima) / 1e3;
    int scritti = 0;
    qint64 byte = 0;
    for (int i = 0; i < kRapportiInFila; ++i)
        scritti += errori.value(i, QStringLiteral("?")).isEmpty() && unPdf(lavori[i].second, &byte);

    const double massimo = *std::max_element(soli.begin(), soli.end());
    tabella.intestazione({QStringLiteral("Misura"), QStringLiteral("Mediana (min–max)"),
        QStringLiteral("Obiettivo"), QStringLiteral("Raggiunto")});
    tabella.riga({QStringLiteral("un rapporto di %1 letture con scriviSubito, avvio di "
                                 "banco-rapporto compreso (%2 volte), ms")
                      .arg(kLettureSolo)
                      .arg(soli.size()),
        mediana(soli), QStringLiteral("sotto 300 ms, il più lento compreso"),
        esito(massimo < 300)});
    tabella.riga({QStringLiteral("processore di banco-rapporto per quel rapporto, ms"),
        mediana(processoreSoli), QStringLiteral("—"), QStringLiteral("—")});
    tabella.riga({QStringLiteral("il primo, prima delle %1 volte contate, ms").arg(soli.size()),
        cifre(primo), QStringLiteral("—"), QStringLiteral("—")});
    tabella.riga({QStringLiteral("%1 rapporti di %2 letture con un solo banco-rapporto: in tutto, "
                                 "s")
                      .arg(kRapportiInFila)
                      .arg(kLettureInFila),
        cifre(totale), QStringLiteral("sotto 120 s"), esito(totale < 120)});
    tabella.riga({QStringLiteral("… per rapporto, ms"), cifre(totale * 1e3 / kRapportiInFila),
        QStringLiteral("—"), QStringLiteral("—")});
    tabella.riga({QStringLiteral("… processore di banco-rapporto in tutto, s"),
        cifre(processoreFila), QStringLiteral("—"), QStringLiteral("—")});
    tabella.nota(QStringLiteral("Rapporti scritti e letti come PDF: quelli da %1 letture %2; "
                                "quelli in fila %3 su %4 (%5 MiB in tutto). I contenuti dei %4 "
                                "rapporti costruiti prima, in %6 ms. banco-rapporto sulla "
                                "piattaforma offscreen, come lo avviano la stazione e la riga di "
                                "comando; i PDF su %7.")
                     .arg(kLettureSolo)
                     .arg(scrittiSoli ? QStringLiteral("tutti") : QStringLiteral("**non tutti**"))
                     .arg(scritti)
                     .arg(kRapportiInFila)
                     .arg(cifre(byte / 1048576.0))
                     .arg(cifre(contenuti, 0))
                     .arg(QString::fromLatin1(QStorageInfo(cartella.path()).fileSystemType())));
}

// 2. A thousand runs' labels, one after the other, to a printer stand-in.
void misuraEtichette(Tabella &tabella)
{
    tabella.titolo(QStringLiteral("Etichette di %1 prove di fila, a una stampante finta su "
                                  "127.0.0.1")
                       .arg(kProveEtichette));
    QTemporaryDir cartella;
    StampanteFinta stampante;
    QString errore;
    std::unique_ptr<Archivio> archivio
        = Archivio::apriLocale(cartella.filePath(QStringLiteral("stazione.sqlite")), &errore);
    if (!archivio || !stampante.inAscolto()) {
        tabella.nota(
            QStringLiteral("Non misurate: %1")
                .arg(archivio ? QStringLiteral("la stampante finta non ascolta") : errore));
        return;
    }
    // The runs ended and archived, about two in three conforming, five readings each.
    QStringList prove;
    QSet<QString> conformi;
    {
        QSqlDatabase db = archivio->database();
        db.transaction();
        for (int i = 0; i < kProveEtichette; ++i) {
            ProvaCompleta c = provaPerRapporto(i, 5);
            const bool conforme = i % 3 != 2;
            if (!conforme) {
                LetturaArchiviata &fuori = c.letture[2];
                fuori.stato = QStringLiteral("fuori dai limiti");
                fuori.giudizio = LetturaArchiviata::Giudizio::FuoriDaiLimiti;
                fuori.valore = 250;
                fuori.valoreMostrato = QStringLiteral("250.0 V");
            }
            c.prova.uuid.clear();
            archivio->iniziaProva(c.prova);
            for (const LetturaArchiviata &l : std::as_const(c.letture))
                archivio->registraLettura(c.prova.uuid, l);
            archivio->finisciProva(c.prova.uuid, conforme ? Esiti::kConforme : Esiti::kNonConforme);
            prove.append(c.prova.uuid);
            if (conforme)
                conformi.insert(c.prova.uuid.toLower());
        }
        db.commit();
    }

    const QString modello = cartella.filePath(QStringLiteral("etichetta.zpl"));
    scriviFile(modello, kModello);
    ConfigurazioneTracciabilita configurazione;
    configurazione.etichetta = ConfigurazioneEtichetta::leggi(
        QJsonObject{{QStringLiteral("modello"), QStringLiteral("etichetta.zpl")},
            {QStringLiteral("stampante"), stampante.indirizzo()}},
        cartella.path(), &errore);
    if (!configurazione.etichetta) {
        tabella.nota(QStringLiteral("Non misurate: ") + errore);
        return;
    }
    Tracciabilita tracciabilita(configurazione, [&] { return archivio.get(); });
    int segnalateBuone = 0, segnalateCattive = 0;
    QObject::connect(&tracciabilita, &Tracciabilita::etichetta,
        [&](const QString &, bool riuscita, const QString &, bool) {
            ++(riuscita ? segnalateBuone : segnalateCattive);
        });

    const qint64 inizio = monotonoNs();
    const double processoreInizio = processoreMs();
    for (const QString &uuid : std::as_const(prove))
        tracciabilita.provaFinita(uuid);
    const double chiamate = (monotonoNs() - inizio) / 1e6;
    const bool finite = tracciabilita.attendi(600'000);
    const double attese = (monotonoNs() - inizio) / 1e9;
    // The stand-in reads the last connection on the next turns of the event loop.
    attendi([&] { return stampante.chiuse() >= segnalateBuone; }, 10s);
    const double tutte = (monotonoNs() - inizio) / 1e9;
    const double processore = processoreMs() - processoreInizio;

    QHash<QString, int> ricevutePerProva;
    const int ricevute = stampante.etichette(&ricevutePerProva);
    int registrate = 0, registrateCattive = 0, perse = 0, doppie = 0, estranee = 0;
    for (const QString &uuid : std::as_const(prove)) {
        const std::optional<QList<StampaEtichetta>> stampe = archivio->stampe(uuid);
        int buone = 0;
        for (const StampaEtichetta &s : stampe.value_or(QList<StampaEtichetta>{})) {
            ++(s.riuscita ? buone : registrateCattive);
        }
        registrate += buone;
        const int arrivate = ricevutePerProva.value(uuid.toLower());
        if (conformi.contains(uuid.toLower())) {
            perse += arrivate == 0 || buone == 0;
            doppie += arrivate > 1 || buone > 1;
        } else {
            estranee += arrivate > 0 || buone > 0;
        }
    }
    const int senzaProva = ricevutePerProva.value(QString());
    // What one print record costs on its own: a commit of the station's file, which the
    // archive makes durable before it returns. Once the counts are taken, as reprints of a run.
    std::vector<double> registrazioni;
    if (!conformi.isEmpty()) {
        const QString prova = prove.first();
        const QList<StampaEtichetta> prima
            = archivio->stampe(prova).value_or(QList<StampaEtichetta>{});
        for (int i = 0; i < 50 && !prima.isEmpty(); ++i) {
            StampaEtichetta s = prima.first();
            s.uuid.clear();
            s.quando = QDateTime::currentDateTimeUtc();
            s.ristampa = true;
            const qint64 t = monotonoNs();
            archivio->registraStampa(s);
            registrazioni.push_back((monotonoNs() - t) / 1e6);
        }
    }
    const int attese1 = int(conformi.size());

    tabella.intestazione({QStringLiteral("Misura"), QStringLiteral("Valore"),
        QStringLiteral("Atteso"), QStringLiteral("Raggiunto")});
    tabella.riga(
        {QStringLiteral("prove conformi, che vogliono un'etichetta, su %1").arg(kProveEtichette),
            QString::number(attese1), QStringLiteral("—"), QStringLiteral("—")});
    tabella.riga({QStringLiteral("etichette ricevute dalla stampante finta (divise a ^XZ)"),
        QString::number(ricevute), QString::number(attese1), esito(ricevute == attese1)});
    tabella.riga({QStringLiteral("stampe registrate nell'archivio come riuscite"),
        QString::number(registrate), QString::number(attese1), esito(registrate == attese1)});
    tabella.riga({QStringLiteral("stampe registrate come non riuscite"),
        QString::number(registrateCattive), QStringLiteral("0"), esito(registrateCattive == 0)});
    tabella.riga({QStringLiteral("prove conformi senza la loro etichetta, ricevuta o registrata"),
        QString::number(perse), QStringLiteral("0"), esito(perse == 0)});
    tabella.riga({QStringLiteral("prove conformi con più di un'etichetta"), QString::number(doppie),
        QStringLiteral("0"), esito(doppie == 0)});
    tabella.riga({QStringLiteral("prove non conformi con un'etichetta"), QString::number(estranee),
        QStringLiteral("0"), esito(estranee == 0)});
    tabella.riga({QStringLiteral("le %1 chiamate a provaFinita, in tutto, ms").arg(kProveEtichette),
        cifre(chiamate), QStringLiteral("—"), QStringLiteral("—")});
    tabella.riga({QStringLiteral("dalla prima chiamata a ogni etichetta stampata e registrata, s"),
        cifre(tutte, 2), QStringLiteral("—"), QStringLiteral("—")});
    tabella.riga({QStringLiteral("… per etichetta, ms"),
        cifre(tutte * 1e3 / std::max(1, attese1), 2), QStringLiteral("—"), QStringLiteral("—")});
    if (!registrazioni.empty())
        tabella.riga({QStringLiteral("una stampa registrata nell'archivio, da sola (%1 volte), ms")
                          .arg(registrazioni.size()),
            mediana(registrazioni, 2), QStringLiteral("—"), QStringLiteral("—")});
    tabella.nota(QStringLiteral("Tracciabilita::attendi finito: %1 (dopo %2 s); etichette dette "
                                "stampate %3, non stampate %4; etichette senza una prova che si "
                                "legga %5. Processore di questo processo, stampante finta "
                                "compresa, %6 ms. Una connessione per etichetta; l'archivio della "
                                "stazione su %7.")
                     .arg(esito(finite))
                     .arg(cifre(attese, 2))
                     .arg(segnalateBuone)
                     .arg(segnalateCattive)
                     .arg(senzaProva)
                     .arg(cifre(processore, 0))
                     .arg(QString::fromLatin1(QStorageInfo(cartella.path()).fileSystemType())));
}

// 3. The station, as bench_collaudo measures it, with a bench that asks for neither a report
// nor a label and with one that asks for both.
struct Giri
{
    std::vector<double> oltre, prossima;
    int unita = 0, conformi = 0, rapporti = 0, etichette = 0;
    int rapportiFalliti = 0, etichetteFallite = 0;
    QString ultimoErrore;
};

void giri(const QString &banco, int &numero, Giri &g)
{
    // Declared before the station, which may still tell of a report or a label as it closes.
    int rapporti = 0, etichette = 0, conformi = 0;
    qint64 primoInizio = 0, ultimaFine = 0;
    FinestraPrincipale finestra;
    QString errore;
    if (!finestra.apriCollaudo(banco, QStringLiteral("misura"), QStringLiteral("S0"), &errore))
        qFatal("the station refused its bench: %s", qPrintable(errore));
    Collaudo &collaudo = *finestra.collaudo();
    auto *seriale
        = finestra.finestraCollaudo()->findChild<QLineEdit *>(QStringLiteral("numeroDiSerie"));
    QObject::connect(&collaudo.lettura().motore(), &SequenzaRichieste::risultato,
        [&](qint64, const RisultatoRichiesta &r) {
            ultimaFine = monotonoNs();
            if (primoInizio == 0)
                primoInizio = ultimaFine - r.durataUs * 1000;
        });
    QObject::connect(
        &collaudo, &Collaudo::rapporto, [&](const QString &, const QString &, const QString &e) {
            ++rapporti;
            if (!e.isEmpty())
                ++g.rapportiFalliti, g.ultimoErrore = e;
        });
    QObject::connect(&collaudo, &Collaudo::etichetta,
        [&](const QString &, bool riuscita, const QString &motivo, bool inRitardo) {
            if (inRitardo)
                return;
            ++etichette;
            if (!riuscita)
                ++g.etichetteFallite, g.ultimoErrore = motivo;
        });
    for (int i = 0; i < kUnitaPerFinestra; ++i) {
        primoInizio = 0;
        seriale->setText(QStringLiteral("SN-%1").arg(numero++, 5, 10, QLatin1Char('0')));
        QEventLoop attesa;
        qint64 banner = 0, libero = 0;
        QObject::connect(&collaudo, &Collaudo::finita, &attesa, [&](const Collaudo::Esito &e) {
            banner = monotonoNs();
            conformi += e.esito == Esiti::kConforme;
            QTimer::singleShot(0, &attesa, [&] {
                libero = monotonoNs();
                attesa.quit();
            });
        });
        QTimer::singleShot(60'000, &attesa, [&] { attesa.exit(1); });
        const qint64 invio = monotonoNs();
        QTest::keyClick(seriale, Qt::Key_Return);
        if (attesa.exec() != 0)
            qFatal("the station never gave its outcome");
        g.oltre.push_back(((banner - invio) - (ultimaFine - primoInizio)) / 1e6);
        g.prossima.push_back((libero - banner) / 1e6);
    }
    // What follows the last runs is let finish before the station closes.
    g.unita += kUnitaPerFinestra;
    g.conformi += conformi;
    attendi([&] { return rapporti >= kUnitaPerFinestra && etichette >= conformi; }, 30s);
    g.rapporti += rapporti;
    g.etichette += etichette;
}

void misuraStazione(Tabella &tabella)
{
    const int prove = numeroDaAmbiente("BANCO_PROVE_ARCHIVIO", 10'000);
    QTemporaryDir cartella;
    const VariabileProvvisoria dati(
        "XDG_DATA_HOME", QFile::encodeName(cartella.filePath(QStringLiteral("dati"))));
    const VariabileProvvisoria conf(
        "XDG_CONFIG_HOME", QFile::encodeName(cartella.filePath(QStringLiteral("conf"))));
    const VariabileProvvisoria server("BANCO_ARCHIVIO", std::nullopt);
    const VariabileProvvisoria piattaforma("QT_QPA_PLATFORM", std::nullopt);
    {
        std::mt19937 caso(2030);
        std::unique_ptr<Archivio> locale
            = Archivio::apriLocale(Destinazione::filePredefinito(), nullptr);
        riempiLocale(*locale, prove, caso);
    }
    const QString porta = cartella.filePath(QStringLiteral("porta"));
    StrumentoInProva strumento;
    strumento.avvia(porta, {});
    const VariabileProvvisoria linea("BANCO_PORTA1", QFile::encodeName(porta));
    StampanteFinta stampante;

    const QString semplice = cartella.filePath(QStringLiteral("collaudo.banco"));
    const QString tracciato = cartella.filePath(QStringLiteral("tracciato.banco"));
    scriviFile(cartella.filePath(QStringLiteral("etichetta.zpl")), kModello);
    scriviFile(semplice, kBancoCinqueRighe);
    // The same bench, with its report and label.
    scriviFile(tracciato,
        QByteArray(kBancoCinqueRighe)
            .insert(1,
                QStringLiteral(" \"rapporti_pdf\": \"rapporti\", \"etichetta\": {\"modello\": "
                               "\"etichetta.zpl\", \"stampante\": \"%1\"},")
                    .arg(stampante.indirizzo())
                    .toUtf8()));

    // Each station opened twice, in turns, so that whatever the machine does meanwhile falls on
    // both alike.
    Giri senza, con;
    int numero = 0;
    for (int volta = 0; volta < 2; ++volta) {
        giri(semplice, numero, senza);
        giri(tracciato, numero, con);
    }
    const int pdf = int(QDir(cartella.filePath(QStringLiteral("rapporti")))
                            .entryList({QStringLiteral("*.pdf")}, QDir::Files)
                            .size());
    const int ricevute = stampante.etichette();

    const auto crescita = [](const std::vector<double> &a, const std::vector<double> &b) {
        return valoreMediano(b) - valoreMediano(a);
    };
    const auto massimo
        = [](const std::vector<double> &v) { return *std::max_element(v.begin(), v.end()); };
    tabella.titolo(QStringLiteral("La stazione con un rapporto e un'etichetta a ogni prova"));
    tabella.intestazione({QStringLiteral("Misura"), QStringLiteral("Senza"),
        QStringLiteral("Con rapporto ed etichetta"), QStringLiteral("Crescita delle mediane"),
        QStringLiteral("Crescita dei massimi"), QStringLiteral("Limite"), QStringLiteral("Entro")});
    const double oltre = crescita(senza.oltre, con.oltre);
    const double prossima = crescita(senza.prossima, con.prossima);
    tabella.riga({QStringLiteral("da Invio sul numero di serie all'esito, oltre al giro di 5 "
                                 "righe (ms)"),
        mediana(senza.oltre), mediana(con.oltre), cifre(oltre),
        cifre(massimo(con.oltre) - massimo(senza.oltre)), QStringLiteral("50"), esito(oltre < 50)});
    tabella.riga({QStringLiteral("dall'esito alla stazione pronta per la prossima unità (ms)"),
        mediana(senza.prossima, 2), mediana(con.prossima, 2), cifre(prossima, 2),
        cifre(massimo(con.prossima) - massimo(senza.prossima), 2), QStringLiteral("50"),
        esito(prossima < 50)});
    tabella.nota(
        QStringLiteral("%1 unità per banco, %2 alla volta in due aperture alterne della stazione, "
                       "ciascuna letta appena data la precedente, con %3 letture nell'archivio. "
                       "Con rapporto ed etichetta: %4 prove conformi su %1; rapporti scritti %5 "
                       "(%6 PDF nella cartella), etichette stampate %7 e ricevute dalla stampante "
                       "finta %8; rapporti ed etichette non riusciti %9%10. banco-rapporto sulla "
                       "piattaforma offscreen, "
                       "avviato alla prima prova di ogni apertura (compreso nella prima misura "
                       "dall'esito alla stazione pronta).")
            .arg(con.unita)
            .arg(kUnitaPerFinestra)
            .arg(qint64(prove) * 100)
            .arg(con.conformi)
            .arg(con.rapporti - con.rapportiFalliti)
            .arg(pdf)
            .arg(con.etichette - con.etichetteFallite)
            .arg(ricevute)
            .arg(con.rapportiFalliti + con.etichetteFallite)
            .arg(con.ultimoErrore.isEmpty() ? QString()
                                            : QStringLiteral(" (") + con.ultimoErrore + u')'));
}

} // namespace

void misuraTracciabilita(Tabella &tabella)
{
    const QString carico = caricoMedio();
    misuraRapporti(tabella);
    misuraEtichette(tabella);
    misuraStazione(tabella);
    tabella.nota(QStringLiteral("Carico medio della macchina all'inizio di queste misure: %1; "
                                "alla fine: %2.")
                     .arg(carico, caricoMedio()));
}
