#pragma once

#include "collaudo_posti.h"
#include "finestra_collaudo.h"

#include <QWidget>

#include <vector>

class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QTableView;

// The station's window for a fixture with several sockets: a grid of socket panels, each a named
// group ("Posto A") with its serial field, its banner, the rows that failed, its progress, its
// rows as they are read and its Ferma button. A scan (the serial, then Enter) fills the socket
// whose field has the focus, and the focus goes on to the next free socket, so that a scanner
// goes from one socket to the next. With "avvio": "insieme" Ctrl+Invio starts the filled sockets
// together, as does closing the lid where the bench has a lid switch. Esc stops every round,
// Maiusc+Esc the round of the socket whose field has the focus. The fields and the sockets'
// Fuori servizio buttons are the only parts that take the focus: Tab goes from a socket's field
// to its button, then to the next socket. A socket out of service is greyed, its field disabled,
// and skipped by the scans' focus and by the batch start. After a socket's banner, a row whose
// chart at that socket broke a rule anew is told in the socket's DERIVA line, which stays until
// the socket's next warning; a reader hears it with the socket's name. Under a socket's banner a
// line says what became of its last unit's report and label, and Ctrl+P in its field prints that
// unit's label again; a blue line names the reference units the socket waits for before
// production.
class FinestraPosti : public QWidget
{
    Q_OBJECT

public:
    explicit FinestraPosti(CollaudoPosti &posti, QWidget *parent = nullptr);

    // Two columns up to four sockets, four above.
    static int colonne(int posti) { return posti <= 4 ? 2 : 4; }

    void aggiornaIntestazione();
    // Asks the operator's name, kept in the settings as the one-unit station keeps it.
    void chiediOperatore();

    // What a screen reader is told when a socket's round ends: "Posto B: NON CONFORME, Tensione:
    // 9 V sopra il massimo".
    static QString annuncio(const QString &posto, const Collaudo::Esito &esito);

signals:
    // Ctrl+H: the history of the archive.
    void storicoChiesto();

protected:
    bool eventFilter(QObject *oggetto, QEvent *evento) override;
    void showEvent(QShowEvent *evento) override;
    void closeEvent(QCloseEvent *evento) override;

private:
    struct Pannello
    {
        QGroupBox *gruppo = nullptr;
        QLineEdit *seriale = nullptr;
        QLabel *avviso = nullptr;
        QFrame *riquadro = nullptr;
        QLabel *esito = nullptr;
        QLabel *dettaglio = nullptr;
        QLabel *scarti = nullptr;
        QProgressBar *avanzamento = nullptr;
        QTableView *righe = nullptr;
        QPushButton *ferma = nullptr;
        QPushButton *servizio = nullptr; // Fuori servizio / Rimetti in servizio
        QLabel *giornata = nullptr; // the socket's figures of today
        QLabel *contatti = nullptr; // its first-pass yield well below the others'
        QLabel *deriva = nullptr; // its charts' last DERIVA warning
        QLabel *tracciata = nullptr; // its last unit's report and label
        QLabel *campioni = nullptr; // the reference units it waits for
        FinestraCollaudo::Tracciata ultima; // … of its last unit
        QString tracciataDetta; // the failure a reader was told with the outcome, if any
        QString avvisoProva; // the notice the round started with
        QString lettoDurante; // what a scanner typed during the round, so far
    };

    void invio(int posto);
    // Ctrl+Invio, or the lid closed (dalCoperchio).
    void avviaInsieme(bool dalCoperchio = false);
    void cambiaServizio(int posto);
    // The socket's panel as its service has it.
    void mostraServizio(int posto);
    void pronto(int posto, const QString &unita);
    void avviato(int posto, const QString &unita, const QString &avviso);
    void rigaLetta(int posto, int riga);
    void finito(int posto, const Collaudo::Esito &esito);
    // The focus on the first socket from dopo on (round the grid) that is neither running nor
    // filled; it stays where it is when every socket is busy.
    void vaiAlProssimoLibero(int dopo);
    bool libero(int posto) const;
    int postoDi(const QObject *oggetto) const;
    void lettoDuranteLaProva(int posto);
    void avvisa(int posto, const QString &testo);
    void avvisaFinestra(const QString &testo);
    static void mostraAvviso(QLabel *dove, const QString &testo);
    void mostraEsito(int posto, const QString &testo, const QString &dettaglio,
        const QColor &sfondo, const QString &detto = {});
    // The station's figures, and each socket's.
    void aggiornaGiornata();
    // The socket's round's values to its charts, after its outcome is shown.
    void sorveglia(int posto, const Collaudo::Esito &esito);
    // What a reader hears after the outcome, with the socket's name, on the socket's field and on
    // the field with the focus; prima, said there before by the same line, is replaced.
    void diAiCampi(int posto, const QString &testo, const QString &prima = {});
    // The socket whose last unit is the run uuid; -1 for none.
    int postoDellaProva(const QString &uuid) const;
    void aggiornaTracciata(int posto);
    void aggiornaCampioni(int posto);
    void ristampa(int posto);

    CollaudoPosti &m_posti;
    Collaudo &m_collaudo;
    QLabel *m_intestazione;
    QLabel *m_avviso;
    QLabel *m_interruttore; // why the lid switch cannot be read
    QLabel *m_giornata;
    QScrollArea *m_scorrimento;
    std::vector<Pannello> m_pannelli;
};
