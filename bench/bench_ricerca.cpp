// The search for an instrument: twelve rates by sixteen addresses from the window, what each
// probe costs the processor and how long input waits meanwhile; then banco-richiesta --prima
// against an instrument at the fifth rate tried.

#include "bench_ricerca.h"

#include "finestra_principale.h"
#include "finestra_ricerca.h"
#include "form3.h"
#include "ricerca_strumento.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

using namespace Misure;

// Posts a key to the window every 20 ms and measures, for each, how long after it was due the
// window handled it: what an operator's key press would wait while the search runs.
class SondaIngresso : public QObject
{
public:
    explicit SondaIngresso(QWidget &finestra)
        : m_finestra(finestra)
    {
        m_finestra.installEventFilter(this);
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
            QCoreApplication::postEvent(
                &m_finestra, new QKeyEvent(QEvent::KeyPress, Qt::Key_F13, Qt::NoModifier));
        });
        arma();
    }
    ~SondaIngresso() override { m_finestra.removeEventFilter(this); }
    std::vector<double> ritardiMs;

protected:
    bool eventFilter(QObject *oggetto, QEvent *evento) override
    {
        if (oggetto != &m_finestra || evento->type() != QEvent::KeyPress
            || static_cast<QKeyEvent *>(evento)->key() != Qt::Key_F13)
            return false;
        ritardiMs.push_back((monotonoNs() - m_dovuto) / 1e6);
        arma();
        return true;
    }

private:
    void arma()
    {
        m_dovuto = monotonoNs() + 20'000'000;
        m_timer.start(20);
    }

    QWidget &m_finestra;
    QTimer m_timer;
    qint64 m_dovuto = 0;
};

} // namespace

// 10. The search.
void misuraRicerca(Tabella &tabella, const QString &strumento, const QString &richiesta)
{
    QTemporaryDir cartella;
    const QString porta = cartella.filePath(QStringLiteral("porta1"));
    qputenv("BANCO_PORTA1", porta.toLocal8Bit());
    QProcess istrumento;
    avviaStrumento(
        istrumento, strumento, {"--collegamento", porta, "--baud", "19200", "--indirizzo", "7"});
    // The window goes before banco-richiesta runs: its port stays open after the search. The
    // input probe costs the processor too: the figures per probe come from a search without it,
    // the wait for a key from a shorter one with it.
    double pareteMs = 0, massimoIngresso = 0;
    qint64 prove = 0, risposte = 0;
    std::vector<double> processore, ritardi;
    {
        FinestraPrincipale principale;
        principale.show();
        principale.mostraRicerca();
        FinestraRicerca &finestra = principale.finestraRicerca();
        if (!QTest::qWaitForWindowExposed(&finestra))
            qFatal("the search window was never shown");
        RicercaStrumento &ricerca = principale.ricerca();
        finestra.findChild<QSpinBox *>(QStringLiteral("ultimoIndirizzo"))->setValue(15);
        const auto cerca = [&] {
            finestra.avvia();
            attendi([&] { return !ricerca.inCorso(); }, minutes(10));
        };

        finestra.findChild<QPushButton *>(QStringLiteral("tutte"))->click();
        double ultimo = processoreMs();
        auto perProva = QObject::connect(&ricerca, &RicercaStrumento::provata, [&] {
            const double adesso = processoreMs();
            processore.push_back(adesso - ultimo);
            ultimo = adesso;
        });
        QElapsedTimer orologio;
        orologio.start();
        cerca();
        pareteMs = orologio.nsecsElapsed() / 1e6;
        QObject::disconnect(perProva);
        prove = ricerca.fatte();
        risposte = ricerca.trovati().size();

        finestra.findChild<QPushButton *>(QStringLiteral("nessuna"))->click();
        finestra.findChild<QLineEdit *>(QStringLiteral("altriBaud"))->setText("9600, 19200");
        SondaIngresso sonda(finestra);
        cerca();
        ritardi = sonda.ritardiMs;
        massimoIngresso = *std::max_element(ritardi.begin(), ritardi.end());
    }
    istrumento.terminate();
    istrumento.waitForFinished();

    // banco-richiesta without --baud tries the panel's list, 9600 first: 9600, 110, 300, 600,
    // 1200. The instrument at 1200, address 7: the search ends with the 72nd probe, four rates
    // of sixteen addresses and eight more.
    avviaStrumento(
        istrumento, strumento, {"--collegamento", porta, "--baud", "1200", "--indirizzo", "7"});
    QProcess comando;
    QElapsedTimer orologioPrima;
    orologioPrima.start();
    comando.start(richiesta, {"--cerca", "--prima", "--porta", porta, "--indirizzo", "0-15"});
    comando.waitForFinished(300'000);
    const double primaMs = orologioPrima.nsecsElapsed() / 1e6;
    const QString trovata = QString::fromUtf8(comando.readAllStandardOutput()).trimmed();
    const QString riassunto = QString::fromUtf8(comando.readAllStandardError()).trimmed();
    istrumento.terminate();
    istrumento.waitForFinished();
    const bool fermataSubito = riassunto.startsWith(QStringLiteral("banco-richiesta: 72 prove di"))
        && trovata.startsWith(QStringLiteral("baud 1200; indirizzo 7;"));

    // Every rate the window offers: the panel's list and the faster ones adapters use.
    const qint64 velocita
        = RicercaStrumento::velocitaProposte(PannelloDiTesti::elencoBaud()).size();
    const qint64 tutte = velocita * 16;
    const double limite = 1.02 * double(tutte) * 500;
    tabella.titolo(
        QStringLiteral("Cerca strumento: %1 velocità × 16 indirizzi dalla finestra").arg(velocita));
    tabella.intestazione({"Misura", "Valore", "Obiettivo", "Raggiunto"});
    tabella.riga({"Durata della ricerca, ms", QString::number(pareteMs, 'f', 0),
        QStringLiteral("al più 1,02 × %1 × 500 = %2").arg(tutte).arg(limite, 0, 'f', 0),
        esito(prove == tutte && pareteMs <= limite)});
    tabella.riga({"Processore per prova, ms (mediana, min–max)", mediana(processore, 2),
        "sotto 5 ms", esito(valoreMediano(processore) < 5)});
    tabella.riga({"Attesa di un tasto mentre la ricerca corre (2 velocità × 16 indirizzi), ms "
                  "(mediana, min–max)",
        mediana(ritardi, 2), "entro 50 ms", esito(massimoIngresso <= 50)});
    tabella.riga({"`banco-richiesta --cerca --prima`, strumento alla quinta velocità, indirizzo "
                  "7, ms",
        QString::number(primaMs, 'f', 0),
        QStringLiteral("si ferma dopo la 72ª prova di %1").arg(tutte), esito(fermataSubito)});
    tabella.nota(QStringLiteral("Prove fatte dalla finestra: %1, con risposta %2. "
                                "banco-richiesta: «%3» e «%4».")
                     .arg(prove)
                     .arg(risposte)
                     .arg(trovata, riassunto));
}
