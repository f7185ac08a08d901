#pragma once

#include <QPointer>
#include <QUndoStack>
#include <QWidget>

class GraficiTabella;
class LetturaTabella;
class ModelloTabella;
class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableView;
class RegistroTraffico;
struct RisultatoRichiesta;

// "Tabella": the bench's rows, edited in place with the checks of the file and every edit undone
// with Ctrl+Z, read once or round and round through the one sequencer, the line's port and baud,
// the progress of a round and what it met, the rows' chart and the table's export.
class FinestraTabella : public QWidget
{
    Q_OBJECT

public:
    FinestraTabella(ModelloTabella &modello, LetturaTabella &lettura,
        const RegistroTraffico &registro, QWidget *parent = nullptr);

    void leggiTutto();
    void leggiDiContinuo();
    void ferma();
    // The bench's file name, for the title; empty for a bench never saved.
    void impostaFile(const QString &percorso);
    // The document's own actions (open, save, save as), shared with the main window: the
    // window that shows the bench takes their keys too.
    void aggiungiAzioniFile(const QList<QAction *> &azioni);
    // The bench was saved: an undo back to here leaves it unchanged.
    void segnaSalvato();
    QUndoStack &annullamenti() { return m_annullamenti; }

protected:
    void closeEvent(QCloseEvent *evento) override;

private:
    void avvia(int giri);
    void aggiungi();
    void duplica();
    void elimina();
    void sposta(int verso);
    void aggiungiIntervallo();
    void importaCsv();
    void esporta();
    void mostraGrafico();
    void modificaCella(const QModelIndex &indice, const QString &testo);
    void letta(qint64 giro, int riga, const RisultatoRichiesta &risultato);
    void terminata(int errore, const QString &descrizione);
    void bancoNuovo();
    void adattaColonne();
    void lineaDalModello();
    void lineaDaiCampi();
    void aggiornaTitolo();
    void aggiornaPulsanti();
    void aggiornaAnnullamenti();
    void avvisa(const QString &titolo, const QString &testo);
    QList<int> righeScelte() const;

    ModelloTabella &m_modello;
    LetturaTabella &m_lettura;
    const RegistroTraffico &m_registro;
    QString m_file;
    QUndoStack m_annullamenti;
    QMenu *m_menuFile;
    QAction *m_annulla;
    QAction *m_ripeti;
    QComboBox *m_porta;
    QComboBox *m_baud;
    QTableView *m_tabella;
    QList<QPushButton *> m_modifiche; // what changes the rows: not while they are read
    QPushButton *m_leggiTutto;
    QPushButton *m_leggiDiContinuo;
    QPushButton *m_ferma;
    QSpinBox *m_pausa;
    QProgressBar *m_avanzamento;
    QLabel *m_stato;
    QPointer<GraficiTabella> m_grafici;

    // What the reading met since it started: its readings, and those without a good answer or
    // out of their limits.
    struct Conti
    {
        qint64 letture = 0;
        qint64 senzaRisposta = 0;
        qint64 conErrore = 0;
        qint64 fuoriDaiLimiti = 0;
        int ultimaRiga = -1;
        qint64 ultimoGiro = 0;
    } m_conti;
};
