#pragma once

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <utility>

// The reports' PDFs, drawn by banco-rapporto: Qt draws a PDF only under a QGuiApplication, which
// banco-richiesta, a command-line program, must do without. The jobs go to the program as JSON
// Lines on its standard input, one object per report (the content plus "uscita", the PDF's
// path); it answers each with one line, {"uscita": …, "errore": ""}, in the same order.
//
// One program serves a window for as long as it runs: started on the first report, started
// again on the next one after it stopped. Every report asked for is answered by scritto(),
// once, with an error in Italian if it was not written.
class ScrittoreRapporti : public QObject
{
    Q_OBJECT

public:
    // How long the program may go without answering a report it was sent before it is taken for
    // stuck and stopped.
    static constexpr int kAttesaPredefinita = 30000;
    // The whole of scriviSubito(): the start and every report.
    static constexpr int kAttesaSubitoPredefinita = 120000;

    explicit ScrittoreRapporti(QObject *parent = nullptr);
    // Reports already handed to the program are finished first, for a short while.
    ~ScrittoreRapporti() override;

    void impostaAttesa(int ms) { m_attesa = ms; }

    // Queued; never waits for the program.
    void scrivi(const QJsonObject &contenuto, const QString &percorsoPdf);
    // Reports asked for and not yet answered.
    int inSospeso() const { return int(m_inviati.size()); }

    // For the command line: the reports one after the other through one program, waiting for
    // them, within attesaMs in all. errori gets one text per report, in order, empty where it
    // was written. True if every report was.
    static bool scriviSubito(const QList<std::pair<QJsonObject, QString>> &lavori,
        QStringList *errori, int attesaMs = kAttesaSubitoPredefinita);

    // The program: $BANCO_RAPPORTO if set, else banco-rapporto beside this program, in the tree
    // it was built in, or on the PATH. Empty, with the reason, if there is none.
    static QString programma(QString *errore);

signals:
    void scritto(const QString &percorso, const QString &errore);

private:
    void avvia();
    void leggiRisposte();
    // The program stopped or was stopped: each report it had is answered with the reason.
    void fermato(QProcess *processo, const QString &motivo);
    void rispondiPiuTardi(const QString &percorso, const QString &errore);

    QPointer<QProcess> m_processo;
    QList<QString> m_inviati; // the reports the program has, in the order sent
    QTimer m_sveglia; // reset by every answer while reports are out
    int m_attesa = kAttesaPredefinita;
};
