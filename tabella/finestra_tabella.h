#pragma once

#include <QPointer>
#include <QWidget>

class GraficiTabella;
class LetturaTabella;
class ModelloTabella;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableView;
struct RisultatoRichiesta;

// "Tabella": the bench's rows, edited in place with the checks of the file, read once or round
// and round through the one sequencer, the line's port and baud, the progress of a round, the
// rows' chart and the table's export.
class FinestraTabella : public QWidget
{
    Q_OBJECT

public:
    FinestraTabella(ModelloTabella &modello, LetturaTabella &lettura, QWidget *parent = nullptr);

    void leggiTutto();
    void leggiDiContinuo();
    void ferma();
    // The bench's file name, for the title; empty for a bench never saved.
    void impostaFile(const QString &percorso);

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
    void letta(qint64 giro, int riga, const RisultatoRichiesta &risultato);
    void terminata(int errore, const QString &descrizione);
    void lineaDalModello();
    void lineaDaiCampi();
    void aggiornaTitolo();
    void aggiornaPulsanti();
    void avvisa(const QString &titolo, const QString &testo);
    QList<int> righeScelte() const;

    ModelloTabella &m_modello;
    LetturaTabella &m_lettura;
    QString m_file;
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
};
