#pragma once

#include "collaudo.h"

#include <QIdentityProxyModel>
#include <QTime>
#include <QWidget>

#include <functional>

class QDialog;
class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableView;

// The station's window: one large field for the unit's serial number, which always has the focus,
// so that a barcode scanner's characters and its Enter land there and nowhere else; Enter starts
// the unit's round. The outcome stays in a large banner, in words, until the next unit is
// scanned, with the rows that failed under it and the day's figures at the bottom. Esc stops a
// round. Nothing else in the window takes the focus: its buttons answer to their Alt keys.
// During a round the field is locked: a scan then is refused whole, never joined to the serial
// being tested. Ctrl+H asks for the history. After the banner, a row whose control chart broke a
// rule anew is told in a DERIVA line under it, which stays until the next warning; a screen
// reader hears it on the serial field with the outcome. Under the banner a line says what became
// of the unit's report and label; Ctrl+P prints the last unit's label again. A blue line names
// the reference units the bench waits for before production.
// The rows in the table window's colours: out of limits in red, without a good answer in grey.
class RigheColorate : public QIdentityProxyModel
{
public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex &indice, int ruolo) const override;
};

class FinestraCollaudo : public QWidget
{
    Q_OBJECT

public:
    explicit FinestraCollaudo(Collaudo &collaudo, QWidget *parent = nullptr);

    // Shown from the top: which bench, which station, who tests.
    void aggiornaIntestazione();
    // Asks the operator's name, kept in the settings for the next time.
    void chiediOperatore();
    // The same for any station's window: fatto is told an empty text once the name is taken,
    // or why the station refused it. The dialog, open.
    static QDialog *dialogoOperatore(
        QWidget *finestra, Collaudo &collaudo, const std::function<void(const QString &)> &fatto);
    // The settings' key of the operator's name.
    static constexpr char kChiaveOperatore[] = "collaudo/operatore";

    // The day's figures and the forwarding as the bottom of the window says them; adesso tells
    // today's last send from an older one.
    static QString testoGiornata(const Collaudo::Giornata &g, const QDateTime &adesso);
    // The figures alone: "3 unità, 1 conforme, 2 non conformi, 1 da ripetere; resa al primo
    // passaggio 33,3 %."
    static QString testoCifre(const Collaudo::Giornata &g);

    // An outcome as the banner and the lines under it say it.
    struct TestiEsito
    {
        QString titolo; // "NON CONFORME"
        QString dettaglio; // the unit, its attempt, the reason and what to do
        QString scarti; // the rows that failed, one a line
        QColor colore; // the banner's
    };
    static TestiEsito testiEsito(const Collaudo::Esito &esito);
    // A round's DERIVA warnings as the window shows them, one row a line, with the time and the
    // unit, and what to do; empty without warnings.
    static QString testoDerive(const QList<Collaudo::Deriva> &derive, const QTime &ora);
    // One row's: "Temperatura: 8 valori di seguito dalla stessa parte della media (ultimi
    // valori 100,2; 100,4; 100,6; 100,8; 101,0 °C)".
    static QString testoDeriva(const Collaudo::Deriva &deriva);
    // Why the charts' past is missing, and what it means for the warnings.
    static QString testoErroreSorveglianza(const QString &errore);
    // The warning's colours, for the sockets' panels too.
    static void coloraDeriva(QLabel *etichetta);
    static QColor coloreEsito(const QString &esito);
    // The text with a word joiner after each mark of a device path, so that none is split.
    static QString percorsiInteri(const QString &testo);
    // The reference units' line: what production waits for at the socket; empty when nothing.
    static QString testoCampioni(const Collaudo &collaudo, const QString &posto);
    // The line under a unit's banner: its report and its label, as far as they are known.
    struct Tracciata
    {
        QString prova;
        QString unita;
        QString rapporto; // what became of the report; empty while unknown or without one
        QString etichetta; // … of the label
        bool rapportoFallito = false;
        bool etichettaFallita = false;
        bool etichettaAttesa = false; // a conforming production unit of a bench with a label
        bool ristampaChiesta = false; // Ctrl+P sent its label again
        QString testo() const;
        // Either failed: the line is shown as a warning.
        bool problema() const { return rapportoFallito || etichettaFallita; }
        // What became of the report, and of the label (or of its reprint).
        void rapportoScritto(const QString &percorso, const QString &errore);
        void etichettaStampata(bool riuscita, const QString &motivo, bool inRitardo);
    };
    static void coloraCampioni(QLabel *etichetta);

signals:
    // Ctrl+H: the history of the archive.
    void storicoChiesto();

protected:
    bool eventFilter(QObject *oggetto, QEvent *evento) override;
    void showEvent(QShowEvent *evento) override;
    void closeEvent(QCloseEvent *evento) override;

private:
    void invio();
    void avviata(const QString &unita, const QString &avviso);
    void rigaLetta(int n);
    void finita(const Collaudo::Esito &esito);
    void aggiornaGiornata();
    void mostraEsito(const QString &testo, const QString &dettaglio, const QColor &sfondo);
    // The round's values to the charts, after its outcome is shown; a new warning shown.
    void sorveglia(const Collaudo::Esito &esito);
    void avvisa(const QString &testo);
    void aggiornaCampioni();
    void aggiornaTracciata();
    void ristampa();
    // A scan that came during a round: refused, with what to do.
    void lettoDuranteLaProva();

    Collaudo &m_collaudo;
    QLabel *m_intestazione;
    QLineEdit *m_seriale;
    QLabel *m_avviso;
    QFrame *m_riquadro;
    QLabel *m_esito;
    QLabel *m_dettaglio;
    QLabel *m_deriva;
    QLabel *m_tracciata;
    QLabel *m_campioni;
    QLabel *m_scarti;
    QProgressBar *m_avanzamento;
    QLabel *m_tempo;
    QTableView *m_righe;
    QLabel *m_giornata;
    QPushButton *m_ferma;
    QString m_unita; // of the round, or of the last one
    Tracciata m_ultima; // the last unit's report and label
    QString m_avvisoProva; // the notice the round started with
    QString m_lettoDurante; // what a scanner typed during the round, so far
};
